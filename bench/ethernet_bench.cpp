// Ethernet: ZARN_ReadDWordS over UDP loopback against a raw blocking
// send/receive of the same datagrams, with the drives in a process of their
// own. Measured twice: client and drives pinned together on one CPU (so the
// wake-up cost of a second CPU is out), and client and drives on two CPUs.
// For each: median and p99 per request, the ratio of the medians, CPU time,
// context switches, system calls and heap allocations per request. Then the
// throughput of 1, 8 and 32 drives with one caller thread each against raw
// sockets with the same threads, the wake-ups of 32 idle connections and the
// time ZARN_DriveClose takes.
#include <arpa/inet.h>
#include <linux/perf_event.h>
#include <netinet/in.h>
#include <sched.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "alloc_count.h"
#include "raw_drives.h"
#include "zarn/zarn.h"

namespace {

constexpr int kDrives = 32;
using Clock = std::chrono::steady_clock;

// ---------------------------------------------------------------- the drives' process
struct DriveProcess {
  pid_t pid = -1;
  uint16_t ports[kDrives] = {};
};

DriveProcess StartDrives() {
  DriveProcess p;
  int fds[2];
  if (pipe(fds) != 0) return p;
  p.pid = fork();
  if (p.pid == 0) {
    close(fds[0]);
    std::vector<std::unique_ptr<zarn::test::RawUdpDrive>> drives;
    uint16_t ports[kDrives];
    for (int i = 0; i < kDrives; ++i) {
      drives.push_back(std::make_unique<zarn::test::RawUdpDrive>());
      ports[i] = drives.back()->Port();
    }
    if (write(fds[1], ports, sizeof ports) != static_cast<ssize_t>(sizeof ports)) _exit(1);
    close(fds[1]);
    pause();  // until the client ends it
    _exit(0);
  }
  close(fds[1]);
  if (read(fds[0], p.ports, sizeof p.ports) != static_cast<ssize_t>(sizeof p.ports)) p.pid = -1;
  close(fds[0]);
  return p;
}

void PinProcess(pid_t pid, int cpu) {
  // Every thread of the process: the drives' threads exist already.
  char dir[64];
  snprintf(dir, sizeof dir, "/proc/%d/task", static_cast<int>(pid));
  DIR* d = opendir(dir);
  if (!d) return;
  cpu_set_t set;
  CPU_ZERO(&set);
  CPU_SET(cpu, &set);
  while (dirent* e = readdir(d)) {
    if (e->d_name[0] == '.') continue;
    sched_setaffinity(atoi(e->d_name), sizeof set, &set);
  }
  closedir(d);
}

void PinSelf(int cpu) {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (cpu < 0) {
    for (int i = 0; i < CPU_SETSIZE && i < 64; ++i) CPU_SET(i, &set);
  } else {
    CPU_SET(cpu, &set);
  }
  sched_setaffinity(0, sizeof set, &set);
}

// ---------------------------------------------------------------- counters
// Counts for this thread and the threads it starts afterwards (the library's
// event thread), through the kernel's performance events; -1 when unavailable.
class Counter {
 public:
  Counter(uint32_t type, uint64_t config) {
    perf_event_attr a;
    memset(&a, 0, sizeof a);
    a.size = sizeof a;
    a.type = type;
    a.config = config;
    a.inherit = 1;
    a.exclude_hv = 1;
    fd_ = static_cast<int>(syscall(SYS_perf_event_open, &a, 0, -1, -1, 0));
  }
  ~Counter() {
    if (fd_ >= 0) close(fd_);
  }
  long long Read() const {
    long long v = -1;
    if (fd_ < 0 || read(fd_, &v, sizeof v) != sizeof v) return -1;
    return v;
  }

