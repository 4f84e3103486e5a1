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

// Against the image written out whole, as a binary of it would hold it.
TEST(DigestImage, DigestsTheImageWithItsGapsFilled) {
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
    const std::optional<ImageDigest> digest = DigestImage(GridOf(c.blocks), c.fill, true);
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
  EXPECT_FALSE(DigestImage(MapGrid(), 0xFF, false)) << "no data";
}

// A region is digested from its start to its end, the bytes outside it left out and its gaps filled.
TEST(DigestRegion, DigestsTheRegionPaddedToItsEnd) {
  const std::vector<Block> blocks = {{0x10, "abcd"}, {0x20, "ef"}};
  const struct {
    std::uint32_t origin;
    std::uint64_t length;
    std::vector<std::pair<std::string, std::uint64_t>> image;  // bytes, then as many fill bytes; none: no data
  } cases[] = {
      {0x12, 0x10, {{"cd", 12}, {"ef", 0}}},
      {0x00, 0x40, {{"", 0x10}, {"abcd", 12}, {"ef", 0x1E}}},
      {0x22, 0x100, {}},
  };
  const MapGrid grid = GridOf(blocks);
  for (const auto& c : cases) {
    const std::optional<Digest> digest = DigestRegion(grid, c.origin, c.length, 0x5A, CrcKind::kCrc32c);
    ASSERT_EQ(digest.has_value(), !c.image.empty()) << c.origin;
    if (!digest) continue;
    DigestStream expected(CrcKind::kCrc32c);
    for (const auto& [bytes, gap] : c.image) {
      expected.Update(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
      expected.Fill(0x5A, gap);
    }
    EXPECT_EQ(*digest, expected.Finish()) << c.origin;
  }
}

// The sink digests what the map does while the records come up the addresses, and gives up on any it cannot place.
TEST(DigestSink, AgreesWithTheMapOrGivesUp) {
  const std::vector<MemoryRegion> regions = {{"ROM", 0x10, 0x20}, {"LOW", 0, 0x12}, {"HIGH", 0xF0, 0x20},
                                             {"NONE", 0x40, 0x10}};
  const struct {
    const char* name;
    std::vector<Block> blocks;
    bool in_order;
  } cases[] = {
      {"runs, gaps, regions cut", {{0x08, "abcdefghij"}, {0x12, "kl"}, {0x20, "mn"}, {0x3F, "op"}}, true},
      {"a region read as the image is", {{0x10, "ab"}, {0x14, "cd"}}, true},
      {"the image leaves a region read as it", {{0x10, "ab"}, {0x100, "yz"}}, true},
      {"up to 0xFFFFFFFF", {{0xFFFFFFF0, "ab"}, {0xFFFFFFFE, "yz"}}, true},
      {"nothing", {}, true},
      {"back", {{0x20, "ab"}, {0x10, "cd"}}, false},
      {"overlap", {{0x20, "ab"}, {0x21, "cd"}}, false},
      {"past 0xFFFFFFFF", {{0xFFFFFFFE, "wxyz"}}, false},
  };
  for (const auto& c : cases) {
    DigestSink sink(0x5A, true, CrcKind::kCrc32Mpeg2, regions, {true, true, true, false});
    for (const Block& block : c.blocks) {
      ASSERT_TRUE(sink.Take(block.address, static_cast<std::int32_t>(block.bytes.size()),
                            reinterpret_cast<const std::uint8_t*>(block.bytes.data())));
    }
    ASSERT_EQ(sink.GaveUp(), !c.in_order) << c.name;
    if (!c.in_order) continue;
    const MapGrid grid = GridOf(c.blocks);
    const DigestSink::Result result = sink.Finish();
    const std::optional<ImageDigest>& image = result.image;
    const std::optional<ImageDigest> expected = DigestImage(grid, 0x5A, true, CrcKind::kCrc32Mpeg2);
    ASSERT_EQ(image.has_value(), expected.has_value()) << c.name;
    if (image) {
      EXPECT_EQ(image->image, expected->image) << c.name;
      EXPECT_EQ(image->range, expected->range) << c.name;
      ASSERT_EQ(image->ranges.size(), expected->ranges.size()) << c.name;
      for (std::size_t i = 0; i < image->ranges.size(); ++i) {
        EXPECT_EQ(image->ranges[i].range, expected->ranges[i].range) << c.name << " range " << i;
        EXPECT_EQ(image->ranges[i].digest, expected->ranges[i].digest) << c.name << " range " << i;
      }
    }
    const std::vector<std::optional<Digest>>& digests = result.regions;
    ASSERT_EQ(digests.size(), regions.size()) << c.name;
    for (std::size_t i = 0; i < regions.size(); ++i) {
      const std::optional<Digest> region =
          i == 3 ? std::nullopt : DigestRegion(grid, regions[i].origin, regions[i].length, 0x5A, CrcKind::kCrc32Mpeg2);
      EXPECT_EQ(digests[i], region) << c.name << " region " << regions[i].name;
    }
  }
}

}  // namespace
}  // namespace varnok
