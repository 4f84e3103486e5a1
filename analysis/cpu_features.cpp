#include "cpu_features.h"

namespace varnok {

namespace {

bool CpuHasAvx2() {
#if defined(__x86_64__)
  return __builtin_cpu_supports("avx2");
#else
  return false;
#endif
}

}  // namespace

namespace cpu_detail {
bool avx2_enabled = CpuHasAvx2();
}  // namespace cpu_detail

void SetAvx2Enabled(bool enabled) { cpu_detail::avx2_enabled = enabled && CpuHasAvx2(); }

}  // namespace varnok
