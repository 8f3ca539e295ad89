#include "platform/posix/words.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "platform/process.h"

namespace mirrorpdf {
namespace {

TEST(Words, SplitsAtUnquotedBlanks) {
  using Words = std::vector<std::u16string>;
  EXPECT_EQ(split_words(u""), Words{});
  EXPECT_EQ(split_words(u"a b\tc\nd"), (Words{u"a", u"b", u"c", u"d"}));
  EXPECT_EQ(split_words(u"  a  "), Words{u"a"});
  EXPECT_EQ(split_words(u"\"a b\" c"), (Words{u"a b", u"c"}));
  EXPECT_EQ(split_words(u"\"\""), Words{u""});
  EXPECT_EQ(split_words(u"x\"y z\"w"), Words{u"xy zw"});
  EXPECT_EQ(split_words(u"\"a\\\"b\\\\\""), Words{u"a\"b\\"});
}

TEST(Words, QuotingRoundTripsAnyPairOfNames) {
  const std::u16string alphabet = u"ab \"\\\t\n'$`|;*.-=\u00e9\u4e2d\xD83D\xDE00\xDCFF/";
  std::mt19937 random(11);
  auto name = [&] {
    std::u16string text(random() % 12, u'\0');
    for (char16_t& c : text) c = alphabet[random() % alphabet.size()];
    return text;
  };
  for (int round = 0; round < 5000; ++round) {
    const std::u16string a = name(), b = name();
    const auto words = split_words(quote_argument(a) + u" " + quote_argument(b));
    ASSERT_EQ(words, (std::vector<std::u16string>{a, b})) << round;
  }
}

}  // namespace
}  // namespace mirrorpdf
