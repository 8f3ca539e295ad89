// A converter for the Windows build under Wine: takes the two Windows paths
// the tool hands over, maps them to this machine's paths and runs the host's
// own wkhtmltopdf on them, so the Windows tool makes real PDFs here.
//
// Like the recorder it acts only inside the folder named by
// MIRRORPDF_RECORD_ROOT: a target that, once links and ".." are resolved on
// the host, lies outside it is not converted but logged as "outside" (hex)
// in the log named by MIRRORPDF_RECORD. Without a root it converts nothing.
#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "support/hex.h"
#include "support/wine_host.h"

namespace {

using mirrorpdf::testing::hex;

std::wstring wide(const char* text) {
  if (text == nullptr) return {};
  const int size = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
  std::wstring out(size > 0 ? static_cast<std::size_t>(size) : 0, L'\0');
  if (size > 0) MultiByteToWideChar(CP_UTF8, 0, text, -1, out.data(), size);
  if (!out.empty()) out.pop_back();
  return out;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  using mirrorpdf::testing::host_path_of;
  if (argc != 3) return 2;
  const std::string source = host_path_of(argv[1]);
  const std::string target = host_path_of(argv[2]);
  const std::wstring root_text = wide(std::getenv("MIRRORPDF_RECORD_ROOT"));
  const std::string root = root_text.empty() ? std::string() : host_path_of(root_text);
  if (source.empty() || target.empty() || root.empty()) return 3;
  // Decided on the host, where links are seen as links: the target's folder
  // resolved, and the root, must nest.
  const int status = mirrorpdf::testing::run_on_host(
      {"/bin/sh", "-c",
       "root=$(realpath -e -- \"$1\") && place=$(realpath -m -- \"$3\") && case \"$place\" in \"$root\"/?*) "
       ";; "
       "*) exit 99 ;; esac && exec /usr/bin/wkhtmltopdf --quiet \"$2\" \"$place\"",
       "bridge", root, source, target});
  if (status == 99) {
    const std::wstring log = wide(std::getenv("MIRRORPDF_RECORD"));
    if (!log.empty())
      std::ofstream(std::filesystem::path(log), std::ios::app) << "outside " << hex(target) << "\n";
  }
  return status < 0 ? 4 : status;
}
