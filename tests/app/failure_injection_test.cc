// The built tool with its system calls and allocations failing, injected
// from outside: our own preloaded library (fail_calls) fails each call of
// the POSIX backend in turn, or at random with fixed seeds; libfiu fails
// listings, waits and allocations at random. Every run must still end with
// status 0 and print nothing, and lose no page whose own calls did not fail.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "app/tool_run.h"
#include "support/hex.h"

namespace mirrorpdf::testing {
namespace {

namespace fs = std::filesystem;

const std::vector<std::string> PAGES = {"a.html", "sub/B.HTM", "sub/c.html", "sub/deeper/d.htm",
                                        "other/e.html"};

struct Failure {
  std::string call;
  std::string path;  // as the call was given it; empty where there is none
};

struct FailureLog {
  std::vector<Failure> failures;
  std::map<std::string, long> calls;  // how often each call was made
};

FailureLog read_failure_log(const fs::path& file) {
  FailureLog log;
  std::ifstream in(file);
  std::string kind, call, value;
  while (in >> kind >> call) {
    std::getline(in, value);
    if (!value.empty() && value.front() == ' ') value.erase(0, 1);
    if (kind == "fail") log.failures.push_back({call, unhex(value)});
    if (kind == "calls") log.calls[call] = std::stol(value);
  }
  return log;
}

struct FailureSite {
  Site site;
  fs::path failure_log = site.temp.root / "failures.log";

  FailureSite() {
    for (const std::string& page : PAGES) site.page(page);
    write_file(site.pb("notes.txt"), "not a page");
    fs::create_directories(site.pb("empty"));
  }

  // One run through wrapper (the tool's path and arguments follow it);
  // returns each page handed over with how often, after the checks that
  // hold for every run (status 0, nothing printed, nothing changed outside
  // pb2, two arguments each, no overlap).
  std::map<std::string, int> run(const std::vector<std::string>& wrapper) {
    std::error_code ignored;
    fs::remove_all(site.tool / "pb2", ignored);
    fs::remove(site.log, ignored);
    fs::remove(failure_log, ignored);
    site.wrapper = wrapper;
    std::map<std::string, int> handed;
    for (const RecordedRun& converter : site.run()) {
      EXPECT_FALSE(converter.overlap);
      EXPECT_EQ(converter.arguments.size(), 2u);
      if (converter.arguments.size() != 2) continue;
      const std::string& source = converter.arguments[0];
      bool known = false;
      for (const std::string& page : PAGES) {
        if (source != site.source_text(page)) continue;
        known = true;
        ++handed[page];
        EXPECT_EQ(converter.arguments[1], site.target_text(fs::path(page).replace_extension("pdf").string()));
      }
      EXPECT_TRUE(known) << "not a page: " << source;
    }
    for (const auto& [page, times] : handed) EXPECT_EQ(times, 1) << page;
    return handed;
  }

