#include <dirent.h>
#include <fnmatch.h>
#include <sys/stat.h>

#include <mutex>
#include <new>

#include "platform/files.h"
#include "platform/posix/utf8.h"

namespace mirrorpdf {

struct ListingRecord {
  ListingRecord* previous;
  ListingRecord* next;
  DIR* directory;
  std::string folder;   // with a trailing '/', for the kinds readdir leaves open
  std::string pattern;  // empty: every entry
  dirent* current;
};

struct ListingRegistry {
  std::recursive_mutex lock;
  ListingRecord* head = nullptr;
};

namespace {

// A static object rather than one made on first use: nothing is left on the
// heap at exit.
ListingRegistry the_registry;
ListingRegistry* const registry = &the_registry;

// Trailing separators removed, except from "/" itself.
std::string without_trailing_slashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

void remove_record(ListingRecord* record) {
  const std::lock_guard<std::recursive_mutex> guard(registry->lock);
  if (record->previous != nullptr) {
    record->previous->next = record->next;
  } else {
    registry->head = record->next;
  }
  if (record->next != nullptr) record->next->previous = record->previous;
}

int kind_of_mode(mode_t mode) {
  if (S_ISDIR(mode)) return ENTRY_FOLDER;
  if (S_ISREG(mode)) return ENTRY_FILE;
  return ENTRY_OTHER;
}

}  // namespace

std::int64_t path_size(const std::u16string& path) {
  if (path.empty()) return PATH_MISSING;
  struct stat status;
  if (stat(without_trailing_slashes(to_system_bytes(path)).c_str(), &status) != 0) return PATH_MISSING;
  if (S_ISDIR(status.st_mode)) return PATH_IS_FOLDER;
  if (S_ISREG(status.st_mode)) return status.st_size;
  return PATH_MISSING;
}

int make_folder(const std::u16string& path) {
  const std::string bytes = without_trailing_slashes(to_system_bytes(path));
  if (bytes.empty()) return 0;
  return mkdir(bytes.c_str(), 0777) == 0 ? 1 : 0;
}

ListingHandle open_listing(const std::u16string& folder, const std::u16string& pattern) {
  auto* record = new (std::nothrow) ListingRecord{};
  if (record == nullptr) return nullptr;
  // Memory that cannot be had fails the listing, as a folder that cannot be
  // read does.
  bool ready = false;
  try {
    record->folder = to_system_bytes(folder);
    if (!pattern.empty() && pattern != u"*.*" && pattern != u"*") record->pattern = to_system_bytes(pattern);
    if (!record->folder.empty() && record->folder.back() != '/') record->folder += '/';
    record->directory = opendir(record->folder.empty() ? "." : record->folder.c_str());
    ready = record->directory != nullptr;
  } catch (const std::bad_alloc&) {
  }
  if (!ready) {
    delete record;
    return nullptr;
  }

  const std::lock_guard<std::recursive_mutex> guard(registry->lock);
  record->next = registry->head;
  if (registry->head != nullptr) registry->head->previous = record;
  registry->head = record;
  return record;
}

int next_entry(ListingHandle handle) {
  if (handle == nullptr) return 0;
  while ((handle->current = readdir(handle->directory)) != nullptr) {
    if (handle->pattern.empty() || fnmatch(handle->pattern.c_str(), handle->current->d_name, 0) == 0)
      return 1;
  }
  return 0;
}

std::u16string entry_name(ListingHandle handle) {
  if (handle == nullptr || handle->current == nullptr) return {};
  return from_system_bytes(handle->current->d_name);
}

int entry_kind(ListingHandle handle) {
  if (handle == nullptr || handle->current == nullptr) return 0;
  switch (handle->current->d_type) {
    case DT_DIR:
      return ENTRY_FOLDER;
    case DT_REG:
      return ENTRY_FILE;
    case DT_UNKNOWN:
    case DT_LNK:
      // Follow links, so a link to a folder is a folder.
      return entry_kind_now(handle);
    default:
      return ENTRY_OTHER;
  }
}

int entry_kind_now(ListingHandle handle) {
  if (handle == nullptr || handle->current == nullptr) return 0;
  struct stat status;
  const std::string full = handle->folder + handle->current->d_name;
  return stat(full.c_str(), &status) == 0 ? kind_of_mode(status.st_mode) : ENTRY_OTHER;
}

void close_listing(ListingHandle handle) {
  if (handle == nullptr) return;
  remove_record(handle);
  closedir(handle->directory);
  delete handle;
}

void close_all_listings() {
  const std::lock_guard<std::recursive_mutex> guard(registry->lock);
  while (registry->head != nullptr) close_listing(registry->head);
}

int folder_identity(const std::u16string& folder, FolderIdentity* identity) {
  const std::string path = to_system_bytes(folder);
  const char* name = path.empty() ? "." : path.c_str();
  struct stat status;
  if (lstat(name, &status) == 0) identity->link = S_ISLNK(status.st_mode);
  if (stat(name, &status) != 0 || !S_ISDIR(status.st_mode)) return 0;
  identity->volume = static_cast<std::uint64_t>(status.st_dev);
  identity->file_low = static_cast<std::uint64_t>(status.st_ino);
  identity->file_high = 0;
  return 1;
}

}  // namespace mirrorpdf
