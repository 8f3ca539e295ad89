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
#else
#include <windows.h>

#include <cwctype>
#include <thread>

#include "support/wine_host.h"
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

#else

namespace {

std::wstring wide_of(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int size = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring text(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), text.data(), size);
  return text;
}

// One argument as the C runtime's command-line parser gives it back
// unchanged: quoted, with the backslashes before a quote doubled.
void append_argument(std::wstring& line, const std::wstring& argument) {
  line += L'"';
  std::size_t backslashes = 0;
  for (const wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    line.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    line += c;
  }
  line.append(backslashes * 2, L'\\');
  line += L'"';
}

bool same_name(const std::wstring& entry, const std::wstring& name) {
  if (entry.size() <= name.size() || entry[name.size()] != L'=') return false;
  for (std::size_t i = 0; i < name.size(); ++i)
    if (std::towupper(entry[i]) != std::towupper(name[i])) return false;
  return true;
}

// The test's environment block with the additions set on top; names are
// compared without case, as Windows does.
std::wstring environment_with(const std::vector<std::pair<std::string, std::string>>& additions) {
  std::wstring block;
  wchar_t* const own = GetEnvironmentStringsW();
  for (const wchar_t* entry = own; *entry != L'\0'; entry += wcslen(entry) + 1) {
    const std::wstring text = entry;
    bool replaced = false;
    for (const auto& addition : additions) replaced = replaced || same_name(text, wide_of(addition.first));
    if (!replaced) block.append(text).push_back(L'\0');
  }
  FreeEnvironmentStringsW(own);
  for (const auto& [name, value] : additions) block.append(wide_of(name + "=" + value)).push_back(L'\0');
  block.push_back(L'\0');
  return block;
}

// Reads a pipe to its end in a thread of its own, so a program that fills
// one pipe while we read the other cannot block.
std::thread drain(HANDLE pipe, std::string& sink) {
  return std::thread([pipe, &sink] {
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) != 0 && got > 0) sink.append(buffer, got);
  });
}

}  // namespace

ProgramRun run_program(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                       const std::filesystem::path& current_folder,
                       const std::vector<std::pair<std::string, std::string>>& environment_additions,
                       std::chrono::milliseconds limit) {
  ProgramRun run;
  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE out_read, out_write, err_read, err_write;
  if (CreatePipe(&out_read, &out_write, &inheritable, 0) == 0) return run;
  if (CreatePipe(&err_read, &err_write, &inheritable, 0) == 0) {
    CloseHandle(out_read);
    CloseHandle(out_write);
    return run;
  }
  SetHandleInformation(out_read, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(err_read, HANDLE_FLAG_INHERIT, 0);
  const HANDLE nothing = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                                     OPEN_EXISTING, 0, nullptr);

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nothing;
  startup.hStdOutput = out_write;
  startup.hStdError = err_write;

  std::wstring command_line;
  append_argument(command_line, program.wstring());
  for (const std::string& argument : arguments) {
    command_line += L' ';
    append_argument(command_line, wide_of(argument));
  }
  std::wstring environment = environment_with(environment_additions);
  const std::wstring folder = current_folder.wstring();

  PROCESS_INFORMATION process{};
  const bool started =
      CreateProcessW(program.wstring().c_str(), command_line.data(), nullptr, nullptr, TRUE,
                     CREATE_UNICODE_ENVIRONMENT, environment.data(), folder.c_str(), &startup, &process) != 0;
  CloseHandle(out_write);
  CloseHandle(err_write);
  if (nothing != INVALID_HANDLE_VALUE) CloseHandle(nothing);
  if (started) {
    run.started = true;
    CloseHandle(process.hThread);
    std::thread output = drain(out_read, run.output);
    std::thread errors = drain(err_read, run.errors);
    if (WaitForSingleObject(process.hProcess, static_cast<DWORD>(limit.count())) != WAIT_OBJECT_0) {
      run.timed_out = true;
      TerminateProcess(process.hProcess, 1);
      WaitForSingleObject(process.hProcess, INFINITE);
    }
    output.join();
    errors.join();
    DWORD code = 0;
    if (!run.timed_out && GetExitCodeProcess(process.hProcess, &code) != 0)
      run.exit_code = static_cast<int>(code);
    CloseHandle(process.hProcess);
  }
  CloseHandle(out_read);
  CloseHandle(err_read);
  return run;
}

#endif

ProgramRun run_confined(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                        const std::filesystem::path& current_folder,
                        const std::vector<std::filesystem::path>& writable,
                        const std::vector<std::pair<std::string, std::string>>& environment_additions,
                        std::chrono::milliseconds limit) {
#ifndef _WIN32
  // What confine exits with when it has run nothing.
  constexpr int NO_SANDBOX = 125;
  std::vector<std::string> command;
  for (const std::filesystem::path& folder : writable) command.push_back(folder.string());
  command.push_back("--");
  command.push_back(program.string());
  command.insert(command.end(), arguments.begin(), arguments.end());
  ProgramRun run = run_program(MIRRORPDF_CONFINE, command, current_folder, environment_additions, limit);
  if (run.exit_code == NO_SANDBOX && run.errors.starts_with("confine:")) run.started = false;
  if (!run.started && run.errors.empty()) run.errors = "confine: " MIRRORPDF_CONFINE " could not be started";
  return run;
#else
  // Checked on the machine beneath, from inside: the system read-only, the
  // folders writable.
  std::vector<std::string> check{
      "/bin/sh", "-c", "for f; do test -w \"$f\" || exit 1; done; ! test -w / && ! test -w /usr", "sh"};
  for (const std::filesystem::path& folder : writable) check.push_back(host_path_of(folder));
  if (!wine_host_available() || run_on_host(check) != 0) {
    ProgramRun refused;
    refused.errors =
        "confine: this program does not run in a sandbox (run it through cmake/wine-run), so the "
        "tool is not started";
    return refused;
  }
  return run_program(program, arguments, current_folder, environment_additions, limit);
#endif
}

}  // namespace mirrorpdf::testing
