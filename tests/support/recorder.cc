// A stand-in converter for the tests. It appends what it was started with to
// the log named by MIRRORPDF_RECORD (every value hex-encoded, one field a
// line, so any name survives), notices a run that overlaps another, and
// writes its second argument as the target file.
//
// It acts only inside the folder named by MIRRORPDF_RECORD_ROOT, the test's
// own: a path that, once links and ".." are resolved, lies outside it is
// never written, removed or replaced; it is logged as "outside" (hex) for
// the test to fail on. Without a root it acts on nothing, log included.
//
// MIRRORPDF_RECORD_MODE changes its behaviour: "exit7" exits with 7,
// "crash" dies by a signal (an access violation on Windows), "noisy" writes
// to stdout and stderr, "slow" sleeps before it writes. On POSIX also:
// "kill" dies by SIGKILL before it writes, "linger" leaves a child behind
// that outlives it (its pid logged as "lingering"), and "churn" changes the
// folder being walked: it removes the next page of its source's folder,
// turns the one after that into a FIFO, and adds a page and a folder holding
// one (each logged, hex-encoded, as "removed", "fifo", "added_page" and
// "added_folder_page"). The kind of the source as the run starts is logged
// as "source_kind", and the descriptors above 2 it was started with as
// "descriptors".
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#else
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>
#endif

#include "support/hex.h"

namespace {

using mirrorpdf::testing::hex;

std::string environment(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : std::string(value);
}

#ifdef _WIN32
std::string utf8(const wchar_t* text) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string out(size > 0 ? static_cast<std::size_t>(size) : 0, '\0');
  if (size > 0) WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
  if (!out.empty()) out.pop_back();
  return out;
}

std::wstring wide(const std::string& text) {
  const int size = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
  std::wstring out(size > 0 ? static_cast<std::size_t>(size) : 0, L'\0');
  if (size > 0) MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, out.data(), size);
  if (!out.empty()) out.pop_back();
  return out;
}

using Path = std::wstring;
constexpr wchar_t SLASH = L'\\';

// Windows resolves ".." in the text itself, before any link is followed.
Path full_path(const Path& path) {
  const DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (size == 0) return {};
  Path out(size, L'\0');
  const DWORD written = GetFullPathNameW(path.c_str(), size, out.data(), nullptr);
  out.resize(written < size ? written : 0);
  return out;
}

// The name the system gives an open file (\\??\\C:\\...), in characters;
// 0 when it gives none.
DWORD object_name(HANDLE handle, wchar_t* out, DWORD capacity) {
  struct Name {
    USHORT length;  // in bytes
    USHORT maximum;
    wchar_t* text;
  };
  using Query = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  const Query query =
      ntdll == nullptr
          ? nullptr
          : reinterpret_cast<Query>(reinterpret_cast<void*>(GetProcAddress(ntdll, "NtQueryObject")));
  alignas(Name) static char answer[sizeof(Name) + 65536 + 2];
  ULONG needed = 0;
  const int OBJECT_NAME_INFORMATION = 1;
  if (query == nullptr || query(handle, OBJECT_NAME_INFORMATION, answer, sizeof answer, &needed) < 0)
    return 0;
  const Name* name = reinterpret_cast<const Name*>(answer);
  const DWORD size = name->length / sizeof(wchar_t);
  if (size >= capacity) return 0;
  std::copy(name->text, name->text + size, out);
  return size;
}

