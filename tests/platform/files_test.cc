#include "platform/files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>

#include "support/folder_link.h"
#include "support/temp_folder.h"

#ifdef _WIN32
#include <windows.h>

#include "support/wine_host.h"
#else
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

#ifdef _WIN32
// A drive letter with nothing behind it, as "Q:".
std::u16string unused_drive() {
  const DWORD drives = GetLogicalDrives();
  for (int letter = 25; letter >= 0; --letter)
    if ((drives & (DWORD{1} << letter)) == 0)
      return std::u16string(1, static_cast<char16_t>(u'A' + letter)) + u":";
  return u"";
}

TEST(PathSize, WindowsDriveRootsAreAnsweredByTheDriveType) {
  const std::u16string unused = unused_drive();
  ASSERT_FALSE(unused.empty());
  struct Case {
    std::u16string path;
    std::int64_t expected;
  };
  // The search finds no drive root at all: without the drive type they would
  // all be missing.
  const Case cases[] = {
      {u"C:", PATH_IS_FOLDER},
      {u"C:\\", PATH_IS_FOLDER},
      {u"C:/", PATH_IS_FOLDER},
      {u"Z:\\", PATH_IS_FOLDER},
      {unused, PATH_MISSING},
      {unused + u"\\", PATH_MISSING},
      {u"\\\\?\\C:\\", PATH_IS_FOLDER},  // long form: through its attributes
      {u"\\\\?\\C:", PATH_IS_FOLDER},
      {u"\\\\?\\" + unused + u"\\", PATH_MISSING},
      {u"\\\\nohost\\noshare", PATH_MISSING},
      {u"\\\\nohost\\noshare\\", PATH_MISSING},
  };
  for (const Case& c : cases) EXPECT_EQ(path_size(c.path), c.expected) << fs::path(c.path).string();
}

// Restores the current folder when the test ends.
struct InFolder {
  fs::path before = fs::current_path();
  explicit InFolder(const fs::path& folder) { fs::current_path(folder); }
  ~InFolder() { fs::current_path(before); }
};

TEST(PathSize, WindowsDriveRelativeNameIsNotARoot) {
  TempFolder temp;
  const std::u16string drive = text_of(temp.root).substr(0, 2);
  ASSERT_EQ(drive[1], u':');
  write_file(temp.root / "ab", "12");
  fs::create_directory(temp.root / "cd");
  const InFolder here(temp.root);
  // Longer than a root: "C:ab" is the entry ab in drive C's current folder.
  EXPECT_EQ(path_size(drive + u"ab"), 2);
  EXPECT_EQ(path_size(drive + u"cd"), PATH_IS_FOLDER);
  EXPECT_EQ(path_size(drive + u"ef"), PATH_MISSING);
}

TEST(PathSize, WindowsLongFormAndWildcardsGoToTheSearch) {
  TempFolder temp;
  write_file(temp.root / "five.txt", "12345");
  write_file(temp.root / "three.dat", "123");
  fs::create_directory(temp.root / "sub");
  const std::u16string root = text_of(temp.root);
  struct Case {
    std::u16string path;
    std::int64_t expected;
  };
  const Case cases[] = {
      {root + u"\\fi*.txt", 5},
      {root + u"\\*.dat", 3},
      {root + u"\\thre?.dat", 3},
      {root + u"\\s?b", PATH_IS_FOLDER},
      {root + u"\\*.none", PATH_MISSING},
      {u"\\\\?\\" + root + u"\\five.txt", 5},
      {u"\\\\?\\" + root + u"\\sub\\", PATH_IS_FOLDER},
      {u"\\\\?\\" + root + u"\\absent", PATH_MISSING},
  };
  for (const Case& c : cases) EXPECT_EQ(path_size(c.path), c.expected) << fs::path(c.path).string();
}

TEST(PathSizeAndMakeFolder, WindowsPathsLongerThan260CharactersAreNotCut) {
  TempFolder temp;
  const std::u16string part(60, u'p');
  std::u16string deep = text_of(temp.root);
  while (deep.size() <= 300) {
    deep += u"\\" + part;
    ASSERT_NE(make_folder(deep), 0) << deep.size();
  }
  EXPECT_EQ(path_size(deep), PATH_IS_FOLDER);
  // Cut at 260, this would be a shorter path that exists or a different one.
  EXPECT_EQ(path_size(deep + u"\\absent"), PATH_MISSING);
  write_file(fs::path(deep) / "five.txt", "12345");
  EXPECT_EQ(path_size(deep + u"\\five.txt"), 5);
  EXPECT_EQ(make_folder(deep), 0);  // exists
  const std::set<Entry> entries = list_all(deep);
  EXPECT_EQ(entries,
            (std::set<Entry>{{u".", ENTRY_FOLDER}, {u"..", ENTRY_FOLDER}, {u"five.txt", ENTRY_FILE}}));
}

