// Text crosses into the Windows functions here and nowhere else: char16_t
// and wchar_t are both UTF-16 code units on Windows, so the same storage is
// read under the other name.
#pragma once

#include <string>

namespace mirrorpdf {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide text is UTF-16");

inline const wchar_t* wide(const std::u16string& text) {
  return reinterpret_cast<const wchar_t*>(text.c_str());
}
inline wchar_t* wide(std::u16string& text) { return reinterpret_cast<wchar_t*>(text.data()); }
inline std::u16string text_from(const wchar_t* text) {
  return std::u16string(reinterpret_cast<const char16_t*>(text));
}

}  // namespace mirrorpdf
