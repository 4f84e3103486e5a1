#include "image/crc.h"

#include <libdeflate.h>

#include <algorithm>
#include <array>
#include <cstring>

#if defined(__x86_64__)
#include <nmmintrin.h>
#endif

#include "analysis/cpu_features.h"
#include "crc_variants.h"
#include "text/line_text.h"

namespace varnok {
namespace {

using Tables = std::array<std::array<std::uint32_t, 256>, 8>;

// Slicing-by-8 tables of a CRC that shifts left (no reflection): the register holds the CRC in its top bits, so a
// 16-bit CRC runs as a 32-bit one with its polynomial shifted up.
constexpr Tables MsbFirstTables(std::uint32_t poly) {
  Tables t{};
  for (std::uint32_t b = 0; b < 256; ++b) {
    std::uint32_t crc = b << 24;
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 0x80000000u) != 0 ? (crc << 1) ^ poly : crc << 1;
    t[0][b] = crc;
  }
  for (std::size_t k = 1; k < 8; ++k) {
    for (std::size_t b = 0; b < 256; ++b) t[k][b] = (t[k - 1][b] << 8) ^ t[0][t[k - 1][b] >> 24];
  }
  return t;
}

// Slicing-by-8 tables of a reflected CRC, given its reflected polynomial.
constexpr Tables LsbFirstTables(std::uint32_t poly) {
  Tables t{};
  for (std::uint32_t b = 0; b < 256; ++b) {
    std::uint32_t crc = b;
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1u) != 0 ? (crc >> 1) ^ poly : crc >> 1;
    t[0][b] = crc;
  }
  for (std::size_t k = 1; k < 8; ++k) {
    for (std::size_t b = 0; b < 256; ++b) t[k][b] = (t[k - 1][b] >> 8) ^ t[0][t[k - 1][b] & 0xFF];
  }
  return t;
}

constexpr Tables kMpeg2 = MsbFirstTables(0x04C11DB7);
constexpr Tables kCcitt = MsbFirstTables(0x1021u << 16);
constexpr Tables kCastagnoli = LsbFirstTables(0x82F63B78);

std::uint32_t LoadLittle(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
}

std::uint32_t LoadBig(const std::uint8_t* p) {
  return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | std::uint32_t{p[3]};
}

// A left-shifting CRC over whole groups of eight bytes, taken in address order or as two little-endian words.
std::uint32_t MsbFirst(const Tables& t, std::uint32_t crc, const std::uint8_t* p, std::size_t groups, bool words) {
  for (; groups > 0; --groups, p += 8) {
    crc ^= words ? LoadLittle(p) : LoadBig(p);
    const std::uint32_t next = words ? LoadLittle(p + 4) : LoadBig(p + 4);
    crc = t[7][crc >> 24] ^ t[6][(crc >> 16) & 0xFF] ^ t[5][(crc >> 8) & 0xFF] ^ t[4][crc & 0xFF] ^
          t[3][next >> 24] ^ t[2][(next >> 16) & 0xFF] ^ t[1][(next >> 8) & 0xFF] ^ t[0][next & 0xFF];
  }
  return crc;
}

std::uint32_t MsbFirstBytes(const Tables& t, std::uint32_t crc, const std::uint8_t* p, std::size_t length) {
  crc = MsbFirst(t, crc, p, length / 8, false);
  for (std::size_t i = length / 8 * 8; i < length; ++i) crc = (crc << 8) ^ t[0][(crc >> 24) ^ p[i]];
  return crc;
}

}  // namespace

std::uint32_t Crc32cTable(std::uint32_t crc, const std::uint8_t* p, std::size_t length) {
  const Tables& t = kCastagnoli;
  for (; length >= 8; length -= 8, p += 8) {
    crc ^= LoadLittle(p);
    const std::uint32_t next = LoadLittle(p + 4);
    crc = t[7][crc & 0xFF] ^ t[6][(crc >> 8) & 0xFF] ^ t[5][(crc >> 16) & 0xFF] ^ t[4][crc >> 24] ^
          t[3][next & 0xFF] ^ t[2][(next >> 8) & 0xFF] ^ t[1][(next >> 16) & 0xFF] ^ t[0][next >> 24];
  }
  for (; length > 0; --length, ++p) crc = (crc >> 8) ^ t[0][(crc ^ *p) & 0xFF];
  return crc;
}

#if defined(__x86_64__)
__attribute__((target("sse4.2"))) std::uint32_t Crc32cSse42(std::uint32_t crc, const std::uint8_t* p,
                                                             std::size_t length) {
  std::uint64_t wide = crc;
  for (; length >= 8; length -= 8, p += 8) {
    std::uint64_t word;
    std::memcpy(&word, p, sizeof word);
    wide = _mm_crc32_u64(wide, word);
  }
  crc = static_cast<std::uint32_t>(wide);
  for (; length > 0; --length, ++p) crc = _mm_crc32_u8(crc, *p);
  return crc;
}
#endif

