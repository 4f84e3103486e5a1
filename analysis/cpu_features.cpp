#include "analysis/cpu_features.h"

namespace varnok {

bool CpuHasAvx2() {
#if defined(__x86_64__)
  return __builtin_cpu_supports("avx2");
#else
  return false;
#endif
}

bool CpuHasSse42() {
#if defined(__x86_64__)
  return __builtin_cpu_supports("sse4.2");
#else
  return false;
#endif
}

}  // namespace varnok
