// Small process helpers and the platform's fixed texts: everything the driver
// needs to know about where it runs, so its own code is the same everywhere.
#pragma once

#include <string>
#include <string_view>

namespace mirrorpdf {

// How the platform writes paths, for the driver's text rules.
struct PathSyntax {
  char16_t separator;  // the separator the platform writes
  // Windows: '/' separates names as well as '\'.
  bool slash_separates_too;
  // Windows: no name holds '"' or '|', so they end a path or an extension.
  bool quote_and_bar_end_names;
};

inline constexpr PathSyntax WINDOWS_SYNTAX{u'\\', true, true};
inline constexpr PathSyntax POSIX_SYNTAX{u'/', false, false};

// The platform's own syntax and the three names beside the executable.
extern const PathSyntax NATIVE_SYNTAX;
extern const std::u16string_view CONVERTER_NAME;  // the converter, bin\wkhtmltopdf.exe
extern const std::u16string_view SOURCE_ROOT_NAME;  // the source root with its separator
extern const std::u16string_view TARGET_ROOT_NAME;  // the target root with its separator

// The full path of the running executable; empty when the platform reports
// none.
std::u16string own_program_path();

// Lowers text in place by the platform's rules.
void lower_in_place(std::u16string& text);

// One argument as the launcher's command line must hold it, so that the
// started program receives exactly this text.
std::u16string quote_argument(std::u16string_view argument);

// Ends the process with the given status.
[[noreturn]] void end_process(int status);

}  // namespace mirrorpdf
