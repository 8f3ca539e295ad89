#include "support/folder_link.h"

#include <system_error>

#ifdef _WIN32
#include <windows.h>

#include "support/wine_host.h"
#endif

namespace mirrorpdf::testing {

FolderLink::FolderLink(const std::filesystem::path& target, const std::filesystem::path& link_path)
    : link(link_path) {
#ifdef _WIN32
  if (wine_host_available()) {
    const std::string host_target = host_path_of(target);
    const std::string host_link = host_path_of(link);
    made = !host_target.empty() && !host_link.empty() &&
           run_on_host({"/bin/ln", "-s", host_target, host_link}) == 0;
    return;
  }
  made =
      CreateSymbolicLinkW(link.c_str(), target.c_str(),
                          SYMBOLIC_LINK_FLAG_DIRECTORY | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE) != 0;
#else
  std::error_code error;
  std::filesystem::create_directory_symlink(target, link, error);
  made = !error;
#endif
}

FolderLink::~FolderLink() {
  if (!made) return;
#ifdef _WIN32
  // Wine shows a host link as the folder it names: removed on the host, or
  // removing it would empty that folder.
  if (wine_host_available()) {
    run_on_host({"/bin/rm", "-f", host_path_of(link)});
  } else {
    RemoveDirectoryW(link.c_str());
  }
#else
  std::error_code ignored;
  std::filesystem::remove(link, ignored);
#endif
}

}  // namespace mirrorpdf::testing
