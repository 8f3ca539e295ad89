// File-system services: the size query, folder creation and folder listings.
// Every backend implements this one interface; the build chooses the backend.
#pragma once

#include <cstdint>
#include <string>

namespace mirrorpdf {

// path_size results below zero.
constexpr std::int64_t PATH_MISSING = -1;
constexpr std::int64_t PATH_IS_FOLDER = -2;

// Entry kinds, as the listing reports them (links followed). 0 answers the
// handle 0. ENTRY_OTHER is a POSIX entry that is neither a regular file nor a
// folder (FIFO, socket, device, dangling link): never a page, since handing
// one to the converter could block it forever.
constexpr int ENTRY_FILE = 1;
constexpr int ENTRY_FOLDER = 2;
constexpr int ENTRY_OTHER = 3;

// One open listing; defined by each backend. A listing handle is the record's
// address, so 0 (nullptr) is never a valid handle and means failure.
struct ListingRecord;
// Every open ListingRecord, in a doubly linked list under a recursive lock;
// made on the first open_listing and kept until the process ends.
struct ListingRegistry;
using ListingHandle = ListingRecord*;

// A file's size in bytes, PATH_IS_FOLDER for a folder (or drive root), or
// PATH_MISSING.
std::int64_t path_size(const std::u16string& path);

// Creates one folder; non-zero when it was created, 0 otherwise (it exists,
// its parent is missing, the path is empty).
int make_folder(const std::u16string& path);

// Opens a listing of folder's entries matching pattern ("*.*" or empty: every
// entry). 0 when the folder is missing or cannot be listed.
ListingHandle open_listing(const std::u16string& folder, const std::u16string& pattern);
// Advances to the next entry: non-zero while there is one.
int next_entry(ListingHandle handle);
std::u16string entry_name(ListingHandle handle);
int entry_kind(ListingHandle handle);
// The current entry's kind as it is now rather than when it was listed: a
// program run since may have removed the entry or put another in its place.
// On Windows, where no entry can block a reader, it is the listed kind.
int entry_kind_now(ListingHandle handle);
void close_listing(ListingHandle handle);
// Closes every listing still open, the one opened last first.
void close_all_listings();

// What makes two paths the same folder: volume and a file ID of up to 128
// bits (device and inode on POSIX; the volume serial number and FILE_ID_INFO,
// or the 64-bit file index, on Windows). Some file systems answer a file ID
// of 0 for every folder, so an all-zero ID identifies nothing.
struct FolderIdentity {
  std::uint64_t volume;
  std::uint64_t file_low;
  std::uint64_t file_high;
  // The folder's own entry is a link (Windows: a reparse point, such as a
  // junction), which may lead back into the walk.
  bool link;
};
inline bool operator==(const FolderIdentity& a, const FolderIdentity& b) {
  return a.volume == b.volume && a.file_low == b.file_low && a.file_high == b.file_high;
}
inline bool identity_known(const FolderIdentity& identity) {
  return identity.file_low != 0 || identity.file_high != 0;
}
// Non-zero when the folder (links followed) could be examined; its identity
// is then known when identity_known says so, and link is set either way.
int folder_identity(const std::u16string& folder, FolderIdentity* identity);

}  // namespace mirrorpdf
