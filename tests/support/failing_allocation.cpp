#include "support/failing_allocation.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

// Allocations left before one fails; negative: none fails. Atomic, since the code under test may allocate on
// several threads.
std::atomic<long> g_allocations_left{-1};
std::atomic<bool> g_fail_for_good{false};
std::atomic<long> g_live_allocations{0};

bool NextAllocationFails() {
  long left = g_allocations_left.load();
  for (;;) {
    if (left < 0) return false;
    const long next = left > 0 ? left - 1 : (g_fail_for_good ? 0 : -1);
    if (g_allocations_left.compare_exchange_weak(left, next)) return left == 0;
  }
}

}  // namespace

namespace varnok::test {

void FailAllocationAfter(long allocations, bool for_good) {
  g_fail_for_good = for_good;
  g_allocations_left = allocations;
}

bool StopFailingAllocations() { return g_allocations_left.exchange(-1) > 0; }

long LiveAllocations() { return g_live_allocations; }

void* CountedMalloc(std::size_t size) { return NextAllocationFails() ? nullptr : std::malloc(size); }

void* CountedRealloc(void* memory, std::size_t size) {
  return NextAllocationFails() ? nullptr : std::realloc(memory, size);
}

}  // namespace varnok::test

void* operator new(std::size_t size) {
  if (NextAllocationFails()) throw std::bad_alloc();
  void* memory = std::malloc(size == 0 ? 1 : size);
  if (memory == nullptr) throw std::bad_alloc();
  ++g_live_allocations;
  return memory;
}

void operator delete(void* memory) noexcept {
  if (memory == nullptr) return;
  --g_live_allocations;
  std::free(memory);
}

void operator delete(void* memory, std::size_t) noexcept { operator delete(memory); }

// The sanitizers' runtime replaces the nothrow form on its own, so it must be replaced here as well.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return operator new(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

void operator delete(void* memory, const std::nothrow_t&) noexcept { operator delete(memory); }
