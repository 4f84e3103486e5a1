#pragma once

#include <cstddef>

namespace varnok {

// The position of the first byte a or b among the n bytes at p, or n. It may read up to 31 bytes past
// the end (a TextModeInput's read padding allows it) and ignores what it finds there. Takes FindEitherByteAvx2 on a
// CPU that has AVX2, else FindEitherByteScalar; all variants give the same answers.
std::size_t FindEitherByte(const char* p, std::size_t n, char a, char b);

// FindEitherByte one byte at a time; it reads nothing past the end.
std::size_t FindEitherByteScalar(const char* p, std::size_t n, char a, char b);

#if defined(__x86_64__)
// FindEitherByte 32 bytes at a time; only on a CPU that has AVX2.
std::size_t FindEitherByteAvx2(const char* p, std::size_t n, char a, char b);
#endif

}  // namespace varnok
