// The POSIX system-call boundary: file names are bytes there, UTF-16 code
// units everywhere else. A byte that is not part of valid UTF-8 becomes the
// lone surrogate U+DC80..U+DCFF and goes back to the same byte, so every
// name survives the round trip unchanged.
#pragma once

#include <string>
#include <string_view>

namespace mirrorpdf {

std::u16string from_system_bytes(std::string_view bytes);
std::string to_system_bytes(std::u16string_view text);

}  // namespace mirrorpdf
