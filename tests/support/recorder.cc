// A stand-in converter for the tests. It appends what it was started with to
// the log named by MIRRORPDF_RECORD (every value hex-encoded, one field a
// line, so any name survives), notices a run that overlaps another, and
// writes its second argument as the target file.
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

namespace {

std::string hex(std::string_view bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (const char c : bytes) {
    out += digits[static_cast<unsigned char>(c) >> 4];
    out += digits[static_cast<unsigned char>(c) & 15];
  }
  return out;
}

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
#endif

// True when no other run holds the lock; takes it.
bool take_lock(const std::string& lock) {
#ifdef _WIN32
  return CreateDirectoryA(lock.c_str(), nullptr) != 0;
#else
  return mkdir(lock.c_str(), 0700) == 0;
#endif
}

#ifndef _WIN32
bool is_page_name(std::string name) {
  for (char& c : name) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return name.ends_with(".html") || name.ends_with(".htm");
}

void churn(const std::string& source, std::string& record) {
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
  if (later.size() > 0 && unlink(later[0].c_str()) == 0) record += "removed " + hex(later[0]) + "\n";
  if (later.size() > 1 && unlink(later[1].c_str()) == 0 && mkfifo(later[1].c_str(), 0600) == 0)
    record += "fifo " + hex(later[1]) + "\n";

  const std::string stem = folder + "new-" + std::to_string(getpid());
  std::ofstream(stem + ".html") << "<p>new</p>";
  record += "added_page " + hex(stem + ".html") + "\n";
  if (mkdir(stem.c_str(), 0777) == 0) {
    std::ofstream(stem + "/page.html") << "<p>new</p>";
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
  const std::string log = environment("MIRRORPDF_RECORD");
  const std::string mode = environment("MIRRORPDF_RECORD_MODE");
  const std::string lock = log + ".busy";

  std::string record = "run\n";
  if (!take_lock(lock)) record += "overlap\n";

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
  if (mode == "churn" && argc > 1) churn(argv[1], record);
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
  record += "end\n";

  if (!log.empty()) {
    std::ofstream out(log, std::ios::binary | std::ios::app);
    out << record;
  }

  if (mode == "noisy") {
    std::fputs("recorder on stdout\n", stdout);
    std::fputs("recorder on stderr\n", stderr);
  }
  if (mode == "slow") std::this_thread::sleep_for(std::chrono::milliseconds(150));
#ifndef _WIN32
  if (mode == "kill") {
    rmdir(lock.c_str());
    kill(getpid(), SIGKILL);
  }
#endif

  if (argc == 3) {
#ifdef _WIN32
    std::ofstream target(std::filesystem::path(wargv[2]), std::ios::binary);
    target << "converted " << utf8(wargv[1]);
#else
    std::ofstream target(argv[2], std::ios::binary);
    target << "converted " << argv[1];
#endif
  }

#ifdef _WIN32
  RemoveDirectoryA(lock.c_str());
#else
  rmdir(lock.c_str());
#endif
  if (mode == "exit7") return 7;
  if (mode == "crash") {
    volatile int* nowhere = nullptr;
    *nowhere = 1;
  }
  return 0;
}
