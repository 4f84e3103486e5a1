#pragma once

#include <cstddef>
#include <cstdint>

#include "analysis/run_result.h"

namespace varnok {

// 0-9 for "0"-"9", 10-15 for "a"-"f" and "A"-"F", -1 for every other character.
int HexDigitValue(char c);

// Decodes n characters from p. A character that is not a hex digit ORs 0xFF into the value before
// its shift, so it sets its own place and the place before it to F; nothing is signalled.
std::uint32_t HexToInt(const char* p, int n);

// The byte count check: the count field N equals (L - 4) / 2, truncated toward zero.
bool ByteCountOk(std::int32_t byte_count, int line_length);

// Whether the N bytes from p (count, address, data) plus the checksum byte after them sum to 0xFF
// modulo 256; p points at the count field and m is N + 1.
bool ChecksumOk(const char* p, std::int32_t m);
// The checksum byte after the m - 1 bytes from p, and the one they call for: 0xFF minus their sum, modulo 256.
RecordChecksum ChecksumOf(const char* p, std::int32_t m);

// A data record that WholeDataRecords vouches for: its address field's value and its length without the line feed.
struct WholeRecord {
  std::uint32_t address;
  std::uint32_t length;
};

// The S1, S2 and S3 records one after the other from p, at most `max` of them, for as long as each reads, within the
// n characters there, exactly as the general reading of a line reads it and passes its checks: a line feed stands
// where its byte count puts the line's end, every character after the type is a hex digit, the checksum holds and
// the line is long enough for the fast checks (a byte count of 15 or more). Returns how many. With `bytes`, also
// decodes each of them on the way: the bytes of record i, its byte count to its checksum, from
// bytes + i * kWholeRecordBytes on.
inline constexpr std::size_t kWholeRecordBytes = 256;
std::size_t WholeDataRecords(const char* p, std::size_t n, WholeRecord* records, std::size_t max,
                             std::uint8_t* bytes = nullptr);

// Low byte of the two-character field at p.
inline std::uint8_t HexByte(const char* p) { return static_cast<std::uint8_t>(HexToInt(p, 2)); }

// Decodes count two-character bytes from p into out. Returns nothing; invalid characters follow HexToInt.
void DecodeHexBytes(const char* p, std::int32_t count, std::uint8_t* out);

}  // namespace varnok
