// No heap allocation per request: malloc is counted for the whole process
// while requests run over both transports against drives with fixed buffers.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>

#include "alloc_count.h"
#include "raw_drives.h"
#include "zarn/zarn.h"

namespace zarn {
namespace test {
namespace {

long AllocationsDuring(int requests, uint8_t drive) {
  int32_t value = 0;
  ZARN_ReadDWordS(drive, 0x6064, 0, &value);  // warm-up
  CountAllocations(true);
  int failures = 0;
  for (int i = 0; i < requests; ++i) {
    if (ZARN_ReadDWordS(drive, 0x6064, 0, &value) != 0 || value != 123456) ++failures;
    if (ZARN_WriteDWord(drive, 0x607A, 0, static_cast<uint32_t>(i)) != 0) ++failures;
  }
  CountAllocations(false);
  EXPECT_EQ(0, failures);
  return Allocations();
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
