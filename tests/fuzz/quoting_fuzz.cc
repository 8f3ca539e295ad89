// Any two texts, quoted and joined as the page job does, split back into
// exactly those two texts.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/posix/words.h"
#include "platform/process.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::u16string text;
  for (std::size_t i = 0; i + 1 < size; i += 2) text += static_cast<char16_t>(data[i] | (data[i + 1] << 8));
  const std::size_t cut = size == 0 ? 0 : data[0] % (text.size() + 1);
  const std::u16string a = text.substr(0, cut), b = text.substr(cut);
  const auto words =
      mirrorpdf::split_words(mirrorpdf::quote_argument(a) + u" " + mirrorpdf::quote_argument(b));
  if (words != std::vector<std::u16string>{a, b}) std::abort();
  return 0;
}
