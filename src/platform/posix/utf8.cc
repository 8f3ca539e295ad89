#include "platform/posix/utf8.h"

namespace mirrorpdf {

namespace {

// Length of the valid UTF-8 sequence at bytes[at] and its code point, or 0.
std::size_t decode_one(std::string_view bytes, std::size_t at, char32_t* code_point) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
  const unsigned char lead = byte(at);
  std::size_t length;
  char32_t value;
  char32_t minimum;
  if (lead < 0x80) {
    *code_point = lead;
    return 1;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, value = lead & 0x1F, minimum = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, value = lead & 0x0F, minimum = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, value = lead & 0x07, minimum = 0x10000;
  } else {
    return 0;
  }
  if (bytes.size() - at < length) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    const unsigned char next = byte(at + i);
    if ((next & 0xC0) != 0x80) return 0;
    value = (value << 6) | (next & 0x3F);
  }
  // Overlong forms, encoded surrogates and values past U+10FFFF are not
  // valid: their bytes are escaped one by one instead.
  if (value < minimum || (value >= 0xD800 && value <= 0xDFFF) || value > 0x10FFFF) return 0;
  *code_point = value;
  return length;
}

void append_utf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

}  // namespace

std::u16string from_system_bytes(std::string_view bytes) {
  std::u16string text;
  text.reserve(bytes.size());
  for (std::size_t at = 0; at < bytes.size();) {
    char32_t c;
    const std::size_t length = decode_one(bytes, at, &c);
    if (length == 0) {
      text += static_cast<char16_t>(0xDC00 | static_cast<unsigned char>(bytes[at]));
      ++at;
      continue;
    }
    if (c < 0x10000) {
      text += static_cast<char16_t>(c);
    } else {
      text += static_cast<char16_t>(0xD800 | ((c - 0x10000) >> 10));
      text += static_cast<char16_t>(0xDC00 | ((c - 0x10000) & 0x3FF));
    }
    at += length;
  }
  return text;
}

std::string to_system_bytes(std::u16string_view text) {
  std::string bytes;
  bytes.reserve(text.size());
  for (std::size_t at = 0; at < text.size(); ++at) {
    const char16_t unit = text[at];
    if (unit >= 0xD800 && unit <= 0xDBFF && at + 1 < text.size() && text[at + 1] >= 0xDC00 &&
        text[at + 1] <= 0xDFFF) {
      append_utf8(bytes, 0x10000 + ((char32_t{unit} - 0xD800) << 10) + (text[at + 1] - 0xDC00));
      ++at;
    } else if (unit >= 0xDC80 && unit <= 0xDCFF) {
      bytes += static_cast<char>(unit & 0xFF);
    } else {
      // Other lone surrogates cannot come from a name; they keep the
      // generalised three-byte form rather than being lost.
      append_utf8(bytes, unit);
    }
  }
  return bytes;
}

}  // namespace mirrorpdf
