#include "text/number_reader.h"

#include "text/hex_digit.h"

namespace varnok {

NumberRead ReadNumber(std::string_view text, const NumberFormat& format) {
  std::uint64_t scale = 1;
  if (format.size_suffix && !text.empty()) {
    const char last = text.back();
    if (last == 'K' || last == 'k' || last == 'M' || last == 'm') {
      scale = last == 'K' || last == 'k' ? 1024 : 1024 * 1024;
      text.remove_suffix(1);
    }
  }
  unsigned base = format.base;
  // A prefix alone is no number: "0x" reads as the digits 0 and x, and "0" as zero.
  if (format.hex_prefix && text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  } else if (format.octal_prefix && text.size() > 1 && text[0] == '0') {
    base = 8;
    text.remove_prefix(1);
  }
  if (text.empty()) return {0, NumberError::kMalformed};
  // The bound of 2^60 before each further digit keeps any base's value within 64 bits; it is the exact bound of
  // hex digits, and the linker script tells a number past it as too large rather than bad.
  constexpr std::uint64_t kMaxBeforeDigit = std::numeric_limits<std::uint64_t>::max() >> 4;
  std::uint64_t value = 0;
  for (const char c : text) {
    const int digit = kHexDigitValues[static_cast<unsigned char>(c)];
    if (digit < 0 || static_cast<unsigned>(digit) >= base) return {0, NumberError::kMalformed};
    if (value > kMaxBeforeDigit) return {0, NumberError::kOverflow};
    value = value * base + static_cast<unsigned>(digit);
  }
  if (value > format.max || text.size() > format.max_digits) return {0, NumberError::kTooLarge};
  if (value > std::numeric_limits<std::uint64_t>::max() / scale) return {0, NumberError::kOverflow};
  return {value * scale, NumberError::kNone};
}

}  // namespace varnok
