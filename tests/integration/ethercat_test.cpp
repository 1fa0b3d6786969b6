// Bringing the EtherCAT master online, against a test double of API_EtherCAT
// found on the library path.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "core/state.h"
#include "ethernet/ethercat.h"
#include "fake_ethercat.h"
#include "fixtures.h"
#include "platform/platform.h"

namespace zarn {
namespace test {
namespace {

using Clock = std::chrono::steady_clock;

// What the library showed in message boxes during a test.
std::string g_shown;
void Collect(const char* text) { g_shown += std::string(text) + "\n"; }
long MsSince(Clock::time_point t) {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count());
}

class Master : public ::testing::Test {
 protected:
  void SetUp() override {
    *FakeEtherCat() = FakeEtherCatState();
    g_shown.clear();
    platform::SetMessageSink(Collect);
    model.SetWord(0x2003, 0, 1);
    peer.SetResponder(model.Ethernet());
    ASSERT_FALSE(EtherCatMaster::Instance().IsDirectIp()) << "the test double was not found";
  }
  void TearDown() override { platform::SetMessageSink(nullptr); }
  UdpPeer peer;
  DriveModel model;
};

TEST_F(Master, BringUpWithTheSetupFile) {
  ASSERT_EQ(0, ZARN_SetEoESetupFile("C:\\eoe\\net.xml"));
  FakeEtherCat()->setModeResult = 1;  // 1 counts as accepted
  auto start = Clock::now();
  ASSERT_EQ(0, ZARN_EDRVOpen(4, "127.0.0.1", peer.Port()));
  EXPECT_GE(MsSince(start), 1000);  // the kernel is given a second after its start
  EXPECT_EQ(1, FakeEtherCat()->initCalls);
  EXPECT_TRUE(FakeEtherCat()->slaveCountWasZero);
  EXPECT_EQ(2, FakeEtherCat()->requestedMode);
  const uint16_t expected[] = {'C', ':', '\\', 'e', 'o', 'e', '\\', 'n', 'e', 't', '.', 'x', 'm', 'l', 0};
  for (size_t i = 0; i < sizeof expected / sizeof expected[0]; ++i)
    EXPECT_EQ(expected[i], FakeEtherCat()->initPath[i]) << i;
  int32_t mode = 0;
  EXPECT_EQ(0, ZARN_GetOnlineMode(&mode));
  EXPECT_EQ(2, mode);
  ZARN_DriveClose(4);
}

TEST_F(Master, AlreadyOnlineSkipsTheBringUp) {
  FakeEtherCat()->mode = 2;
  auto start = Clock::now();
  ASSERT_EQ(0, ZARN_EDRVOpen(4, "127.0.0.1", peer.Port()));
  EXPECT_LT(MsSince(start), 500);
  EXPECT_EQ(0, FakeEtherCat()->initCalls);
  EXPECT_EQ(0, FakeEtherCat()->setModeCalls);
  ZARN_DriveClose(4);
}

TEST_F(Master, InitAndModeFailuresRefuseTheOpen) {
  FakeEtherCat()->initResult = 5;
  EXPECT_EQ(ZARN_E_ETH_OPEN, ZARN_EDRVOpen(4, "127.0.0.1", peer.Port()));
  EXPECT_EQ("Need to configure Ethernet network first!\n", g_shown);
  EXPECT_EQ(0, ConnectionOf(4));
  EXPECT_EQ(0, State().ethernetSlots[4].DriveId());
  EXPECT_FALSE(State().ethernetSlots[4].IsOpen());

  FakeEtherCat()->initResult = 0;
  FakeEtherCat()->setModeResult = 7;
  g_shown.clear();
  EXPECT_EQ(ZARN_E_ETH_OPEN, ZARN_EDRVOpen(4, "127.0.0.1", peer.Port()));
  EXPECT_EQ("Drive could not switch to right status!\n", g_shown);
}

TEST_F(Master, ModeThatNeverArrivesIsBounded) {
  FakeEtherCat()->modeAfterSet = 1;  // accepted, but mode 2 never comes
  auto start = Clock::now();
  EXPECT_EQ(ZARN_E_ETH_OPEN, ZARN_EDRVOpen(4, "127.0.0.1", peer.Port()));
  long ms = MsSince(start);
  EXPECT_GE(ms, 1000 + 10000);
  EXPECT_LT(ms, 1000 + 10000 + 1500);
  EXPECT_EQ("Drive could not switch to right status!\n", g_shown);
}

TEST_F(Master, StopsOnlyWhenTheLastConnectionCloses) {
  FakeEtherCat()->mode = 2;
  UdpPeer second;
  second.SetResponder(model.Ethernet());
  ASSERT_EQ(0, ZARN_EDRVOpen(1, "127.0.0.1", peer.Port()));
  ASSERT_EQ(0, ZARN_EDRVOpen(2, "127.0.0.1", second.Port()));
  EXPECT_EQ(0, ZARN_DriveClose(1));
  EXPECT_EQ(0, FakeEtherCat()->stopCalls);
  model.SetWord(0x2100, 0, 9);
  uint16_t v = 0;
  EXPECT_EQ(0, ZARN_ReadWord(2, 0x2100, 0, &v));  // still reachable
  EXPECT_EQ(0, ZARN_DriveClose(2));
  EXPECT_EQ(1, FakeEtherCat()->stopCalls);
  // The next open brings the master up again.
  ASSERT_EQ(0, ZARN_EDRVOpen(1, "127.0.0.1", peer.Port()));
  EXPECT_EQ(1, FakeEtherCat()->initCalls);
  ZARN_DriveClose(1);
}

TEST_F(Master, AnOpenConnectionNeverFindsTheMasterStopped) {
  FakeEtherCat()->mode = 2;
  UdpPeer second;
  second.SetResponder(model.Ethernet());
  std::atomic<int> opened{0}, offline{0};
  // Two ids opened and closed over and over: each close of the last
  // connection stops the master, each open brings it up when it is down.
  auto churn = [&](int id, uint16_t port) {
    const auto end = Clock::now() + std::chrono::milliseconds(3000);
    while (Clock::now() < end) {
      if (ZARN_EDRVOpen(id, "127.0.0.1", port) != 0) continue;
      ++opened;
      int32_t mode = 0;
      ZARN_GetOnlineMode(&mode);
      if (mode != 2) ++offline;
      ZARN_DriveClose(id);
    }
  };
  std::thread a(churn, 30, peer.Port()), b(churn, 31, second.Port());
  a.join();
  b.join();
  EXPECT_GT(opened.load(), 0);
  EXPECT_EQ(0, offline.load());
}

}  // namespace
}  // namespace test
}  // namespace zarn
