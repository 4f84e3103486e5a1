#pragma once

#include <algorithm>
#include <cstdint>

namespace varnok {

// The whole percent of total that done is, as a progress report shows it: 0 of an empty total, 100 once done reaches
// total.
constexpr std::uint64_t ProgressPercent(std::uint64_t done, std::uint64_t total) {
  return total == 0 ? 0 : std::min(done, total) * 100 / total;
}

}  // namespace varnok
