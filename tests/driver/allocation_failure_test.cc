// The whole run in this process with its allocations made to fail: the N-th
// alone, or every one from the N-th on, for every N up to the count of a
// whole run. This executable's own operator new does the failing; it is
// armed only while the run is.
#include <dirent.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <set>
#include <string>
#include <vector>

#include "driver/conversion.h"
#include "support/records.h"
#include "support/temp_folder.h"

namespace {

struct AllocationHook {
  bool armed = false;
  long count = 0;        // allocations since armed
  long fail_at = -1;     // the first to fail; -1: none
  bool fail_on = false;  // and every one after it
};
AllocationHook hook;

void* allocate(std::size_t size) {
  if (hook.armed) {
    const long n = hook.count++;
    if (n == hook.fail_at || (hook.fail_on && hook.fail_at >= 0 && n > hook.fail_at)) throw std::bad_alloc();
  }
  if (void* block = std::malloc(size == 0 ? 1 : size)) return block;
  throw std::bad_alloc();
}

}  // namespace

void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return allocate(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }

namespace mirrorpdf::testing {
namespace {

namespace fs = std::filesystem;

int open_descriptors() {
  int count = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd")) ++count;
  return count;
}

// A small tree that takes every path of the walk: pages at three depths,
// an entry that is passed over, an empty folder, a folder with pages only
// below it.
const std::vector<std::string> PAGES = {"a.html",           "sub/B.HTM",      "sub/c.html",
                                        "sub/deeper/d.htm", "other/x/e.html", "other/x/f.html"};

struct Tree {
  TempFolder temp;
  fs::path tool = temp.root / "tool";
  fs::path log = temp.root / "record.log";

  Tree() {
    fs::create_directories(tool / "bin");
    fs::copy_file(fs::path(recorder_path()), tool / "bin" / "wkhtmltopdf");
    for (const std::string& page : PAGES) write_file(tool / "pb" / page, "<p>" + page + "</p>");
    write_file(tool / "pb" / "notes.txt", "not a page");
    fs::create_directories(tool / "pb" / "empty");
    setenv("MIRRORPDF_RECORD", log.c_str(), 1);
    setenv("MIRRORPDF_RECORD_ROOT", temp.root.c_str(), 1);
  }

  std::string source(const std::string& page) const { return (tool / "pb" / page).string(); }
  std::string target(const std::string& page) const {
    return (tool / "pb2" / page).replace_extension("pdf").string();
  }

  // One run with the hook set as given; returns the pages handed over, each
  // checked for its two arguments and its target written.
  std::multiset<std::string> run(long fail_at, bool fail_on, long* allocations = nullptr) {
    std::error_code ignored;
    fs::remove_all(tool / "pb2", ignored);
    fs::remove(log, ignored);
    const int descriptors = open_descriptors();
    const std::u16string own_folder = (tool / "").u16string();

    hook = {true, 0, fail_at, fail_on};
    run_conversion(own_folder);
    const long count = hook.count;
    hook = {};

    if (allocations != nullptr) *allocations = count;
    EXPECT_EQ(open_descriptors(), descriptors) << "a listing left open";
    std::multiset<std::string> handed;
    for (const RecordedRun& converter : read_records(log)) {
      EXPECT_FALSE(converter.overlap);
      EXPECT_EQ(converter.arguments.size(), 2u);
      if (converter.arguments.size() != 2) continue;
      const auto page = std::find_if(PAGES.begin(), PAGES.end(), [&](const std::string& p) {
        return source(p) == converter.arguments[0];
      });
      EXPECT_NE(page, PAGES.end()) << "not a page: " << converter.arguments[0];
      if (page == PAGES.end()) continue;
      EXPECT_EQ(converter.arguments[1], target(*page));
      // Its folder was made before it started, so the target was written.
      EXPECT_EQ(read_file(target(*page)), "converted " + source(*page));
      handed.insert(*page);
    }
    return handed;
  }
};

// The pages below folder (relative, '/'-separated; empty: the root).
std::set<std::string> pages_below(const std::string& folder) {
  std::set<std::string> below;
  for (const std::string& page : PAGES)
    if (folder.empty() || page.starts_with(folder + "/")) below.insert(page);
  return below;
}

// What one failed allocation may cost: nothing, one page, or every page of
// one folder (the entry or the listing in hand).
bool one_entry_or_listing(const std::set<std::string>& missing) {
  if (missing.size() <= 1) return true;
  std::vector<std::string> folders = {""};
  for (const std::string& page : PAGES)
    for (std::size_t at = page.find('/'); at != std::string::npos; at = page.find('/', at + 1))
      folders.push_back(page.substr(0, at));
  return std::any_of(folders.begin(), folders.end(),
                     [&](const std::string& f) { return pages_below(f) == missing; });
}

TEST(AllocationFailure, EveryFailingAllocationCostsAtMostItsEntryOrListing) {
  Tree tree;
  long total = 0;
  const std::multiset<std::string> all = tree.run(-1, false, &total);
  ASSERT_EQ(all, std::multiset<std::string>(PAGES.begin(), PAGES.end()));
  ASSERT_GT(total, 0);

  for (long n = 0; n < total; ++n) {
    SCOPED_TRACE("allocation " + std::to_string(n) + " of " + std::to_string(total));
    const std::multiset<std::string> handed = tree.run(n, false);
    std::set<std::string> missing;
    for (const std::string& page : PAGES)
      if (handed.count(page) == 0) missing.insert(page);
    for (const std::string& page : handed) EXPECT_EQ(handed.count(page), 1u) << page;
    EXPECT_TRUE(one_entry_or_listing(missing)) << missing.size() << " pages lost, first " << *missing.begin();
  }
}

TEST(AllocationFailure, RunEndsWhenNoMemoryIsLeftFromAnyPointOn) {
  Tree tree;
  long total = 0;
  tree.run(-1, false, &total);
  for (long n = 0; n <= total; ++n) {
    SCOPED_TRACE("allocations failing from " + std::to_string(n) + " of " + std::to_string(total));
    const std::multiset<std::string> handed = tree.run(n, true);
    for (const std::string& page : handed) EXPECT_EQ(handed.count(page), 1u) << page;
  }
}

}  // namespace
}  // namespace mirrorpdf::testing
