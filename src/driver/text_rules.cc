#include "driver/text_rules.h"

#include <algorithm>

namespace mirrorpdf {

namespace {

bool is_separator(char16_t c, const PathSyntax& syntax) {
  return c == syntax.separator || (syntax.slash_separates_too && (c == u'/' || c == u'\\'));
}

}  // namespace

std::u16string folder_of(std::u16string_view path, const PathSyntax& syntax) {
  std::size_t start = 0;
  if (syntax.quote_and_bar_end_names && !path.empty() && path[0] == u'"') start = 1;
  std::size_t end = start;  // just after the last separator seen
  for (std::size_t i = start; i < path.size(); ++i) {
    if (syntax.quote_and_bar_end_names && path[i] == u'|') break;
    if (is_separator(path[i], syntax)) end = i + 1;
  }
  return std::u16string(path.substr(start, end - start));
}

std::u16string extension_of(std::u16string_view name, const PathSyntax& syntax) {
  // The first character is never examined: a name such as ".html" has no
  // extension.
  for (std::size_t i = name.size(); i-- > 1;) {
    const char16_t c = name[i];
    if (c == u' ' || is_separator(c, syntax)) return {};
    if (c == u'.') {
      if (is_separator(name[i - 1], syntax)) return {};
      std::u16string_view extension = name.substr(i + 1);
      if (syntax.quote_and_bar_end_names) extension = extension.substr(0, extension.find(u'"'));
      return std::u16string(extension);
    }
  }
  return {};
}

std::u16string lower_case(std::u16string_view text) {
  std::u16string lowered(text);
  lower_in_place(lowered);
  return lowered;
}

std::u16string trim_trailing(std::u16string_view text, std::u16string_view characters) {
  if (characters.empty()) return std::u16string(text);
  const char16_t c = characters[0];
  std::size_t end = text.size();
  while (end > 0 && text[end - 1] == c) --end;
  return std::u16string(text.substr(0, end));
}

std::u16string field_at(std::u16string_view text, long long n, std::u16string_view separator) {
  if (n < 1) return {};
  std::size_t begin = 0;
  for (long long field = 1; field < n; ++field) {
    const std::size_t found = separator.empty() ? std::u16string_view::npos : text.find(separator, begin);
    if (found == std::u16string_view::npos) return {};
    begin = found + separator.size();
  }
  const std::size_t end = separator.empty() ? std::u16string_view::npos : text.find(separator, begin);
  return std::u16string(text.substr(begin, end == std::u16string_view::npos ? std::u16string_view::npos : end - begin));
}

std::u16string left_part(std::u16string_view text, long long n) {
  const long long length = static_cast<long long>(text.size());
  return std::u16string(text.substr(0, static_cast<std::size_t>(std::clamp(n, 0LL, length))));
}

bool text_equal(std::u16string_view a, std::u16string_view b) { return a == b; }

}  // namespace mirrorpdf
