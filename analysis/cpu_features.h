#pragma once

namespace varnok {

namespace cpu_detail {
extern bool avx2_enabled;
}  // namespace cpu_detail

// Whether the checksum and the byte scans take their AVX2 paths: on a CPU that has AVX2, unless turned off.
inline bool UseAvx2() { return cpu_detail::avx2_enabled; }

// Turns the AVX2 paths off, or back on where the CPU has AVX2; the scalar paths give the same answers.
void SetAvx2Enabled(bool enabled);

}  // namespace varnok