TEST(FolderIdentity, WindowsDirectoryLinkIsTheFolderItNames) {
  TempFolder temp;
  fs::create_directories(temp.root / "a" / "b");
  const testing::FolderLink link(temp.root / "a", temp.root / "a" / "b" / "up");
  ASSERT_TRUE(link.made);
  FolderIdentity a{}, up{}, b{};
  ASSERT_NE(folder_identity(text_of(temp.root / "a"), &a), 0);
  ASSERT_NE(folder_identity(text_of(temp.root / "a" / "b" / "up"), &up), 0);
  ASSERT_NE(folder_identity(text_of(temp.root / "a" / "b"), &b), 0);
  EXPECT_EQ(a, up);
  EXPECT_FALSE(a == b);
  EXPECT_TRUE(identity_known(a));
  EXPECT_FALSE(a.link);
  EXPECT_FALSE(b.link);
  // Wine shows a host link as a plain folder; Windows shows the link.
  if (!testing::wine_host_available()) {
    EXPECT_TRUE(up.link);
  }
  write_file(temp.root / "file", "x");
  EXPECT_EQ(folder_identity(text_of(temp.root / "file"), &b), 0);  // not a folder
}

TEST(FolderIdentity, WindowsFolderPastMaxPathIsTheSameInEitherForm) {
  TempFolder temp;
  std::u16string deep = text_of(temp.root);
  while (deep.size() <= 300) deep += u"\\" + std::u16string(60, u'q');
  fs::create_directories(fs::path(deep) / "below");
  FolderIdentity plain{}, extended{}, below{};
  ASSERT_NE(folder_identity(deep, &plain), 0);
  ASSERT_NE(folder_identity(u"\\\\?\\" + deep, &extended), 0);
  ASSERT_NE(folder_identity(deep + u"\\below", &below), 0);
  EXPECT_TRUE(identity_known(plain));
  EXPECT_EQ(plain, extended);
  EXPECT_FALSE(plain == below);
  EXPECT_FALSE(plain.link);
}

TEST(Listing, WindowsCloseAllClosesEveryOpenListingLastOpenedFirst) {
  TempFolder temp;
  fs::create_directories(temp.root / "a" / "b");
  const ListingHandle outer = open_listing(text_of(temp.root), u"*.*");
  const ListingHandle middle = open_listing(text_of(temp.root / "a"), u"*.*");
  const ListingHandle inner = open_listing(text_of(temp.root / "a" / "b"), u"*.*");
  ASSERT_NE(outer, nullptr);
  ASSERT_NE(middle, nullptr);
  ASSERT_NE(inner, nullptr);
  close_listing(middle);  // out of the middle of the list
  close_all_listings();
  close_all_listings();  // nothing left: a no-op
  // Every record was unlinked: a new listing works as the only one.
  const std::set<Entry> entries = list_all(text_of(temp.root / "a"));
  EXPECT_EQ(entries, (std::set<Entry>{{u".", ENTRY_FOLDER}, {u"..", ENTRY_FOLDER}, {u"b", ENTRY_FOLDER}}));
  close_all_listings();
}

TEST(Listing, WindowsEveryEntryIsAFileOrAFolder) {
  TempFolder temp;
  fs::create_directory(temp.root / "real");
  write_file(temp.root / "file.html", "x");
  const testing::FolderLink link(temp.root / "real", temp.root / "link_to_folder");
  ASSERT_TRUE(link.made);
  std::set<Entry> entries = list_all(text_of(temp.root));
  EXPECT_EQ(entries, (std::set<Entry>{{u".", ENTRY_FOLDER},
                                      {u"..", ENTRY_FOLDER},
                                      {u"real", ENTRY_FOLDER},
                                      {u"file.html", ENTRY_FILE},
                                      {u"link_to_folder", ENTRY_FOLDER}}));
}
#endif

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

TEST(Listing, PosixKindNowIsTheEntrysAsItIsAskedNotAsItWasListed) {
  // The walk runs a converter between listing an entry and asking its kind;
  // by then the entry may be gone or of another kind.
  struct Change {
    const char* label;
    void (*apply)(const fs::path&);
    int kind;
  };
  for (const Change change : {
           Change{"removed", [](const fs::path& entry) { fs::remove(entry); }, ENTRY_OTHER},
           Change{"now a FIFO",
                  [](const fs::path& entry) {
                    fs::remove(entry);
                    mkfifo(entry.c_str(), 0600);
                  },
                  ENTRY_OTHER},
           Change{"now a folder",
                  [](const fs::path& entry) {
                    fs::remove(entry);
                    fs::create_directory(entry);
                  },
                  ENTRY_FOLDER},
       }) {
    SCOPED_TRACE(change.label);
    TempFolder temp;
    for (int i = 0; i < 5; ++i) write_file(temp.root / ("page" + std::to_string(i) + ".html"), "x");
    const ListingHandle handle = open_listing(text_of(temp.root), u"*.*");
    ASSERT_NE(handle, nullptr);
    // Past the first read of the folder, so the rest comes from what it read.
    ASSERT_NE(next_entry(handle), 0);
    for (int i = 0; i < 5; ++i) change.apply(temp.root / ("page" + std::to_string(i) + ".html"));
    int pages = 0;
    while (next_entry(handle) != 0) {
      const std::u16string name = entry_name(handle);
      if (name == u"." || name == u"..") continue;
      ++pages;
      EXPECT_EQ(entry_kind(handle), ENTRY_FILE);  // as listed
      EXPECT_EQ(entry_kind_now(handle), change.kind);
    }
    close_listing(handle);
    EXPECT_GE(pages, 1);
  }
}
#endif

}  // namespace
}  // namespace mirrorpdf
