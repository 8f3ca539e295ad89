// The built tool as a user runs it: copied into a folder of its own with a
// tree beside it, started from another current folder, with the recording
// stand-in as its converter.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/tool_run.h"
#include "support/folder_link.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace mirrorpdf {
namespace {

namespace fs = std::filesystem;
using testing::argument_lists;
using testing::CONVERTER_NAME;
using testing::expect_conversions;
using testing::names_in;
using testing::PageCase;
using testing::path_of;
using testing::read_file;
using testing::RecordedRun;
using testing::Site;
using testing::snapshot;
using testing::utf8_of;
using testing::write_file;

TEST(EndToEnd, WithoutSourceTreeMakesOnlyTheTargetRoot) {
  Site site;
  EXPECT_TRUE(site.run().empty());
  EXPECT_TRUE(fs::is_directory(site.tool / "pb2"));
  EXPECT_TRUE(fs::is_empty(site.tool / "pb2"));
}

TEST(EndToEnd, TargetRootThatIsAFileStaysAndPagesAreStillHandedOver) {
  Site site;
  write_file(site.tool / "pb2", "not a folder");
  site.page("a.html");
  site.page("sub/b.htm");
  const auto runs = site.run();
  EXPECT_EQ(argument_lists(runs), (std::vector<std::vector<std::string>>{
                                      {site.source_text("a.html"), site.target_text("a.pdf")},
                                      {site.source_text("sub/b.htm"), site.target_text("sub/b.pdf")}}));
  EXPECT_TRUE(fs::is_regular_file(site.tool / "pb2"));
  EXPECT_EQ(read_file(site.tool / "pb2"), "not a folder");
}

TEST(EndToEnd, PagesAreChosenByExtensionInAnyCaseAndGetTheirExactTwoPaths) {
  Site site;
  std::vector<PageCase> cases = {
      {"page.html", "page.pdf"},
      {"upper/page.HTM", "upper/page.pdf"},
      {"mixed/page.Html", "mixed/page.pdf"},
      {"INDEX.HTML", "INDEX.pdf"},
      {"two.dots.htm", "two.dots.pdf"},
      {"a folder with spaces/my page.html", "a folder with spaces/my page.pdf"},
      {"\xc3\xbcnic\xc3\xb8"
       "de p\xc3\xa4ge.htm",
       "\xc3\xbcnic\xc3\xb8"
       "de p\xc3\xa4ge.pdf"},
      {"x.html/inside.html", "x.html/inside.pdf"},  // a folder, walked but not converted
      {"page.shtml", ""},
      {"page.xhtml", ""},
      {"page.html.bak", ""},
      {"page.htmlx", ""},
      {".html", ""},
      {"sub/.htm", ""},
      {"page.ht ml", ""},
      {"page.pdf", ""},
      {"page.", ""},
      {"README", ""},
  };
#ifndef _WIN32
  // Names only POSIX allows: the converter still gets exactly the two paths.
  cases.push_back({"it's \"quoted\" back\\slash.html", "it's \"quoted\" back\\slash.pdf"});
  cases.push_back({"$(touch ran) `touch ran`.html", "$(touch ran) `touch ran`.pdf"});
  cases.push_back({"new\nline.htm", "new\nline.pdf"});
  cases.push_back({"caf\xe9 latin-1.html", "caf\xe9 latin-1.pdf"});  // not UTF-8: the bytes survive
  cases.push_back({"-dash.html", "-dash.pdf"});
  cases.push_back({"trailing space.html ", ""});
  // No path is cut short, however long.
  const std::string long_name(120, 'n');
  cases.push_back({long_name + "/" + long_name + "/" + long_name + ".html",
                   long_name + "/" + long_name + "/" + long_name + ".pdf"});
  // Special entries are never pages, whatever their names.
  fs::create_directories(site.pb(""));
  ASSERT_EQ(mkfifo(site.pb("fifo.html").c_str(), 0600), 0);
  cases.push_back({"fifo.html", ""});
  fs::create_symlink("nowhere.html", site.pb("dead.html"));
  cases.push_back({"dead.html", ""});
  // A link to a page is a page.
  fs::create_symlink("page.html", site.pb("alias.html"));
  cases.push_back({"alias.html", "alias.pdf"});
#endif
  expect_conversions(site, cases);
  EXPECT_FALSE(fs::exists(site.elsewhere / "ran"));
  EXPECT_FALSE(fs::exists(site.tool / "ran"));
}

TEST(EndToEnd, TargetFoldersAreMadeOnlyOnTheWayToPagesAndExistingFilesStay) {
  Site site;
  fs::create_directories(site.pb("empty"));
  fs::create_directories(site.pb("no pages/deeper/deepest"));
  write_file(site.pb("no pages/readme.txt"), "text");
  write_file(site.pb("no pages/deeper/page.html.orig"), "old");
  site.page("a/b/c/page.html");  // nothing in a and b themselves
  site.page("top.htm");
  write_file(site.pb2("kept/old.txt"), "mine");
  write_file(site.pb2("a/notes.txt"), "also mine");

  EXPECT_EQ(site.run().size(), 2u);
  EXPECT_EQ(names_in(snapshot(site.tool / "pb2")),
            (std::vector<std::string>{"a/", "a/b/", "a/b/c/", "a/b/c/page.pdf", "a/notes.txt", "kept/",
                                      "kept/old.txt", "top.pdf"}));
  EXPECT_EQ(read_file(site.pb2("kept/old.txt")), "mine");
  EXPECT_EQ(read_file(site.pb2("a/notes.txt")), "also mine");
}

#ifndef _WIN32
TEST(EndToEnd, TargetFoldersGetEveryPermissionTheUmaskLeaves) {
  for (const mode_t mask : {mode_t{0}, mode_t{077}}) {
    SCOPED_TRACE("umask " + std::to_string(mask));
    Site site;
    const mode_t saved = umask(mask);
    expect_conversions(site, {{"a/b/page.html", "a/b/page.pdf"}});
    umask(saved);
    for (const char* folder : {"", "a", "a/b"}) {
      struct stat status {};
      ASSERT_EQ(stat(site.pb2(folder).c_str(), &status), 0) << folder;
      EXPECT_EQ(status.st_mode & 07777, 0777 & ~mask) << "pb2/" << folder;
    }
  }
}
#endif

TEST(EndToEnd, RootNamesRecurringInsideTheTreeAreKept) {
  Site site;
  std::vector<PageCase> cases = {
      {"x/pb/page.html", "x/pb/page.pdf"},
      {"pb/pb2/pb/deep.htm", "pb/pb2/pb/deep.pdf"},
  };
#ifndef _WIN32
  // The source root's whole absolute text again inside the tree.
  const std::string again = "x" + utf8_of(site.tool) + "/pb/again.html";
  cases.push_back({again, again.substr(0, again.size() - 4) + "pdf"});
#endif
  expect_conversions(site, cases);
}

TEST(EndToEnd, ConverterRunsOneAtATimeAndEachIsWaitedFor) {
  Site site;
  // The slow stand-in writes its target only after a pause, so a target
  // missing at exit or an overlap means a run was not waited for.
  expect_conversions(site, {{"a.html", "a.pdf"}, {"sub/b.htm", "sub/b.pdf"}, {"sub/c/d.html", "sub/c/d.pdf"}},
                     "slow");
}

TEST(EndToEnd, NoisyConverterIsStartedHidden) {
  Site site;
  site.page("a.html");
  site.page("sub/b.html");
  const auto runs = site.run("noisy");  // checks that nothing reached the tool's streams
  ASSERT_EQ(runs.size(), 2u);
#ifdef _WIN32
  for (const RecordedRun& run : runs) {
    EXPECT_EQ(run.fields.at("show"), "0");        // SW_HIDE
    EXPECT_EQ(run.fields.at("startflags"), "1");  // STARTF_USESHOWWINDOW
    // No working folder is given: the converter starts where the tool did.
    EXPECT_EQ(path_of(run.fields.at("cwd")), site.elsewhere);
  }
#else
  for (const RecordedRun& run : runs) {
    EXPECT_EQ(run.fields.at("stdout_null"), "1");
    EXPECT_EQ(run.fields.at("own_session"), "1");
  }
#endif
}

TEST(EndToEnd, ConverterThatFailsOrIsMissingDoesNotStopTheWalk) {
  struct Failure {
    const char* label;
    const char* mode;
    bool converter_present;
  };
  for (const Failure failure : {Failure{"exits 7", "exit7", true}, Failure{"crashes", "crash", true},
                                Failure{"missing", "", false}}) {
    SCOPED_TRACE(failure.label);
    Site site(failure.converter_present);
    site.page("a.html");
    site.page("sub/b.html");
    site.page("sub/deeper/c.htm");
    site.page("z.htm");
    EXPECT_EQ(site.run(failure.mode).size(), failure.converter_present ? 4u : 0u);
    // The walk reached every page: each target folder was made.
    EXPECT_TRUE(fs::is_directory(site.pb2("sub/deeper")));
  }
}

#ifndef _WIN32
TEST(EndToEnd, ConverterThatIsAFolderOrNotExecutableDoesNotStopTheWalk) {
  for (const bool folder : {true, false}) {
    SCOPED_TRACE(folder ? "a folder" : "not executable");
    Site site(false);
    if (folder) {
      fs::create_directories(site.tool / CONVERTER_NAME);
    } else {
      write_file(site.tool / CONVERTER_NAME, "#!/bin/sh\ntouch \"$2\"\n");
    }
    site.page("a.html");
    site.page("sub/b.html");
    EXPECT_TRUE(site.run().empty());
    EXPECT_TRUE(fs::is_directory(site.pb2("sub")));
    EXPECT_FALSE(fs::exists(site.pb2("a.pdf")));
  }
}
#endif

TEST(EndToEnd, ArgumentsAreIgnored) {
  Site site;
  site.page("a.html");
  const auto runs = site.run("", {"--help", "-o", utf8_of(site.elsewhere), "pb"});
  EXPECT_EQ(argument_lists(runs),
            (std::vector<std::vector<std::string>>{{site.source_text("a.html"), site.target_text("a.pdf")}}));
}

#ifdef _WIN32
TEST(EndToEnd, WindowsNamesAreHandedOverAsTheyAre) {
  Site site;
  // Characters a command processor would act on, and a path longer than 260
  // characters, which no step may cut.
  const std::string long_name(120, 'n');
  expect_conversions(site, {
                               {"100% ^caret^ & bang!.html", "100% ^caret^ & bang!.pdf"},
                               {"semi;colon,comma=equals.htm", "semi;colon,comma=equals.pdf"},
                               {"it's (round) [square] {curly}.html", "it's (round) [square] {curly}.pdf"},
                               {"%PATH%/page.html", "%PATH%/page.pdf"},
                               {long_name + "/" + long_name + "/" + long_name + ".html",
                                long_name + "/" + long_name + "/" + long_name + ".pdf"},
                           });
}

TEST(EndToEnd, WindowsLinksToFoldersAreWalkedExceptLinksBackIntoTheWalk) {
  Site site;
  site.page("a/page.html");
  site.page("../outside/o.html");
  const testing::FolderLink up(site.pb(""), site.pb("a/up"));       // to an ancestor
  const testing::FolderLink self(site.pb("a"), site.pb("a/self"));  // to itself
  const testing::FolderLink sibling(site.pb("a"), site.pb("b"));    // to a sibling: no cycle
  const testing::FolderLink out(site.tool / "outside", site.pb("out"));
  const testing::FolderLink back(site.tool / "pb", site.tool / "outside" / "back");  // outside, back to pb
  for (const testing::FolderLink* link : {&up, &self, &sibling, &out, &back}) ASSERT_TRUE(link->made);

  expect_conversions(
      site, {{"a/page.html", "a/page.pdf"}, {"b/page.html", "b/page.pdf"}, {"out/o.html", "out/o.pdf"}});
  EXPECT_EQ(names_in(snapshot(site.tool / "pb2")),
            (std::vector<std::string>{"a/", "a/page.pdf", "b/", "b/page.pdf", "out/", "out/o.pdf"}));
}
#endif

#ifndef _WIN32
TEST(EndToEnd, LinksToFoldersAreWalkedExceptLinksBackIntoTheWalk) {
  Site site;
  site.page("a/page.html");
  fs::create_directory_symlink("..", site.pb("a/up"));   // to an ancestor
  fs::create_directory_symlink(".", site.pb("a/self"));  // to itself
  fs::create_directory_symlink("a", site.pb("b"));       // to a sibling: no cycle
  site.page("../outside/o.html");
  fs::create_directory_symlink("../outside", site.pb("out"));
  fs::create_directory_symlink(site.tool / "pb", site.tool / "outside" / "back");  // outside, back to pb

  expect_conversions(
      site, {{"a/page.html", "a/page.pdf"}, {"b/page.html", "b/page.pdf"}, {"out/o.html", "out/o.pdf"}});
  EXPECT_EQ(names_in(snapshot(site.tool / "pb2")),
            (std::vector<std::string>{"a/", "a/page.pdf", "b/", "b/page.pdf", "out/", "out/o.pdf"}));
}
#endif

}  // namespace
}  // namespace mirrorpdf
