#include "platform/files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>

#include "support/temp_folder.h"

#ifndef _WIN32
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace mirrorpdf {
namespace {

namespace fs = std::filesystem;
using testing::TempFolder;
using testing::text_of;
using testing::write_file;

#ifdef _WIN32
const std::u16string SEP = u"\\";
#else
const std::u16string SEP = u"/";
#endif

struct Entry {
  std::u16string name;
  int kind;
  bool operator<(const Entry& other) const { return name < other.name; }
  bool operator==(const Entry& other) const { return name == other.name && kind == other.kind; }
};

std::set<Entry> list_all(const std::u16string& folder, const std::u16string& pattern = u"*.*") {
  std::set<Entry> entries;
  const ListingHandle handle = open_listing(folder, pattern);
  EXPECT_NE(handle, nullptr);
  while (next_entry(handle) != 0) entries.insert({entry_name(handle), entry_kind(handle)});
  close_listing(handle);
  return entries;
}

TEST(PathSize, FoldersFilesAndMissingPaths) {
  TempFolder temp;
  write_file(temp.root / "five.txt", "12345");
  write_file(temp.root / "empty.txt", "");
  const std::u16string root = text_of(temp.root);

  EXPECT_EQ(path_size(root), PATH_IS_FOLDER);
  EXPECT_EQ(path_size(root + SEP), PATH_IS_FOLDER);
  EXPECT_EQ(path_size(root + SEP + SEP + SEP), PATH_IS_FOLDER);
  EXPECT_EQ(path_size(root + u"/"), PATH_IS_FOLDER);
  EXPECT_EQ(path_size(root + SEP + u"five.txt"), 5);
  EXPECT_EQ(path_size(root + SEP + u"empty.txt"), 0);
  EXPECT_EQ(path_size(root + SEP + u"absent"), PATH_MISSING);
  EXPECT_EQ(path_size(root + SEP + u"absent" + SEP + u"deeper"), PATH_MISSING);
  EXPECT_EQ(path_size(u""), PATH_MISSING);
}

TEST(PathSize, LargeFileSizeNeedsAllBits) {
  TempFolder temp;
  const fs::path big = temp.root / "big.bin";
  write_file(big, "");
  fs::resize_file(big, (std::uintmax_t{1} << 32) + 7);  // sparse where the file system allows
  EXPECT_EQ(path_size(text_of(big)), (std::int64_t{1} << 32) + 7);
}

TEST(MakeFolder, CreatesOneLevelOnly) {
  TempFolder temp;
  const std::u16string root = text_of(temp.root);

  EXPECT_NE(make_folder(root + SEP + u"a"), 0);
  EXPECT_TRUE(fs::is_directory(temp.root / "a"));
  EXPECT_EQ(make_folder(root + SEP + u"a"), 0);  // exists
  EXPECT_NE(make_folder(root + SEP + u"b" + SEP + SEP), 0);
  EXPECT_TRUE(fs::is_directory(temp.root / "b"));
  EXPECT_EQ(make_folder(root + SEP + u"x" + SEP + u"y"), 0);  // missing parent
  EXPECT_FALSE(fs::exists(temp.root / "x"));
  EXPECT_EQ(make_folder(u""), 0);

  write_file(temp.root / "file", "keep");
  EXPECT_EQ(make_folder(root + SEP + u"file"), 0);
  EXPECT_EQ(testing::read_file(temp.root / "file"), "keep");
}

TEST(MakeFolder, TrailingSpaces) {
  TempFolder temp;
  EXPECT_NE(make_folder(text_of(temp.root) + SEP + u"spaced  "), 0);
#ifdef _WIN32
  EXPECT_TRUE(fs::is_directory(temp.root / "spaced"));  // removed before creation
#else
  EXPECT_TRUE(fs::is_directory(temp.root / "spaced  "));  // part of a POSIX name
#endif
}

TEST(Listing, ReportsEveryEntryWithItsKind) {
  TempFolder temp;
  write_file(temp.root / "page.html", "x");
  write_file(temp.root / "no extension", "x");
  fs::create_directory(temp.root / "sub.html");
  const std::set<Entry> expected{{u".", ENTRY_FOLDER},
                                 {u"..", ENTRY_FOLDER},
                                 {u"no extension", ENTRY_FILE},
                                 {u"page.html", ENTRY_FILE},
                                 {u"sub.html", ENTRY_FOLDER}};
  EXPECT_EQ(list_all(text_of(temp.root)), expected);
  EXPECT_EQ(list_all(text_of(temp.root) + SEP), expected);
  EXPECT_EQ(list_all(text_of(temp.root), u""), expected);
}

TEST(Listing, PatternThatMatchesNothingGivesAnEmptyListing) {
  TempFolder temp;
  write_file(temp.root / "page.html", "x");
  const ListingHandle handle = open_listing(text_of(temp.root), u"*.nothing");
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(next_entry(handle), 0);
  close_listing(handle);
}

TEST(Listing, MissingFolderOrFileGivesNoHandle) {
  TempFolder temp;
  write_file(temp.root / "file", "x");
  EXPECT_EQ(open_listing(text_of(temp.root / "absent"), u"*.*"), nullptr);
  EXPECT_EQ(open_listing(text_of(temp.root / "file"), u"*.*"), nullptr);
}

TEST(Listing, NullHandleDoesNothing) {
  EXPECT_EQ(next_entry(nullptr), 0);
  EXPECT_EQ(entry_kind(nullptr), 0);
  EXPECT_EQ(entry_name(nullptr), u"");
  close_listing(nullptr);
}

TEST(Listing, NestedListingsAdvanceIndependently) {
  TempFolder temp;
  write_file(temp.root / "outer1", "x");
  write_file(temp.root / "outer2", "x");
  write_file(temp.root / "inner" / "file", "x");

  const ListingHandle outer = open_listing(text_of(temp.root), u"*.*");
  ASSERT_NE(outer, nullptr);
  std::set<std::u16string> outer_names;
  ASSERT_NE(next_entry(outer), 0);
  outer_names.insert(entry_name(outer));

  const ListingHandle inner = open_listing(text_of(temp.root / "inner"), u"*.*");
  ASSERT_NE(inner, nullptr);
  std::set<std::u16string> inner_names;
  while (next_entry(inner) != 0) inner_names.insert(entry_name(inner));
  close_listing(inner);

  while (next_entry(outer) != 0) outer_names.insert(entry_name(outer));
  close_listing(outer);
  EXPECT_EQ(inner_names, (std::set<std::u16string>{u".", u"..", u"file"}));
  EXPECT_EQ(outer_names, (std::set<std::u16string>{u".", u"..", u"outer1", u"outer2", u"inner"}));
}

TEST(FolderIdentity, SameFolderThroughTwoPathsOnly) {
  TempFolder temp;
  fs::create_directories(temp.root / "a" / "b");
  FolderIdentity a{}, a_again{}, b{};
  ASSERT_NE(folder_identity(text_of(temp.root / "a"), &a), 0);
  ASSERT_NE(folder_identity(text_of(temp.root / "a" / "b" / ".."), &a_again), 0);
  ASSERT_NE(folder_identity(text_of(temp.root / "a" / "b"), &b), 0);
  EXPECT_EQ(a, a_again);
  EXPECT_FALSE(a == b);
  EXPECT_EQ(folder_identity(text_of(temp.root / "absent"), &b), 0);
}

#ifndef _WIN32
int open_descriptors() {
  int count = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd")) ++count;
  return count;
}

TEST(Listing, CloseAllClosesEveryOpenListing) {
  TempFolder temp;
  fs::create_directories(temp.root / "a" / "b");
  const int before = open_descriptors();
  ASSERT_NE(open_listing(text_of(temp.root), u"*.*"), nullptr);
  ASSERT_NE(open_listing(text_of(temp.root / "a"), u"*.*"), nullptr);
  ASSERT_NE(open_listing(text_of(temp.root / "a" / "b"), u"*.*"), nullptr);
  EXPECT_EQ(open_descriptors(), before + 3);
  close_all_listings();
  EXPECT_EQ(open_descriptors(), before);
  close_all_listings();  // nothing left: a no-op
}

TEST(Listing, PosixKindsFollowLinksAndSetSpecialFilesApart) {
  TempFolder temp;
  fs::create_directory(temp.root / "real");
  write_file(temp.root / "file.html", "x");
  fs::create_directory_symlink(temp.root / "real", temp.root / "link_to_folder");
  fs::create_symlink(temp.root / "file.html", temp.root / "link_to_file.html");
  fs::create_symlink(temp.root / "absent", temp.root / "dangling.html");
  ASSERT_EQ(mkfifo((temp.root / "fifo.html").c_str(), 0600), 0);

  std::set<Entry> entries = list_all(text_of(temp.root));
  entries.erase({u".", ENTRY_FOLDER});
  entries.erase({u"..", ENTRY_FOLDER});
  EXPECT_EQ(entries, (std::set<Entry>{{u"real", ENTRY_FOLDER},
                                      {u"file.html", ENTRY_FILE},
                                      {u"link_to_folder", ENTRY_FOLDER},
                                      {u"link_to_file.html", ENTRY_FILE},
                                      {u"dangling.html", ENTRY_OTHER},
                                      {u"fifo.html", ENTRY_OTHER}}));
  EXPECT_EQ(path_size(text_of(temp.root / "link_to_folder")), PATH_IS_FOLDER);
  EXPECT_EQ(path_size(text_of(temp.root / "fifo.html")), PATH_MISSING);
}

TEST(Listing, NamesThatAreNotUtf8SurviveTheRoundTrip) {
  TempFolder temp;
  const std::string bad = "bad\xff\xc3(.html";
  const int fd = ::open((temp.root.native() + "/" + bad).c_str(), O_CREAT | O_WRONLY, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::write(fd, "abc", 3), 3);
  ::close(fd);

  std::u16string name;
  for (const Entry& entry : list_all(text_of(temp.root)))
    if (entry.name.size() > 2) name = entry.name;
  EXPECT_EQ(name, std::u16string(u"bad\xDCFF\xDCC3(.html"));
  EXPECT_EQ(path_size(text_of(temp.root) + u"/" + name), 3);
  EXPECT_NE(make_folder(text_of(temp.root) + u"/" + name + u"d"), 0);
  EXPECT_TRUE(fs::is_directory(temp.root / (bad + "d")));
}
#endif

}  // namespace
}  // namespace mirrorpdf
