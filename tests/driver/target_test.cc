#include <gtest/gtest.h>

#include "driver/conversion.h"
#include "platform/process.h"

namespace mirrorpdf {
namespace {

TEST(TargetOf, SamePathUnderTheTargetRootWithPdfExtension) {
  const std::u16string s(1, NATIVE_SYNTAX.separator);
  ConversionRun run;
  run.source_root = s + u"t" + s + u"pb" + s;
  run.target_root = s + u"t" + s + u"pb2" + s;
  struct Case {
    std::u16string relative, name, expected;
  };
  const Case cases[] = {
      {u"page.html", u"page.html", u"page.pdf"},
      {u"INDEX.HTML", u"INDEX.HTML", u"INDEX.pdf"},  // only the extension's characters change
      {u"sub" + s + u"page.htm", u"page.htm", u"sub" + s + u"page.pdf"},
      {u"a.b.Html", u"a.b.Html", u"a.b.pdf"},
      // The root's text recurring further down stays where it is.
      {u"x" + s + u"t" + s + u"pb" + s + u"p.html", u"p.html", u"x" + s + u"t" + s + u"pb" + s + u"p.pdf"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(target_of(run, c.name, run.source_root + c.relative), run.target_root + c.expected);
}

}  // namespace
}  // namespace mirrorpdf
