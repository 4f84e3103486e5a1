#include "image/image_digest.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "image_test_grid.h"

namespace varnok {
namespace {

using test::Block;
using test::GridOf;

std::string Hex(const std::array<std::uint8_t, 32>& bytes) {
  static const char* const kDigits = "0123456789abcdef";
  std::string text;
  for (const std::uint8_t byte : bytes) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 15];
  }
  return text;
}

Digest DigestOf(const std::string& bytes) {
  DigestStream stream;
  stream.Update(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  return stream.Finish();
}

TEST(DigestStream, MatchesPublishedValues) {
  const struct {
    const char* name;
    std::string bytes;
    std::uint64_t fill;  // that many more 'a'
    std::uint32_t crc32;
    const char* sha256;
  } cases[] = {
      {"nothing", "", 0, 0, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "abc", 0, 0x352441C2, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"a million a", "a", 999999, 0xDC25BFBC, "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  DigestStream stream;  // one stream for all: Finish starts anew
  for (const auto& c : cases) {
    stream.Update(reinterpret_cast<const std::uint8_t*>(c.bytes.data()), c.bytes.size());
    stream.Fill('a', c.fill);
    const Digest digest = stream.Finish();
    EXPECT_EQ(digest.crc, c.crc32) << c.name;
    EXPECT_EQ(Hex(digest.sha256), c.sha256) << c.name;
  }
}

// Every byte of the map's image, as DigestMap hands them to the sink.
DigestSink::Result DigestOfMap(const MapGrid& grid, std::uint8_t fill, CrcKind crc,
                               const std::vector<MemoryRegion>& regions = {}, const std::vector<bool>& wanted = {}) {
  DigestSink sink(fill, true, crc, regions, wanted);
  return DigestMap(grid, sink);
}

// Against the image written out whole, as a binary of it would hold it.
TEST(DigestMap, DigestsTheImageWithItsGapsFilled) {
  // Bytes of the image, then as many fill bytes.
  struct Piece {
    std::string bytes;
    std::uint64_t gap = 0;
  };
  const struct {
    const char* name;
    std::vector<Block> blocks;
    std::uint8_t fill;
    std::vector<Piece> image;
    std::vector<std::string> ranges;
  } cases[] = {
      {"one block", {{0x100, "abc"}}, 0xFF, {{"abc"}}, {"abc"}},
      {"gap", {{0x10, "ab"}, {0x14, "cd"}}, 0xFF, {{"ab", 2}, {"cd"}}, {"ab", "cd"}},
      {"other fill, blocks out of order", {{0x14, "cd"}, {0x10, "ab"}}, 0x00, {{"ab", 2}, {"cd"}}, {"ab", "cd"}},
      {"last write wins", {{0x20, "abcd"}, {0x21, "XY"}}, 0xFF, {{"aXYd"}}, {"aXYd"}},
      {"across pages", {{0xFFE, "abcd"}, {0x2000, "e"}}, 0xFF, {{"abcd", 0x2000 - 0x1002}, {"e"}}, {"abcd", "e"}},
      {"a record past 0xFFFFFFFF", {{0x100, "ab"}, {0xFFFFFFFE, "wxyz"}}, 0xFF,
       {{"yz", 0xFE}, {"ab", 0xFFFFFFFE - 0x102}, {"wx"}}, {"yz", "ab", "wx"}},
  };
  for (const auto& c : cases) {
    const std::optional<ImageDigest> digest = DigestOfMap(GridOf(c.blocks), c.fill, CrcKind::kCrc32).image;
    ASSERT_TRUE(digest) << c.name;
    DigestStream image;
    std::uint64_t size = 0;
    for (const Piece& piece : c.image) {
      image.Update(reinterpret_cast<const std::uint8_t*>(piece.bytes.data()), piece.bytes.size());
      image.Fill(c.fill, piece.gap);
      size += piece.bytes.size() + piece.gap;
    }
    EXPECT_EQ(digest->image, image.Finish()) << c.name;
    EXPECT_EQ(digest->range.Size(), size) << c.name;
    ASSERT_EQ(digest->ranges.size(), c.ranges.size()) << c.name;
    for (std::size_t i = 0; i < c.ranges.size(); ++i) {
      EXPECT_EQ(digest->ranges[i].digest, DigestOf(c.ranges[i])) << c.name << " range " << i;
      EXPECT_EQ(digest->ranges[i].range.Size(), c.ranges[i].size()) << c.name;
    }
  }
  EXPECT_FALSE(DigestOfMap(MapGrid(), 0xFF, CrcKind::kCrc32).image) << "no data";
}

// A region is digested from its start to its end, the bytes outside it left out and its gaps filled; one that
// begins with the image reads as the image does until the image leaves it.
TEST(DigestMap, DigestsEachRegionPaddedToItsEnd) {
  const std::vector<MemoryRegion> regions = {{"MID", 0x12, 0x10}, {"ALL", 0x00, 0x40}, {"ABOVE", 0x22, 0x100},
                                             {"FIRST", 0x10, 0x4},  {"IMAGE", 0x10, 0x12}, {"UNWANTED", 0x10, 0x10},
                                             {"EMPTY", 0x14, 0}};
  const std::vector<bool> wanted = {true, true, true, true, true, false, true};
  using Pieces = std::vector<std::pair<std::string, std::uint64_t>>;  // bytes, then as many fill bytes
  const struct {
    const char* name;
    std::vector<Block> blocks;
    std::vector<std::optional<Pieces>> regions;  // none: no digest
  } cases[] = {
      {"two blocks",
       {{0x10, "abcd"}, {0x20, "ef"}},
       {Pieces{{"cd", 12}, {"ef", 0}}, Pieces{{"", 0x10}, {"abcd", 12}, {"ef", 0x1E}}, std::nullopt,
        Pieces{{"abcd", 0}}, Pieces{{"abcd", 12}, {"ef", 0}}, std::nullopt, std::nullopt}},
      {"one region's bytes in many blocks",
       {{0x10, "ab"}, {0x12, "cd"}, {0x18, "e"}, {0x21, "f"}, {0x30, "g"}},
       {Pieces{{"cd", 4}, {"e", 8}, {"f", 0}}, Pieces{{"", 0x10}, {"abcd", 4}, {"e", 8}, {"f", 14}, {"g", 15}},
        Pieces{{"", 14}, {"g", 0xF1}}, Pieces{{"abcd", 0}}, Pieces{{"abcd", 4}, {"e", 8}, {"f", 0}}, std::nullopt, std::nullopt}},
      {"nothing", {}, {std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt,
                       std::nullopt}},
  };
  for (const auto& c : cases) {
    const std::vector<std::optional<Digest>> digests =
        DigestOfMap(GridOf(c.blocks), 0x5A, CrcKind::kCrc32c, regions, wanted).regions;
    ASSERT_EQ(digests.size(), regions.size()) << c.name;
    for (std::size_t i = 0; i < regions.size(); ++i) {
      ASSERT_EQ(digests[i].has_value(), c.regions[i].has_value()) << c.name << ", " << regions[i].name;
      if (!digests[i]) continue;
      DigestStream expected(CrcKind::kCrc32c);
      for (const auto& [bytes, gap] : *c.regions[i]) {
        expected.Update(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
        expected.Fill(0x5A, gap);
      }
      EXPECT_EQ(*digests[i], expected.Finish()) << c.name << ", " << regions[i].name;
    }
  }
}

}  // namespace
}  // namespace varnok
