// The faults a drive or its line can show, over both transports, against the
// virtual drive's own faults (over a real pseudo-terminal and real UDP
// sockets, in this process or as a zarn-sim process) and a scripted peer: for each, the code the request ends with, the
// time it takes, and that the next request succeeds once the fault is over.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "drive.h"
#include "endpoints.h"
#include "fixtures.h"
#include "sim_process.h"

namespace zarn {
namespace test {
namespace {

constexpr uint8_t kSerialId = 1, kUdpId = 2;
constexpr uint16_t kObject = 0x2100;
constexpr int64_t kValue = 111;
// A missing reply ends its request after one to two seconds; a loaded machine adds a margin.
constexpr long kMissingMin = 950, kMissingMax = 2600;

class Campaign;

struct Fault {
  const char* name;
  bool serial;
  int32_t code;
  long minMs, maxMs;
  std::function<void(Campaign&)> inject;
  // Run 100 ms into the request, from another thread, when there is one.
  std::function<void(Campaign&)> during;
  // After the request: what ends the fault, beyond clearing the drive's faults.
  std::function<void(Campaign&)> recover;
};

void PrintTo(const Fault& f, std::ostream* os) { *os << f.name; }

class Campaign : public ::testing::TestWithParam<Fault> {
 public:
  void SetUp() override {
    drive.SetValue(kObject, 0, kValue);
    model.SetWord(kObject, 0, kValue);
    scripted.SetResponder(model.Ethernet());
    line = std::make_unique<sim::SerialEndpoint>(std::vector<sim::Drive*>{&drive}, "", 115200);
    udp = std::make_unique<sim::UdpEndpoint>(drive, "127.0.0.1", 0);
    ASSERT_TRUE(line->Ok() && udp->Ok());
    udpPort = udp->Port();
    ASSERT_EQ(0, ZARN_SDRVOpen(kSerialId, line->Path().c_str(), 115200));
    ASSERT_EQ(0, ZARN_EDRVOpen(kUdpId, "127.0.0.1", udpPort));
  }
  void TearDown() override {
    ZARN_DriveClose(kSerialId);
    ZARN_DriveClose(kUdpId);
  }

  int32_t Request(uint16_t* value) { return ZARN_ReadWord(GetParam().serial ? kSerialId : kUdpId, kObject, 0, value); }

  void UseScriptedPeer() {
    ZARN_DriveClose(kUdpId);
    ASSERT_EQ(0, ZARN_EDRVOpen(kUdpId, "127.0.0.1", scripted.Port()));
  }
  // The drive becomes a zarn-sim process with these options, the value in place.
  void UseSimProcess(std::vector<std::string> options) {
    const bool serial = GetParam().serial;
    options.insert(options.begin(), serial ? "--serial-pty" : "--udp");
    if (!serial) options.insert(options.begin() + 1, "127.0.0.1:" + std::to_string(processPort));
    process = std::make_unique<SimProcess>(ZARN_SIM_PROGRAM, options);
    ASSERT_TRUE(process->Ok());
    const uint8_t id = serial ? kSerialId : kUdpId;
    ZARN_DriveClose(id);
    if (serial) {
      ASSERT_EQ(0, ZARN_SDRVOpen(id, process->SerialPath().c_str(), 115200));
    } else {
      ASSERT_TRUE(processPort == 0 || process->UdpPort(1) == processPort) << "the port was taken meanwhile";
      processPort = process->UdpPort(1);
      ASSERT_EQ(0, ZARN_EDRVOpen(id, "127.0.0.1", processPort));
    }
    ASSERT_EQ(0, ZARN_WriteWord(id, kObject, 0, kValue)) << "the first request to the new drive";
  }
  // The line comes back as a new pseudo-terminal, opened afresh.
  void NewLine() {
    line = std::make_unique<sim::SerialEndpoint>(std::vector<sim::Drive*>{&drive}, "", 115200);
    ZARN_DriveClose(kSerialId);
    ASSERT_EQ(0, ZARN_SDRVOpen(kSerialId, line->Path().c_str(), 115200));
  }
  void SetFaults(void (*set)(sim::Faults&)) {
    sim::Faults f;
    set(f);
    drive.SetFaults(f);
  }

