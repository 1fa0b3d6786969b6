// A master library that is installed but cannot be used: the open is refused
// with 24 and the reason shown, never taken for "no master" (direct IP).
// Run once per broken variant, found on the library path (see CMakeLists.txt).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "core/state.h"
#include "fixtures.h"
#include "platform/platform.h"

namespace zarn {
namespace test {
namespace {

std::string g_shown, g_traced;
void Show(const char* text) { g_shown += std::string(text) + "\n"; }
void Trace(const char* text) { g_traced += std::string(text) + "\n"; }

TEST(BrokenMaster, TheOpenIsRefusedWithTheReason) {
  const char* reason = getenv("ZARN_EXPECTED_REASON");
  ASSERT_NE(nullptr, reason);
  platform::SetMessageSink(Show);
  platform::SetTraceSink(Trace);
  UdpPeer peer;
  DriveModel model;
  peer.SetResponder(model.Ethernet());
  EXPECT_EQ(ZARN_E_ETH_OPEN, ZARN_EDRVOpen(4, "127.0.0.1", peer.Port()));
  EXPECT_EQ(ZARN_E_ETH_OPEN, ZARN_GetErrorCode(nullptr));
  EXPECT_EQ(0, ConnectionOf(4));
  EXPECT_FALSE(State().ethernetSlots[4].IsOpen());
  EXPECT_NE(std::string::npos, g_shown.find("API_EtherCAT cannot be used")) << g_shown;
  EXPECT_NE(std::string::npos, g_shown.find(reason)) << g_shown;
  EXPECT_NE(std::string::npos, g_traced.find(reason)) << g_traced;
  int32_t mode = 2;
  EXPECT_EQ(0, ZARN_GetOnlineMode(&mode));
  EXPECT_NE(2, mode);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_TRUE(peer.Requests().empty());
  platform::SetMessageSink(nullptr);
  platform::SetTraceSink(nullptr);
}

}  // namespace
}  // namespace test
}  // namespace zarn
