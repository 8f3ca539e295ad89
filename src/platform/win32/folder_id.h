// Which of the answers Windows gives about a folder identifies it. Pure, free
// of windows.h, so every build can test it.
#pragma once

#include <cstdint>

#include "platform/files.h"

namespace mirrorpdf {

// What the system said about one open folder.
struct FolderIdAnswers {
  // FILE_ID_INFO (Windows 8 and later; refused before): a 64-bit volume
  // serial number and a 128-bit file ID, its bytes as stored.
  bool id_128_answered;
  std::uint64_t volume_64;
  unsigned char id_128[16];
  // BY_HANDLE_FILE_INFORMATION, which every system answers: a 32-bit volume
  // serial number and a 64-bit file index.
  std::uint32_t volume_32;
  std::uint64_t index_64;
};

// The 128-bit file ID with its volume when it was answered and is not all
// zero (ReFS repeats 64-bit indexes, so only the whole ID tells its folders
// apart); the 64-bit index with its volume otherwise. An all-zero result
// identifies nothing. The link bit is left clear.
FolderIdentity identity_from(const FolderIdAnswers& answers);

}  // namespace mirrorpdf
