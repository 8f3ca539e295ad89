#include "support/wine_host.h"

#include <windows.h>

namespace mirrorpdf::testing {

namespace {

// Wine's own exports, looked up at run time so the programs still start on a
// Windows that lacks them.
using UnixFileName = char*(CDECL*)(const wchar_t*);
using UnixSpawn = LONG(WINAPI*)(char* const*, int);

template <typename Function>
Function wine_export(const wchar_t* module, const char* name) {
  const HMODULE handle = GetModuleHandleW(module);
  if (handle == nullptr) return nullptr;
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(handle, name)));
}

UnixFileName unix_file_name() {
  return wine_export<UnixFileName>(L"kernel32.dll", "wine_get_unix_file_name");
}
UnixSpawn unix_spawn() { return wine_export<UnixSpawn>(L"ntdll.dll", "__wine_unix_spawnvp"); }

}  // namespace

bool wine_host_available() { return unix_file_name() != nullptr && unix_spawn() != nullptr; }

std::string host_path_of(const std::filesystem::path& path) {
  const UnixFileName convert = unix_file_name();
  if (convert == nullptr) return {};
  char* const name = convert(std::filesystem::absolute(path).c_str());
  if (name == nullptr) return {};
  std::string result = name;
  HeapFree(GetProcessHeap(), 0, name);
  return result;
}

int run_on_host(const std::vector<std::string>& argv) {
  const UnixSpawn spawn = unix_spawn();
  if (spawn == nullptr || argv.empty()) return -1;
  std::vector<std::string> texts = argv;
  std::vector<char*> pointers;
  for (std::string& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  // With wait set, Wine gives back the program's exit status (or a failure
  // status when it could not be started).
  const LONG status = spawn(pointers.data(), 1);
  return status >= 0 && status < 256 ? static_cast<int>(status) : -1;
}

}  // namespace mirrorpdf::testing
