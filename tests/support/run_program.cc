#include "support/run_program.h"

#ifndef _WIN32
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

extern char** environ;
#endif

namespace mirrorpdf::testing {

#ifndef _WIN32

namespace {

std::vector<std::string> environment_with(const std::vector<std::pair<std::string, std::string>>& additions) {
  std::vector<std::string> entries;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    bool replaced = false;
    for (const auto& [name, value] : additions) replaced = replaced || text.starts_with(name + "=");
    if (!replaced) entries.push_back(text);
  }
  for (const auto& [name, value] : additions) entries.push_back(name + "=" + value);
  return entries;
}

std::vector<char*> pointers_to(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

// Reads both pipes until each is at its end or the deadline passes; both
// at once, so a program that fills one pipe while we wait on the other
// cannot block.
bool drain(int out, int err, std::string& output, std::string& errors,
           std::chrono::steady_clock::time_point deadline) {
  pollfd fds[2] = {{out, POLLIN, 0}, {err, POLLIN, 0}};
  std::string* sinks[2] = {&output, &errors};
  int open = 2;
  while (open > 0) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    const int ready = poll(fds, 2, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[4096];
      const ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
      if (got > 0) {
        sinks[i]->append(buffer, static_cast<std::size_t>(got));
      } else if (got == 0 || errno != EINTR) {
        fds[i].fd = -1;
        --open;
      }
    }
  }
  return true;
}

}  // namespace

ProgramRun run_program(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                       const std::filesystem::path& current_folder,
                       const std::vector<std::pair<std::string, std::string>>& environment_additions,
                       std::chrono::milliseconds limit) {
  ProgramRun run;
  int out[2], err[2];
  if (pipe2(out, O_CLOEXEC) != 0) return run;
  if (pipe2(err, O_CLOEXEC) != 0) {
    close(out[0]);
    close(out[1]);
    return run;
  }

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  posix_spawn_file_actions_addchdir_np(&actions, current_folder.c_str());

  std::vector<std::string> argv_texts{program.string()};
  argv_texts.insert(argv_texts.end(), arguments.begin(), arguments.end());
  std::vector<std::string> env_texts = environment_with(environment_additions);
  std::vector<char*> argv = pointers_to(argv_texts);
  std::vector<char*> envp = pointers_to(env_texts);

  pid_t pid = 0;
  const int failed = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  close(err[1]);
  if (failed == 0) {
    run.started = true;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    if (!drain(out[0], err[0], run.output, run.errors, deadline)) {
      run.timed_out = true;
      kill(pid, SIGKILL);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) run.exit_code = WEXITSTATUS(status);
  }
  close(out[0]);
  close(err[0]);
  return run;
}

#endif

}  // namespace mirrorpdf::testing
