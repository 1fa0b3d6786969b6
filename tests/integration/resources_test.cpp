// What the values returned do not show: the CPU a waiting request uses, the
// descriptors and threads that connections leave behind, and how long a close
// takes while the connection pauses after a receive error.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "fixtures.h"
#include "platform/platform.h"

namespace zarn {
namespace test {
namespace {

// A reply in four pieces, 150 ms apart.
Reply InPieces(const Bytes& whole) {
  Reply r;
  const size_t piece = (whole.size() + 3) / 4;
  for (size_t at = 0; at < whole.size(); at += piece)
    r.push_back(Chunk{Bytes(whole.begin() + at, whole.begin() + std::min(whole.size(), at + piece)), 150});
  return r;
}

// The calling thread's CPU time over a request, as a share of its wall time:
// a wait that sleeps between the pieces uses next to none, one that spins
// takes whatever share of a core the machine gives it (a tenth or more even
// on a machine loaded five times over).
double CpuShareOfRequest(uint8_t driveId) {
  uint32_t value = 0;
  const double cpu = ThreadCpuSeconds();
  const auto start = Clock::now();
  EXPECT_EQ(0, ZARN_ReadDWord(driveId, 0x6064, 0, &value));
  const long ms = MsSince(start);
  EXPECT_EQ(0x11223344u, value);
  EXPECT_GE(ms, 400);  // the pieces' gaps were waited for
  return (ThreadCpuSeconds() - cpu) * 1000.0 / static_cast<double>(ms);
}

using SerialWait = SerialDriveTest;
using EthernetWait = EthernetDriveTest;

TEST_F(SerialWait, ReplyInPiecesWithGapsCostsTheCallerNoCpu) {
  model.SetDWord(0x6064, 0, 0x11223344);
  Responder whole = model.Serial(1);
  peer.SetResponder([&](const Bytes& req) { return InPieces(whole(req)[0].bytes); });
  EXPECT_LT(CpuShareOfRequest(1), 0.02);  // a sleeping wait: about 0.0005
}

TEST_F(EthernetWait, ReplyInDatagramsWithGapsCostsTheCallerNoCpu) {
  model.SetDWord(0x6064, 0, 0x11223344);
  Responder whole = model.Ethernet();
  peer.SetResponder([&](const Bytes& req) { return InPieces(whole(req)[0].bytes); });
  EXPECT_LT(CpuShareOfRequest(1), 0.02);  // a sleeping wait: about 0.0005
}

// True once the process holds at most n threads; a thread just joined may be
// listed for a moment.
bool ThreadsSettleAt(int n) {
  for (int i = 0; i < 500 && ThreadCount() > n; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  return ThreadCount() <= n;
}

TEST(ConnectionResources, ManyOpensAndClosesLeaveNoDescriptorOrThread) {
  DriveModel model;
  SerialPeer line;
  UdpPeer udp;
  model.SetWord(0x2100, 0, 5);
  line.SetResponder(model.Serial(1));
  udp.SetResponder(model.Ethernet());
  auto cycle = [&] {
    uint16_t v = 0;
    ASSERT_EQ(0, ZARN_SDRVOpen(1, line.SlavePath().c_str(), 115200));
    ASSERT_EQ(0, ZARN_ReadWord(1, 0x2100, 0, &v));
    ASSERT_EQ(0, ZARN_DriveClose(1));
    ASSERT_EQ(0, ZARN_EDRVOpen(2, "127.0.0.1", udp.Port()));
    ASSERT_EQ(0, ZARN_ReadWord(2, 0x2100, 0, &v));
    ASSERT_EQ(0, ZARN_DriveClose(2));
  };
  platform::DebugTrace("before the first connection");  // the trace channel stays open once used
  const int descriptors = DescriptorCount(), threads = ThreadCount();
  for (int i = 0; i < 50 && !HasFatalFailure(); ++i) cycle();
  EXPECT_EQ(descriptors, DescriptorCount());
  EXPECT_TRUE(ThreadsSettleAt(threads)) << ThreadCount() << " threads, " << threads << " before";
}

// Receive errors reach the debug trace; the test counts them.
std::atomic<int> g_receiveErrors{0};
void CountReceiveErrors(const char* text) {
  if (strstr(text, "recvfrom() Error!")) ++g_receiveErrors;
}

class ReceiveErrorPause : public EthernetDriveTest {
 protected:
  void SetUp() override {
    g_receiveErrors = 0;
    platform::SetTraceSink(&CountReceiveErrors);
    EthernetDriveTest::SetUp();
  }
  void TearDown() override {
    EthernetDriveTest::TearDown();
    platform::SetTraceSink(nullptr);
  }
  // Closes the connection; returns how long that took.
  long CloseMs() {
    const auto start = Clock::now();
    EXPECT_EQ(0, ZARN_DriveClose(1));
    return MsSince(start);
  }
};

TEST_F(ReceiveErrorPause, CloseEndsAnIdleConnectionAtOnce) {
  // Idle for longer than the event thread's take-over time: it receives the datagram.
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  peer.SendRaw(Bytes(100, 0xEE));
  for (int i = 0; i < 200 && g_receiveErrors == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_EQ(1, g_receiveErrors.load()) << "the oversized datagram was not taken as a receive error";
  EXPECT_LT(CloseMs(), 100);
}

}  // namespace
}  // namespace test
}  // namespace zarn
