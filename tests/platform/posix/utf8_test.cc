#include "platform/posix/utf8.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace mirrorpdf {
namespace {

TEST(Utf8Boundary, DecodesValidTextAndEscapesEveryInvalidByte) {
  struct Case {
    std::string bytes;
    std::u16string text;
  };
  const Case cases[] = {
      {"plain", u"plain"},
      {"\xc3\xa9", u"\u00e9"},
      {"\xe2\x82\xac", u"\u20ac"},
      {"\xf0\x9f\x98\x80", u"\U0001F600"},
      {"\xff", u"\xDCFF"},
      {"\xc3", u"\xDCC3"},                         // truncated sequence
      {"\xc0\xaf", u"\xDCC0\xDCAF"},               // overlong '/'
      {"\xed\xa0\x80", u"\xDCED\xDCA0\xDC80"},     // an encoded surrogate
      {"\xf4\x90\x80\x80", u"\xDCF4\xDC90\xDC80\xDC80"},  // past U+10FFFF
      {"a\xe2\x82z", u"a\xDCE2\xDC82z"},
      // Each side of every boundary between sequence lengths, and the last
      // code point.
      {"\x7f", u"\u007F"},
      {"\xc2\x80", u"\u0080"},
      {"\xdf\xbf", u"\u07FF"},
      {"\xe0\xa0\x80", u"\u0800"},
      {"\xef\xbf\xbf", u"\uFFFF"},
      {"\xf0\x90\x80\x80", u"\U00010000"},
      {"\xf4\x8f\xbf\xbf", u"\U0010FFFF"},
      // Just past them: overlong forms of the code point below.
      {"\xc1\xbf", u"\xDCC1\xDCBF"},
      {"\xe0\x9f\xbf", u"\xDCE0\xDC9F\xDCBF"},
      {"\xf0\x8f\xbf\xbf", u"\xDCF0\xDC8F\xDCBF\xDCBF"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(from_system_bytes(c.bytes), c.text);
    EXPECT_EQ(to_system_bytes(c.text), c.bytes);
  }
}

TEST(Utf8Boundary, AnyByteStringRoundTrips) {
  std::mt19937 random(7);
  for (int round = 0; round < 5000; ++round) {
    std::string bytes(random() % 24, '\0');
    // Mostly high bytes, so that valid and broken sequences both turn up.
    for (char& b : bytes) b = static_cast<char>(random() % 3 == 0 ? random() % 128 : 128 + random() % 128);
    ASSERT_EQ(to_system_bytes(from_system_bytes(bytes)), bytes) << round;
  }
}

}  // namespace
}  // namespace mirrorpdf
