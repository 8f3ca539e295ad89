// Bytes as hex digits and back: how the stand-in converters log paths, so
// that any name (spaces, newlines, bytes that are not UTF-8) survives a line.
#pragma once

#include <string>
#include <string_view>

namespace mirrorpdf::testing {

inline std::string hex(std::string_view bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (const char c : bytes) {
    out += digits[static_cast<unsigned char>(c) >> 4];
    out += digits[static_cast<unsigned char>(c) & 15];
  }
  return out;
}

inline std::string unhex(std::string_view digits) {
  std::string bytes;
  for (std::size_t i = 0; i + 1 < digits.size(); i += 2)
    bytes += static_cast<char>(std::stoi(std::string(digits.substr(i, 2)), nullptr, 16));
  return bytes;
}

}  // namespace mirrorpdf::testing