  std::vector<std::string> preloading(const std::string& plan) const {
    return {"/usr/bin/env", "LD_PRELOAD=" MIRRORPDF_FAIL_CALLS, "MIRRORPDF_FAIL=" + plan,
            "MIRRORPDF_FAIL_LOG=" + failure_log.string()};
  }
};

bool below(const std::string& path, const std::string& folder) {
  std::string prefix = folder;
  while (prefix.size() > 1 && prefix.back() == '/') prefix.pop_back();
  return path == prefix || path.starts_with(prefix + "/");
}

// A page may be lost only to a failed call of its own: the check of its
// kind, its start, a listing of a folder above it, or the tool's own path.
// A failed spawn setting costs one page, which the log cannot name.
void expect_only_failed_pages_lost(const FailureSite& s, const std::map<std::string, int>& handed,
                                   const std::vector<Failure>& failures) {
  int unnamed = 0;
  for (const Failure& f : failures)
    unnamed += f.call.starts_with("posix_spawn_") || f.call.starts_with("posix_spawnattr_");
  for (const std::string& page : PAGES) {
    if (handed.count(page) != 0) continue;
    const std::string source = s.site.source_text(page);
    bool covered = false;
    for (const Failure& f : failures) {
      if (f.call == "readlink") covered = true;
      if ((f.call == "stat" || f.call == "posix_spawn") && f.path == source) covered = true;
      if ((f.call == "opendir" || f.call == "readdir") && below(source, f.path)) covered = true;
    }
    if (!covered && unnamed > 0) {
      --unnamed;
      covered = true;
    }
    EXPECT_TRUE(covered) << "lost without a failure of its own: " << page;
  }
}

TEST(SystemCallFailures, EachCallOfTheBackendFailingInTurn) {
  FailureSite s;
  ASSERT_EQ(s.run(s.preloading("none:0")).size(), PAGES.size());
  const std::map<std::string, long> calls = read_failure_log(s.failure_log).calls;
  // Every call the backend makes, so none goes untested.
  for (const char* call : {"stat", "lstat", "mkdir", "opendir", "readdir", "closedir", "readlink",
                           "posix_spawn", "posix_spawn_file_actions_init", "posix_spawn_file_actions_addopen",
                           "posix_spawn_file_actions_addclosefrom_np", "posix_spawnattr_init",
                           "posix_spawnattr_setflags", "waitpid"})
    EXPECT_GT(calls.count(call), 0u) << call << " is never made: the preloaded library does not reach it";

  for (const auto& [call, count] : calls) {
    for (long k = 1; k <= count; ++k) {
      SCOPED_TRACE(call + " call " + std::to_string(k) + " of " + std::to_string(count));
      const std::map<std::string, int> handed = s.run(s.preloading(call + ":" + std::to_string(k)));
      const FailureLog log = read_failure_log(s.failure_log);
      ASSERT_EQ(log.failures.size(), 1u);
      expect_only_failed_pages_lost(s, handed, log.failures);
    }
  }
}

TEST(SystemCallFailures, RandomFailuresWithFixedSeeds) {
  FailureSite s;
  for (const char* probability : {"0.05", "0.2", "0.5"}) {
    for (int seed = 1; seed <= 8; ++seed) {
      SCOPED_TRACE(std::string("probability ") + probability + ", seed " + std::to_string(seed));
      const std::map<std::string, int> handed =
          s.run(s.preloading(std::string("random:") + probability + ":" + std::to_string(seed)));
      expect_only_failed_pages_lost(s, handed, read_failure_log(s.failure_log).failures);
    }
  }
}

// libfiu's failures come with errors of its choosing; only what holds for
// every run is checked. A wait fails with EINTR, the one failure a caller
// with a live child can meet.
TEST(SystemCallFailures, LibfiuListingsWaitsAndAllocations) {
  FailureSite s;
  const char* const plans[] = {
      "enable_random name=posix/io/dir/*,probability={p}",
      "enable_random name=posix/proc/waitpid,probability={p},failinfo=4",
      "enable_random name=libc/mm/*,probability={p}",
  };
  for (const std::string plan : plans) {
    bool lost = false;
    for (const std::string probability : {"0.02", "0.1", "0.4"}) {
      for (int seed = 1; seed <= 4; ++seed) {
        std::string command = plan;
        command.replace(command.find("{p}"), 3, probability);
        SCOPED_TRACE(command + ", seed " + std::to_string(seed));
        lost = lost || s.run({"/usr/bin/env", "FIU_PRNG_SEED=" + std::to_string(seed), "/usr/bin/fiu-run",
                              "-x", "-f", "", "-c", command})
                               .size() < PAGES.size();
      }
    }
    // Failed listings and allocations cost pages somewhere: libfiu reached
    // the tool.
    if (plan.find("waitpid") == std::string::npos) {
      EXPECT_TRUE(lost) << plan;
    }
  }
}

}  // namespace
}  // namespace mirrorpdf::testing
