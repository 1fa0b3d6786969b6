// Soak: a million UDP requests and ten thousand serial ones against a zarn-sim
// process, reconnecting every so often, each write read back. Prints the
// failures by code, wrong values, throughput and latency, and the process's
// memory, descriptors and threads before, during and after. Not part of the
// test run: it takes minutes.
//
//   zarn_soak [--udp N] [--serial N] [--reconnect-udp N] [--reconnect-serial N] [--sim PROGRAM]
#include <dirent.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "sim_process.h"
#include "zarn/zarn.h"

namespace {

using Clock = std::chrono::steady_clock;

long StatusField(const char* name) {
  FILE* f = fopen("/proc/self/status", "r");
  char line[256];
  long value = -1;
  const size_t n = strlen(name);
  while (f && fgets(line, sizeof line, f))
    if (strncmp(line, name, n) == 0 && line[n] == ':') value = atol(line + n + 1);
  if (f) fclose(f);
  return value;
}

int Descriptors() {
  int n = 0;
  DIR* d = opendir("/proc/self/fd");
  while (d && readdir(d)) ++n;
  if (d) closedir(d);
  return n - 3;  // ".", ".." and the one opendir holds
}

struct Resources {
  long rssKb = StatusField("VmRSS");
  int descriptors = Descriptors();
  long threads = StatusField("Threads");
};

struct Run {
  const char* transport;
  long requests = 0;
  long wrong = 0;
  long reconnects = 0;
  std::map<int32_t, long> failures;
  std::vector<uint32_t> micros;
  double seconds = 0;
  std::vector<long> rssKb;  // at each tenth
};

// Pairs of a write and its read-back to one drive, reopening every `reconnect` requests.
Run Soak(const char* transport, long count, long reconnect, int driveId, const std::function<int32_t()>& open) {
  Run run;
  run.transport = transport;
  run.micros.assign(static_cast<size_t>(count), 0);  // touched now: the RSS figures are the library's
  if (open() != ZARN_OK) {
    run.failures[-1] = count;
    run.micros.clear();
    return run;
  }
  const auto begin = Clock::now();
  for (long i = 0; i < count; ++i) {
    if (i > 0 && i % reconnect == 0) {
      ZARN_DriveClose(driveId);
      ++run.reconnects;
      if (open() != ZARN_OK) ++run.failures[-1];
    }
    if (i % (count / 10 > 0 ? count / 10 : 1) == 0) run.rssKb.push_back(StatusField("VmRSS"));
    const auto t = Clock::now();
    int32_t code;
    const int32_t written = static_cast<int32_t>(i * 7919 % 2000003) - 1000000;
    if (i % 2 == 0) {
      code = ZARN_WriteDWordS(static_cast<uint8_t>(driveId), 0x3101, 2, written);
    } else {
      int32_t value = 0;
      code = ZARN_ReadDWordS(static_cast<uint8_t>(driveId), 0x3101, 2, &value);
      const int32_t expected = static_cast<int32_t>((i - 1) * 7919 % 2000003) - 1000000;
      if (code == ZARN_OK && value != expected) ++run.wrong;
    }
    run.micros[static_cast<size_t>(i)] =
        static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - t).count());
    if (code != ZARN_OK) ++run.failures[code];
    ++run.requests;
  }
  run.seconds = std::chrono::duration<double>(Clock::now() - begin).count();
  ZARN_DriveClose(driveId);
  return run;
}

uint32_t Percentile(std::vector<uint32_t> v, double p) {
  if (v.empty()) return 0;
  const size_t k = std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size())));
  std::nth_element(v.begin(), v.begin() + static_cast<long>(k), v.end());
  return v[k];
}

const char* TextOption(int argc, char** argv, const char* name, const char* fallback) {
  for (int i = 1; i + 1 < argc; ++i)
    if (strcmp(argv[i], name) == 0) return argv[i + 1];
  return fallback;
}

long Option(int argc, char** argv, const char* name, long fallback) {
  const char* text = TextOption(argc, argv, name, nullptr);
  return text ? atol(text) : fallback;
}

}  // namespace

int main(int argc, char** argv) {
  const long udpCount = Option(argc, argv, "--udp", 1000000);
  const long serialCount = Option(argc, argv, "--serial", 10000);
  const long udpReconnect = Option(argc, argv, "--reconnect-udp", 10000);
  const long serialReconnect = Option(argc, argv, "--reconnect-serial", 1000);

  const char* program = TextOption(argc, argv, "--sim", ZARN_SIM_PROGRAM);
  zarn::test::SimProcess sim(program, {"--udp", "127.0.0.1:0", "--serial-pty", "--drives", "1,2"});
  if (!sim.Ok()) {
    fprintf(stderr, "zarn_soak: zarn-sim did not start (%s)\n", program);
    return 2;
  }
  const std::string line = sim.SerialPath();
  const uint16_t port = sim.UdpPort(2);
  const Resources before;

  std::vector<Run> runs;
  runs.push_back(Soak("udp", udpCount, udpReconnect, 2, [&] { return ZARN_EDRVOpen(2, "127.0.0.1", port); }));
  runs.push_back(
      Soak("serial", serialCount, serialReconnect, 1, [&] { return ZARN_SDRVOpen(1, line.c_str(), 115200); }));

  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // joined threads leave the list
  const Resources after;

  bool clean = true;
  printf("| transport | requests | failures | wrong values | reconnects | requests/s | p50 us | p99 us | max ms |\n");
  printf("|---|---|---|---|---|---|---|---|---|\n");
  for (const Run& r : runs) {
    long failed = 0;
    std::string codes;
    for (const auto& f : r.failures) {
      failed += f.second;
      codes += " " + std::to_string(f.first) + "x" + std::to_string(f.second);
    }
    clean &= failed == 0 && r.wrong == 0;
    printf("| %s | %ld | %ld%s | %ld | %ld | %.0f | %u | %u | %.1f |\n", r.transport, r.requests, failed, codes.c_str(),
           r.wrong, r.reconnects, r.seconds > 0 ? r.requests / r.seconds : 0.0, Percentile(r.micros, 0.5),
           Percentile(r.micros, 0.99),
           r.micros.empty() ? 0.0 : *std::max_element(r.micros.begin(), r.micros.end()) / 1000.0);
  }
  printf("\n| | before | after |\n|---|---|---|\n");
  printf("| RSS kB | %ld | %ld |\n| descriptors | %d | %d |\n| threads | %ld | %ld |\n", before.rssKb, after.rssKb,
         before.descriptors, after.descriptors, before.threads, after.threads);
  for (const Run& r : runs) {
    printf("RSS kB at each tenth of the %s run:", r.transport);
    for (long kb : r.rssKb) printf(" %ld", kb);
    printf("\n");
  }
  clean &= after.descriptors == before.descriptors && after.threads == before.threads;
  return clean ? 0 : 1;
}
