// The sandbox every run of the built tool gets, and the recorder's own
// limits. Every case aims only at folders inside its own temporary folder,
// so a fault in either shows as a file where none may be, never as damage.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "support/folder_link.h"
#include "support/records.h"
#include "support/run_program.h"
#include "support/temp_folder.h"

namespace mirrorpdf {
namespace {

namespace fs = std::filesystem;
using testing::read_file;
using testing::run_confined;
using testing::TempFolder;
using testing::write_file;

// The sandbox itself: under Wine the whole test program runs in one
// (cmake/wine-run), and the Windows tests check that it does.
#ifndef _WIN32
TEST(Confinement, OnlyTheNamedFoldersCanBeWritten) {
  TempFolder temp;
  const fs::path own = fs::canonical(temp.root);
  const fs::path sibling = own.parent_path() / (own.filename().string() + "-sibling");
  const fs::path in_tmp = fs::path("/tmp") / (own.filename().string() + "-marker");
  fs::create_directories(own / "inside" / "current");
  fs::create_directories(own / "outside");
  struct Attempt {
    std::string label;
    std::string command;  // run by sh in inside/current, $1 the sibling, $2 in_tmp
    bool must_succeed;    // where it would fail, a write may also land in the run's own /tmp
    std::vector<fs::path> made;
    std::vector<fs::path> not_made;
  };
  const std::vector<Attempt> attempts = {
      {"inside, by a relative path", "echo x >made", true, {own / "inside" / "current" / "made"}, {}},
      {"beside it, through ..",
       "echo x >../../outside/made || mkdir ../../climbed",
       false,
       {},
       {own / "outside" / "made", own / "climbed"}},
      {"through a link that leads out",
       "ln -s ../../outside way && echo x >way/made",
       false,
       {own / "inside" / "current" / "way"},
       {own / "outside" / "made"}},
      {"a folder beside the temporary folder", "mkdir \"$1\"", false, {}, {sibling}},
      {"the system remounted writable",
       "mount -o remount,bind,rw / 2>/dev/null && echo x >remounted",
       false,
       {},
       {own / "inside" / "current" / "remounted"}},
      // Processes as its own pid namespace numbers them, not as the system does.
      {"its own /proc", "read pid rest </proc/self/stat && test \"$pid\" = $$", true, {}, {}},
      {"a private /tmp", "echo x >\"$2\" && test -f \"$2\"", true, {}, {in_tmp}},
  };
  for (const Attempt& attempt : attempts) {
    SCOPED_TRACE(attempt.label);
    const auto run = run_confined("/bin/sh", {"-c", attempt.command, "sh", sibling.string(), in_tmp.string()},
                                  own / "inside" / "current", {own / "inside"});
    ASSERT_TRUE(run.started) << run.errors;
    if (attempt.must_succeed) {
      EXPECT_EQ(run.exit_code, 0) << run.errors;
    }
    for (const fs::path& path : attempt.made) EXPECT_TRUE(fs::exists(fs::symlink_status(path))) << path;
    for (const fs::path& path : attempt.not_made) EXPECT_FALSE(fs::exists(fs::symlink_status(path))) << path;
  }
  std::error_code ignored;
  fs::remove(sibling, ignored);
  fs::remove(in_tmp, ignored);
}

TEST(Confinement, ExitStatusOutputAndTimeLimitComeThrough) {
  TempFolder temp;
  const fs::path own = fs::canonical(temp.root);
  const auto exited = run_confined("/bin/sh", {"-c", "echo out; echo err >&2; exit 7"}, own, {own});
  EXPECT_TRUE(exited.started);
  EXPECT_EQ(exited.exit_code, 7);
  EXPECT_EQ(exited.output, "out\n");
  EXPECT_EQ(exited.errors, "err\n");
  const auto slow = run_confined("/bin/sleep", {"20"}, own, {own}, {}, std::chrono::milliseconds(500));
  EXPECT_TRUE(slow.timed_out);
}

TEST(Confinement, StartsInsideAnotherSandbox) {
  // The suite itself may run in one, as a caller would make it: as root, or
  // in a user namespace of its own.
  TempFolder temp;
  const fs::path own = fs::canonical(temp.root);
  fs::create_directories(own / "inner");
  const std::vector<std::string> outer = {"--ro-bind",    "/",     "/",      "--dev",      "/dev",
                                          "--proc",       "/proc", "--bind", own.string(), own.string(),
                                          "--unshare-pid"};
  for (const bool user_namespace : {false, true}) {
    SCOPED_TRACE(user_namespace ? "in a user namespace" : "as root");
    std::vector<std::string> command = outer;
    if (user_namespace) command.push_back("--unshare-user");
    const std::string inner = (own / "inner").string();
    command.insert(command.end(), {MIRRORPDF_CONFINE, inner, "--", "/bin/sh", "-c", "echo x >made"});
    fs::remove(own / "inner" / "made");
    const auto run = testing::run_program("/usr/bin/bwrap", command, own / "inner");
    EXPECT_EQ(run.exit_code, 0) << run.errors;
    EXPECT_EQ(read_file(own / "inner" / "made"), "x\n");
  }
}

TEST(Confinement, WithoutASandboxNothingIsStarted) {
  TempFolder temp;
  // The whole file system writable is no sandbox: refused, not run.
  const auto run = run_confined("/bin/sh", {"-c", "echo ran"}, temp.root, {"/"});
  EXPECT_FALSE(run.started);
  EXPECT_EQ(run.output, "");
  EXPECT_NE(run.errors.find("no sandbox"), std::string::npos) << run.errors;
}

#endif

// The recorder, run confined to the whole temporary folder but told that
// only root/ is its own: what it must leave alone can then be looked at.
struct RecorderCase {
  std::string label;
  void (*lay_out)(const fs::path& own);
  std::string source;  // relative to the temporary folder, '/'-separated
  std::string target;
  std::string mode;
  bool written;  // the target, as the recorder was handed it
  bool outside_logged;
  std::string link_out;  // a folder link to outside/ made here, if any
};

// A path as the recorder is handed it: UTF-8, the platform's separators.
std::string text(const fs::path& own, const std::string& relative) {
  const std::u8string whole = (own / fs::path(relative).make_preferred()).u8string();
  return std::string(whole.begin(), whole.end());
}

TEST(Confinement, RecorderChangesNothingOutsideItsRoot) {
  const std::string page = "root/pb/page.html";
  const auto nothing = [](const fs::path&) {};
  std::vector<RecorderCase> cases = {
      {"a target below the root", nothing, page, "root/pb2/page.pdf", "", true, false, ""},
      {"a target beside the root through ..", nothing, page, "root/pb2/../../outside/victim.pdf", "", false,
       true, ""},
      {"a target through a folder link out of the root", nothing, page, "root/pb2/out/victim.pdf", "", false,
       true, "root/pb2/out"},
      {"a target in a folder that does not exist", nothing, page, "root/pb2/none/page.pdf", "", false, false,
       ""},
  };
#ifndef _WIN32
  cases.push_back({"a target that is a link to a file outside",
                   [](const fs::path& own) {
                     fs::create_symlink(own / "outside" / "victim.pdf", own / "root" / "pb2" / "page.pdf");
                   },
                   page, "root/pb2/page.pdf", "", false, true, ""});
  cases.push_back({"a target that is a dangling link to outside",
                   [](const fs::path& own) {
                     fs::create_symlink(own / "outside" / "made.pdf", own / "root" / "pb2" / "page.pdf");
                   },
                   page, "root/pb2/page.pdf", "", false, true, ""});
  cases.push_back({"churning a folder outside the root", nothing, "outside/a.html", "root/pb2/a.pdf", "churn",
                   true, true, ""});
  cases.push_back({"churning a folder reached through a link out of the root", nothing, "root/pb/out/a.html",
                   "root/pb2/a.pdf", "churn", true, true, "root/pb/out"});
#endif
  for (const RecorderCase& c : cases) {
    SCOPED_TRACE(c.label);
    TempFolder temp;
    const fs::path own = fs::canonical(temp.root);
    fs::create_directories(own / "root" / "pb2");
    write_file(own / fs::path(page), "<p>page</p>");
    for (const char* name : {"victim.pdf", "a.html", "b.html", "c.html"})
      write_file(own / "outside" / name, name);
    c.lay_out(own);
    std::unique_ptr<testing::FolderLink> link;
    if (!c.link_out.empty()) {
      link =
          std::make_unique<testing::FolderLink>(own / "outside", own / fs::path(c.link_out).make_preferred());
      ASSERT_TRUE(link->made);
    }
    const fs::path log = own / "root" / "record.log";
    const auto run = run_confined(fs::path(testing::recorder_path()),
                                  {text(own, c.source), text(own, c.target)}, own, {own},
                                  {{"MIRRORPDF_RECORD", text(own, "root/record.log")},
                                   {"MIRRORPDF_RECORD_ROOT", text(own, "root")},
                                   {"MIRRORPDF_RECORD_MODE", c.mode}});
    ASSERT_TRUE(run.started) << run.errors;
    // Outside the root everything is as it was.
    std::vector<std::string> outside;
    for (const auto& entry : fs::directory_iterator(own / "outside"))
      outside.push_back(entry.path().filename().string() + "=" + read_file(entry.path()));
    std::sort(outside.begin(), outside.end());
    EXPECT_EQ(outside, (std::vector<std::string>{"a.html=a.html", "b.html=b.html", "c.html=c.html",
                                                 "victim.pdf=victim.pdf"}));
    EXPECT_EQ(read_file(own / fs::path(c.target).make_preferred()) == "converted " + text(own, c.source),
              c.written);
    const std::string logged = read_file(log);
    EXPECT_NE(logged.find("\nend\n"), std::string::npos) << logged;
    EXPECT_EQ(logged.find("\noutside ") != std::string::npos, c.outside_logged) << logged;
  }
}

TEST(Confinement, RecorderWithoutARootOrWithItsLogOutsideWritesNothing) {
  TempFolder temp;
  const fs::path own = fs::canonical(temp.root);
  fs::create_directories(own / "root" / "pb2");
  for (const auto& [label, root, log] :
       {std::tuple{"no root", std::string(), std::string("root/record.log")},
        std::tuple{"log outside", std::string("root"), std::string("record.log")}}) {
    SCOPED_TRACE(label);
    const auto run = run_confined(fs::path(testing::recorder_path()),
                                  {text(own, "page.html"), text(own, "root/pb2/page.pdf")}, own, {own},
                                  {{"MIRRORPDF_RECORD", text(own, log)},
                                   {"MIRRORPDF_RECORD_ROOT", root.empty() ? "" : text(own, root)}});
    ASSERT_TRUE(run.started) << run.errors;
    EXPECT_FALSE(fs::exists(own / fs::path(log)));
    EXPECT_EQ(fs::exists(own / "root" / "pb2" / "page.pdf"), !root.empty());
    EXPECT_FALSE(fs::exists(own / fs::path(log + ".busy")));
  }
}

}  // namespace
}  // namespace mirrorpdf
