#include <windows.h>
// After windows.h, whose types it uses.
#include <shellapi.h>

#include <new>

#include "platform/launcher.h"
#include "platform/win32/wide.h"

namespace mirrorpdf {

namespace {

// The program's own folder, for the shell to start it in: the text up to and
// including its last '\' (an opening quote is not part of it). Empty without
// one.
std::u16string folder_of_program(const std::u16string& program) {
  const std::size_t start = !program.empty() && program[0] == u'"' ? 1 : 0;
  for (std::size_t at = program.size(); at-- > 1;) {
    if (program[at] == u'\\') return program.substr(start, at + 1 - start);
  }
  return {};
}

void wait_and_close(HANDLE process, LaunchFlags flags) {
  if ((flags & LAUNCH_WAIT) != 0) WaitForSingleObject(process, INFINITE);
  CloseHandle(process);
}

int launch(const std::u16string& program, const std::u16string& parameters,
           const std::u16string& working_folder, LaunchFlags flags) {
  const bool hide = (flags & LAUNCH_HIDE) != 0;

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = static_cast<WORD>(hide ? SW_HIDE : SW_SHOWNORMAL);
  const DWORD creation = NORMAL_PRIORITY_CLASS | (hide ? CREATE_NEW_CONSOLE : 0);

  // Quoted, so a path with spaces is not split into a shorter program and
  // arguments.
  std::u16string command_line;
  command_line.reserve(program.size() + parameters.size() + 4);
  if (program[0] == u'"') {
    command_line = program;
  } else {
    command_line += u'"';
    command_line += program;
    command_line += u'"';
  }
  if (!parameters.empty()) {
    command_line += u' ';
    command_line += parameters;
  }

  const wchar_t* folder = working_folder.empty() ? nullptr : wide(working_folder);
  PROCESS_INFORMATION process{};
  if (CreateProcessW(nullptr, wide(command_line), nullptr, nullptr, FALSE, creation, nullptr, folder,
                     &startup, &process) != 0) {
    CloseHandle(process.hThread);
    wait_and_close(process.hProcess, flags);
    return 1;
  }

  // Not a program the system starts by itself: the shell may know how to
  // open it.
  const std::u16string shell_folder = working_folder.empty() ? folder_of_program(program) : working_folder;
  SHELLEXECUTEINFOW shell{};
  shell.cbSize = sizeof shell;
  shell.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
  shell.lpFile = wide(program);
  shell.lpParameters = wide(parameters);
  shell.lpDirectory = shell_folder.empty() ? nullptr : wide(shell_folder);
  shell.nShow = startup.wShowWindow;
  if (ShellExecuteExW(&shell) == 0) return 0;
  // The shell may have handed the file to a program already running.
  if (shell.hProcess != nullptr) wait_and_close(shell.hProcess, flags);
  return 1;
}

}  // namespace

int launch_program(const std::u16string& program, const std::u16string& parameters,
                   const std::u16string& working_folder, LaunchFlags flags) {
  // Nothing to start; an empty name is not handed to the shell either,
  // which would open something of its own choosing, or nothing.
  if (program.empty()) return 0;
  // A command line that cannot be built starts nothing.
  try {
    return launch(program, parameters, working_folder, flags);
  } catch (const std::bad_alloc&) {
    return 0;
  }
}

}  // namespace mirrorpdf
