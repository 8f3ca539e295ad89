// A converter for the Windows build under Wine: takes the two Windows paths
// the tool hands over, maps them to this machine's paths and runs the host's
// own wkhtmltopdf on them, so the Windows tool makes real PDFs here.
#include <windows.h>

#include <string>

#include "support/wine_host.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) return 2;
  const std::string source = mirrorpdf::testing::host_path_of(argv[1]);
  const std::string target = mirrorpdf::testing::host_path_of(argv[2]);
  if (source.empty() || target.empty()) return 3;
  const int status = mirrorpdf::testing::run_on_host({"/usr/bin/wkhtmltopdf", "--quiet", source, target});
  return status < 0 ? 4 : status;
}
