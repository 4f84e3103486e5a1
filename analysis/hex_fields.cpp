#include "analysis/hex_fields.h"

#include <array>

#include "analysis/cpu_features.h"
#include "hex_fields_variants.h"
#include "text/hex_digit.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace varnok {
namespace {

constexpr const std::array<std::int8_t, 256>& kDigit = kHexDigitValues;

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
  // Each character ORs into its own place, so whole pairs can be looked up and ORed in at once.
  if (n == 8) return Pair(p) << 24 | Pair(p + 2) << 16 | Pair(p + 4) << 8 | Pair(p + 6);
  if (n == 6) return Pair(p) << 16 | Pair(p + 2) << 8 | Pair(p + 4);
  if (n == 4) return Pair(p) << 8 | Pair(p + 2);
  if (n == 2) return Pair(p);
  std::uint32_t result = 0;
  for (int i = 0; i < n; ++i) {
    result |= static_cast<std::uint8_t>(kDigit[static_cast<unsigned char>(p[i])]);
    if (i + 1 < n) result <<= 4;
  }
  return result;
}

bool ByteCountOk(std::int32_t byte_count, int line_length) { return byte_count == (line_length - 4) / 2; }

namespace {

// The length without its line feed of the S1, S2 or S3 record at line, among the n characters there, when its byte
// count (15 to 255) puts a line feed at its end within them; else 0. Its checksum and its digits are not checked.
inline std::size_t WholeRecordLength(const char* line, std::size_t n) {
  if (n < 4 || line[0] != 'S' || line[1] < '1' || line[1] > '3') return 0;
  // A byte count field with a character that is not a hex digit reads above 255, or fails the digit check later.
  const std::uint32_t byte_count = Pair(line + 2);
  if (byte_count < 15 || byte_count > 255) return 0;
  const std::size_t length = 4 + 2 * std::size_t{byte_count};
  return length < n && line[length] == '\n' ? length : 0;
}

inline WholeRecord Whole(const char* line, std::size_t length) {
  return {HexToInt(line + 4, 2 * (line[1] - '0' + 1)), static_cast<std::uint32_t>(length)};
}

#if defined(__x86_64__)
// Digit values of the characters summed so far, in the first and in the second place of each pair.
// A byte lane takes at most 15 per load; runs are at most 520 characters (17 loads), so lanes never
// overflow before they are added up.
struct PairSums {
  __m256i digits;
  int invalid;
};

// The digit values of 32 characters, and in `fine` all ones where a character is a hex digit.
__attribute__((target("avx2"), always_inline)) inline __m256i DigitValues(const char* at, __m256i& fine) {
  const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
  const __m256i digit = _mm256_sub_epi8(c, _mm256_set1_epi8('0'));
  const __m256i is_digit = _mm256_cmpeq_epi8(_mm256_min_epu8(digit, _mm256_set1_epi8(9)), digit);
  const __m256i letter = _mm256_sub_epi8(_mm256_or_si256(c, _mm256_set1_epi8(0x20)), _mm256_set1_epi8('a'));
  const __m256i is_letter = _mm256_cmpeq_epi8(_mm256_min_epu8(letter, _mm256_set1_epi8(5)), letter);
  fine = _mm256_or_si256(is_digit, is_letter);
  return _mm256_blendv_epi8(_mm256_add_epi8(letter, _mm256_set1_epi8(10)), digit, is_digit);
}

// Adds the characters of one 32-character load whose bytes are selected by keep (all ones or zero).
// With `out`, also writes the 16 bytes the load's pairs make there, whatever keep says.
__attribute__((target("avx2"), always_inline)) inline void AddChunk(const char* at, const __m256i& keep,
                                                                  PairSums& sums, std::uint8_t* out) {
  __m256i fine;
  const __m256i value = DigitValues(at, fine);
  sums.invalid |= static_cast<int>(static_cast<unsigned>(_mm256_movemask_epi8(_mm256_andnot_si256(fine, keep))));
  sums.digits = _mm256_add_epi8(sums.digits, _mm256_and_si256(value, keep));
  if (out != nullptr) {
    const __m256i pairs = _mm256_maddubs_epi16(value, _mm256_set1_epi16(0x0110));
    const __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi16(pairs, pairs), 0x08);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_castsi256_si128(packed));
  }
}

