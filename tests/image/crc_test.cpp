#include "image/crc.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "analysis/cpu_features.h"
#include "crc_variants.h"
#include "support/srec_builder.h"

namespace varnok {
namespace {

// A bit-at-a-time CRC with the catalogue's parameters, written apart from the tables under test.
struct Model {
  int width;
  std::uint32_t poly, init;
  bool reflected;
  std::uint32_t xorout;
};

std::uint32_t Reflect(std::uint32_t value, int bits) {
  std::uint32_t out = 0;
  for (int i = 0; i < bits; ++i) out |= ((value >> i) & 1u) << (bits - 1 - i);
  return out;
}

std::uint32_t Reference(const Model& m, const std::vector<std::uint8_t>& bytes) {
  const std::uint64_t top = std::uint64_t{1} << (m.width - 1);
  const std::uint64_t mask = (top << 1) - 1;
  std::uint64_t crc = m.init;
  for (std::uint8_t byte : bytes) {
    const std::uint32_t in = m.reflected ? Reflect(byte, 8) : byte;
    crc ^= std::uint64_t{in} << (m.width - 8);
    for (int bit = 0; bit < 8; ++bit) crc = (crc & top) != 0 ? ((crc << 1) ^ m.poly) & mask : (crc << 1) & mask;
  }
  const std::uint32_t out = m.reflected ? Reflect(static_cast<std::uint32_t>(crc), m.width) : static_cast<std::uint32_t>(crc);
  return out ^ m.xorout;
}

TEST(Crc, MatchesTheCatalogueAndABitwiseReference) {
  const struct {
    const char* name;
    Model model;
    std::uint32_t check;  // the catalogue's CRC of "123456789": it vouches for the reference, which vouches for the streams
  } cases[] = {
      {"crc32", {32, 0x04C11DB7, 0xFFFFFFFF, true, 0xFFFFFFFF}, 0xCBF43926},
      {"crc32c", {32, 0x1EDC6F41, 0xFFFFFFFF, true, 0xFFFFFFFF}, 0xE3069283},
      {"crc32-mpeg2", {32, 0x04C11DB7, 0xFFFFFFFF, false, 0}, 0x0376E6E7},
      {"crc16-ccitt", {16, 0x1021, 0xFFFF, false, 0}, 0x29B1},
  };
  const std::string digits = "123456789";
  unsigned seed = 7;
  std::vector<std::uint8_t> data(1000);
  for (std::uint8_t& byte : data) byte = static_cast<std::uint8_t>(test::NextRandom(seed));
  for (const auto& c : cases) {
    const CrcKind kind = CrcKindNamed(c.name).value();
    EXPECT_EQ(CrcKindName(kind), c.name);
    EXPECT_EQ(Reference(c.model, {digits.begin(), digits.end()}), c.check) << c.name;
    for (const std::size_t length : {0, 1, 3, 4, 7, 9, 64, 999, 1000}) {
      // crc32-mpeg2 streams little-endian words, the last one padded: the reference sees them byte-swapped.
      const bool words = kind == CrcKind::kCrc32Mpeg2;
      std::vector<std::uint8_t> seen(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(length));
      if (words) {
        seen.resize((length + 3) / 4 * 4, 0xA5);
        for (std::size_t i = 0; i < seen.size(); i += 4) std::swap(seen[i], seen[i + 3]), std::swap(seen[i + 1], seen[i + 2]);
      }
      // Fed in uneven pieces, so that words and groups of eight straddle the calls.
      CrcStream stream(kind, 0xA5);
      for (std::size_t at = 0, piece = 1; at < length; at += piece, piece = piece % 13 + 2) {
        stream.Update(data.data() + at, std::min(piece, length - at));
      }
      EXPECT_EQ(stream.Value(), Reference(c.model, seen)) << c.name << ", " << length << " bytes";
      // Every CRC-32C variant the CPU has, not only the one its dispatcher picks.
      if (kind != CrcKind::kCrc32c) continue;
      EXPECT_EQ(~Crc32cTable(0xFFFFFFFF, data.data(), length), Reference(c.model, seen)) << length << " bytes";
#if defined(__x86_64__)
      if (CpuHasSse42()) {
        EXPECT_EQ(~Crc32cSse42(0xFFFFFFFF, data.data(), length), Reference(c.model, seen)) << length << " bytes";
      }
#endif
    }
  }
  EXPECT_FALSE(CrcKindNamed("crc64"));
}

}  // namespace
}  // namespace varnok
