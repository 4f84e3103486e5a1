#pragma once

namespace varnok {

// Whether the CPU has the AVX2 instructions; each vectorised function's dispatcher asks once.
bool CpuHasAvx2();

// Whether the CPU has the SSE4.2 instructions (among them CRC-32C).
bool CpuHasSse42();

}  // namespace varnok
