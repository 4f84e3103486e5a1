#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace varnok {

// Appends value as `digits` upper-case hexadecimal digits, zero-padded; higher digits are dropped.
void AppendHex(std::string& out, std::uint32_t value, int digits);

// value as `digits` upper-case hexadecimal digits, zero-padded.
std::string HexText(std::uint32_t value, int digits);

// An address as the windows show it: "0x" and 8 upper-case hexadecimal digits.
std::string AddressText(std::uint32_t address);

// bytes as lower-case hexadecimal digits, two a byte, as sha256sum writes a digest.
std::string LowerHexText(std::span<const std::uint8_t> bytes);

// A value as a text report prints it: bytes outside 0x20..0x7E and the backslash as \xNN.
std::string EscapeValue(const std::string& text);

// part as a per-cent share of whole with two decimals, rounded half up ("0.87"); "0.00" when whole is 0.
std::string PercentText(std::uint64_t part, std::uint64_t whole);

}  // namespace varnok
