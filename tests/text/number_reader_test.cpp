#include "text/number_reader.h"

#include <gtest/gtest.h>

namespace varnok {
namespace {

NumberFormat Format(unsigned base, bool hex, bool octal, bool suffix, std::uint64_t max, std::size_t max_digits = 99) {
  NumberFormat format;
  format.base = base;
  format.hex_prefix = hex;
  format.octal_prefix = octal;
  format.size_suffix = suffix;
  format.max = max;
  format.max_digits = max_digits;
  return format;
}

// The formats of the reader's callers.
const NumberFormat kJobs = Format(10, false, false, false, 0xFFFFFFFF);
const NumberFormat kFill = Format(10, true, false, false, 0xFF);
const NumberFormat kRegionSize = Format(10, true, false, true, std::uint64_t{1} << 32);
const NumberFormat kScript = Format(10, true, true, true, std::uint64_t{1} << 40);
const NumberFormat kGoTo = Format(16, true, false, false, UINT64_MAX, 8);

TEST(ReadNumber, ReadsWhatEachCallerTakes) {
  using enum NumberError;
  const struct {
    const char* text;
    const NumberFormat& format;
    std::uint64_t value;
    NumberError error;
  } cases[] = {
      {"42", kJobs, 42, kNone},
      {"007", kJobs, 7, kNone},  // octal only where asked
      {"", kJobs, 0, kMalformed},
      {"-1", kJobs, 0, kMalformed},
      {" 1", kJobs, 0, kMalformed},
      {"12x", kJobs, 0, kMalformed},
      {"0x10", kJobs, 0, kMalformed},
      {"4294967295", kJobs, 0xFFFFFFFF, kNone},
      {"4294967296", kJobs, 0, kTooLarge},
      {"0XfF", kFill, 255, kNone},
      {"0x100", kFill, 0, kTooLarge},
      {"0x", kFill, 0, kMalformed},
      {"8K", kRegionSize, 8 << 10, kNone},
      {"1m", kRegionSize, 1 << 20, kNone},
      {"0x10K", kRegionSize, 16 << 10, kNone},
      {"4096M", kRegionSize, std::uint64_t{1} << 32, kNone},  // the max bounds the digits, not the product
      {"4294967297", kRegionSize, 0, kTooLarge},
      {"K", kRegionSize, 0, kMalformed},
      {"010", kScript, 8, kNone},
      {"0K", kScript, 0, kNone},
      {"08", kScript, 0, kMalformed},
      {"0xFFFFFFFFFFFFFFFF", kScript, 0, kTooLarge},
      {"12000000000000000000", kScript, 0, kOverflow},
      {"99999999999999999999z", kScript, 0, kOverflow},  // the first fault from the left
      {"DEADbeef", kGoTo, 0xDEADBEEF, kNone},
      {"0x0000FFFF", kGoTo, 0xFFFF, kNone},
      {"000000001", kGoTo, 0, kTooLarge},
  };
  for (const auto& c : cases) {
    const NumberRead read = ReadNumber(c.text, c.format);
    EXPECT_EQ(read.error, c.error) << '"' << c.text << '"';
    EXPECT_EQ(read.value, c.value) << '"' << c.text << '"';
  }
}

}  // namespace
}  // namespace varnok
