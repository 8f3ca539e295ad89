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

// The same in a sandbox where only the folders named writable can be
// written, for every run of the built tool: a fault that sends it, or a
// stand-in converter it starts, out of its test's folder then fails the test
// instead of changing the machine. On POSIX the run goes through
// tests/support/confine (bubblewrap): a death by signal N shows as exit code
// 128+N. Under Wine the whole test program already runs in such a sandbox
// (cmake/wine-run); this checks that it does. Where there is no sandbox the
// program is not started, and errors says why.
ProgramRun run_confined(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                        const std::filesystem::path& current_folder,
                        const std::vector<std::filesystem::path>& writable,
                        const std::vector<std::pair<std::string, std::string>>& environment_additions = {},
                        std::chrono::milliseconds limit = std::chrono::seconds(30));

}  // namespace mirrorpdf::testing
