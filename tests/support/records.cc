#include "support/records.h"

#include <fstream>
#include <sstream>

#include "driver/text_rules.h"
#include "platform/process.h"
#include "support/hex.h"

namespace mirrorpdf::testing {

std::vector<RecordedRun> read_records(const std::filesystem::path& log) {
  std::vector<RecordedRun> runs;
  std::ifstream in(log, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    if (line == "run") {
      runs.emplace_back();
      continue;
    }
    if (runs.empty() || line == "end") continue;
    if (line == "overlap") {
      runs.back().overlap = true;
      continue;
    }
    const std::size_t space = line.find(' ');
    const std::string key = line.substr(0, space);
    const std::string value = space == std::string::npos ? std::string() : line.substr(space + 1);
    if (key == "arg") {
      runs.back().arguments.push_back(unhex(value));
    } else if (key == "cmdline" || key == "cwd" || key == "program") {
      runs.back().fields[key] = unhex(value);
    } else {
      runs.back().fields[key] = value;
    }
  }
  return runs;
}

std::u16string recorder_path() {
#ifdef _WIN32
  return folder_of(own_program_path()) + u"recorder.exe";
#else
  return folder_of(own_program_path()) + u"recorder";
#endif
}

}  // namespace mirrorpdf::testing
