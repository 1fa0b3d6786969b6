// Test fixtures: a drive model behind a real pseudo-terminal or UDP socket,
// opened through the library's own exports.
#pragma once

#include <gtest/gtest.h>

#include <chrono>

#include "peers.h"
#include "zarn/zarn.h"

namespace zarn {
namespace test {

using Clock = std::chrono::steady_clock;
inline long MsSince(Clock::time_point t) {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count());
}

class SerialDriveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(peer.SlavePath().empty()) << "no pseudo-terminal";
    peer.SetResponder(model.Serial(1));
    ASSERT_EQ(0, ZARN_SDRVOpen(1, peer.SlavePath().c_str(), 115200));
  }
  void TearDown() override { ZARN_DriveClose(1); }
  // The model outlives the peer thread that calls it.
  DriveModel model;
  SerialPeer peer;
};

class EthernetDriveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    peer.SetResponder(model.Ethernet());
    model.SetWord(0x2003, 0, 0x0102);
    ASSERT_EQ(0, ZARN_EDRVOpen(1, "127.0.0.1", peer.Port()));
    ASSERT_TRUE(peer.WaitForRequests(1, 2000));  // the read of 0x2003:00 at open
    peer.ClearRequests();
    model.ClearLog();
  }
  void TearDown() override { ZARN_DriveClose(1); }
  DriveModel model;
  UdpPeer peer;
};

}  // namespace test
}  // namespace zarn
