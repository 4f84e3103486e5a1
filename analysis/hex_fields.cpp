#include "analysis/hex_fields.h"

#include <array>

namespace varnok {
namespace {

constexpr std::array<std::int8_t, 256> MakeDigitTable() {
  std::array<std::int8_t, 256> table{};
  for (auto& v : table) v = -1;
  for (int c = '0'; c <= '9'; ++c) table[c] = static_cast<std::int8_t>(c - '0');
  for (int c = 'a'; c <= 'f'; ++c) table[c] = static_cast<std::int8_t>(c - 'a' + 10);
  for (int c = 'A'; c <= 'F'; ++c) table[c] = static_cast<std::int8_t>(c - 'A' + 10);
  return table;
}

constexpr std::array<std::int8_t, 256> kDigit = MakeDigitTable();

// The value of a two-character field for every pair of characters, as HexToInt decodes it.
// Indexed by the first character plus 256 times the second.
constexpr std::array<std::uint16_t, 65536> MakePairTable() {
  std::array<std::uint16_t, 65536> table{};
  for (unsigned hi = 0; hi < 256; ++hi) {
    for (unsigned lo = 0; lo < 256; ++lo) {
      const unsigned v = (static_cast<std::uint8_t>(kDigit[hi]) << 4) | static_cast<std::uint8_t>(kDigit[lo]);
      table[hi | (lo << 8)] = static_cast<std::uint16_t>(v);
    }
  }
  return table;
}

// Built at start-up: too many steps for some compilers' constant evaluation.
const std::array<std::uint16_t, 65536> kPair = MakePairTable();

inline std::uint32_t Pair(const char* p) {
  const unsigned hi = static_cast<unsigned char>(p[0]);
  const unsigned lo = static_cast<unsigned char>(p[1]);
  return kPair[hi | (lo << 8)];
}

}  // namespace

int HexDigitValue(char c) { return kDigit[static_cast<unsigned char>(c)]; }

std::uint32_t HexToInt(const char* p, int n) {
  std::uint32_t result = 0;
  for (int i = 0; i < n; ++i) {
    result |= static_cast<std::uint8_t>(kDigit[static_cast<unsigned char>(p[i])]);
    if (i + 1 < n) result <<= 4;
  }
  return result;
}

bool ByteCountOk(std::int32_t byte_count, int line_length) { return byte_count == (line_length - 4) / 2; }

bool ChecksumOk(const char* p, std::int32_t m) {
  const std::int32_t n = m - 1;
  std::uint32_t sum = 0;
  for (std::int32_t k = 0; k < n; ++k) sum += Pair(p + 2 * k);
  sum += Pair(p + 2 * n);
  return (sum & 0xFF) == 0xFF;
}

void DecodeHexBytes(const char* p, std::int32_t count, std::uint8_t* out) {
  for (std::int32_t i = 0; i < count; ++i) out[i] = static_cast<std::uint8_t>(Pair(p + 2 * i));
}

}  // namespace varnok
