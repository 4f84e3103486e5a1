#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace varnok::test {

// The address field's width in bytes: 2 for S0, S1, S5, S9; 3 for S2, S6, S8; 4 for S3, S7.
int AddressWidth(int type);

// Appends the record line of `type` (0 to 9) with the address and data, its byte count and checksum worked out,
// and no line end.
void AppendRecord(std::string& out, int type, std::uint32_t address, const std::uint8_t* data, std::size_t length);

// One record line, without its line end.
std::string Record(int type, std::uint32_t address, std::string_view data = {});
std::string Record(int type, std::uint32_t address, const std::vector<std::uint8_t>& data);

// The lines, each ended by "\n".
std::string Lines(const std::vector<std::string>& lines);

// A small file that parses: an S0 header "HDR", one S1 record of the 16 bytes 00 to 0F at 0x0000, and an S9 record.
inline const std::string kThreeLines = "S00600004844521B\nS1130000000102030405060708090A0B0C0D0E0F74\nS9030000FC\n";

// Steps the tests' pseudo-random sequence that seed holds and returns its next number, 0 to 65535.
inline unsigned NextRandom(unsigned& seed) {
  seed = seed * 1103515245u + 12345u;
  return seed >> 16;
}

}  // namespace varnok::test
