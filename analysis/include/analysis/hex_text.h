#pragma once

#include <cstdint>
#include <string>

namespace varnok {

// Appends value as `digits` upper-case hexadecimal digits, zero-padded; higher digits are dropped.
void AppendHex(std::string& out, std::uint32_t value, int digits);

// value as `digits` upper-case hexadecimal digits, zero-padded.
std::string HexText(std::uint32_t value, int digits);

// An address as the windows show it: "0x" and 8 upper-case hexadecimal digits.
std::string AddressText(std::uint32_t address);

}  // namespace varnok
