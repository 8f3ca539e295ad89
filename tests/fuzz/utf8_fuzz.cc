// Any byte string survives the trip to UTF-16 and back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/posix/utf8.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const std::u16string text = mirrorpdf::from_system_bytes(bytes);
  if (mirrorpdf::to_system_bytes(text) != bytes) std::abort();
  // Lone low surrogates are escapes, and they stand only for bytes 0x80..0xFF.
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t unit = text[i];
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size()) {
      ++i;
      continue;
    }
    if (unit >= 0xDC00 && unit < 0xDC80) std::abort();
  }
  return 0;
}
