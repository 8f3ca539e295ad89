#include "platform/win32/folder_id.h"

#include <gtest/gtest.h>

namespace mirrorpdf {
namespace {

FolderIdAnswers with_128(std::uint64_t volume, std::uint64_t low, std::uint64_t high) {
  FolderIdAnswers answers{};
  answers.id_128_answered = true;
  answers.volume_64 = volume;
  for (int at = 0; at < 8; ++at) {
    answers.id_128[at] = static_cast<unsigned char>(low >> (8 * at));
    answers.id_128[8 + at] = static_cast<unsigned char>(high >> (8 * at));
  }
  return answers;
}

FolderIdAnswers with_64(FolderIdAnswers answers, std::uint32_t volume, std::uint64_t index) {
  answers.volume_32 = volume;
  answers.index_64 = index;
  return answers;
}

TEST(FolderId, TheWholeIdWhereAnsweredTheIndexOtherwise) {
  struct Case {
    const char* what;
    FolderIdAnswers answers;
    FolderIdentity expected;
  };
  const Case cases[] = {
      {"128 bits, both halves",
       with_64(with_128(0x1122334455667788, 0x0102030405060708, 0x1112131415161718), 7, 9),
       {0x1122334455667788, 0x0102030405060708, 0x1112131415161718, false}},
      {"128 bits, high half only", with_64(with_128(5, 0, 1), 7, 9), {5, 0, 1, false}},
      {"128 bits all zero: the index", with_64(with_128(5, 0, 0), 7, 9), {7, 9, 0, false}},
      {"128 bits refused: the index",
       with_64(FolderIdAnswers{}, 0xfffffffe, 0xffffffff00000001),
       {0xfffffffe, 0xffffffff00000001, 0, false}},
      {"nothing but zeros: unknown", with_64(FolderIdAnswers{}, 7, 0), {7, 0, 0, false}},
  };
  for (const Case& c : cases) {
    const FolderIdentity identity = identity_from(c.answers);
    EXPECT_EQ(identity.volume, c.expected.volume) << c.what;
    EXPECT_EQ(identity.file_low, c.expected.file_low) << c.what;
    EXPECT_EQ(identity.file_high, c.expected.file_high) << c.what;
    EXPECT_FALSE(identity.link) << c.what;
  }
  EXPECT_FALSE(identity_known(identity_from(with_64(with_128(5, 0, 0), 7, 0))));
}

TEST(FolderId, FoldersThatShareTheLow64BitsStayApart) {
  // ReFS: one index, two folders.
  const FolderIdentity a = identity_from(with_64(with_128(5, 42, 1), 5, 42));
  const FolderIdentity b = identity_from(with_64(with_128(5, 42, 2), 5, 42));
  EXPECT_FALSE(a == b);
  EXPECT_TRUE(a == identity_from(with_64(with_128(5, 42, 1), 5, 42)));
}

}  // namespace
}  // namespace mirrorpdf
