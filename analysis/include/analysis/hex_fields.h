#pragma once

#include <cstdint>

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

// Low byte of the two-character field at p.
inline std::uint8_t HexByte(const char* p) { return static_cast<std::uint8_t>(HexToInt(p, 2)); }

// Decodes count two-character bytes from p into out. Returns nothing; invalid characters follow HexToInt.
void DecodeHexBytes(const char* p, std::int32_t count, std::uint8_t* out);

}  // namespace varnok
