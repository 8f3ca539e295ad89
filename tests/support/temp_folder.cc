#include "support/temp_folder.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <sstream>
#include <system_error>

namespace mirrorpdf::testing {

TempFolder::TempFolder() {
  static std::atomic<unsigned> counter{0};
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  for (;;) {
    root = std::filesystem::temp_directory_path() /
           ("mirrorpdf-test-" + std::to_string(stamp) + "-" + std::to_string(counter++));
    if (std::filesystem::create_directory(root)) break;
  }
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  // Tests may leave read-only folders behind; make them writable first. A
  // failed step ends the walk: the iterator would not move on from it.
  std::error_code walk;
  for (auto it = std::filesystem::recursive_directory_iterator(root, walk);
       !walk && it != std::filesystem::recursive_directory_iterator(); it.increment(walk)) {
    if (it->is_directory(ignored) && !it->is_symlink(ignored))
      std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                   std::filesystem::perm_options::add, ignored);
  }
  std::filesystem::remove_all(root, ignored);
}

std::u16string text_of(const std::filesystem::path& path) { return path.u16string(); }

void write_file(const std::filesystem::path& path, std::string_view content) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary);
  out << content;
}

std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

}  // namespace mirrorpdf::testing
