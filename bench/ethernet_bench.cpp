// Ethernet: one ZARN_ReadDWordS over UDP loopback against a raw blocking
// send/receive of the same datagrams to the same peer; the CPU that 32 idle
// open connections use; how long ZARN_DriveClose takes to end a connection.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

#include "ratio.h"
#include "raw_drives.h"
#include "zarn/zarn.h"

namespace {

zarn::test::RawUdpDrive* g_drive;

void LibraryRead(benchmark::State& state) {
  if (ZARN_EDRVOpen(1, "127.0.0.1", g_drive->Port()) != 0) {
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
  int fd = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_port = htons(g_drive->Port());
  peer.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  connect(fd, reinterpret_cast<sockaddr*>(&peer), sizeof peer);
  const uint8_t request[8] = {0x2B, 0x0D, 0x00, 0x00, 0x00, 0x60, 0x64, 0x00};
  uint8_t reply[65];
  for (auto _ : state) {
    send(fd, request, sizeof request, 0);
    if (recv(fd, reply, sizeof reply, 0) != 16) state.SkipWithError("short reply");
  }
  close(fd);
}

double CpuSeconds() {
  rusage u;
  getrusage(RUSAGE_SELF, &u);
  return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// 32 open, idle connections for 10 s, then 32 closes.
int IdleAndClose() {
  std::vector<std::unique_ptr<zarn::test::RawUdpDrive>> drives;
  for (int id = 0; id < 32; ++id) {
    drives.push_back(std::make_unique<zarn::test::RawUdpDrive>());
    if (ZARN_EDRVOpen(id, "127.0.0.1", drives.back()->Port()) != 0) return 1;
  }
  const double idleSeconds = 10.0;
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const double before = CpuSeconds();
  std::this_thread::sleep_for(std::chrono::duration<double>(idleSeconds));
  const double used = CpuSeconds() - before;
  std::vector<double> closeMs;
  for (int id = 0; id < 32; ++id) {
    auto t = std::chrono::steady_clock::now();
    ZARN_DriveClose(id);
    closeMs.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t).count());
  }
  std::sort(closeMs.begin(), closeMs.end());
  const double percent = 100.0 * used / idleSeconds;
  printf("CPU of 32 idle connections (and their 32 idle peers) over %.0f s: %.3f%% of one core (goal < 1%%) %s\n",
         idleSeconds, percent, percent < 1.0 ? "met" : "MISSED");
  printf("ZARN_DriveClose to the end of the event thread: median %.3f ms, max %.3f ms (goal < 5 ms) %s\n",
         closeMs[closeMs.size() / 2], closeMs.back(), closeMs.back() < 5.0 ? "met" : "MISSED");
  return (percent < 1.0 && closeMs.back() < 5.0) ? 0 : 1;
}

}  // namespace

BENCHMARK(LibraryRead)->UseRealTime()->Repetitions(5)->MinTime(0.5);
BENCHMARK(BaselineRead)->UseRealTime()->Repetitions(5)->MinTime(0.5);

int main(int argc, char** argv) {
  int result;
  {
    zarn::test::RawUdpDrive drive;
    g_drive = &drive;
    result = zarn::bench::RunAndPrintRatios(
        argc, argv, {{"UDP ZARN_ReadDWordS / raw send+recv", "LibraryRead", "BaselineRead", 1.5}});
  }
  return IdleAndClose() | result;
}
