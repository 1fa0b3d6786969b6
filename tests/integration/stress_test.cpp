// Many threads at once against zarn-sim processes: eight on two drives of one
// serial line, sixteen over UDP (four of them on one drive), two opening and
// closing UDP drives meanwhile; once with every reply answered and once with
// a share of them dropped. Every value read must be the one its own drive
// holds, every code one the situation allows, every call bounded.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "fixtures.h"
#include "sim_process.h"

namespace zarn {
namespace test {
namespace {

constexpr uint16_t kMarked = 0x2100;   // every drive holds 100 + its id here
constexpr uint16_t kRecords = 0x3100;  // thread k writes and reads back record k + 1, subindex 2
// One exchange, waited for at most twice its one-second limit, with a margin for a loaded machine.
constexpr long kExchangeMs = 2000 + 500;

struct Tally {
  std::mutex lock;
  std::map<int32_t, long> codes;
  long calls = 0, crossed = 0, unexpected = 0, late = 0;
  long slowestMs = 0;
};

class Stress : public ::testing::TestWithParam<double> {
 protected:
  // One call: its code counted, checked against the allowed ones and against its bound.
  int32_t Call(Tally& t, const std::set<int32_t>& allowed, long boundMs, const std::function<int32_t()>& call) {
    const auto start = Clock::now();
    const int32_t code = call();
    const long ms = MsSince(start);
    std::lock_guard<std::mutex> guard(t.lock);
    ++t.calls;
    ++t.codes[code];
    if (!allowed.count(code)) ++t.unexpected;
    if (ms > boundMs) ++t.late;
    t.slowestMs = std::max(t.slowestMs, ms);
    return code;
  }

  // A thread's loop on one drive: a write and its read-back, a read of the drive's mark.
  void Transact(Tally& t, uint8_t id, int record, const std::set<int32_t>& allowed, long boundMs) {
    for (uint32_t n = 1; !stop; ++n) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));  // a busy client, not a spinning one
      const int32_t value = static_cast<int32_t>(record << 24 | n);
      const int32_t wrote =
          Call(t, allowed, boundMs, [&] { return ZARN_WriteDWordS(id, kRecords + record, 2, value); });
      int32_t back = 0;
      if (Call(t, allowed, boundMs, [&] { return ZARN_ReadDWordS(id, kRecords + record, 2, &back); }) == 0 &&
          wrote == 0 && back != value) {
        std::lock_guard<std::mutex> guard(t.lock);
        ++t.crossed;
      }
      uint16_t mark = 0;
      if (Call(t, allowed, boundMs, [&] { return ZARN_ReadWord(id, kMarked, 0, &mark); }) == 0 && mark != 100 + id) {
        std::lock_guard<std::mutex> guard(t.lock);
        ++t.crossed;
      }
    }
  }

  std::atomic<bool> stop{false};
};