// An existing entry's real path, links followed; empty when it cannot be
// opened.
Path real_path(const Path& path) {
  // In extended form, or a path past MAX_PATH could not be opened.
  const Path whole = path.size() > 2 && path[1] == L':' && path[2] == SLASH ? L"\\\\?\\" + path : path;
  const HANDLE handle = CreateFileW(whole.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return {};
  static wchar_t buffer[32768];
  DWORD size = GetFinalPathNameByHandleW(handle, buffer, 32768, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  // Wine answers only up to MAX_PATH; the object's own name, asked for
  // directly, has no such limit.
  if (size == 0 || size >= 32768) size = object_name(handle, buffer, 32768);
  CloseHandle(handle);
  if (size == 0 || size >= 32768) return {};
  Path out(buffer, size);
  if (out.starts_with(L"\\??\\")) out = out.substr(4);
  if (out.starts_with(L"\\\\?\\UNC\\")) return L"\\\\" + out.substr(8);
  if (out.starts_with(L"\\\\?\\")) return out.substr(4);
  return out;
}

bool exists(const Path& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool same_or_below(const Path& path, const Path& root) {
  if (path.size() <= root.size() || path[root.size()] != SLASH) return false;
  return CompareStringOrdinal(path.c_str(), static_cast<int>(root.size()), root.c_str(),
                              static_cast<int>(root.size()), TRUE) == CSTR_EQUAL;
}
#else
using Path = std::string;
constexpr char SLASH = '/';

Path real_path(const Path& path) {
  char* const real = realpath(path.c_str(), nullptr);
  if (real == nullptr) return {};
  Path out = real;
  std::free(real);
  return out;
}

bool same_or_below(const Path& path, const Path& root) {
  return path.size() > root.size() && path.starts_with(root) && (root == "/" || path[root.size()] == SLASH);
}
#endif

Path with_suffix(Path path, std::string_view suffix) {
  for (const char c : suffix) path += static_cast<Path::value_type>(c);
  return path;
}

// Where every change must stay, resolved once; empty when no root is named.
struct Root {
  Path path;
  std::string* record;
};

// The path to change, links and ".." resolved, when that lies below the
// root; otherwise empty, and a path outside is logged. The entry itself is
// changed (removed, made) unless follow is set: writing through a link at
// the end lands where the link points. A path whose folder does not exist
// is left alone without a word: no change could land there.
Path inside(const Root& root, const Path& path, bool follow) {
  if (root.path.empty()) return {};
#ifdef _WIN32
  const Path full = full_path(path);
  const std::size_t slash = full.rfind(SLASH);
  if (full.empty() || slash == Path::npos) return {};
  const Path name = full.substr(slash + 1);
  // Without a trailing separator, which the extended form does not allow;
  // a drive root keeps its own.
  const Path folder = real_path(full.substr(0, slash == 2 ? 3 : slash));
  const bool link_at_end = follow && exists(full);
  const std::string shown = utf8(path.c_str());
#else
  const std::size_t slash = path.rfind(SLASH);
  const Path name = slash == Path::npos ? path : path.substr(slash + 1);
  const Path folder = real_path(slash == Path::npos ? "." : slash == 0 ? "/" : path.substr(0, slash));
  struct stat status;
  const bool link_at_end = follow && lstat(path.c_str(), &status) == 0 && S_ISLNK(status.st_mode);
  const std::string& shown = path;
#endif
  if (folder.empty()) return {};
  const bool names_a_folder = name.empty() || name == with_suffix({}, ".") || name == with_suffix({}, "..");
  // A link at the end is followed by a write, a dangling one to wherever it
  // points: that is where it would land.
  const Path place = link_at_end || names_a_folder ? real_path(path) : folder + SLASH + name;
  if (!place.empty() && same_or_below(place, root.path)) return place;
  *root.record += "outside " + hex(shown) + "\n";
  return {};
}

Root root_of(std::string& record) {
  const std::string named = environment("MIRRORPDF_RECORD_ROOT");
  if (named.empty()) return {{}, &record};
#ifdef _WIN32
  return {real_path(full_path(wide(named))), &record};
#else
  return {real_path(named), &record};
#endif
}

void write_text(const Root& root, const Path& path, const std::string& content, bool append = false) {
  const Path place = inside(root, path, true);
  if (place.empty()) return;
  std::ofstream out(std::filesystem::path(place),
                    std::ios::binary | (append ? std::ios::app : std::ios::trunc));
  out << content;
}

// True when no other run holds the lock; takes it.
bool take_lock(const Path& lock) {
#ifdef _WIN32
  return CreateDirectoryW(lock.c_str(), nullptr) != 0;
#else
  return mkdir(lock.c_str(), 0700) == 0;
#endif
}

void drop_lock(const Path& lock) {
  if (lock.empty()) return;
#ifdef _WIN32
  RemoveDirectoryW(lock.c_str());
#else
  rmdir(lock.c_str());
#endif
}

#ifndef _WIN32
bool is_page_name(std::string name) {
  for (char& c : name) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return name.ends_with(".html") || name.ends_with(".htm");
}

void churn(const Root& root, const std::string& source, std::string& record) {
  const std::size_t slash = source.rfind('/');
  if (slash == std::string::npos) return;
  const std::string folder = source.substr(0, slash + 1);
  const std::string name = source.substr(slash + 1);
  // What it adds changes nothing itself, so the walk ends.
  if (source.find("/new-") != std::string::npos) return;

  // The pages listed after this one: the walk has not reached them yet.
  std::vector<std::string> later;
  if (DIR* listing = opendir(folder.c_str())) {
    bool seen = false;
    while (const dirent* entry = readdir(listing)) {
      const std::string other = entry->d_name;
      if (seen && is_page_name(other) && !other.starts_with("new-")) later.push_back(folder + other);
      seen = seen || other == name;
    }
    closedir(listing);
  }
  if (later.size() > 0) {
    const std::string place = inside(root, later[0], false);
    if (!place.empty() && unlink(place.c_str()) == 0) record += "removed " + hex(later[0]) + "\n";
  }
  if (later.size() > 1) {
    const std::string place = inside(root, later[1], false);
    if (!place.empty() && unlink(place.c_str()) == 0 && mkfifo(place.c_str(), 0600) == 0)
      record += "fifo " + hex(later[1]) + "\n";
  }

  const std::string stem = folder + "new-" + std::to_string(getpid());
  write_text(root, stem + ".html", "<p>new</p>");
  record += "added_page " + hex(stem + ".html") + "\n";
  const std::string made = inside(root, stem, false);
  if (!made.empty() && mkdir(made.c_str(), 0777) == 0) {
    write_text(root, made + "/page.html", "<p>new</p>");
    record += "added_folder_page " + hex(stem + "/page.html") + "\n";
  }
}

std::string inherited_descriptors() {
  std::string list;
  if (DIR* listing = opendir("/proc/self/fd")) {
    while (const dirent* entry = readdir(listing)) {
      const int fd = std::atoi(entry->d_name);
      if (fd <= 2 || fd == dirfd(listing)) continue;
      list += (list.empty() ? "" : " ") + std::to_string(fd);
    }
    closedir(listing);
  }
  return list;
}

std::string kind_of(const char* path) {
  struct stat status;
  if (stat(path, &status) != 0) return "missing";
  if (S_ISREG(status.st_mode)) return "file";
  return S_ISDIR(status.st_mode) ? "folder" : "other";
}
#endif

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** wargv) {
#else
int main(int argc, char** argv) {
#endif
  const std::string mode = environment("MIRRORPDF_RECORD_MODE");
  std::string record = "run\n";
  const Root root = root_of(record);
#ifdef _WIN32
  const Path log = environment("MIRRORPDF_RECORD").empty() ? Path() : wide(environment("MIRRORPDF_RECORD"));
#else
  const Path log = environment("MIRRORPDF_RECORD");
#endif
  // Without a log of its own below the root it keeps no lock either.
  const Path lock = log.empty() ? Path() : inside(root, with_suffix(log, ".busy"), false);
  if (!lock.empty() && !take_lock(lock)) record += "overlap\n";

#ifdef _WIN32
  std::string arguments[3];
  for (int i = 1; i < argc && i < 3; ++i) arguments[i] = utf8(wargv[i]);
  for (int i = 1; i < argc; ++i) record += "arg " + hex(utf8(wargv[i])) + "\n";
  record += "cmdline " + hex(utf8(GetCommandLineW())) + "\n";
  // Which file was started: a command line split at the wrong space starts
  // another program.
  wchar_t own[4096];
  if (GetModuleFileNameW(nullptr, own, 4096) != 0) record += "program " + hex(utf8(own)) + "\n";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  GetStartupInfoW(&startup);
  record += "show " + std::to_string(startup.wShowWindow) + "\n";
  record += "startflags " + std::to_string(startup.dwFlags) + "\n";
  wchar_t cwd[4096];
  if (GetCurrentDirectoryW(4096, cwd) != 0) record += "cwd " + hex(utf8(cwd)) + "\n";
#else
  for (int i = 1; i < argc; ++i) record += "arg " + hex(argv[i]) + "\n";
  if (argc > 1) record += "source_kind " + kind_of(argv[1]) + "\n";
  record += "descriptors " + inherited_descriptors() + "\n";
  if (mode == "churn" && argc > 1) churn(root, argv[1], record);
  if (mode == "linger") {
    const pid_t child = fork();
    if (child == 0) {
      sleep(30);
      _exit(0);
    }
    record += "lingering " + std::to_string(child) + "\n";
  }
  record += std::string("own_session ") + (getsid(0) == getpid() ? "1" : "0") + "\n";
  struct stat out_status, null_status;
  const bool out_null = fstat(1, &out_status) == 0 && stat("/dev/null", &null_status) == 0 &&
                        out_status.st_rdev == null_status.st_rdev && S_ISCHR(out_status.st_mode);
  record += std::string("stdout_null ") + (out_null ? "1" : "0") + "\n";
  char cwd[4096];
  if (getcwd(cwd, sizeof cwd) != nullptr) record += "cwd " + hex(cwd) + "\n";
#endif

    // The target is checked before the log is written, so that a target
    // outside the root shows in this run's record.
#ifdef _WIN32
  const Path target = argc == 3 ? inside(root, wargv[2], true) : Path();
  const std::string converted = argc == 3 ? "converted " + utf8(wargv[1]) : std::string();
#else
  const Path target = argc == 3 ? inside(root, argv[2], true) : Path();
  const std::string converted = argc == 3 ? "converted " + std::string(argv[1]) : std::string();
#endif
  record += "end\n";
  if (!log.empty()) write_text(root, log, record, true);

  if (mode == "noisy") {
    std::fputs("recorder on stdout\n", stdout);
    std::fputs("recorder on stderr\n", stderr);
  }
  if (mode == "slow") std::this_thread::sleep_for(std::chrono::milliseconds(150));
#ifndef _WIN32
  if (mode == "kill") {
    drop_lock(lock);
    kill(getpid(), SIGKILL);
  }
#endif

  if (!target.empty()) {
    std::ofstream out(std::filesystem::path(target), std::ios::binary);
    out << converted;
  }

  drop_lock(lock);
  if (mode == "exit7") return 7;
  if (mode == "crash") {
    volatile int* nowhere = nullptr;
    *nowhere = 1;
  }
  return 0;
}
