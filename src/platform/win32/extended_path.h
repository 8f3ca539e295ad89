// The extended ("\\?\") form of a path, for Windows file functions that
// refuse a plain path past a fixed length. Pure text, free of windows.h, so
// every build can test it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace mirrorpdf {

// The longest plain path, in code units, that a file function takes: files,
// folders to open and search texts (MAX_PATH less its terminator), and a
// folder to be created, which must leave room for an 8.3 name besides.
constexpr std::size_t PLAIN_PATH_LIMIT = 259;
constexpr std::size_t PLAIN_NEW_FOLDER_LIMIT = 247;

// The path as a file function with the given limit takes it. A path within
// the limit is returned unchanged, and so is every path the extended form
// cannot name the same way: relative paths ("a\b", "\a", "C:a") and paths
// already in a device or extended form ("\\?\", "\\.\"). A longer drive path
// becomes "\\?\C:\..." and a longer share path "\\?\UNC\server\share\...".
// The extended form is taken literally by the system, so the widening does
// what the system does to a plain path first: '/' becomes '\', repeated
// separators fold, "." components go and ".." takes away the component
// before it (never the root).
std::u16string extended_path(std::u16string_view path, std::size_t limit);

}  // namespace mirrorpdf
