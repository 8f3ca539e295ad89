#include "platform/win32/extended_path.h"

#include <vector>

namespace mirrorpdf {

namespace {

bool is_separator(char16_t c) { return c == u'\\' || c == u'/'; }

bool is_letter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }

// The components after the root, as the system resolves them in a plain path.
std::u16string resolved(std::u16string_view rest) {
  std::vector<std::u16string_view> parts;
  std::size_t start = 0;
  while (start <= rest.size()) {
    std::size_t end = start;
    while (end < rest.size() && !is_separator(rest[end])) ++end;
    const std::u16string_view part = rest.substr(start, end - start);
    if (part == u"..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != u".") {
      parts.push_back(part);
    }
    start = end + 1;
  }
  std::u16string text;
  for (const std::u16string_view part : parts) {
    if (!text.empty()) text += u'\\';
    text += part;
  }
  // A trailing separator stays: it is what names a folder rather than a file.
  if (!text.empty() && !rest.empty() && is_separator(rest.back())) text += u'\\';
  return text;
}

}  // namespace

std::u16string extended_path(std::u16string_view path, std::size_t limit) {
  if (path.size() <= limit) return std::u16string(path);

  // A drive path: a letter, ':' and a separator.
  if (path.size() >= 3 && is_letter(path[0]) && path[1] == u':' && is_separator(path[2])) {
    std::u16string wide = u"\\\\?\\";
    wide += path.substr(0, 2);
    wide += u'\\';
    wide += resolved(path.substr(3));
    return wide;
  }

  // A share path: two separators and a server name. Two separators followed
  // by '?' or '.' alone are a device or extended form, not a server.
  if (path.size() >= 3 && is_separator(path[0]) && is_separator(path[1]) && !is_separator(path[2])) {
    std::size_t server_end = 2;
    while (server_end < path.size() && !is_separator(path[server_end])) ++server_end;
    const std::u16string_view server = path.substr(2, server_end - 2);
    if (server == u"?" || server == u".") return std::u16string(path);
    std::size_t share_end = server_end;
    while (share_end < path.size() && is_separator(path[share_end])) ++share_end;
    const std::size_t share_start = share_end;
    while (share_end < path.size() && !is_separator(path[share_end])) ++share_end;

    std::u16string wide = u"\\\\?\\UNC\\";
    wide += server;
    if (share_end > share_start) {
      wide += u'\\';
      wide += path.substr(share_start, share_end - share_start);
    }
    const std::u16string rest = resolved(path.substr(share_end));
    if (!rest.empty()) {
      wide += u'\\';
      wide += rest;
    }
    return wide;
  }

  return std::u16string(path);
}

}  // namespace mirrorpdf
