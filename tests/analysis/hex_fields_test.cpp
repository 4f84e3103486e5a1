#include "analysis/hex_fields.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <ostream>
#include <string>
#include <vector>

#include "byte_scan.h"
#include "analysis/cpu_features.h"
#include "hex_fields_variants.h"
#include "support/srec_builder.h"

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

struct Variant {
  const char* name;
  bool available;
  bool (*checksum_ok)(const char*, std::int32_t);
  std::size_t (*whole_data_records)(const char*, std::size_t, WholeRecord*, std::size_t, std::uint8_t*);
  void (*decode_hex_bytes)(const char*, std::int32_t, std::uint8_t*);
  std::size_t (*find_either_byte)(const char*, std::size_t, char, char);

  friend void PrintTo(const Variant& variant, std::ostream* out) { *out << variant.name; }
};

std::vector<Variant> Variants() {
  return {
      {"Scalar", true, ChecksumOkScalar, WholeDataRecordsScalar, DecodeHexBytesScalar, FindEitherByteScalar},
#if defined(__x86_64__)
      {"Avx2", CpuHasAvx2(), ChecksumOkAvx2, WholeDataRecordsAvx2, DecodeHexBytesAvx2, FindEitherByteAvx2},
#endif
  };
}

// Every variant of the vectorised functions answers every case of one table; a variant the CPU lacks is skipped.
class Vectorised : public ::testing::TestWithParam<Variant> {
 protected:
  void SetUp() override {
    if (!GetParam().available) GTEST_SKIP() << "the CPU lacks " << GetParam().name;
  }
};
INSTANTIATE_TEST_SUITE_P(Variants, Vectorised, ::testing::ValuesIn(Variants()),
                         [](const ::testing::TestParamInfo<Variant>& variant) { return std::string(variant.param.name); });

// A line passes when its count equals (L - 4) / 2, truncated toward zero, and its bytes sum to 0xFF.
TEST_P(Vectorised, ByteCountAndChecksum) {
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
      EXPECT_EQ(GetParam().checksum_ok(c.line.data() + 2, n + 1), c.checksum_ok) << c.line;
    }
  }
}

// The checksum and the decoded bytes of runs of every length, with and without characters that are not hex digits
// in every part of the run, agree with the pair-by-pair field values.
TEST_P(Vectorised, ChecksumAndBytesAgreeWithTheDigitRulesForEveryLength) {
  unsigned seed = 7;
  auto next = [&seed] { return test::NextRandom(seed); };
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
      ASSERT_EQ(GetParam().checksum_ok(run.data(), m), (sum & 0xFF) == 0xFF) << "m=" << m << " run=" << run;
      std::vector<std::uint8_t> bytes(static_cast<std::size_t>(m));
      GetParam().decode_hex_bytes(run.data(), m, bytes.data());
      for (int k = 0; k < m; ++k) {
        ASSERT_EQ(bytes[static_cast<std::size_t>(k)], HexToInt(run.data() + 2 * k, 2) & 0xFF) << "m=" << m << " run=" << run;
      }
    }
  }
}

