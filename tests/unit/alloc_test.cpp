// No heap allocation per request: malloc is counted for the whole process
// while requests run over both transports against drives with fixed buffers.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>

#include "raw_drives.h"
#include "zarn/zarn.h"

extern "C" void* __libc_malloc(size_t);
extern "C" void* __libc_calloc(size_t, size_t);
extern "C" void* __libc_realloc(void*, size_t);

namespace {
std::atomic<bool> g_counting{false};
std::atomic<long> g_allocations{0};
}  // namespace

extern "C" void* malloc(size_t n) {
  if (g_counting.load(std::memory_order_relaxed)) g_allocations.fetch_add(1);
  return __libc_malloc(n);
}
extern "C" void* calloc(size_t a, size_t b) {
  if (g_counting.load(std::memory_order_relaxed)) g_allocations.fetch_add(1);
  return __libc_calloc(a, b);
}
extern "C" void* realloc(void* p, size_t n) {
  if (g_counting.load(std::memory_order_relaxed)) g_allocations.fetch_add(1);
  return __libc_realloc(p, n);
}

namespace zarn {
namespace test {
namespace {

long AllocationsDuring(int requests, uint8_t drive) {
  int32_t value = 0;
  ZARN_ReadDWordS(drive, 0x6064, 0, &value);  // warm-up
  g_allocations = 0;
  g_counting = true;
  int failures = 0;
  for (int i = 0; i < requests; ++i) {
    if (ZARN_ReadDWordS(drive, 0x6064, 0, &value) != 0 || value != 123456) ++failures;
    if (ZARN_WriteDWord(drive, 0x607A, 0, static_cast<uint32_t>(i)) != 0) ++failures;
  }
  g_counting = false;
  EXPECT_EQ(0, failures);
  return g_allocations.load();
}

TEST(Allocations, NoneDuringSerialRequests) {
  RawSerialDrive drive(1);
  ASSERT_EQ(0, ZARN_SDRVOpen(1, drive.SlavePath().c_str(), 115200));
  EXPECT_EQ(0, AllocationsDuring(100, 1));
  ZARN_DriveClose(1);
}

TEST(Allocations, NoneDuringEthernetRequests) {
  RawUdpDrive drive;
  ASSERT_EQ(0, ZARN_EDRVOpen(1, "127.0.0.1", drive.Port()));
  EXPECT_EQ(0, AllocationsDuring(100, 1));
  ZARN_DriveClose(1);
}

}  // namespace
}  // namespace test
}  // namespace zarn
