#include "analysis/hex_text.h"

namespace varnok {

void AppendHex(std::string& out, std::uint32_t value, int digits) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) out.push_back(kDigits[(value >> shift) & 0x0F]);
}

std::string HexText(std::uint32_t value, int digits) {
  std::string text;
  AppendHex(text, value, digits);
  return text;
}

std::string AddressText(std::uint32_t address) {
  std::string text = "0x";
  AppendHex(text, address, 8);
  return text;
}

}  // namespace varnok