// The whole data records read from the front of a text stop at the first line that the general reading would read
// otherwise or that lacks the length for the fast checks; a line that the general reading accepts may still stop it.
TEST_P(Vectorised, WholeDataRecordsStopWhereTheGeneralReadingDiffers) {
  const std::string s1_12 = test::Record(1, 0x3000, std::string(12, 'a'));    // byte count 15
  const std::string s2_251 = test::Record(2, 0x3100, std::string(251, 'b'));  // byte count 255
  const std::string s3 = test::Record(3, 0x12345678, std::string(40, 'c'));
  std::string lower = s2_251;
  std::transform(lower.begin() + 2, lower.end(), lower.begin() + 2,
                 [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
  // "GF" reads as 0xFFF by the general rules, 0x9E more than the "61" it replaces; "C3" in place of the next "61"
  // makes up for it, so the general reading accepts the line.
  std::string not_hex = s1_12;
  not_hex.replace(10, 4, "GFC3");
  std::string count_not_hex = s1_12;
  count_not_hex.replace(2, 2, "0G");
  std::string lower_s = s1_12;
  lower_s[0] = 's';
  std::string bad_checksum = s1_12;
  bad_checksum.back() = bad_checksum.back() == '0' ? '1' : '0';
  const WholeRecord a{0x3000, static_cast<std::uint32_t>(s1_12.size())};
  const WholeRecord b{0x3100, static_cast<std::uint32_t>(s2_251.size())};
  const WholeRecord c{0x12345678, static_cast<std::uint32_t>(s3.size())};
  const struct {
    const char* name;
    std::string text;
    std::size_t max;
    std::vector<WholeRecord> records;
  } cases[] = {
      {"S1, S2, S3", test::Lines({s1_12, s2_251, s3}), 64, {a, b, c}},
      {"at most max", test::Lines({s1_12, s2_251, s3}), 2, {a, b}},
      {"lower-case digits", test::Lines({lower, s1_12}), 64, {b, a}},
      {"byte count 14", test::Lines({test::Record(1, 0x3000, std::string(11, 'a')), s1_12}), 64, {}},
      {"not a hex digit", test::Lines({s1_12, not_hex, s1_12}), 64, {a}},
      {"byte count not hex", test::Lines({s1_12, count_not_hex}), 64, {a}},
      {"bad checksum", test::Lines({s1_12, bad_checksum}), 64, {a}},
      {"longer than its byte count", test::Lines({s1_12, s1_12 + "00"}), 64, {a}},
      {"CR LF", s1_12 + "\r\n", 64, {}},
      {"no line feed at the end", s1_12 + "\n" + s1_12, 64, {a}},
      {"other records", test::Lines({test::Record(0, 0, std::string(20, 'h')), s1_12}), 64, {}},
      {"lower-case s", test::Lines({lower_s}), 64, {}},
  };
  for (const auto& t : cases) {
    std::vector<WholeRecord> records(t.max);
    records.resize(GetParam().whole_data_records(t.text.data(), t.text.size(), records.data(), t.max, nullptr));
    ASSERT_EQ(records.size(), t.records.size()) << t.name;
    // Asked to, they decode each record they vouch for, its byte count to its checksum.
    std::vector<std::uint8_t> bytes(t.max * kWholeRecordBytes);
    EXPECT_EQ(GetParam().whole_data_records(t.text.data(), t.text.size(), records.data(), t.max, bytes.data()),
              records.size()) << t.name;
    std::size_t line = 0;
    for (std::size_t i = 0; i < records.size(); ++i) {
      EXPECT_EQ(records[i].address, t.records[i].address) << t.name << " " << i;
      EXPECT_EQ(records[i].length, t.records[i].length) << t.name << " " << i;
      std::vector<std::uint8_t> expected(records[i].length / 2 - 1);
      DecodeHexBytesScalar(t.text.data() + line + 2, static_cast<std::int32_t>(expected.size()), expected.data());
      EXPECT_TRUE(std::equal(expected.begin(), expected.end(), bytes.begin() + i * kWholeRecordBytes))
          << t.name << " " << i;
      line += records[i].length + 1;
    }
  }
}

// The first of two bytes within the n bytes, wherever it lies in a 32-byte step; the bytes past the end, which here
// hold both, are ignored.
TEST_P(Vectorised, FindEitherByteStopsAtTheFirstOfTwoBytesWithinTheEnd) {
  const struct {
    std::string text;
    std::size_t found;
  } cases[] = {
      {"", 0},
      {"S1\r\n", 2},
      {std::string(31, 'x') + "\n", 31},
      {std::string(32, 'x') + "\r", 32},
      {std::string(33, '\0') + "\n\r", 33},
      {std::string(100, '\xFF'), 100},
  };
  for (const auto& c : cases) {
    const std::string padded = c.text + std::string(32, '\n');
    EXPECT_EQ(GetParam().find_either_byte(padded.data(), c.text.size(), '\n', '\r'), c.found) << c.text.size();
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
