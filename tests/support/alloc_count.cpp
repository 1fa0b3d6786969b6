#include "alloc_count.h"

#include <atomic>
#include <cstddef>

extern "C" void* __libc_malloc(size_t);
extern "C" void* __libc_calloc(size_t, size_t);
extern "C" void* __libc_realloc(void*, size_t);

namespace {
std::atomic<bool> g_counting{false};
std::atomic<long> g_allocations{0};
void Count() {
  if (g_counting.load(std::memory_order_relaxed)) g_allocations.fetch_add(1);
}
}  // namespace

extern "C" void* malloc(size_t n) {
  Count();
  return __libc_malloc(n);
}
extern "C" void* calloc(size_t a, size_t b) {
  Count();
  return __libc_calloc(a, b);
}
extern "C" void* realloc(void* p, size_t n) {
  Count();
  return __libc_realloc(p, n);
}

namespace zarn {
namespace test {

void CountAllocations(bool on) {
  if (on) g_allocations = 0;
  g_counting = on;
}

long Allocations() { return g_allocations.load(); }

}  // namespace test
}  // namespace zarn