  sim::Drive drive{sim::DriveConfig{}};
  std::unique_ptr<sim::SerialEndpoint> line;
  std::unique_ptr<sim::UdpEndpoint> udp;
  uint16_t udpPort = 0;
  DriveModel model;  // outlives the scripted peer's thread
  UdpPeer scripted;
  std::unique_ptr<SimProcess> process;
  uint16_t processPort = 0;
};

TEST_P(Campaign, EndsWithItsCodeInTimeAndTheNextRequestSucceeds) {
  const Fault& fault = GetParam();
  fault.inject(*this);
  if (HasFatalFailure()) return;
  std::thread during;
  if (fault.during)
    during = std::thread([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      fault.during(*this);
    });
  uint16_t value = 7;
  const auto start = Clock::now();
  const int32_t code = Request(&value);
  const long ms = MsSince(start);
  if (during.joinable()) during.join();
  EXPECT_EQ(fault.code, code);
  EXPECT_GE(ms, fault.minMs);
  EXPECT_LE(ms, fault.maxMs);
  if (code != 0) {
    EXPECT_EQ(7, value) << "a failed read wrote its output";
  }

  drive.SetFaults(sim::Faults());
  if (fault.recover) fault.recover(*this);
  if (HasFatalFailure()) return;
  value = 0;
  const int32_t next = Request(&value);
  EXPECT_EQ(0, next) << "the next request";
  EXPECT_EQ(kValue, value);
  printf("fault %s: code %d after %ld ms; the next request: %d\n", fault.name, code, ms, next);
}

void Wait(long ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// The delayed reply is out, and the connection's pause after a receive error is over.
constexpr long kDelayMs = 2500, kReceiveErrorPauseMs = 3000;

Fault Row(const char* name, bool serial, int32_t code, long minMs, long maxMs, std::function<void(Campaign&)> inject,
          std::function<void(Campaign&)> during = nullptr, std::function<void(Campaign&)> recover = nullptr) {
  return Fault{name, serial, code, minMs, maxMs, std::move(inject), std::move(during), std::move(recover)};
}

std::function<void(Campaign&)> DriveFault(void (*set)(sim::Faults&)) {
  return [set](Campaign& c) { c.SetFaults(set); };
}

void Refuse(sim::Faults& f) {
  f.refuse = true;
  f.refuseIndex = kObject;
  f.refuseCode = 6;
}

const Fault kFaults[] = {
    Row("SerialDrop", true, ZARN_E_SERIAL_NO_REPLY, kMissingMin, kMissingMax,
        DriveFault([](sim::Faults& f) { f.dropShare = 1; })),
    Row("UdpDrop", false, ZARN_E_ETH_NO_REPLY, kMissingMin, kMissingMax,
        DriveFault([](sim::Faults& f) { f.dropShare = 1; })),
    Row("SerialDelayPastTheDeadline", true, ZARN_E_SERIAL_NO_REPLY, kMissingMin, kMissingMax,
        DriveFault([](sim::Faults& f) { f.delayMs = kDelayMs; }), nullptr, [](Campaign&) { Wait(kDelayMs); }),
    Row("UdpDelayPastTheDeadline", false, ZARN_E_ETH_NO_REPLY, kMissingMin, kMissingMax,
        DriveFault([](sim::Faults& f) { f.delayMs = kDelayMs; }), nullptr, [](Campaign&) { Wait(kDelayMs); }),
    Row("SerialOneByteChunks", true, ZARN_OK, 0, 1500, DriveFault([](sim::Faults& f) {
          f.chunkSize = 1;
          f.chunkGapMs = 5;
        })),
    Row("UdpOneByteDatagrams", false, ZARN_OK, 0, 1500,
        [](Campaign& c) {
          Responder whole = c.model.Ethernet();
          c.scripted.SetResponder([whole](const Bytes& req) {
            const Reply all = whole(req);
            Reply r;
            for (uint8_t b : all[0].bytes) r.push_back(Chunk{Bytes{b}, 2});
            return r;
          });
          c.UseScriptedPeer();
        }),
    Row("SerialBadCrc", true, ZARN_E_SERIAL_CRC, 0, 500, DriveFault([](sim::Faults& f) { f.badCrc = true; })),
    Row("SerialWrongEcho", true, ZARN_E_SERIAL_ECHO, 0, 500, DriveFault([](sim::Faults& f) { f.badEcho = true; })),
    Row("UdpWrongEcho", false, ZARN_E_ETH_ECHO, 0, 500, DriveFault([](sim::Faults& f) { f.badEcho = true; })),
    // 65 bytes of the padded reply are kept: its CRC is not where they end.
    Row("SerialOversizedReply", true, ZARN_E_SERIAL_CRC, 0, 500, DriveFault([](sim::Faults& f) { f.oversize = true; })),
    // A datagram past 65 bytes is a receive error: nothing is delivered, and the connection pauses.
    Row("UdpOversizedDatagram", false, ZARN_E_ETH_NO_REPLY, kMissingMin, kMissingMax,
        DriveFault([](sim::Faults& f) { f.oversize = true; }), nullptr,
        [](Campaign&) { Wait(kReceiveErrorPauseMs - kMissingMin); }),
    Row("SerialException", true, ZARN_E_REPLY_BUSY, 0, 500, DriveFault(&Refuse)),
    Row("UdpException", false, ZARN_E_REPLY_BUSY, 0, 500, DriveFault(&Refuse)),
    // A zarn-sim process killed halfway through its reply: the line hangs up,
    // or nothing more comes over UDP; another process takes its place.
    Row(
        "SerialPeerVanishesMidReply", true, ZARN_E_SERIAL_NO_REPLY, 0, kMissingMax,
        [](Campaign& c) {
          c.UseSimProcess({"--chunks", "8:300"});
        },
        [](Campaign& c) { c.process->Kill(); }, [](Campaign& c) { c.UseSimProcess({}); }),
    Row(
        "UdpPeerVanishesMidReply", false, ZARN_E_ETH_NO_REPLY, kMissingMin, kMissingMax,
        [](Campaign& c) {
          c.UseSimProcess({"--delay", "300"});
        },
        [](Campaign& c) { c.process->Kill(); }, [](Campaign& c) { c.UseSimProcess({}); }),
    Row(
        "SerialLineClosed", true, ZARN_E_SERIAL_WRITE, 0, 500,
        [](Campaign& c) {
          c.line.reset();
          Wait(100);  // the reader has seen the hang-up
        },
        nullptr, [](Campaign& c) { c.NewLine(); }),
};

INSTANTIATE_TEST_SUITE_P(Faults, Campaign, ::testing::ValuesIn(kFaults),
                         [](const ::testing::TestParamInfo<Fault>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace test
}  // namespace zarn
