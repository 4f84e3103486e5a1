#pragma once

#include <cstddef>
#include <cstdint>

#include "analysis/hex_fields.h"

namespace varnok {

// The variants behind ChecksumOk, WholeDataRecords and DecodeHexBytes, which take the AVX2 ones on a CPU that has
// AVX2 and the scalar ones elsewhere. Each variant gives exactly the answers its dispatcher promises.
bool ChecksumOkScalar(const char* p, std::int32_t m);
std::size_t WholeDataRecordsScalar(const char* p, std::size_t n, WholeRecord* records, std::size_t max,
                                   std::uint8_t* bytes);
void DecodeHexBytesScalar(const char* p, std::int32_t count, std::uint8_t* out);

#if defined(__x86_64__)
// Only on a CPU that has AVX2.
bool ChecksumOkAvx2(const char* p, std::int32_t m);
std::size_t WholeDataRecordsAvx2(const char* p, std::size_t n, WholeRecord* records, std::size_t max,
                                 std::uint8_t* bytes);
void DecodeHexBytesAvx2(const char* p, std::int32_t count, std::uint8_t* out);
#endif

}  // namespace varnok
