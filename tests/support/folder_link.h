// A link to a folder, for tests of walks that must not loop.
#pragma once

#include <filesystem>

namespace mirrorpdf::testing {

// Makes link name target for the fixture's lifetime and removes the link
// itself (never what it names) at the end, so a temporary folder holding it
// can be removed. Under Wine the link is made on the host, as a link Wine
// follows (links made through Wine cannot be listed there); on Windows a
// directory link.
struct FolderLink {
  std::filesystem::path link;
  bool made = false;
  FolderLink(const std::filesystem::path& target, const std::filesystem::path& link);
  ~FolderLink();
  FolderLink(const FolderLink&) = delete;
  FolderLink& operator=(const FolderLink&) = delete;
};

}  // namespace mirrorpdf::testing
