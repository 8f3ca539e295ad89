#include <windows.h>

#include "platform/process.h"
#include "platform/win32/wide.h"

namespace mirrorpdf {

const PathSyntax NATIVE_SYNTAX = WINDOWS_SYNTAX;
const std::u16string_view CONVERTER_NAME = u"bin\\wkhtmltopdf.exe";
const std::u16string_view SOURCE_ROOT_NAME = u"pb\\";
const std::u16string_view TARGET_ROOT_NAME = u"pb2\\";

std::u16string own_program_path() {
  const HMODULE self = GetModuleHandleW(nullptr);
  // Read whole, however long: a cut path would name another folder. A full
  // buffer means the path may have been cut, so it is asked again with more
  // room; no path is longer than 32767 characters.
  for (DWORD room = MAX_PATH; room <= 65536; room *= 2) {
    std::u16string path(room, u'\0');
    const DWORD length = GetModuleFileNameW(self, wide(path), room);
    if (length == 0) return {};
    if (length < room) {
      path.resize(length);
      return path;
    }
  }
  return {};
}

void lower_in_place(std::u16string& text) {
  if (!text.empty()) CharLowerW(wide(text));
}

std::u16string quote_argument(std::u16string_view argument) {
  // No Windows name holds a double quote, so nothing inside needs escaping.
  std::u16string quoted;
  quoted.reserve(argument.size() + 2);
  quoted += u'"';
  quoted += argument;
  quoted += u'"';
  return quoted;
}

void end_process(int status) { ExitProcess(static_cast<UINT>(status)); }

}  // namespace mirrorpdf
