// The built tool as a user runs it: copied into a folder of its own with a
// tree beside it, started from another current folder, with the recording
// stand-in as its converter.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/records.h"
#include "support/run_program.h"
#include "support/temp_folder.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace mirrorpdf {
namespace {

namespace fs = std::filesystem;
using testing::read_file;
using testing::read_records;
using testing::RecordedRun;
using testing::TempFolder;
using testing::write_file;

// The tool's own folder has a name that needs quoting on every platform.
#ifdef _WIN32
constexpr const char* TOOL_FOLDER = "the tool \xc3\xbc";
constexpr char SEPARATOR = '\\';
constexpr const char* TOOL_NAME = "mirrorpdf.exe";
constexpr const char* CONVERTER_NAME = "bin/wkhtmltopdf.exe";
#else
constexpr const char* TOOL_FOLDER = "the \"tool\" \\ it's \xc3\xbc";
constexpr char SEPARATOR = '/';
constexpr const char* TOOL_NAME = "mirrorpdf";
constexpr const char* CONVERTER_NAME = "bin/wkhtmltopdf";
#endif

// Paths as the recorder logs them: UTF-8 on Windows, the bytes on POSIX.
#ifdef _WIN32
std::string utf8_of(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}
fs::path path_of(const std::string& utf8) { return fs::path(std::u8string(utf8.begin(), utf8.end())); }
#else
std::string utf8_of(const fs::path& path) { return path.string(); }
fs::path path_of(const std::string& bytes) { return fs::path(bytes); }
#endif

// A relative path written with '/' as the platform writes it.
std::string native(std::string relative) {
  std::replace(relative.begin(), relative.end(), '/', SEPARATOR);
  return relative;
}

// Every entry below root, links not followed: folders end with '/', regular
// files carry their content, anything else is marked as such. The subtree
// named skip (relative, '/'-separated) is left out.
std::map<std::string, std::string> snapshot(const fs::path& root, const std::string& skip = "") {
  std::map<std::string, std::string> entries;
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(root, error); it != fs::recursive_directory_iterator();
       it.increment(error)) {
    std::string relative = utf8_of(it->path().lexically_relative(root));
    std::replace(relative.begin(), relative.end(), SEPARATOR, '/');
    const fs::file_status status = it->symlink_status();
    if (relative == skip) {
      it.disable_recursion_pending();
    } else if (fs::is_directory(status)) {
      entries[relative + "/"] = "";
    } else if (fs::is_regular_file(status)) {
      entries[relative] = read_file(it->path());
    } else {
      entries[relative] = fs::is_symlink(status) ? "(link)" : "(special)";
    }
  }
  return entries;
}

std::vector<std::string> names_in(const std::map<std::string, std::string>& entries) {
  std::vector<std::string> names;
  for (const auto& [name, content] : entries) names.push_back(name);
  return names;
}

// The folder beside the tool, the run, and what the converter saw.
struct Site {
  TempFolder temp;
  fs::path tool;       // holds the tool, bin, pb and pb2
  fs::path elsewhere;  // the current folder it is started from
  fs::path log;

  explicit Site(bool with_converter = true) {
    tool = fs::canonical(temp.root) / path_of(TOOL_FOLDER);
    elsewhere = fs::canonical(temp.root) / "elsewhere";
    log = temp.root / "record.log";
    fs::create_directories(tool / "bin");
    fs::copy_file(MIRRORPDF_BINARY, tool / TOOL_NAME);
    if (with_converter) fs::copy_file(fs::path(testing::recorder_path()), tool / CONVERTER_NAME);
    // A tree beside the current folder that the tool must not mistake for
    // its own.
    write_file(elsewhere / "pb" / "decoy.html", "<p>not mine</p>");
  }

  fs::path pb(const std::string& relative) const { return tool / "pb" / path_of(relative); }
  fs::path pb2(const std::string& relative) const { return tool / "pb2" / path_of(relative); }
  void page(const std::string& relative) const { write_file(pb(relative), "<p>" + relative + "</p>"); }

  // The absolute paths the converter is to receive for a page.
  std::string source_text(const std::string& relative) const {
    return utf8_of(tool) + SEPARATOR + "pb" + SEPARATOR + native(relative);
  }
  std::string target_text(const std::string& relative) const {
    return utf8_of(tool) + SEPARATOR + "pb2" + SEPARATOR + native(relative);
  }

  // Runs the tool and checks what holds for every run: it exits 0, prints
  // nothing, and changes nothing but pb2.
  std::vector<RecordedRun> run(const std::string& mode = "", const std::vector<std::string>& arguments = {}) {
    const auto before = snapshot(tool, "pb2");
    const testing::ProgramRun program = testing::run_program(
        tool / TOOL_NAME, arguments, elsewhere,
        {{"MIRRORPDF_RECORD", utf8_of(log)}, {"MIRRORPDF_RECORD_MODE", mode}}, std::chrono::seconds(10));
    EXPECT_TRUE(program.started);
    EXPECT_FALSE(program.timed_out);
    EXPECT_EQ(program.exit_code, 0);
    EXPECT_EQ(program.output, "");
    EXPECT_EQ(program.errors, "");
    auto after = snapshot(tool, "pb2");
    after.erase("pb2");  // made by the run when it was missing
    EXPECT_EQ(after, before);
    EXPECT_FALSE(fs::exists(elsewhere / "pb2"));
    return read_records(log);
  }
};

// The converter runs as pairs (source, target), sorted: the listing order is
// the platform's.
std::vector<std::vector<std::string>> argument_lists(const std::vector<RecordedRun>& runs) {
  std::vector<std::vector<std::string>> lists;
  for (const RecordedRun& run : runs) lists.push_back(run.arguments);
  std::sort(lists.begin(), lists.end());
  return lists;
}

struct PageCase {
  std::string source;  // below pb
  std::string target;  // below pb2; empty when the entry is passed over
};

// Lays the pages out, runs, and checks that exactly the pages were handed
// over, each with its two paths, and that each target was written.
void expect_conversions(Site& site, const std::vector<PageCase>& cases, const std::string& mode = "") {
  std::vector<std::vector<std::string>> expected;
  for (const PageCase& c : cases) {
    if (!fs::exists(fs::symlink_status(site.pb(c.source)))) site.page(c.source);
    if (!c.target.empty()) expected.push_back({site.source_text(c.source), site.target_text(c.target)});
  }
  std::sort(expected.begin(), expected.end());

  const auto runs = site.run(mode);
  EXPECT_EQ(argument_lists(runs), expected);
  for (const RecordedRun& run : runs) EXPECT_FALSE(run.overlap);
  for (const PageCase& c : cases) {
    if (c.target.empty()) continue;
    EXPECT_EQ(read_file(site.pb2(c.target)), "converted " + site.source_text(c.source));
  }
}

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
#ifndef _WIN32
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
