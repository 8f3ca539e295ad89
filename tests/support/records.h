// Reading the recorder's log back.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace mirrorpdf::testing {

struct RecordedRun {
  std::vector<std::string> arguments;  // UTF-8 on Windows, bytes on POSIX
  std::map<std::string, std::string> fields;  // cmdline, show, cwd, own_session, ...
  bool overlap = false;
};

std::vector<RecordedRun> read_records(const std::filesystem::path& log);

// The recorder beside the running test executable.
std::u16string recorder_path();

}  // namespace mirrorpdf::testing
