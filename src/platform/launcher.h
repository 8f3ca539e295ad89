// The program launcher: starts a program with a parameter text, optionally
// hidden and optionally waiting for it to end.
#pragma once

#include <string>

namespace mirrorpdf {

using LaunchFlags = unsigned;
// Return only after the started process has ended (no time limit).
constexpr LaunchFlags LAUNCH_WAIT = 1;
// Hidden, with a console of its own (POSIX: standard streams on /dev/null and
// a session of its own).
constexpr LaunchFlags LAUNCH_HIDE = 2;

// 1 when the program was started (and, with LAUNCH_WAIT, has ended), 0 when
// it could not be started. The parameter text holds the arguments quoted with
// quote_argument, separated by spaces. An empty working folder means the
// caller's current folder.
int launch_program(const std::u16string& program, const std::u16string& parameters,
                   const std::u16string& working_folder, LaunchFlags flags);

}  // namespace mirrorpdf
