#pragma once

namespace varnok::test {

// Whether the build runs under AddressSanitizer, whose shadow memory needs more address space than any `ulimit -v`
// that a test sets leaves.
#if defined(__SANITIZE_ADDRESS__)
#define VARNOK_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VARNOK_TEST_ASAN 1
#endif
#endif
#ifdef VARNOK_TEST_ASAN
inline constexpr bool kAddressSanitizer = true;
#else
inline constexpr bool kAddressSanitizer = false;
#endif

}  // namespace varnok::test
