#pragma once

#include <cstddef>

// A test program that links this in has its operator new and delete replaced by ones that count what they hand out
// and fail on request.
namespace varnok::test {

// Lets the next `allocations` allocations succeed and fails the one after them, or with `for_good` every one from
// it on; a negative count fails none.
void FailAllocationAfter(long allocations, bool for_good = false);
// Fails no allocation any more; true when the allocation that was to fail never came.
bool StopFailingAllocations();
// The allocations made by operator new and not yet deleted.
long LiveAllocations();
// std::malloc on the same count, for code that takes its allocator as a function.
void* CountedMalloc(std::size_t size);
// std::realloc on the same count.
void* CountedRealloc(void* memory, std::size_t size);

}  // namespace varnok::test
