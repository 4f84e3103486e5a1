#pragma once

#include <cstddef>
#include <cstdint>

namespace varnok {

// The variants behind the CRC-32C update, which takes the SSE4.2 one on a CPU that has SSE4.2 and the table one
// elsewhere. Each takes and returns the register before the final inversion.
std::uint32_t Crc32cTable(std::uint32_t crc, const std::uint8_t* p, std::size_t length);

#if defined(__x86_64__)
// Only on a CPU that has SSE4.2.
std::uint32_t Crc32cSse42(std::uint32_t crc, const std::uint8_t* p, std::size_t length);
#endif

}  // namespace varnok
