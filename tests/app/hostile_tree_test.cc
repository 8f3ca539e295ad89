// The built tool against trees, targets and converters made to break it. For
// every one it must exit 0, print nothing, hand each page over once with its
// two paths, make no folder that no target needs, and change or remove no
// file it finds.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "app/tool_run.h"
#include "support/hex.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace mirrorpdf {
namespace {

namespace fs = std::filesystem;
using testing::argument_lists;
using testing::CONVERTER_NAME;
using testing::expect_conversions;
using testing::expect_handed_over;
using testing::names_in;
using testing::PageCase;
using testing::read_file;
using testing::RecordedRun;
using testing::Site;
using testing::snapshot;
using testing::write_file;

// Characters outside the Basic Multilingual Plane: two UTF-16 code units
// each, four UTF-8 bytes.
constexpr const char* GRIN = "\xf0\x9f\x98\x80";    // U+1F600
constexpr const char* CLEF = "\xf0\x9d\x84\x9e";    // U+1D11E
constexpr const char* GOTHIC = "\xf0\x90\x8d\x88";  // U+10348

#ifndef _WIN32
std::string repeated(const std::string& text, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += text;
  return out;
}
#endif

TEST(HostileTree, NamesAreHandedOverWholeOrPassedOver) {
  Site site;
  const std::string grin = GRIN, clef = CLEF, gothic = GOTHIC;
  std::vector<PageCase> cases = {
      {grin + " grin.html", grin + " grin.pdf"},
      {"x" + clef + ".htm", "x" + clef + ".pdf"},  // just before the dot
      {gothic + "/" + gothic + clef + gothic + ".HTML", gothic + "/" + gothic + clef + gothic + ".pdf"},
      {"a.ht" + grin + "ml", ""},
      // A space before the dot leaves the extension alone; one after it
      // ends the extension.
      {"a .html", "a .pdf"},
      {"sub/b  .htm", "sub/b  .pdf"},
      {" .html", " .pdf"},
      {"a. html", ""},
      {"a . htm", ""},
      {"a.h tml", ""},
  };
#ifndef _WIN32
  // Names a converter could take for options: it gets absolute paths.
  cases.push_back({"--output=x.html", "--output=x.pdf"});
  cases.push_back({"-o.htm", "-o.pdf"});
  cases.push_back({"--.html", "--.pdf"});
  cases.push_back({"-/--help/page.html", "-/--help/page.pdf"});
  // Shell syntax that a command line built as text would run.
  cases.push_back({"`touch ran`.html", "`touch ran`.pdf"});
  cases.push_back({"a;touch ran;b|c&d>e<f.html", "a;touch ran;b|c&d>e<f.pdf"});
  cases.push_back({"'single' ${HOME} *.html", "'single' ${HOME} *.pdf"});
  cases.push_back({"tab\there.html", "tab\there.pdf"});
  cases.push_back({"\tleading tab.htm", "\tleading tab.pdf"});
  cases.push_back({"carriage\rreturn.html", "carriage\rreturn.pdf"});
  cases.push_back({"back\\slash\\.html", "back\\slash\\.pdf"});
  // As long as a name may be: 250 bytes with the extension.
  const std::string long_stem(245, 'l');
  cases.push_back({long_stem + ".html", long_stem + ".pdf"});
  cases.push_back({std::string(246, 'm') + ".htm", std::string(246, 'm') + ".pdf"});
  cases.push_back(
      {std::string(250, 'f') + "/" + long_stem + ".html", std::string(250, 'f') + "/" + long_stem + ".pdf"});
  cases.push_back({repeated("\xc3\xa9", 122) + "x.html", repeated("\xc3\xa9", 122) + "x.pdf"});
  // After the extension: a quote or a space makes it another extension.
  cases.push_back({"a.html\"x", ""});
  cases.push_back({"a.html\"", ""});
  cases.push_back({"a.htm'", ""});
  cases.push_back({"a.html ", ""});
  cases.push_back({"a.htm\t", ""});
  cases.push_back({"a.html\\", ""});
#endif
  expect_conversions(site, cases);
  EXPECT_FALSE(fs::exists(site.elsewhere / "ran"));
  EXPECT_FALSE(fs::exists(site.tool / "ran"));
}

#ifndef _WIN32
TEST(HostileTree, TreeTwoHundredLevelsDeep) {
  Site site;
  std::string path;
  std::string middle;
  for (int level = 1; level <= 200; ++level) {
    path += "d" + std::to_string(level) + "/";
    if (level == 100) middle = path;
  }
  fs::create_directories(site.pb(path + "d201/d202"));  // no page below: no target folder

  expect_conversions(
      site, {{path + "bottom.htm", path + "bottom.pdf"}, {middle + "middle.html", middle + "middle.pdf"}});
  EXPECT_TRUE(fs::is_directory(site.pb2(path)));
  EXPECT_FALSE(fs::exists(site.pb2(path + "d201")));
}

TEST(HostileTree, LinksBackToTheRootItselfAreNotWalked) {
  Site site;
  site.page("page.html");
  site.page("a/b/deep.html");
  fs::create_directory_symlink(site.tool / "pb", site.pb("root"));  // by its absolute path
  fs::create_directory_symlink("../..", site.pb("a/b/up"));         // relative, two levels up
  fs::create_directory_symlink("../pb", site.pb("a/via-tool"));     // through the tool's folder
  fs::create_directory_symlink("../../pb", site.pb("a/b/via-tool"));

  expect_conversions(site, {{"page.html", "page.pdf"}, {"a/b/deep.html", "a/b/deep.pdf"}});
  EXPECT_EQ(names_in(snapshot(site.tool / "pb2")),
            (std::vector<std::string>{"a/", "a/b/", "a/b/deep.pdf", "page.pdf"}));
}

// The soft limit on open descriptors for the tool and what it starts, put
// back afterwards.
struct DescriptorLimit {
  rlimit saved{};
  explicit DescriptorLimit(rlim_t limit) {
    getrlimit(RLIMIT_NOFILE, &saved);
    rlimit lowered = saved;
    lowered.rlim_cur = std::min(limit, saved.rlim_cur);
    setrlimit(RLIMIT_NOFILE, &lowered);
  }
  ~DescriptorLimit() { setrlimit(RLIMIT_NOFILE, &saved); }
  DescriptorLimit(const DescriptorLimit&) = delete;
  DescriptorLimit& operator=(const DescriptorLimit&) = delete;
};

TEST(HostileTree, ThousandsOfEntriesInOneFolder) {
  // Every page starts a process, which dominates the run (several
  // milliseconds each on a loaded machine); the other entries make the
  // listing span many reads of the folder.
  constexpr int PAGES = 1500;
  constexpr int OTHERS = 2500;
  Site site;
  site.time_limit = std::chrono::seconds(120);
  std::vector<PageCase> cases;
  for (int i = 0; i < PAGES; ++i) {
    const std::string stem = "many/page number " + std::to_string(i);
    cases.push_back({stem + (i % 2 == 0 ? ".html" : ".HTM"), stem + ".pdf"});
  }
  for (int i = 0; i < OTHERS; ++i)
    write_file(site.pb("many/other " + std::to_string(i) + (i % 2 == 0 ? ".txt" : ".html.bak")), "x");

  // A descriptor kept per page would run out long before the last one.
  const DescriptorLimit limit(64);
  expect_handed_over(site, cases);
  EXPECT_TRUE(fs::is_regular_file(site.pb2("many/page number 0.pdf")));
  EXPECT_TRUE(fs::is_regular_file(site.pb2("many/page number " + std::to_string(PAGES - 1) + ".pdf")));
}

TEST(HostileTree, ManySiblingFoldersUnderALowDescriptorLimit) {
  // A folder's listing kept open after the folder is done would use the
  // descriptors up, and the pages of the later folders would be lost
  // without a trace.
  constexpr int FOLDERS = 200;
  Site site;
  site.time_limit = std::chrono::seconds(60);
  std::vector<PageCase> cases;
  for (int i = 0; i < FOLDERS; ++i) {
    const std::string folder = "folder " + std::to_string(i) + "/";
    cases.push_back({folder + "page.html", folder + "page.pdf"});
  }
  const DescriptorLimit limit(32);
  expect_handed_over(site, cases);
}

std::set<std::string> logged(const std::vector<RecordedRun>& runs, const std::string& field) {
  std::set<std::string> paths;
  for (const RecordedRun& run : runs)
    if (run.fields.count(field) != 0) paths.insert(testing::unhex(run.fields.at(field)));
  return paths;
}

TEST(HostileTree, EntriesThatVanishAppearOrChangeKindDuringTheWalk) {
  Site site;
  std::set<std::string> originals;
  for (const char* folder : {"", "sub/", "sub/deeper/"}) {
    for (int i = 0; i < 8; ++i) {
      const std::string page = std::string(folder) + "page" + std::to_string(i) + ".html";
      site.page(page);
      originals.insert(site.source_text(page));
    }
  }
  const auto before = snapshot(site.tool);

  const testing::ProgramRun program = site.launch("churn");
  testing::expect_quiet_exit(program);
  const auto runs = testing::read_records(site.log);
  const std::set<std::string> removed = logged(runs, "removed");
  const std::set<std::string> fifos = logged(runs, "fifo");
  std::set<std::string> added = logged(runs, "added_page");
  added.merge(logged(runs, "added_folder_page"));
  ASSERT_FALSE(removed.empty());
  ASSERT_FALSE(fifos.empty());

  // Each run got a page that was a regular file when it started, with its
  // target; none got the same page twice.
  const std::string source_root = site.source_text("");
  std::map<std::string, int> handed;
  for (const RecordedRun& run : runs) {
    ASSERT_EQ(run.arguments.size(), 2u);
    const std::string& source = run.arguments[0];
    EXPECT_EQ(run.fields.at("source_kind"), "file") << source;
    ASSERT_TRUE(source.starts_with(source_root)) << source;
    const std::string relative = source.substr(source_root.size());
    EXPECT_EQ(run.arguments[1], site.target_text(relative.substr(0, relative.rfind('.') + 1) + "pdf"));
    EXPECT_TRUE(originals.count(source) != 0 || added.count(source) != 0) << source;
    ++handed[source];
  }
  for (const auto& [source, times] : handed) EXPECT_EQ(times, 1) << source;
  // A page that stayed a page throughout was reached.
  for (const std::string& page : originals) {
    if (removed.count(page) == 0 && fifos.count(page) == 0) {
      EXPECT_EQ(handed.count(page), 1u) << page;
    }
  }

  // Outside pb2 only the converter's own changes; inside it only targets and
  // their folders.
  const auto after = snapshot(site.tool);
  const std::string tool_prefix = testing::utf8_of(site.tool) + "/";
  std::set<std::string> needed_folders;
  for (const auto& [source, times] : handed) {
    const std::string target = site.target_text(source.substr(source_root.size()));
    std::string relative = target.substr(tool_prefix.size());
    for (std::size_t at = relative.find('/'); at != std::string::npos; at = relative.find('/', at + 1))
      needed_folders.insert(relative.substr(0, at + 1));
  }
  for (const auto& [name, content] : before) {
    const std::string full = tool_prefix + name;
    if (removed.count(full) != 0) {
      EXPECT_EQ(after.count(name), 0u) << name;
    } else if (fifos.count(full) != 0) {
      EXPECT_EQ(after.at(name), "(special)") << name;
    } else if (!name.starts_with("pb2/")) {
      EXPECT_EQ(after.at(name), content) << name;
    }
  }
  for (const auto& [name, content] : after) {
    if (before.count(name) != 0) continue;
    const std::string full = tool_prefix + name;
    if (name.starts_with("pb2/")) {
      if (name.ends_with("/")) {
        EXPECT_EQ(needed_folders.count(name), 1u) << name;
      } else {
        EXPECT_EQ(content.rfind("converted ", 0), 0u) << name;
      }
    } else if (name.ends_with("/")) {
      EXPECT_EQ(added.count(full + "page.html"), 1u) << name;
    } else {
      EXPECT_EQ(added.count(full), 1u) << name;
    }
  }
}

// Makes pb2 read-only for the test's lifetime. Root ignores permissions, so
// there it is a read-only bind mount in a mount namespace of the test
// process's own, which goes with the process whatever happens.
struct ReadOnlyFolder {
  fs::path folder;
  bool mounted = false;
  bool made = false;
  explicit ReadOnlyFolder(const fs::path& path) : folder(path) {
    if (geteuid() != 0) {
      fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);
      made = true;
      return;
    }
    if (unshare(CLONE_NEWNS) != 0) return;
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return;
    if (mount(folder.c_str(), folder.c_str(), nullptr, MS_BIND, nullptr) != 0) return;
    mounted = true;
    made = mount(nullptr, folder.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
  }
  ~ReadOnlyFolder() {
    if (mounted) {
      umount2(folder.c_str(), MNT_DETACH);
    } else if (made) {
      fs::permissions(folder, fs::perms::owner_all);
    }
  }
  ReadOnlyFolder(const ReadOnlyFolder&) = delete;
  ReadOnlyFolder& operator=(const ReadOnlyFolder&) = delete;
};

TEST(HostileTree, ReadOnlyTargetRootStillGetsEveryPageHandedOver) {
  Site site;
  fs::create_directories(site.pb2(""));
  write_file(site.pb2("old.pdf"), "kept");
  const ReadOnlyFolder read_only(site.pb2(""));
  if (!read_only.made) GTEST_SKIP() << "pb2 cannot be made read-only here (no mount permitted)";
  ASSERT_NE(mkdir(site.pb2("probe").c_str(), 0777), 0);

  expect_handed_over(site, {{"a.html", "a.pdf"}, {"old.html", "old.pdf"}, {"sub/b.html", "sub/b.pdf"}});
  EXPECT_EQ(names_in(snapshot(site.tool / "pb2")), std::vector<std::string>{"old.pdf"});
  EXPECT_EQ(read_file(site.pb2("old.pdf")), "kept");
}

TEST(HostileTree, TargetsInTheWayAreLeftAndPagesStillHandedOver) {
  struct InTheWay {
    const char* label;
    void (*lay_out)(const Site&);
    std::vector<PageCase> pages;
  };
  const std::vector<InTheWay> cases = {
      {"a target folder that is a file",
       [](const Site& site) { write_file(site.pb2("sub"), "a file"); },
       {{"sub/a.html", "sub/a.pdf"}, {"sub/deeper/b.html", "sub/deeper/b.pdf"}, {"top.html", "top.pdf"}}},
      {"a target that is a folder",
       [](const Site& site) { write_file(site.pb2("page.pdf/inside.txt"), "mine"); },
       {{"page.html", "page.pdf"}, {"other.htm", "other.pdf"}}},
      {"a target folder that is a link to nowhere outside pb2",
       [](const Site& site) {
         fs::create_directories(site.pb2(""));
         fs::create_directory_symlink(site.tool / "outside" / "made", site.pb2("sub"));
       },
       {{"sub/a.html", "sub/a.pdf"}, {"top.html", "top.pdf"}}},
      {"one page's target is another's target folder",
       [](const Site&) {},
       {{"a.html", "a.pdf"}, {"a.pdf/b.html", "a.pdf/b.pdf"}}},
  };
  for (const InTheWay& c : cases) {
    SCOPED_TRACE(c.label);
    Site site;
    c.lay_out(site);
    const auto in_the_way = snapshot(site.tool / "pb2");
    expect_handed_over(site, c.pages);
    const auto after = snapshot(site.tool / "pb2");
    for (const auto& [name, content] : in_the_way) EXPECT_EQ(after.at(name), content) << name;
    EXPECT_FALSE(fs::exists(site.tool / "outside"));
  }
}

TEST(HostileTree, RootsThatAreNoFoldersOrLinksToThem) {
  struct Roots {
    const char* label;
    void (*lay_out)(const Site&);
    std::vector<PageCase> pages;
  };
  const std::vector<Roots> cases = {
      {"pb a FIFO", [](const Site& site) { ASSERT_EQ(mkfifo((site.tool / "pb").c_str(), 0600), 0); }, {}},
      {"pb a file", [](const Site& site) { write_file(site.tool / "pb", "a file"); }, {}},
      {"pb a link to nowhere", [](const Site& site) { fs::create_symlink("nowhere", site.tool / "pb"); }, {}},
      {"pb a link to a folder",
       [](const Site& site) {
         write_file(site.tool / "elsewhere pb" / "a.html", "a");
         fs::create_directory_symlink("elsewhere pb", site.tool / "pb");
       },
       {{"a.html", "a.pdf"}}},
      {"pb2 a FIFO",
       [](const Site& site) { ASSERT_EQ(mkfifo((site.tool / "pb2").c_str(), 0600), 0); },
       {{"a.html", "a.pdf"}, {"sub/b.html", "sub/b.pdf"}}},
      {"pb2 a link to nowhere",
       [](const Site& site) { fs::create_symlink("nowhere", site.tool / "pb2"); },
       {{"a.html", "a.pdf"}, {"sub/b.html", "sub/b.pdf"}}},
  };
  for (const Roots& c : cases) {
    SCOPED_TRACE(c.label);
    Site site;
    c.lay_out(site);
    const auto runs = expect_handed_over(site, c.pages);
    EXPECT_EQ(runs.size(), c.pages.size());
  }
}

// The recorder started through a script without a #! line.
void script_converter(const Site& site) {
  std::string quoted = "'";
  for (const char c : testing::utf8_of(fs::path(testing::recorder_path()))) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  quoted += "'";
  write_file(site.tool / CONVERTER_NAME, "exec " + quoted + " \"$@\"\n");
  fs::permissions(site.tool / CONVERTER_NAME, fs::perms::owner_all);
}

TEST(HostileTree, ConvertersThatMisbehaveDoNotStopTheWalkOrReachTheOutput) {
  struct Converter {
    const char* label;
    const char* mode;
    bool script;
    bool writes_target;
  };
  const std::vector<PageCase> pages = {
      {"a.html", "a.pdf"}, {"sub/b.htm", "sub/b.pdf"}, {"sub/c/d.html", "sub/c/d.pdf"}};
  for (const Converter converter : {Converter{"a script without #!", "", true, true},
                                    Converter{"killed by SIGKILL", "kill", false, false},
                                    Converter{"leaves a child running", "linger", false, true}}) {
    SCOPED_TRACE(converter.label);
    Site site(!converter.script);
    if (converter.script) script_converter(site);
    // A pipe the tool inherits from whatever started it, as a pipeline or a
    // build tool hands one on: once the tool has ended nothing may hold it.
    int inherited[2];
    ASSERT_EQ(pipe(inherited), 0);
    const auto runs = expect_handed_over(site, pages, converter.mode);
    close(inherited[1]);
    fcntl(inherited[0], F_SETFL, O_NONBLOCK);
    char byte;
    EXPECT_EQ(read(inherited[0], &byte, 1), 0) << "the pipe is still held";
    close(inherited[0]);
    for (const PageCase& page : pages)
      EXPECT_EQ(fs::exists(site.pb2(page.target)), converter.writes_target) << page.target;
    // Each child sleeps far beyond the time limit, so the run ending in time
    // shows the tool did not wait for them. Their pids are the sandbox's
    // own, not ours to signal: the sandbox takes them with it when it ends.
    for (const RecordedRun& run : runs)
      EXPECT_EQ(run.fields.count("lingering"), converter.mode == std::string("linger") ? 1u : 0u);
  }
}
#endif

}  // namespace
}  // namespace mirrorpdf
