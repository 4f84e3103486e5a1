#pragma once

#include <cstddef>

namespace varnok {

// The position of the first byte a or b among the n bytes at p, or n. It may read up to 31 bytes past
// the end (a TextModeInput's read padding allows it) and ignores what it finds there.
std::size_t FindEitherByte(const char* p, std::size_t n, char a, char b);

}  // namespace varnok