TEST_P(Stress, EveryThreadGetsItsOwnDrivesValuesInBoundedTime) {
  const double drop = GetParam();
  std::vector<std::string> faults;
  if (drop > 0) faults = {"--drop", std::to_string(drop), "--seed", "11"};
  auto options = [&](std::vector<std::string> o) {
    o.insert(o.end(), faults.begin(), faults.end());
    return o;
  };
  // Serial drives 1 and 2 on one line; UDP drives 3 to 19.
  std::string udpIds;
  for (int id = 3; id <= 19; ++id) udpIds += (udpIds.empty() ? "" : ",") + std::to_string(id);
  SimProcess line(ZARN_SIM_PROGRAM, options({"--serial-pty", "--drives", "1,2"}));
  SimProcess udp(ZARN_SIM_PROGRAM, options({"--udp", "127.0.0.1:0", "--drives", udpIds}));
  ASSERT_TRUE(line.Ok() && udp.Ok());
  for (uint8_t id : {1, 2}) ASSERT_EQ(0, ZARN_SDRVOpen(id, line.SerialPath().c_str(), 115200));
  for (uint8_t id = 3; id <= 15; ++id) ASSERT_EQ(0, ZARN_EDRVOpen(id, "127.0.0.1", udp.UdpPort(id)));
  // Each drive's mark, written before the threads start (a dropped reply is retried).
  for (uint8_t id = 1; id <= 19; ++id) {
    if (id > 15) {
      ASSERT_EQ(0, ZARN_EDRVOpen(id, "127.0.0.1", udp.UdpPort(id)));
    }
    uint16_t mark = 0;
    for (int attempt = 0; attempt < 10 && (ZARN_ReadWord(id, kMarked, 0, &mark) != 0 || mark != 100 + id); ++attempt)
      ZARN_WriteWord(id, kMarked, 0, static_cast<uint16_t>(100 + id));
    ASSERT_EQ(100 + id, mark) << int(id);
    if (id > 15) ZARN_DriveClose(id);
  }

  // A reply late past the deadline (a dropped one, or one that a loaded machine
  // held back) ends its request, and may then arrive during the next one.
  const std::set<int32_t> serialCodes = {0, ZARN_E_SERIAL_NO_REPLY, ZARN_E_SERIAL_ECHO};
  const std::set<int32_t> udpCodes = {0, ZARN_E_ETH_NO_REPLY, ZARN_E_ETH_ECHO};
  Tally serial, ethernet, churn;
  std::vector<std::thread> threads;
  // Eight threads take turns on one line: each waits for the other seven at most.
  for (int k = 0; k < 8; ++k)
    threads.emplace_back(
        [&, k] { Transact(serial, static_cast<uint8_t>(1 + k % 2), k, serialCodes, 8 * kExchangeMs); });
  // Twelve threads on drives of their own, four on drive 15.
  for (int k = 0; k < 16; ++k) {
    const uint8_t id = static_cast<uint8_t>(k < 12 ? 3 + k : 15);
    threads.emplace_back([&, k, id] { Transact(ethernet, id, k, udpCodes, (id == 15 ? 4 : 1) * kExchangeMs); });
  }
  // Two threads open, use and close drives 16 to 19 meanwhile.
  for (int k = 0; k < 2; ++k) {
    threads.emplace_back([&, k] {
      for (int n = 0; !stop; ++n) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        const uint8_t id = static_cast<uint8_t>(16 + 2 * k + n % 2);
        if (Call(churn, {0}, kExchangeMs, [&] { return ZARN_EDRVOpen(id, "127.0.0.1", udp.UdpPort(id)); }) != 0)
          continue;
        uint16_t mark = 0;
        if (Call(churn, udpCodes, kExchangeMs, [&] { return ZARN_ReadWord(id, kMarked, 0, &mark); }) == 0 &&
            mark != 100 + id) {
          std::lock_guard<std::mutex> guard(churn.lock);
          ++churn.crossed;
        }
        Call(churn, {0}, 1000, [&] { return ZARN_DriveClose(id); });
      }
    });
  }
  std::this_thread::sleep_for(std::chrono::seconds(3));
  stop = true;
  for (auto& t : threads) t.join();
  for (int id = 1; id <= 15; ++id) ZARN_DriveClose(id);

  for (Tally* t : {&serial, &ethernet, &churn}) {
    const char* name = t == &serial ? "serial" : t == &ethernet ? "udp" : "open/close";
    std::string codes;
    for (const auto& c : t->codes) codes += " " + std::to_string(c.first) + "x" + std::to_string(c.second);
    printf("%s: %ld calls, codes%s, slowest %ld ms\n", name, t->calls, codes.c_str(), t->slowestMs);
    EXPECT_EQ(0, t->crossed) << name;
    EXPECT_EQ(0, t->unexpected) << name << ":" << codes;
    EXPECT_EQ(0, t->late) << name << ": slowest " << t->slowestMs << " ms";
    EXPECT_GT(t->codes[0], 20) << name;
  }
}

INSTANTIATE_TEST_SUITE_P(Replies, Stress, ::testing::Values(0.0, 0.01),
                         [](const ::testing::TestParamInfo<double>& info) {
                           return info.param > 0 ? std::string("SomeDropped") : std::string("AllAnswered");
                         });

}  // namespace
}  // namespace test
}  // namespace zarn
