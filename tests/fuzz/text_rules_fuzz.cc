// Invariants of the text rules on arbitrary texts, for both path syntaxes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "driver/conversion.h"
#include "driver/text_rules.h"

namespace {

using mirrorpdf::PathSyntax;

void check(bool condition) {
  if (!condition) std::abort();
}

bool contains(std::u16string_view whole, std::u16string_view part) { return whole.find(part) != whole.npos; }

bool is_separator(char16_t c, const PathSyntax& syntax) {
  return c == syntax.separator || (syntax.slash_separates_too && (c == u'/' || c == u'\\'));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const PathSyntax& syntax = (data[0] & 1) ? mirrorpdf::WINDOWS_SYNTAX : mirrorpdf::POSIX_SYNTAX;
  const long long n = static_cast<signed char>(data[1]);
  std::u16string text;
  // Mostly the characters the rules look at, so their paths are reached.
  static const char16_t interesting[] = u"\\/.\" |aH";
  for (std::size_t i = 2; i + 1 < size; i += 2) {
    const char16_t unit = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    text += (data[i + 1] & 0x80) ? interesting[unit % 9] : unit;
  }

  const std::u16string folder = mirrorpdf::folder_of(text, syntax);
  check(contains(text, folder));
  check(folder.empty() || is_separator(folder.back(), syntax));

  const std::u16string extension = mirrorpdf::extension_of(text, syntax);
  check(contains(text, extension));
  for (const char16_t c : extension) check(!is_separator(c, syntax) && c != u' ');

  const std::u16string trimmed = mirrorpdf::trim_trailing(text, text.substr(0, 1));
  check(text.compare(0, trimmed.size(), trimmed) == 0);
  check(text.empty() || trimmed.empty() || trimmed.back() != text[0]);

  const std::u16string separator = text.substr(0, static_cast<std::size_t>(data[1] % 3));
  check(contains(text, mirrorpdf::field_at(text, n, separator)));
  const std::u16string left = mirrorpdf::left_part(text, n);
  check(text.compare(0, left.size(), left) == 0);

  // Any name under any source folder maps to a target under the target root.
  mirrorpdf::ConversionRun run;
  const std::u16string s(1, mirrorpdf::NATIVE_SYNTAX.separator);
  run.source_root = s + u"r" + s + u"pb" + s;
  run.target_root = s + u"r" + s + u"pb2" + s;
  const std::u16string name = text.substr(text.find_last_of(s) == text.npos ? 0 : text.find_last_of(s) + 1);
  const std::u16string target = mirrorpdf::target_of(run, name, run.source_root + text);
  check(target.compare(0, run.target_root.size(), run.target_root) == 0);
  check(target.size() >= 3 && target.compare(target.size() - 3, 3, u"pdf") == 0);
  return 0;
}
