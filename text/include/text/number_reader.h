#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string_view>

namespace varnok {

// How a whole number may be written. Only digits, a prefix and a suffix: a sign or blanks are the caller's.
struct NumberFormat {
  unsigned base = 10;                 // of digits without a prefix: 10 or 16
  bool hex_prefix = false;            // "0x" or "0X" before at least one digit makes them hex
  bool octal_prefix = false;          // "0" before at least one digit makes them octal
  bool size_suffix = false;           // a last K or M, in either case, multiplies by 1024 or 1024 * 1024
  std::uint64_t max = std::numeric_limits<std::uint64_t>::max();  // the largest value of the digits
  std::size_t max_digits = std::numeric_limits<std::size_t>::max();  // the most digits after the prefix
};

// Why a text is not a number of its format.
enum class NumberError {
  kNone,
  kMalformed,  // empty, or a character that is no digit of the base
  kTooLarge,   // above the format's max or longer than its max_digits
  kOverflow,   // the digits before the last one pass 2^60 - 1, more than any format takes
};

// What ReadNumber found in a text.
struct NumberRead {
  std::uint64_t value = 0;  // the suffix applied; 0 on an error
  NumberError error = NumberError::kNone;
};

// Reads the whole text as a number of the format; the first fault from the left is the one reported.
NumberRead ReadNumber(std::string_view text, const NumberFormat& format);

// The value of the whole text, or nothing when it is not a number of the format.
inline std::optional<std::uint64_t> NumberValue(std::string_view text, const NumberFormat& format) {
  const NumberRead read = ReadNumber(text, format);
  if (read.error != NumberError::kNone) return std::nullopt;
  return read.value;
}

}  // namespace varnok
