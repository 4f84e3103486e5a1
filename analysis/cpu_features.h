#pragma once

namespace varnok {

// Whether the CPU has the AVX2 instructions; each vectorised function's dispatcher asks once.
bool CpuHasAvx2();

}  // namespace varnok