// Decodes the pairs of 32 hex digits into 16 bytes; false, with nothing written, when one is not a hex digit.
__attribute__((target("avx2"), always_inline)) inline bool DecodeSixteenAvx2(const char* p, std::uint8_t* out) {
  __m256i fine;
  const __m256i value = DigitValues(p, fine);
  if (_mm256_movemask_epi8(fine) != -1) return false;
  // Each pair is 16 times its first digit plus its second; the two halves' eight bytes are then put together.
  const __m256i pairs = _mm256_maddubs_epi16(value, _mm256_set1_epi16(0x0110));
  const __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi16(pairs, pairs), 0x08);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_castsi256_si128(packed));
  return true;
}

__attribute__((target("avx2"), always_inline)) inline std::uint32_t Total(const __m256i& v) {
  const __m256i sad = _mm256_sad_epu8(v, _mm256_setzero_si256());
  const __m128i folded = _mm_add_epi64(_mm256_castsi256_si128(sad), _mm256_extracti128_si256(sad, 1));
  return static_cast<std::uint32_t>(_mm_cvtsi128_si64(folded) + _mm_extract_epi64(folded, 1));
}

// Sums the bytes of an all-hex run of `chars` characters (32 to 520, even) as 16 times the sum of
// the high digits plus the sum of the low digits, and with `out` writes the bytes there. Returns false when a
// character is not a hex digit, so that the caller takes the character-by-character path with its rules for such
// characters. Every load stays inside the run.
__attribute__((target("avx2"), always_inline)) inline bool SumHexPairsInline(const char* p, std::size_t chars,
                                                                           std::uint32_t& sum,
                                                                           std::uint8_t* out = nullptr) {
  PairSums sums{_mm256_setzero_si256(), 0};
  const __m256i all = _mm256_set1_epi8(-1);
  std::size_t offset = 0;
  for (; offset + 32 <= chars; offset += 32) AddChunk(p + offset, all, sums, out != nullptr ? out + offset / 2 : out);
  if (offset < chars) {
    // The rest in one load that ends at the last character; the part already summed is masked off.
    const std::size_t start = chars - 32;
    const __m256i positions = _mm256_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18,
                                               19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31);
    const __m256i first_new = _mm256_set1_epi8(static_cast<char>(offset - start - 1));
    // The bytes it writes again are the same.
    AddChunk(p + start, _mm256_cmpgt_epi8(positions, first_new), sums, out != nullptr ? out + start / 2 : out);
  }
  if (sums.invalid != 0) return false;
  const __m256i first_places = _mm256_set1_epi16(0x00FF);
  sum = 16 * Total(_mm256_and_si256(sums.digits, first_places)) + Total(_mm256_andnot_si256(first_places, sums.digits));
  return true;
}

#endif

}  // namespace

bool ChecksumOkScalar(const char* p, std::int32_t m) {
  std::uint32_t sum = 0;
  for (std::int32_t k = 0; k < m; ++k) sum += Pair(p + 2 * k);
  return (sum & 0xFF) == 0xFF;
}

RecordChecksum ChecksumOf(const char* p, std::int32_t m) {
  std::uint32_t sum = 0;
  for (std::int32_t k = 0; k + 1 < m; ++k) sum += Pair(p + 2 * k);
  return RecordChecksum{static_cast<std::uint8_t>(Pair(p + 2 * (m - 1))), static_cast<std::uint8_t>(0xFF - (sum & 0xFF))};
}

std::size_t WholeDataRecordsScalar(const char* p, std::size_t n, WholeRecord* records, std::size_t max,
                                   std::uint8_t* bytes) {
  std::size_t count = 0;
  std::size_t at = 0;
  while (count < max) {
    const char* line = p + at;
    const std::size_t length = WholeRecordLength(line, n - at);
    if (length == 0) break;
    std::uint32_t sum = 0;
    bool digits = true;
    for (std::size_t k = 2; k < length; k += 2) {
      digits = digits && kDigit[static_cast<unsigned char>(line[k])] >= 0 &&
               kDigit[static_cast<unsigned char>(line[k + 1])] >= 0;
      sum += Pair(line + k);
    }
    if (!digits || (sum & 0xFF) != 0xFF) break;
    if (bytes != nullptr) {
      DecodeHexBytesScalar(line + 2, static_cast<std::int32_t>(length / 2 - 1), bytes + count * kWholeRecordBytes);
    }
    records[count++] = Whole(line, length);
    at += length + 1;
  }
  return count;
}

void DecodeHexBytesScalar(const char* p, std::int32_t count, std::uint8_t* out) {
  for (std::int32_t i = 0; i < count; ++i) out[i] = static_cast<std::uint8_t>(Pair(p + 2 * i));
}

