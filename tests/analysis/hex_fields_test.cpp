#include "analysis/hex_fields.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "both_paths.h"

namespace varnok {
namespace {

TEST(HexDigitValue, EveryCharacter) {
  for (int c = 0; c < 256; ++c) {
    int expected = -1;
    if (c >= '0' && c <= '9') expected = c - '0';
    if (c >= 'a' && c <= 'f') expected = c - 'a' + 10;
    if (c >= 'A' && c <= 'F') expected = c - 'A' + 10;
    EXPECT_EQ(HexDigitValue(static_cast<char>(c)), expected) << "character " << c;
  }
}

TEST(HexToInt, DecodesFields) {
  const struct {
    std::string text;
    std::uint32_t value;
  } cases[] = {
      {"", 0},           {"ff", 0xFF},        {"FF", 0xFF},         {"0a", 0x0A},
      {"G1", 0xFF1},     {"1G", 0xFF},        {"12G4", 0x1FF4},     {"FFFFFFFF", 0xFFFFFFFF},
      {"GG", 0xFFF},     {"0000", 0},         {"1234abCD", 0x1234ABCD},
      {std::string("1\0", 2), 0xFF},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(HexToInt(c.text.data(), static_cast<int>(c.text.size())), c.value) << c.text;
  }
}

class RecordChecks : public BothPaths {};
INSTANTIATE_TEST_SUITE_P(Paths, RecordChecks, ::testing::Bool(), PathName);

// A line passes when its count equals (L - 4) / 2, truncated toward zero, and its bytes sum to 0xFF.
TEST_P(RecordChecks, ByteCountAndChecksum) {
  const struct {
    std::string line;
    bool count_ok;
    bool checksum_ok;
  } cases[] = {
      {"S00600004844521B", true, true},
      {"S00600004844521C", true, false},
      {"S00600004844521B ", true, true},
      {"S00600004844521B  ", false, true},
      {"S100", true, false},
      {"s00600004844521b", true, true},
      {"S1130000000102030405060708090A0B0C0D0E0F74", true, true},
      {"S9030000FC", true, true},
      {"S701FE", true, true},
  };
  for (const auto& c : cases) {
    const std::int32_t n = static_cast<std::int32_t>(HexToInt(c.line.data() + 2, 2));
    EXPECT_EQ(ByteCountOk(n, static_cast<int>(c.line.size())), c.count_ok) << c.line;
    if (c.count_ok) {
      EXPECT_EQ(ChecksumOk(c.line.data() + 2, n + 1), c.checksum_ok) << c.line;
    }
  }
}

// The checksum and the decoded bytes of runs of every length, with and without characters that are not hex digits
// in every part of the run, agree with the pair-by-pair field values.
TEST_P(RecordChecks, ChecksumAndBytesAgreeWithTheDigitRulesForEveryLength) {
  unsigned seed = 7;
  auto next = [&seed] {
    seed = seed * 1103515245u + 12345u;
    return seed >> 16;
  };
  const std::string digits = "0123456789abcdefABCDEF";
  for (int m = 1; m <= 256; ++m) {
    for (int variant = 0; variant < 24; ++variant) {
      std::string run(static_cast<std::size_t>(2 * m), '0');
      for (char& c : run) c = digits[next() % digits.size()];
      if (variant % 3 == 1) run[next() % run.size()] = static_cast<char>("Gg /:@`\x00\xFF"[next() % 9]);
      unsigned sum = 0;
      for (int k = 0; k < m; ++k) sum += HexToInt(run.data() + 2 * k, 2);
      // Make the run pass in some variants, so both answers are exercised.
      if (variant % 2 == 0) {
        const unsigned last = HexToInt(run.data() + 2 * (m - 1), 2) & 0xFF;
        const unsigned wanted = (0xFF - (sum - last)) & 0xFF;
        static const char kHex[] = "0123456789ABCDEF";
        run[2 * (m - 1)] = kHex[wanted >> 4];
        run[2 * (m - 1) + 1] = kHex[wanted & 0xF];
        sum = 0;
        for (int k = 0; k < m; ++k) sum += HexToInt(run.data() + 2 * k, 2);
      }
      ASSERT_EQ(ChecksumOk(run.data(), m), (sum & 0xFF) == 0xFF) << "m=" << m << " run=" << run;
      std::vector<std::uint8_t> bytes(static_cast<std::size_t>(m));
      DecodeHexBytes(run.data(), m, bytes.data());
      for (int k = 0; k < m; ++k) {
        ASSERT_EQ(bytes[static_cast<std::size_t>(k)], HexToInt(run.data() + 2 * k, 2) & 0xFF) << "m=" << m << " run=" << run;
      }
    }
  }
}

TEST(ByteCount, ShortLinesTruncateTowardZero) {
  EXPECT_TRUE(ByteCountOk(0, 3));
  EXPECT_TRUE(ByteCountOk(-1, 2));
  EXPECT_TRUE(ByteCountOk(-1, 1));
  EXPECT_TRUE(ByteCountOk(3, 11));
}

}  // namespace
}  // namespace varnok
