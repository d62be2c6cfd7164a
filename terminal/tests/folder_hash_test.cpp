#include "terminal/folder_hash.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct HashCase {
  const char* name;
  std::string text;
  std::uint32_t expected;
};

TEST(FolderHash, KnownValues) {
  const HashCase cases[] = {
      {"empty", "", 5381u},
      {"lower", "abc", 193485963u},
      {"upper folds to lower", "ABC", 193485963u},
      {"copy folder", "c:\\mt4\\", 1452202159u},
      {"copy folder upper", "C:\\MT4\\", 1452202159u},
      // 5381*33 + (0xE9 - 256): a high byte counts as negative.
      {"high byte is signed", std::string("\xE9", 1), 5381u * 33u - 23u},
      {"high byte 0xFF", std::string("\xFF", 1), 5381u * 33u - 1u},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(terminal::folderHash(c.text), c.expected) << c.name;
  }
}

TEST(FolderHash, OnlyAsciiLettersFold) {
  // 0xC9 (E acute in the Western code page) must not be folded to 0xE9.
  EXPECT_NE(terminal::folderHash("\xC9"), terminal::folderHash("\xE9"));
  // '[' sits just past 'Z' and '@' just before 'A': neither changes.
  EXPECT_NE(terminal::folderHash("["), terminal::folderHash("{"));
  EXPECT_NE(terminal::folderHash("@"), terminal::folderHash("`"));
}

TEST(FolderHash, WrapsAtThirtyTwoBits) {
  const std::string longText(200, 'z');
  std::uint64_t h = 5381;
  for (char c : longText) h = (h * 33 + static_cast<unsigned char>(c)) & 0xFFFFFFFFu;
  EXPECT_EQ(terminal::folderHash(longText), static_cast<std::uint32_t>(h));
}

TEST(LastScanHashMarker, LowSixteenBitsPlusOne) {
  const struct {
    const char* folder;
    std::uint32_t expected;
  } cases[] = {
      {"c:\\mt4\\", 55472u},  // 1452202159 & 0xFFFF = 55471
      {"C:\\MT4\\", 55472u},
      {"", 5381u + 1u},
  };
  for (const auto& c : cases) EXPECT_EQ(terminal::lastScanHashMarker(c.folder), c.expected) << c.folder;
  // A folder whose hash has its low 16 bits all set gets 65536, never 0.
  std::string folder;
  for (int i = 0; (terminal::folderHash(folder) & 0xFFFFu) != 0xFFFFu; ++i) folder = "d" + std::to_string(i) + "\\";
  EXPECT_EQ(terminal::lastScanHashMarker(folder), 65536u) << folder;
}

}  // namespace
