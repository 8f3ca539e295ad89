// The machine beneath Wine, for Windows test programs that need its own
// programs and paths: the real converter, pdftotext, and folder links Wine
// can follow. Everything answers "not available" on a real Windows.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace mirrorpdf::testing {

// True when running under Wine with the host functions these need.
bool wine_host_available();

// The host's path for a Windows path (C:\... and Z:\... alike); empty when
// there is none.
std::string host_path_of(const std::filesystem::path& path);

// Runs a host program (argv[0] a host path), waits for it and gives its exit
// status; -1 when it could not be run.
int run_on_host(const std::vector<std::string>& argv);

}  // namespace mirrorpdf::testing