 private:
  int fd_;
};

uint64_t SyscallTracepoint() {
  FILE* f = fopen("/sys/kernel/tracing/events/raw_syscalls/sys_enter/id", "r");
  if (!f) f = fopen("/sys/kernel/debug/tracing/events/raw_syscalls/sys_enter/id", "r");
  unsigned long long id = 0;
  if (f) {
    if (fscanf(f, "%llu", &id) != 1) id = 0;
    fclose(f);
  }
  return id;
}

double CpuMicros() {
  rusage u;
  getrusage(RUSAGE_SELF, &u);
  return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e6 + u.ru_utime.tv_usec + u.ru_stime.tv_usec;
}

// ---------------------------------------------------------------- one request, two ways
int ConnectRaw(uint16_t port) {
  int fd = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_port = htons(port);
  peer.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  connect(fd, reinterpret_cast<sockaddr*>(&peer), sizeof peer);
  return fd;
}

bool RawRead(int fd) {
  static const uint8_t request[8] = {0x2B, 0x0D, 0x00, 0x00, 0x00, 0x60, 0x64, 0x00};
  uint8_t reply[65];
  return send(fd, request, sizeof request, 0) == 8 && recv(fd, reply, sizeof reply, 0) == 16;
}

bool LibraryRead(uint8_t id) {
  int32_t value = 0;
  return ZARN_ReadDWordS(id, 0x6064, 0, &value) == 0 && value == 123456;
}

struct Figures {
  double median = 0, p99 = 0, cpu = 0, switches = -1, syscalls = -1, allocations = 0;
};

template <typename Request>
Figures Measure(int n, Request request, const Counter& switches, const Counter& syscalls) {
  std::vector<double> us(static_cast<size_t>(n));
  for (int i = 0; i < n / 10; ++i) request();  // warm-up
  const long long s0 = switches.Read(), c0 = syscalls.Read();
  const double cpu0 = CpuMicros();
  zarn::test::CountAllocations(true);
  for (int i = 0; i < n; ++i) {
    const auto t = Clock::now();
    if (!request()) {
      fprintf(stderr, "a request failed\n");
      exit(1);
    }
    us[static_cast<size_t>(i)] = std::chrono::duration<double, std::micro>(Clock::now() - t).count();
  }
  zarn::test::CountAllocations(false);
  Figures f;
  f.cpu = (CpuMicros() - cpu0) / n;
  const long long s1 = switches.Read(), c1 = syscalls.Read();
  if (s0 >= 0 && s1 >= 0) f.switches = double(s1 - s0) / n;
  if (c0 >= 0 && c1 >= 0) f.syscalls = double(c1 - c0) / n;
  f.allocations = double(zarn::test::Allocations()) / n;
  std::sort(us.begin(), us.end());
  f.median = us[us.size() / 2];
  f.p99 = us[us.size() * 99 / 100];
  return f;
}

void PrintRow(const char* what, const Figures& f) {
  printf(
      "  %-22s median %7.1f us  p99 %7.1f us  CPU %6.1f us/req  switches %5.2f/req  syscalls %5.2f/req  "
      "allocations %.2f/req\n",
      what, f.median, f.p99, f.cpu, f.switches, f.syscalls, f.allocations);
}

// One placement: the client on CPU 0, the drives on driveCpu.
double Latency(const DriveProcess& drives, const char* title, int driveCpu, int n) {
  PinProcess(drives.pid, driveCpu);
  PinSelf(0);
  const uint64_t tracepoint = SyscallTracepoint();
  Counter switches(PERF_TYPE_SOFTWARE, PERF_COUNT_SW_CONTEXT_SWITCHES);
  Counter syscalls(tracepoint ? PERF_TYPE_TRACEPOINT : PERF_TYPE_MAX, tracepoint);
  int fd = ConnectRaw(drives.ports[0]);
  const Figures raw = Measure(
      n, [fd] { return RawRead(fd); }, switches, syscalls);
  close(fd);
  if (ZARN_EDRVOpen(1, "127.0.0.1", drives.ports[1]) != 0) {
    fprintf(stderr, "open failed\n");
    exit(1);
  }
  const Figures lib = Measure(
      n, [] { return LibraryRead(1); }, switches, syscalls);
  ZARN_DriveClose(1);
  PinSelf(-1);
  printf("%s\n", title);
  PrintRow("raw send+recv", raw);
  PrintRow("ZARN_ReadDWordS", lib);
  const double ratio = lib.median / raw.median;
  printf("  RATIO median ZARN_ReadDWordS / raw: %.3f\n", ratio);
  return ratio;
}

// Requests per second of `threads` callers, each on its own drive, for `seconds`.
template <typename Make>
double Throughput(int threads, double seconds, Make make) {
  std::atomic<bool> go{false}, stop{false};
  std::atomic<long> total{0};
  std::vector<std::thread> workers;
  for (int i = 0; i < threads; ++i) {
    workers.emplace_back([&, i] {
      auto request = make(i);
      while (!go.load()) std::this_thread::yield();
      long n = 0;
      while (!stop.load(std::memory_order_relaxed)) {
        if (!request()) break;
        ++n;
      }
      total += n;
    });
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  go = true;
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  stop = true;
  for (auto& w : workers) w.join();
  return total.load() / seconds;
}

long VoluntarySwitchesOfThisProcess() {
  long sum = 0;
  DIR* d = opendir("/proc/self/task");
  if (!d) return -1;
  while (dirent* e = readdir(d)) {
    if (e->d_name[0] == '.') continue;
    char path[300];
    snprintf(path, sizeof path, "/proc/self/task/%.256s/status", e->d_name);
    FILE* f = fopen(path, "r");
    if (!f) continue;
    char line[256];
    while (fgets(line, sizeof line, f)) {
      long v = 0;
      if (sscanf(line, "voluntary_ctxt_switches: %ld", &v) == 1) sum += v;
      if (sscanf(line, "nonvoluntary_ctxt_switches: %ld", &v) == 1) sum += v;
    }
    fclose(f);
  }
  closedir(d);
  return sum;
}

}  // namespace

int main(int argc, char** argv) {
  const int n = argc > 1 ? atoi(argv[1]) : 20000;
  DriveProcess drives = StartDrives();
  if (drives.pid <= 0) {
    fprintf(stderr, "the drives' process did not start\n");
    return 1;
  }
  printf("Ethernet benchmark: %d requests per case; the drives run in process %d\n", n, static_cast<int>(drives.pid));
  const double pinned = Latency(drives, "Pinned: client and drives on CPU 0", 0, n);
  const double spread = Latency(drives, "Two CPUs: client on CPU 0, drives on CPU 1", 1, n);
  PinProcess(drives.pid, 0);  // the placement is free again below
  {
    cpu_set_t all;
    CPU_ZERO(&all);
    for (int i = 0; i < 64; ++i) CPU_SET(i, &all);
    char dir[64];
    snprintf(dir, sizeof dir, "/proc/%d/task", static_cast<int>(drives.pid));
    if (DIR* d = opendir(dir)) {
      while (dirent* e = readdir(d))
        if (e->d_name[0] != '.') sched_setaffinity(atoi(e->d_name), sizeof all, &all);
      closedir(d);
    }
  }

  printf("Throughput, one caller thread per drive, both CPUs free:\n");
  double worstThroughput = 1e9;
  for (int threads : {1, 8, 32}) {
    for (int id = 0; id < threads; ++id)
      if (ZARN_EDRVOpen(id, "127.0.0.1", drives.ports[id]) != 0) return 1;
    const double raw = Throughput(threads, 2.0, [&](int i) {
      int fd = ConnectRaw(drives.ports[i]);
      return [fd] { return RawRead(fd); };
    });
    const double lib = Throughput(threads, 2.0, [](int i) {
      const uint8_t id = static_cast<uint8_t>(i);
      return [id] { return LibraryRead(id); };
    });
    for (int id = 0; id < threads; ++id) ZARN_DriveClose(id);
    printf("  %2d drives: raw %8.0f req/s  library %8.0f req/s  RATIO %.3f\n", threads, raw, lib, lib / raw);
    worstThroughput = std::min(worstThroughput, lib / raw);
  }

  for (int id = 0; id < kDrives; ++id)
    if (ZARN_EDRVOpen(id, "127.0.0.1", drives.ports[id]) != 0) return 1;
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // let every connection settle
  const double idleSeconds = 5.0;
  const long before = VoluntarySwitchesOfThisProcess();
  std::this_thread::sleep_for(std::chrono::duration<double>(idleSeconds));
  const double wakeups = (VoluntarySwitchesOfThisProcess() - before) / idleSeconds;
  std::vector<double> closeMs;
  for (int id = 0; id < kDrives; ++id) {
    const auto t = Clock::now();
    ZARN_DriveClose(id);
    closeMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t).count());
  }
  std::sort(closeMs.begin(), closeMs.end());
  printf("Idle: 32 open connections, %.0f s: %.1f wake-ups/s in total\n", idleSeconds, wakeups);
  printf("ZARN_DriveClose: median %.3f ms, max %.3f ms\n", closeMs[closeMs.size() / 2], closeMs.back());
  printf(
      "Goals: pinned ratio <= 1.2 (%.3f), throughput ratio >= 0.8 (worst %.3f), idle <= 1 wake-up/s (%.1f), "
      "close < 5 ms (%.3f)\n",
      pinned, worstThroughput, wakeups, closeMs.back());
  (void)spread;
  kill(drives.pid, SIGTERM);
  waitpid(drives.pid, nullptr, 0);
  return 0;
}
