#include "text/line_text.h"

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

std::string LowerHexText(std::span<const std::uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(2 * bytes.size());
  for (const std::uint8_t byte : bytes) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 15];
  }
  return text;
}

std::string EscapeValue(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (const char ch : text) {
    const auto byte = static_cast<unsigned char>(ch);
    if (byte < 0x20 || byte > 0x7E || ch == '\\') {
      out += "\\x";
      AppendHex(out, byte, 2);
    } else {
      out += ch;
    }
  }
  return out;
}

std::string PercentText(std::uint64_t part, std::uint64_t whole) {
  const std::uint64_t hundredths = whole == 0 ? 0 : (part * 20000 / whole + 1) / 2;
  std::string text = std::to_string(hundredths / 100) + ".";
  text += static_cast<char>('0' + hundredths / 10 % 10);
  text += static_cast<char>('0' + hundredths % 10);
  return text;
}

}  // namespace varnok
