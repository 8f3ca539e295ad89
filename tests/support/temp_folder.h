// Fixtures on real folders: a fresh temporary folder per test, removed after.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace mirrorpdf::testing {

struct TempFolder {
  std::filesystem::path root;
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
};

// The path as the services take it.
std::u16string text_of(const std::filesystem::path& path);

// Writes content to path, making its parent folders.
void write_file(const std::filesystem::path& path, std::string_view content);
// The whole file; empty when it cannot be read.
std::string read_file(const std::filesystem::path& path);

}  // namespace mirrorpdf::testing