namespace {

std::uint32_t Crc32c(std::uint32_t crc, const std::uint8_t* p, std::size_t length) {
#if defined(__x86_64__)
  static const bool sse42 = CpuHasSse42();
  if (sse42) return Crc32cSse42(crc, p, length);
#endif
  return Crc32cTable(crc, p, length);
}

// The register before the first byte, and the value that a register stands for.
std::uint32_t Start(CrcKind kind) {
  switch (kind) {
    case CrcKind::kCrc32:
      return 0;  // libdeflate keeps the finished value
    case CrcKind::kCrc32c:
    case CrcKind::kCrc32Mpeg2:
      return 0xFFFFFFFF;
    case CrcKind::kCrc16Ccitt:
      return 0xFFFF0000;
  }
  return 0;
}

std::uint32_t Finished(CrcKind kind, std::uint32_t crc) {
  switch (kind) {
    case CrcKind::kCrc32:
    case CrcKind::kCrc32Mpeg2:
      return crc;
    case CrcKind::kCrc32c:
      return ~crc;
    case CrcKind::kCrc16Ccitt:
      return crc >> 16;
  }
  return crc;
}

// Bytes in address order, whatever the kind.
std::uint32_t UpdateInOrder(CrcKind kind, std::uint32_t crc, const std::uint8_t* p, std::size_t length) {
  switch (kind) {
    case CrcKind::kCrc32:
      return libdeflate_crc32(crc, p, length);
    case CrcKind::kCrc32c:
      return Crc32c(crc, p, length);
    case CrcKind::kCrc32Mpeg2:
      return MsbFirstBytes(kMpeg2, crc, p, length);
    case CrcKind::kCrc16Ccitt:
      return MsbFirstBytes(kCcitt, crc, p, length);
  }
  return crc;
}

constexpr std::pair<std::string_view, CrcKind> kNames[] = {
    {"crc32", CrcKind::kCrc32},
    {"crc32c", CrcKind::kCrc32c},
    {"crc32-mpeg2", CrcKind::kCrc32Mpeg2},
    {"crc16-ccitt", CrcKind::kCrc16Ccitt},
};

}  // namespace

std::optional<CrcKind> CrcKindNamed(std::string_view name) {
  for (const auto& [text, kind] : kNames) {
    if (text == name) return kind;
  }
  return std::nullopt;
}

std::string_view CrcKindName(CrcKind kind) {
  for (const auto& [text, named] : kNames) {
    if (named == kind) return text;
  }
  return {};
}

std::string CrcLabel(CrcKind kind) {
  switch (kind) {
    case CrcKind::kCrc32: return "CRC-32";
    case CrcKind::kCrc32c: return "CRC-32C";
    case CrcKind::kCrc32Mpeg2: return "CRC-32/MPEG-2";
    case CrcKind::kCrc16Ccitt: return "CRC-16/CCITT";
  }
  return {};
}

std::string CrcText(CrcKind kind, std::uint32_t crc) {
  return "0x" + HexText(crc, kind == CrcKind::kCrc16Ccitt ? 4 : 8);
}

CrcStream::CrcStream(CrcKind kind, std::uint8_t pad) : kind_(kind), pad_(pad), state_(Start(kind)) {}

void CrcStream::Update(const std::uint8_t* data, std::size_t length) {
  if (kind_ != CrcKind::kCrc32Mpeg2) {
    // libdeflate takes size_t but is fed in pieces that no int arithmetic inside can overflow.
    constexpr std::size_t kPiece = std::size_t{1} << 30;
    for (; length > kPiece; length -= kPiece, data += kPiece) state_ = UpdateInOrder(kind_, state_, data, kPiece);
    state_ = UpdateInOrder(kind_, state_, data, length);
    return;
  }
  if (word_bytes_ > 0) {
    const std::size_t take = std::min(length, sizeof word_ - word_bytes_);
    std::memcpy(word_ + word_bytes_, data, take);
    word_bytes_ += take;
    data += take;
    length -= take;
    if (word_bytes_ < sizeof word_) return;
    word_bytes_ = 0;
    UpdateWord(word_);
  }
  const std::size_t whole = length / 8 * 8;
  state_ = MsbFirst(kMpeg2, state_, data, whole / 8, true);
  data += whole;
  length -= whole;
  if (length >= 4) {
    UpdateWord(data);
    data += 4;
    length -= 4;
  }
  std::memcpy(word_, data, length);
  word_bytes_ = length;
}

// One little-endian word into the crc32-mpeg2 register.
void CrcStream::UpdateWord(const std::uint8_t* word) {
  const std::uint8_t swapped[4] = {word[3], word[2], word[1], word[0]};
  state_ = MsbFirstBytes(kMpeg2, state_, swapped, 4);
}

std::uint32_t CrcStream::Value() const {
  if (word_bytes_ == 0) return Finished(kind_, state_);
  CrcStream rest = *this;
  const std::uint8_t pad[4] = {pad_, pad_, pad_, pad_};
  rest.Update(pad, 4 - word_bytes_);
  return Finished(kind_, rest.state_);
}

}  // namespace varnok
