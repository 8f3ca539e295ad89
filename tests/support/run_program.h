// Starting a program the way a user would, for tests that look at a whole
// process from outside: its exit status and everything it wrote.
#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace mirrorpdf::testing {

struct ProgramRun {
  bool started = false;
  bool timed_out = false;  // killed after the time limit
  int exit_code = -1;      // -1 when it did not end by exiting (POSIX: a signal)
  std::string output;      // stdout, as written
  std::string errors;      // stderr, as written
};

// Runs program with the given arguments (UTF-8; on POSIX passed as bytes)
// in current_folder, its environment the test's own with additions (name,
// value) set on top, and waits until it has ended and closed its streams.
// A run that takes longer than the limit is killed, so a fault that makes a
// program loop fails the test instead of hanging it.
ProgramRun run_program(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                       const std::filesystem::path& current_folder,
                       const std::vector<std::pair<std::string, std::string>>& environment_additions = {},
                       std::chrono::milliseconds limit = std::chrono::seconds(30));

}  // namespace mirrorpdf::testing
