// One ZARN_ReadDWordS over a pseudo-terminal at 115200 bit/s, against the bare
// minimum on the same line: write the frame, sleep the inter-frame delay,
// read the reply with blocking reads.
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <thread>

#include "ratio.h"
#include "raw_drives.h"
#include "zarn/zarn.h"

namespace {

zarn::test::RawSerialDrive* g_drive;

void LibraryRead(benchmark::State& state) {
  if (ZARN_SDRVOpen(1, g_drive->SlavePath().c_str(), 115200) != 0) {
    state.SkipWithError("open failed");
    return;
  }
  int32_t value = 0;
  for (auto _ : state) {
    if (ZARN_ReadDWordS(1, 0x6064, 0, &value) != 0) state.SkipWithError("read failed");
  }
  ZARN_DriveClose(1);
}

void BaselineRead(benchmark::State& state) {
  int fd = open(g_drive->SlavePath().c_str(), O_RDWR | O_NOCTTY);
  termios tio;
  tcgetattr(fd, &tio);
  cfmakeraw(&tio);
  cfsetspeed(&tio, B115200);
  tcsetattr(fd, TCSANOW, &tio);
  uint8_t frame[11] = {0x01, 0x2B, 0x0D, 0x00, 0x00, 0x00, 0x60, 0x64, 0x00};
  uint16_t crc = zarn::test::Crc16Bitwise(frame, 9);
  frame[9] = static_cast<uint8_t>(crc);
  frame[10] = static_cast<uint8_t>(crc >> 8);
  const int delayMs = static_cast<int>(35000.0 / 115200 + 1.0);
  uint8_t reply[64];
  for (auto _ : state) {
    if (write(fd, frame, sizeof frame) != sizeof frame) state.SkipWithError("write failed");
    std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
    size_t have = 0;
    while (have < 19) {
      ssize_t n = read(fd, reply + have, sizeof reply - have);
      if (n <= 0) break;
      have += static_cast<size_t>(n);
    }
  }
  close(fd);
}

}  // namespace

BENCHMARK(LibraryRead)->UseRealTime()->Repetitions(5)->MinTime(0.5);
BENCHMARK(BaselineRead)->UseRealTime()->Repetitions(5)->MinTime(0.5);

int main(int argc, char** argv) {
  zarn::test::RawSerialDrive drive(1);
  g_drive = &drive;
  return zarn::bench::RunAndPrintRatios(
      argc, argv, {{"serial ZARN_ReadDWordS / bare exchange", "LibraryRead", "BaselineRead", 1.2}});
}
