#pragma once

#include <cstddef>

namespace varnok::test {

// An allocation function that never finds memory.
inline void* NoMemory(std::size_t) { return nullptr; }

}  // namespace varnok::test
