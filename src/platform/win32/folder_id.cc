#include "platform/win32/folder_id.h"

namespace mirrorpdf {

namespace {

// Eight bytes as stored, least significant first.
std::uint64_t little_endian(const unsigned char* bytes) {
  std::uint64_t value = 0;
  for (int at = 7; at >= 0; --at) value = (value << 8) | bytes[at];
  return value;
}

}  // namespace

FolderIdentity identity_from(const FolderIdAnswers& answers) {
  FolderIdentity identity{};
  if (answers.id_128_answered) {
    identity.volume = answers.volume_64;
    identity.file_low = little_endian(answers.id_128);
    identity.file_high = little_endian(answers.id_128 + 8);
    if (identity_known(identity)) return identity;
  }
  identity.volume = answers.volume_32;
  identity.file_low = answers.index_64;
  identity.file_high = 0;
  return identity;
}

}  // namespace mirrorpdf
