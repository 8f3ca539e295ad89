#include "driver/text_rules.h"

#include <gtest/gtest.h>

#include <string>

namespace mirrorpdf {
namespace {

struct PathCase {
  const PathSyntax* syntax;
  std::u16string input;
  std::u16string expected;
};

const PathSyntax* const W = &WINDOWS_SYNTAX;
const PathSyntax* const P = &POSIX_SYNTAX;

TEST(TextRules, FolderOf) {
  const PathCase cases[] = {
      {W, u"C:\\a\\b.html", u"C:\\a\\"},
      {W, u"a/b\\c", u"a/b\\"},
      {W, u"\"C:\\x\\y.exe\" -a", u"C:\\x\\"},  // the opening quote is skipped
      {W, u"C:\\a|b\\c", u"C:\\"},              // the scan ends at '|'
      {W, u"\\\\?\\C:\\t\\m.exe", u"\\\\?\\C:\\t\\"},
      {W, u"name", u""},
      {W, u"", u""},
      {W, u"\\", u"\\"},
      {W, u"\"", u""},
      {P, u"/a/b.html", u"/a/"},
      {P, u"a\\b/c", u"a\\b/"},  // a backslash is a name character
      {P, u"\"/x/y\"", u"\"/x/"},
      {P, u"/a|b/c", u"/a|b/"},
      {P, u"a\\b", u""},
      {P, u"/", u"/"},
  };
  for (const PathCase& c : cases) EXPECT_EQ(folder_of(c.input, *c.syntax), c.expected) << "input size " << c.input.size();
}

TEST(TextRules, ExtensionOf) {
  const PathCase cases[] = {
      {W, u"page.html", u"html"},
      {W, u"a.b.HTM", u"HTM"},
      {W, u"x.tar.gz", u"gz"},
      {W, u"a b.html", u"html"},
      {W, u".html", u""},  // the first character is never examined
      {W, u"page.ht ml", u""},
      {W, u"page.html ", u""},
      {W, u"page.", u""},
      {W, u"page", u""},
      {W, u"", u""},
      {W, u"dir.x\\name", u""},
      {W, u"dir.x/name", u""},
      {W, u"dir\\.html", u""},  // a dot that begins a component
      {W, u"a/b.c", u"c"},
      {W, u"a.html\"x", u"html"},  // ends at a quote
      {P, u"a.html\"x", u"html\"x"},
      {P, u"dir.x\\name", u"x\\name"},
      {P, u"dir\\.html", u"html"},
      {P, u"dir.x/name", u""},
      {P, u"dir/.html", u""},
      {P, u"page.ht ml", u""},
      {P, u"page.html", u"html"},
  };
  for (const PathCase& c : cases) EXPECT_EQ(extension_of(c.input, *c.syntax), c.expected) << "input size " << c.input.size();
}

TEST(TextRules, TrimTrailing) {
  struct Case {
    std::u16string text, characters, expected;
  };
  const Case cases[] = {
      {u"abc///", u"/", u"abc"},   {u"abc\\\\", u"\\", u"abc"}, {u"abc  ", u" ", u"abc"},
      {u"abc  ", u"", u"abc  "},   {u"///", u"/", u""},         {u"a//", u"/x", u"a"},
      {u"a/x", u"/x", u"a/x"},     {u"", u"/", u""},
  };
  for (const Case& c : cases) EXPECT_EQ(trim_trailing(c.text, c.characters), c.expected);
  EXPECT_EQ(trim_trailing(u"abc  "), u"abc");
}

TEST(TextRules, FieldAt) {
  struct Case {
    std::u16string text;
    long long n;
    std::u16string separator, expected;
  };
  const Case cases[] = {
      {u"a\\b\\c", 1, u"\\", u"a"},    {u"a\\b\\c", 2, u"\\", u"b"},    {u"a\\b\\c", 3, u"\\", u"c"},
      {u"a\\b\\c", 4, u"\\", u""},     {u"a\\b\\c", 0, u"\\", u""},     {u"a\\b\\c", -1, u"\\", u""},
      {u"a\\b\\", 3, u"\\", u""},      {u"\\x", 1, u"\\", u""},         {u"xpbypbz", 2, u"pb", u"y"},
      {u"aaa", 2, u"aa", u"a"},  // searching resumes after the previous occurrence
      {u"abc", 1, u"", u"abc"},        {u"abc", 2, u"", u""},           {u"", 1, u"\\", u""},
      {u"C:\\t\\pb\\sub\\p.htm", 2, u"C:\\t\\pb\\", u"sub\\p.htm"},
  };
  for (const Case& c : cases) EXPECT_EQ(field_at(c.text, c.n, c.separator), c.expected) << c.n;
}

TEST(TextRules, LeftPartAndTextEqual) {
  EXPECT_EQ(left_part(u"abc", 2), u"ab");
  EXPECT_EQ(left_part(u"abc", 0), u"");
  EXPECT_EQ(left_part(u"abc", -3), u"");
  EXPECT_EQ(left_part(u"abc", 9), u"abc");
  EXPECT_TRUE(text_equal(u"", u""));
  EXPECT_TRUE(text_equal(u"a.b", u"a.b"));
  EXPECT_FALSE(text_equal(u"a", u"A"));
  EXPECT_FALSE(text_equal(u"ab", u"a"));
}

TEST(TextRules, LowerCase) {
  EXPECT_EQ(lower_case(u"HTML"), u"html");
  EXPECT_EQ(lower_case(u"HtM"), u"htm");
  EXPECT_EQ(lower_case(u"a-Z_0"), u"a-z_0");
  EXPECT_EQ(lower_case(u""), u"");
#ifdef _WIN32
  EXPECT_EQ(lower_case(u"\u00C4\u00C9"), u"\u00E4\u00E9");  // the platform's rules, beyond ASCII
#endif
}

}  // namespace
}  // namespace mirrorpdf
