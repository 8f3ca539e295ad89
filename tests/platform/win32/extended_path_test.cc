#include "platform/win32/extended_path.h"

#include <gtest/gtest.h>

#include <string>

namespace mirrorpdf {
namespace {

// Readable names for the texts below.
std::string narrow(const std::u16string& text) { return std::string(text.begin(), text.end()); }

TEST(ExtendedPath, OnlyAbsolutePathsPastTheLimitAreWidened) {
  const std::u16string deep(300, u'd');  // one component past every limit
  struct Case {
    std::u16string path;
    std::u16string expected;
  };
  const Case cases[] = {
      // Within the limit: the plain form, whatever it holds.
      {u"C:\\a\\..\\b/c", u"C:\\a\\..\\b/c"},
      {u"\\\\server\\share\\x", u"\\\\server\\share\\x"},
      {u"", u""},
      // Drive and share paths.
      {u"C:\\" + deep, u"\\\\?\\C:\\" + deep},
      {u"z:\\" + deep + u"\\*.*", u"\\\\?\\z:\\" + deep + u"\\*.*"},
      {u"\\\\server\\share\\" + deep, u"\\\\?\\UNC\\server\\share\\" + deep},
      // What the system would have done to the plain path first.
      {u"C:/" + deep + u"/x", u"\\\\?\\C:\\" + deep + u"\\x"},
      {u"C:\\\\" + deep + u"\\\\\\x", u"\\\\?\\C:\\" + deep + u"\\x"},
      {u"C:\\.\\" + deep + u"\\.\\x", u"\\\\?\\C:\\" + deep + u"\\x"},
      {u"C:\\" + deep + u"\\gone\\..\\x", u"\\\\?\\C:\\" + deep + u"\\x"},
      {u"C:\\..\\..\\" + deep, u"\\\\?\\C:\\" + deep},  // never above the root
      {u"C:\\" + deep + u"\\x\\", u"\\\\?\\C:\\" + deep + u"\\x\\"},
      {u"C:\\" + deep + u"\\..", u"\\\\?\\C:\\"},
      {u"//server/share/" + deep + u"/..\\x", u"\\\\?\\UNC\\server\\share\\x"},
      {u"\\\\server\\share\\..\\" + deep, u"\\\\?\\UNC\\server\\share\\" + deep},
      // Names the system would not resolve stay as they are.
      {u"C:\\" + deep + u"\\...\\x.\\ y", u"\\\\?\\C:\\" + deep + u"\\...\\x.\\ y"},
      // Already extended or a device: the caller's form is kept.
      {u"\\\\?\\C:\\" + deep + u"\\..\\x", u"\\\\?\\C:\\" + deep + u"\\..\\x"},
      {u"\\\\?\\UNC\\server\\share\\" + deep, u"\\\\?\\UNC\\server\\share\\" + deep},
      {u"\\\\.\\C:\\" + deep, u"\\\\.\\C:\\" + deep},
      {u"//?/C:/" + deep, u"//?/C:/" + deep},
      // Relative to a current folder or drive: no extended form names them.
      {deep + u"\\x", deep + u"\\x"},
      {u"\\" + deep, u"\\" + deep},
      {u"C:" + deep, u"C:" + deep},
      {u"..\\" + deep, u"..\\" + deep},
      {u"1:\\" + deep, u"1:\\" + deep},
  };
  for (const Case& c : cases)
    EXPECT_EQ(extended_path(c.path, PLAIN_PATH_LIMIT), c.expected) << narrow(c.path);
}

TEST(ExtendedPath, EachLimitIsTheLongestPlainPathKept) {
  const std::u16string root = u"C:\\";
  for (const std::size_t limit : {PLAIN_PATH_LIMIT, PLAIN_NEW_FOLDER_LIMIT}) {
    const std::u16string longest = root + std::u16string(limit - root.size(), u'x');
    EXPECT_EQ(extended_path(longest, limit), longest) << limit;
    EXPECT_EQ(extended_path(longest + u"y", limit), u"\\\\?\\" + longest + u"y") << limit;
  }
  EXPECT_EQ(PLAIN_PATH_LIMIT, 259u);        // MAX_PATH less the terminator
  EXPECT_EQ(PLAIN_NEW_FOLDER_LIMIT, 247u);  // less room for an 8.3 name
}

}  // namespace
}  // namespace mirrorpdf
