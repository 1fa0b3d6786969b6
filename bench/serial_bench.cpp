// Serial: one ZARN_ReadDWordS over a pseudo-terminal at 115200 bit/s, against
// the bare minimum of a correct exchange on the same line: keep the bus silent
// for 3.5 character times after the last byte, write the frame, sleep the
// inter-frame delay, read the reply with blocking reads. Then two threads
// reading two drives of the same line: per-thread p50/p99/max of a call, to
// be compared with the single-thread exchange time.
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "ratio.h"
#include "raw_drives.h"
#include "zarn/zarn.h"

namespace {

using Clock = std::chrono::steady_clock;
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
  const auto silence = std::chrono::microseconds(35000000 / 115200 + 1);
  uint8_t reply[64];
  auto lastByte = Clock::now() - silence;
  for (auto _ : state) {
    std::this_thread::sleep_until(lastByte + silence);
    if (write(fd, frame, sizeof frame) != sizeof frame) state.SkipWithError("write failed");
    std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
    size_t have = 0;
    while (have < 19) {
      ssize_t n = read(fd, reply + have, sizeof reply - have);
      if (n <= 0) break;
      have += static_cast<size_t>(n);
    }
    lastByte = Clock::now();
  }
  close(fd);
}

// Two threads, each reading its own drive of the shared line.
void TwoThreads(const std::string& path, int calls) {
  if (ZARN_SDRVOpen(1, path.c_str(), 115200) != 0 || ZARN_SDRVOpen(2, path.c_str(), 115200) != 0) {
    printf("two threads: open failed\n");
    return;
  }
  std::vector<double> single;
  for (int i = 0; i < calls; ++i) {
    int32_t v = 0;
    const auto t = Clock::now();
    ZARN_ReadDWordS(1, 0x6064, 0, &v);
    single.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t).count());
  }
  std::sort(single.begin(), single.end());
  const double exchange = single[single.size() / 2];
  std::vector<double> times[2];
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int k = 0; k < 2; ++k) {
    threads.emplace_back([&, k] {
      for (int i = 0; i < calls; ++i) {
        int32_t v = 0;
        const auto t = Clock::now();
        if (ZARN_ReadDWordS(static_cast<uint8_t>(k + 1), 0x6064, 0, &v) != 0) ++failures;
        times[k].push_back(std::chrono::duration<double, std::milli>(Clock::now() - t).count());
      }
    });
  }
  for (auto& t : threads) t.join();
  ZARN_DriveClose(1);
  printf("Two threads on drives 1 and 2 of one line, %d calls each (single-thread exchange %.3f ms):\n", calls,
         exchange);
  double worst = 0;
  for (int k = 0; k < 2; ++k) {
    std::sort(times[k].begin(), times[k].end());
    const double p99 = times[k][times[k].size() * 99 / 100];
    worst = std::max(worst, p99);
    printf("  thread %d: p50 %.3f ms  p99 %.3f ms  max %.3f ms\n", k + 1, times[k][times[k].size() / 2], p99,
           times[k].back());
  }
  printf("RATIO two-thread p99 / single exchange: %.3f (goal <= 2.00) %s; failed calls: %d\n", worst / exchange,
         worst <= 2 * exchange ? "met" : "MISSED", failures.load());
}

}  // namespace

BENCHMARK(LibraryRead)->UseRealTime()->Repetitions(5)->MinTime(0.5);
BENCHMARK(BaselineRead)->UseRealTime()->Repetitions(5)->MinTime(0.5);

int main(int argc, char** argv) {
  zarn::test::RawSerialDrive drive(1, 2);
  g_drive = &drive;
  const int result = zarn::bench::RunAndPrintRatios(
      argc, argv, {{"serial ZARN_ReadDWordS / bare exchange", "LibraryRead", "BaselineRead", 1.05}});
  TwoThreads(drive.SlavePath(), 1000);
  return result;
}