#if defined(__x86_64__)
__attribute__((target("avx2"))) bool ChecksumOkAvx2(const char* p, std::int32_t m) {
  std::uint32_t sum = 0;
  if (m >= 16 && m <= 260 && SumHexPairsInline(p, 2 * static_cast<std::size_t>(m), sum)) return (sum & 0xFF) == 0xFF;
  // Short runs gain nothing from the vector sum, and a character that is not a hex digit follows the pair table.
  return ChecksumOkScalar(p, m);
}

namespace {

template <bool kDecode>
__attribute__((target("avx2"), always_inline)) inline std::size_t WholeRecordsAvx2(const char* p, std::size_t n,
                                                                                  WholeRecord* records,
                                                                                  std::size_t max,
                                                                                  std::uint8_t* bytes) {
  std::size_t count = 0;
  std::size_t at = 0;
  while (count < max) {
    const char* line = p + at;
    const std::size_t length = WholeRecordLength(line, n - at);
    std::uint32_t sum = 0;
    if (length == 0 ||
        !SumHexPairsInline(line + 2, length - 2, sum, kDecode ? bytes + count * kWholeRecordBytes : nullptr) ||
        (sum & 0xFF) != 0xFF) {
      break;
    }
    records[count++] = Whole(line, length);
    at += length + 1;
  }
  return count;
}

}  // namespace

__attribute__((target("avx2"))) std::size_t WholeDataRecordsAvx2(const char* p, std::size_t n, WholeRecord* records,
                                                                  std::size_t max, std::uint8_t* bytes) {
  return bytes != nullptr ? WholeRecordsAvx2<true>(p, n, records, max, bytes)
                          : WholeRecordsAvx2<false>(p, n, records, max, nullptr);
}

// DecodeHexBytes for count bytes: 32 at a time, then 16; a group with a character that is not a hex digit, and the
// bytes after the last group, follow the pair table.
__attribute__((target("avx2"))) void DecodeHexBytesAvx2(const char* p, std::int32_t count, std::uint8_t* out) {
  std::int32_t i = 0;
  for (; i + 32 <= count; i += 32) {
    __m256i fine_low, fine_high;
    const __m256i low = DigitValues(p + 2 * i, fine_low);
    const __m256i high = DigitValues(p + 2 * i + 32, fine_high);
    if (_mm256_movemask_epi8(_mm256_and_si256(fine_low, fine_high)) != -1) {
      for (std::int32_t k = i; k < i + 32; ++k) out[k] = static_cast<std::uint8_t>(Pair(p + 2 * k));
      continue;
    }
    const __m256i weights = _mm256_set1_epi16(0x0110);
    const __m256i words = _mm256_packus_epi16(_mm256_maddubs_epi16(low, weights), _mm256_maddubs_epi16(high, weights));
    // packus interleaves the halves' 8-byte groups lane by lane; 0xD8 puts them back in order.
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), _mm256_permute4x64_epi64(words, 0xD8));
  }
  for (; i + 16 <= count; i += 16) {
    if (DecodeSixteenAvx2(p + 2 * i, out + i)) continue;
    for (std::int32_t k = i; k < i + 16; ++k) out[k] = static_cast<std::uint8_t>(Pair(p + 2 * k));
  }
  for (; i < count; ++i) out[i] = static_cast<std::uint8_t>(Pair(p + 2 * i));
}
#endif

bool ChecksumOk(const char* p, std::int32_t m) {
#if defined(__x86_64__)
  static const bool avx2 = CpuHasAvx2();
  if (avx2) return ChecksumOkAvx2(p, m);
#endif
  return ChecksumOkScalar(p, m);
}

std::size_t WholeDataRecords(const char* p, std::size_t n, WholeRecord* records, std::size_t max,
                             std::uint8_t* bytes) {
#if defined(__x86_64__)
  static const bool avx2 = CpuHasAvx2();
  if (avx2) return WholeDataRecordsAvx2(p, n, records, max, bytes);
#endif
  return WholeDataRecordsScalar(p, n, records, max, bytes);
}

void DecodeHexBytes(const char* p, std::int32_t count, std::uint8_t* out) {
#if defined(__x86_64__)
  static const bool avx2 = CpuHasAvx2();
  if (avx2) {
    DecodeHexBytesAvx2(p, count, out);
    return;
  }
#endif
  DecodeHexBytesScalar(p, count, out);
}

}  // namespace varnok
