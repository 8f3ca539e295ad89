#include <windows.h>

#include <cstring>
#include <new>

#include "platform/files.h"
#include "platform/win32/extended_path.h"
#include "platform/win32/folder_id.h"
#include "platform/win32/wide.h"

namespace mirrorpdf {

struct ListingRecord {
  ListingRecord* previous;
  ListingRecord* next;
  HANDLE find;  // INVALID_HANDLE_VALUE when the folder matched nothing
  int first_handed_out;
  WIN32_FIND_DATAW current;
};

struct ListingRegistry {
  bool made;
  CRITICAL_SECTION lock;
  ListingRecord* head;
};

namespace {

// A static object rather than one made on first use: nothing is left on the
// heap at exit. Its lock is initialised on the first open_listing.
ListingRegistry the_registry;
ListingRegistry* const registry = &the_registry;

bool is_separator(char16_t c) { return c == u'\\' || c == u'/'; }

// Every path reaches a file function through here: a deep tree's paths pass
// MAX_PATH, which Windows refuses in the plain form.
std::u16string for_system(const std::u16string& path, std::size_t limit = PLAIN_PATH_LIMIT) {
  return extended_path(path, limit);
}

std::int64_t folder_if_drive(const std::u16string& root) {
  return GetDriveTypeW(wide(for_system(root))) > DRIVE_NO_ROOT_DIR ? PATH_IS_FOLDER : PATH_MISSING;
}

void enter_record(ListingRecord* record) {
  EnterCriticalSection(&registry->lock);
  record->next = registry->head;
  if (registry->head != nullptr) registry->head->previous = record;
  registry->head = record;
  LeaveCriticalSection(&registry->lock);
}

void remove_record(ListingRecord* record) {
  EnterCriticalSection(&registry->lock);
  if (record->previous != nullptr) {
    record->previous->next = record->next;
  } else {
    registry->head = record->next;
  }
  if (record->next != nullptr) record->next->previous = record->previous;
  LeaveCriticalSection(&registry->lock);
}

}  // namespace

std::int64_t path_size(const std::u16string& path) {
  if (path.empty()) return PATH_MISSING;
  std::u16string buffer = path;

  // A drive root, which the search cannot find: every text of two or three
  // characters with ':' second is answered by the drive type alone.
  if (buffer.size() >= 2 && buffer.size() <= 3 && buffer[1] == u':') {
    if (buffer.size() == 2) buffer += u'\\';
    return folder_if_drive(buffer);
  }

  while (!buffer.empty() && is_separator(buffer.back())) buffer.pop_back();

  // Wildcards stay: the answer is then the first entry that matches.
  WIN32_FIND_DATAW found;
  const HANDLE search = FindFirstFileW(wide(for_system(buffer)), &found);
  if (search != INVALID_HANDLE_VALUE) {
    FindClose(search);
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return PATH_IS_FOLDER;
    return static_cast<std::int64_t>((std::uint64_t{found.nFileSizeHigh} << 32) | found.nFileSizeLow);
  }

  // Share roots and long-form drive roots, which the search does not find
  // either. A root is only a root with its separator, which the trimming
  // took away, so it is asked about again with one.
  const std::u16string_view start = std::u16string_view(buffer).substr(0, 2);
  if (start == u"\\\\" || start == u"//" || start == u"..") {
    const std::u16string root = buffer + u'\\';
    DWORD attributes = GetFileAttributesW(wide(for_system(buffer)));
    if (attributes == INVALID_FILE_ATTRIBUTES) attributes = GetFileAttributesW(wide(for_system(root)));
    if (attributes != INVALID_FILE_ATTRIBUTES)
      return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? PATH_IS_FOLDER : PATH_MISSING;
    return folder_if_drive(root);
  }
  return PATH_MISSING;
}

int make_folder(const std::u16string& path) {
  std::u16string buffer = path;
  while (!buffer.empty() && (buffer.back() == u' ' || is_separator(buffer.back()))) buffer.pop_back();
  if (buffer.empty()) return 0;
  return CreateDirectoryW(wide(for_system(buffer, PLAIN_NEW_FOLDER_LIMIT)), nullptr) != 0 ? 1 : 0;
}

ListingHandle open_listing(const std::u16string& folder, const std::u16string& pattern) {
  if (!registry->made) {
    InitializeCriticalSection(&registry->lock);
    registry->made = true;
  }
  auto* record = new (std::nothrow) ListingRecord{};
  if (record == nullptr) return nullptr;
  enter_record(record);

  // Memory that cannot be had fails the listing, as a folder that cannot be
  // read does.
  std::u16string search;
  try {
    search = folder;
    if (!search.empty() && !is_separator(search.back())) search += u'\\';
    search += pattern.empty() ? u"*.*" : pattern;
    search = for_system(search);
  } catch (const std::bad_alloc&) {
    remove_record(record);
    delete record;
    return nullptr;
  }

  // Nothing between the search and GetLastError may touch the error code.
  record->find = FindFirstFileW(wide(search), &record->current);
  bool opened = true;
  if (record->find != INVALID_HANDLE_VALUE) {
    record->first_handed_out = 0;
  } else if (GetLastError() == ERROR_FILE_NOT_FOUND) {
    record->first_handed_out = 1;  // a folder whose pattern matches nothing
  } else {
    opened = false;  // no such folder, or not a folder
  }
  if (!opened) {
    remove_record(record);
    delete record;
    return nullptr;
  }
  return record;
}

int next_entry(ListingHandle handle) {
  if (handle == nullptr || handle->find == INVALID_HANDLE_VALUE) return 0;
  if (handle->first_handed_out == 0) {
    handle->first_handed_out = 1;
    return 1;
  }
  return FindNextFileW(handle->find, &handle->current) != 0 ? 1 : 0;
}

std::u16string entry_name(ListingHandle handle) {
  if (handle == nullptr) return {};
  return text_from(handle->current.cFileName);
}

int entry_kind(ListingHandle handle) {
  if (handle == nullptr) return 0;
  return (handle->current.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? ENTRY_FOLDER : ENTRY_FILE;
}

int entry_kind_now(ListingHandle handle) { return entry_kind(handle); }

void close_listing(ListingHandle handle) {
  if (handle == nullptr) return;
  if (handle->find != INVALID_HANDLE_VALUE) FindClose(handle->find);
  remove_record(handle);
  delete handle;
}

void close_all_listings() {
  if (!registry->made) return;
  // The lock is taken again inside close_listing by this same thread.
  EnterCriticalSection(&registry->lock);
  while (registry->head != nullptr) close_listing(registry->head);
  LeaveCriticalSection(&registry->lock);
}

int folder_identity(const std::u16string& folder, FolderIdentity* identity) {
  const std::u16string path = for_system(folder.empty() ? u"." : folder);
  // The entry's own attributes: the handle below sees what a link or
  // junction names, not the link. Attributes that cannot be read do not
  // show a plain folder.
  const DWORD own = GetFileAttributesW(wide(path));
  const bool link = own == INVALID_FILE_ATTRIBUTES || (own & FILE_ATTRIBUTE_REPARSE_POINT) != 0;

  // Backup semantics open a folder; a link or junction is followed to what it
  // names. No access rights are needed to read the identity.
  const HANDLE file = CreateFileW(wide(path), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 0;
  FolderIdAnswers answers{};
  FILE_ID_INFO id{};
  // Refused before Windows 8: the 64-bit index is all there is then.
  if (GetFileInformationByHandleEx(file, FileIdInfo, &id, sizeof id) != 0) {
    answers.id_128_answered = true;
    answers.volume_64 = id.VolumeSerialNumber;
    static_assert(sizeof answers.id_128 == sizeof id.FileId.Identifier);
    std::memcpy(answers.id_128, id.FileId.Identifier, sizeof answers.id_128);
  }
  BY_HANDLE_FILE_INFORMATION information;
  const bool read = GetFileInformationByHandle(file, &information) != 0;
  CloseHandle(file);
  if (!read || (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return 0;
  answers.volume_32 = information.dwVolumeSerialNumber;
  answers.index_64 = (std::uint64_t{information.nFileIndexHigh} << 32) | information.nFileIndexLow;
  *identity = identity_from(answers);
  identity->link = link;
  return 1;
}

}  // namespace mirrorpdf
