#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "about/version_block.h"
#include "about/version_info.h"
#include "about/version_resource.h"

namespace varnok {
namespace {

using Strings = std::array<std::string, 10>;

// What the build embeds in this test executable.
const Strings kOwnStrings = {
    "The Varnok developers",
    "Motorola S-record file validator",
    "1.0.1.18",
    "varnok_version_tests",
    "Copyright (C) The Varnok developers",
    "",
    "varnok_version_tests",
    "Varnok",
    "1.0.1.18",
    "Validates and summarises Motorola S-record files",
};

std::filesystem::path TempDir() {
  static const std::filesystem::path dir = [] {
    std::filesystem::path path = std::filesystem::temp_directory_path() / "varnok_version_tests";
    std::filesystem::create_directories(path);
    std::ofstream(path / "notes.txt") << "not an executable\n";
    return path;
  }();
  return dir;
}

struct FileCase {
  const char* name;
  std::string file;
  Strings expected;
};

void PrintTo(const FileCase& c, std::ostream* os) { *os << c.name; }

class ReadVersionInfoTest : public testing::TestWithParam<FileCase> {};

TEST_P(ReadVersionInfoTest, ReadsTheStringsOfTheFirstTranslation) {
  EXPECT_EQ(ReadVersionInfo(GetParam().file).strings, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Files, ReadVersionInfoTest,
    testing::Values(
        FileCase{"OwnExecutable", VARNOK_TEST_SELF, kOwnStrings},
        FileCase{"RunningExecutable", kRunningExecutable, kOwnStrings},
        FileCase{"ElfWithoutSection", VARNOK_FIXTURE_PLAIN, {}},
        FileCase{"SystemElfWithoutSection", "/bin/true", {}},
        FileCase{"NotAnElfFile", (TempDir() / "notes.txt").string(), {}},
        FileCase{"FirstTranslationWithoutTable", VARNOK_FIXTURE_FOREIGN_TRANSLATION, {}},
        FileCase{"MissingKeys", VARNOK_FIXTURE_MISSING_KEY,
                 {"Fixture Company", "Fixture", "2.3.4.5", "", "None", "None", "fixture", "Fixture Product", "2.3",
                  ""}},
        FileCase{"NonexistentFileReadsRunningExecutable", (TempDir() / "no such file").string(), kOwnStrings},
        FileCase{"FolderReadsRunningExecutable", TempDir().string(), kOwnStrings},
        FileCase{"EmptyNameReadsRunningExecutable", "", kOwnStrings}),
    [](const testing::TestParamInfo<FileCase>& param) { return std::string(param.param.name); });

TEST(VersionResourceTest, OwnBlockCarriesTranslation040704E4) {
  const std::uint32_t size = GetFileVersionInfoSize(VARNOK_TEST_SELF);
  ASSERT_GT(size, 0u);
  std::vector<std::uint8_t> buffer(size);
  ASSERT_TRUE(GetFileVersionInfo(VARNOK_TEST_SELF, size, buffer.data()));

  const std::uint8_t* value = nullptr;
  std::uint32_t length = 0;
  ASSERT_TRUE(VerQueryValue(buffer, "\\VarFileInfo\\Translation", &value, &length));
  EXPECT_EQ(std::vector<std::uint8_t>(value, value + length), (std::vector<std::uint8_t>{0x07, 0x04, 0xE4, 0x04}));
  ASSERT_TRUE(VerQueryValue(buffer, "\\stringfileinfo\\040704e4\\FILEVERSION", &value, &length));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(value), length), std::string("1.0.1.18", 9));
}

TEST(VersionFieldTest, IndexOutsideTheTableGivesFileVersion) {
  VersionInfo info;
  info.strings = kOwnStrings;
  EXPECT_EQ(VersionField(info, 9), kOwnStrings[9]);
  for (int index : {10, -1, 11, INT_MAX, INT_MIN}) EXPECT_EQ(VersionField(info, index), "1.0.1.18") << index;
}

// A block built at run time, for the damaged-block cases.
std::vector<std::uint8_t> SampleBlock() {
  static constexpr VersionString kStrings[] = {{"FileVersion", "1.0.1.18"}, {"ProductName", "Varnok"}};
  static constexpr VersionTranslation kTranslations[] = {{0x0407, 0x04E4}};
  static constexpr VersionStringTable kTables[] = {{kTranslations[0], kStrings}};
  return BuildVersionBlock(VersionBlockContents{kTranslations, kTables});
}

std::size_t Find(const std::vector<std::uint8_t>& block, const std::string& text) {
  const auto at = std::search(block.begin(), block.end(), text.begin(), text.end());
  return static_cast<std::size_t>(at - block.begin());
}

TEST(ReadVersionBlockTest, DamagedBlocks) {
  const std::vector<std::uint8_t> intact = SampleBlock();
  ASSERT_EQ(ReadVersionBlock(intact).strings[2], "1.0.1.18");

  struct Case {
    const char* name;
    void (*damage)(std::vector<std::uint8_t>&);
    std::string file_version;
    std::string product_name;
  };
  const Case cases[] = {
      {"TextWithoutItsByteZeroEndsWithItsValue",
       [](std::vector<std::uint8_t>& b) { b[Find(b, "1.0.1.18") + 8] = 'X'; }, "1.0.1.18X", "Varnok"},
      {"StringLongerThanItsTable",
       [](std::vector<std::uint8_t>& b) { b[Find(b, "FileVersion") - 4] = 0xFF; }, "", ""},
      {"ValueLongerThanItsNode",
       [](std::vector<std::uint8_t>& b) { b[Find(b, "ProductName") - 2] = 0x40; }, "1.0.1.18", ""},
      {"RootKeyIsNotVersionInfo", [](std::vector<std::uint8_t>& b) { b[4] = 'X'; }, "", ""},
      {"TranslationListEmpty",
       [](std::vector<std::uint8_t>& b) { b[Find(b, "Translation") - 2] = 0; }, "", ""},
      {"TranslationListShorterThanOneEntry",
       [](std::vector<std::uint8_t>& b) { b[Find(b, "Translation") - 2] = 2; }, "", ""},
      {"TruncatedBlock", [](std::vector<std::uint8_t>& b) { b.resize(b.size() - 1); }, "", ""},
  };
  for (const Case& c : cases) {
    std::vector<std::uint8_t> block = intact;
    c.damage(block);
    const VersionInfo info = ReadVersionBlock(block);
    EXPECT_EQ(info.strings[2], c.file_version) << c.name;
    EXPECT_EQ(info.strings[7], c.product_name) << c.name;
  }
}

TEST(ReadVersionBlockTest, AnyDamagedByteOrLengthStaysInsideTheBlock) {
  const std::vector<std::uint8_t> intact = SampleBlock();
  for (std::size_t size = 0; size < intact.size(); ++size) {
    const std::vector<std::uint8_t> prefix(intact.begin(), intact.begin() + static_cast<std::ptrdiff_t>(size));
    EXPECT_EQ(ReadVersionBlock(prefix).strings, Strings{}) << size;
  }
  for (std::size_t at = 0; at < intact.size(); ++at) {
    for (std::uint8_t byte : {std::uint8_t{0x00}, std::uint8_t{0x03}, std::uint8_t{0xFF}}) {
      std::vector<std::uint8_t> block = intact;
      block[at] = byte;
      for (const std::string& text : ReadVersionBlock(block).strings) EXPECT_LE(text.size(), 9u) << at;
    }
  }
}

}  // namespace
}  // namespace varnok
