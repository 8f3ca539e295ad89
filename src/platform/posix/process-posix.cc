#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/posix/utf8.h"
#include "platform/process.h"

namespace mirrorpdf {

const PathSyntax NATIVE_SYNTAX = POSIX_SYNTAX;
const std::u16string_view CONVERTER_NAME = u"bin/wkhtmltopdf";
const std::u16string_view SOURCE_ROOT_NAME = u"pb/";
const std::u16string_view TARGET_ROOT_NAME = u"pb2/";

std::u16string own_program_path() {
  // Read whole, however long: a cut path would name another folder.
  std::string path(256, '\0');
  for (;;) {
    const ssize_t length = readlink("/proc/self/exe", path.data(), path.size());
    if (length < 0) return {};
    if (static_cast<std::size_t>(length) < path.size()) {
      path.resize(static_cast<std::size_t>(length));
      return from_system_bytes(path);
    }
    path.resize(path.size() * 2);
  }
}

void lower_in_place(std::u16string& text) {
  // Only compared with ASCII words, so ASCII letters are all that matter.
  for (char16_t& c : text) {
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  }
}

std::u16string quote_argument(std::u16string_view argument) {
  std::u16string quoted;
  quoted.reserve(argument.size() + 2);
  quoted += u'"';
  for (const char16_t c : argument) {
    if (c == u'\\' || c == u'"') quoted += u'\\';
    quoted += c;
  }
  quoted += u'"';
  return quoted;
}

void end_process(int status) { std::exit(status); }

}  // namespace mirrorpdf
