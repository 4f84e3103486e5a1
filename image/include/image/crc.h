#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace varnok {

// The CRCs a release check can ask for, by the names the command line gives them.
enum class CrcKind : std::uint8_t {
  kCrc32,       // "crc32": CRC-32/ISO-HDLC, as zlib and crc32 compute it
  kCrc32c,      // "crc32c": CRC-32/ISCSI (Castagnoli)
  kCrc32Mpeg2,  // "crc32-mpeg2": CRC-32/MPEG-2 over little-endian 32-bit words, as a 32-bit CRC unit reads memory
  kCrc16Ccitt,  // "crc16-ccitt": CRC-16/IBM-3740 (poly 0x1021, init 0xFFFF, no reflection, no final xor)
};

std::optional<CrcKind> CrcKindNamed(std::string_view name);
std::string_view CrcKindName(CrcKind kind);
// "CRC-32", "CRC-32C", "CRC-32/MPEG-2", "CRC-16/CCITT": the CRC's name in a text report.
std::string CrcLabel(CrcKind kind);
// "0x1C291CA3": a CRC in hex, as wide as the CRC.
std::string CrcText(CrcKind kind, std::uint32_t crc);

// The CRC of a stream of bytes handed over in pieces of any size.
//
// crc32-mpeg2 takes the bytes four at a time as a little-endian word, most significant bit first, as a CRC unit
// that is fed the words a little-endian CPU loads from memory: bytes 3, 2, 1, 0 of each word in that order. A last
// word that the stream does not complete is made whole with `pad` bytes.
class CrcStream {
 public:
  explicit CrcStream(CrcKind kind, std::uint8_t pad = 0xFF);

  void Update(const std::uint8_t* data, std::size_t length);
  // The CRC of everything handed over so far; the stream goes on unchanged.
  std::uint32_t Value() const;
  // Starts anew, as before the first byte.
  void Restart() { *this = CrcStream(kind_, pad_); }
  CrcKind Kind() const { return kind_; }

 private:
  void UpdateWord(const std::uint8_t* word);

  CrcKind kind_;
  std::uint8_t pad_;
  std::uint32_t state_;
  std::uint8_t word_[4] = {};  // the bytes of a crc32-mpeg2 word not yet complete
  std::size_t word_bytes_ = 0;
};

}  // namespace varnok
