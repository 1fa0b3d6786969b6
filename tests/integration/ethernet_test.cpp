// The Ethernet transport end to end over real UDP sockets on loopback.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <thread>

#include "core/dispatch.h"
#include "core/state.h"
#include "fixtures.h"

namespace zarn {
namespace test {
namespace {

using EthernetLine = EthernetDriveTest;

TEST_F(EthernetLine, ReadAndWriteDatagrams) {
  model.SetDWord(0x6064, 0, static_cast<uint32_t>(-5));
  int32_t position = 0;
  ASSERT_EQ(0, ZARN_ReadDWordS(1, 0x6064, 0, &position));
  EXPECT_EQ(-5, position);
  ASSERT_EQ(0, ZARN_WriteDWord(1, 0x607A, 0, 0x01020304));
  auto requests = peer.Requests();
  ASSERT_EQ(2u, requests.size());
  EXPECT_EQ("2B 0D 00 00 00 60 64 00", Hex(requests[0]));
  EXPECT_EQ("2B 0D 80 00 00 60 7A 00 00 00 00 04 01 02 03 04 00 00", Hex(requests[1]));
  uint8_t buffer[67];
  uint16_t length = 0;
  ASSERT_EQ(0, ZARN_GetTxPackets(1, buffer, &length));
  EXPECT_EQ(18, length);
  ASSERT_EQ(0, ZARN_ReadDWordS(1, 0x6064, 0, &position));
  ASSERT_EQ(0, ZARN_GetTxPackets(1, buffer, &length));
  EXPECT_EQ(8, length);
  ASSERT_EQ(0, ZARN_GetRxPackets(1, buffer, &length));
  EXPECT_EQ(16, length);  // 8 echoed, 2 not examined, 2 count, 4 data
  EXPECT_EQ(0xFB, buffer[15]);
}

TEST_F(EthernetLine, LongWritesAreSentWhole) {
  ASSERT_EQ(0, ZARN_WriteString(1, 0x2702, 1, "ten chars!"));
  auto requests = peer.Requests();
  ASSERT_EQ(1u, requests.size());
  EXPECT_EQ(22u, requests[0].size());  // 12 + 10, not cut to 18
  EXPECT_EQ("ten chars!", std::string(requests[0].begin() + 12, requests[0].end()));
  MeiPacket p;
  p.index = 0x2000;
  p.txLength = 53;
  memset(p.txData, 0x11, 53);
  EXPECT_EQ(0, State().ethernetSlots[1].Transact(&p));
  ASSERT_EQ(2u, peer.Requests().size());
  EXPECT_EQ(65u, peer.Requests()[1].size());
  p.txLength = 54;
  EXPECT_EQ(ZARN_E_ETH_TOO_BIG, State().ethernetSlots[1].Transact(&p));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(2u, peer.Requests().size());
}

TEST_F(EthernetLine, ExceptionRepliesAndShortOnes) {
  const struct {
    Bytes reply;
    int32_t code;
  } table[] = {{{0xAB, 0x02, 0x00, 0x00}, 6}, {{0xAB, 0x07, 0, 0, 0, 0}, 4}, {{0xAB, 0x06, 0, 0}, 10}};
  for (const auto& row : table) {
    peer.SetResponder([&](const Bytes&) { return Whole(row.reply); });
    uint16_t value = 3;
    auto start = Clock::now();
    EXPECT_EQ(row.code, ZARN_ReadWord(1, 0x2100, 0, &value));
    EXPECT_LT(MsSince(start), 500);
    EXPECT_EQ(3, value);
  }
  // Two bytes are not recognised as an exception: the request runs out of time.
  peer.SetResponder([](const Bytes&) { return Whole({0xAB, 0x02}); });
  uint16_t value = 0;
  auto start = Clock::now();
  EXPECT_EQ(ZARN_E_ETH_NO_REPLY, ZARN_ReadWord(1, 0x2100, 0, &value));
  EXPECT_GE(MsSince(start), 1000);
}

TEST_F(EthernetLine, EchoMismatchKeepsTheData) {
  model.SetWord(0x2100, 0, 0xBEEF);
  Responder good = model.Ethernet();
  peer.SetResponder([&](const Bytes& req) {
    Reply r = good(req);
    r[0].bytes[7] = 0x09;  // another subindex
    return r;
  });
  uint8_t buffer[32] = {};
  EXPECT_EQ(ZARN_E_ETH_ECHO, ReadObject(1, 0x2100, 0, buffer));
  EXPECT_EQ(0xBE, buffer[0]);
  EXPECT_EQ(0xEF, buffer[1]);
}

TEST_F(EthernetLine, SilentDriveEndsWith32AfterOneToTwoSeconds) {
  peer.SetResponder(nullptr);
  uint16_t value = 0;
  auto start = Clock::now();
  EXPECT_EQ(ZARN_E_ETH_NO_REPLY, ZARN_ReadWord(1, 0x2100, 0, &value));
  long ms = MsSince(start);
  EXPECT_GE(ms, 1000);
  EXPECT_LE(ms, 2300);
}

TEST_F(EthernetLine, ReplyInTwoDatagramsIsAppended) {
  model.SetDWord(0x6064, 0, 0xCAFE0001);
  Responder good = model.Ethernet();
  peer.SetResponder([&](const Bytes& req) {
    Bytes whole = good(req)[0].bytes;
    return Reply{Chunk{Bytes(whole.begin(), whole.begin() + 6), 0}, Chunk{Bytes(whole.begin() + 6, whole.end()), 20}};
  });
  uint32_t value = 0;
  EXPECT_EQ(0, ZARN_ReadDWord(1, 0x6064, 0, &value));
  EXPECT_EQ(0xCAFE0001u, value);
}

TEST_F(EthernetLine, AReplyAfterItsDeadlineIsNotTakenByTheNextRequest) {
  model.SetWord(0x2100, 0, 2);
  Responder answer = model.Ethernet();
  peer.SetResponder(nullptr);  // the first request runs out of time
  uint16_t value = 0;
  EXPECT_EQ(ZARN_E_ETH_NO_REPLY, ZARN_ReadWord(1, 0x2100, 0, &value));
  peer.SetResponder(answer);
  for (int i = 0; i < 10; ++i) {
    // A late reply, with another value, lands just before the next request.
    peer.SendRaw({0x2B, 0x0D, 0x00, 0x00, 0x00, 0x21, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0x09});
    EXPECT_EQ(0, ZARN_ReadWord(1, 0x2100, 0, &value));
    EXPECT_EQ(2, value);
  }
}

TEST_F(EthernetLine, OversizedDatagramIsDroppedSafely) {
  peer.SetResponder([](const Bytes& req) {
    Bytes big(req.begin(), req.begin() + 8);
    big.resize(200, 0x77);
    return Whole(big);
  });
  uint16_t value = 1;
  EXPECT_EQ(ZARN_E_ETH_NO_REPLY, ZARN_ReadWord(1, 0x2100, 0, &value));
  EXPECT_EQ(1, value);
  uint8_t rx[65];
  uint16_t length = 99;
  ASSERT_EQ(0, ZARN_GetRxPackets(1, rx, &length));
  EXPECT_EQ(0, length);  // nothing of it was delivered
  // After the event thread's pause the connection works again.
  model.SetWord(0x2100, 0, 0x0102);
  peer.SetResponder(model.Ethernet());
  std::this_thread::sleep_for(std::chrono::milliseconds(2200));
  EXPECT_EQ(0, ZARN_ReadWord(1, 0x2100, 0, &value));
  EXPECT_EQ(0x0102, value);
}

TEST_F(EthernetLine, SlotOperationsOnOpenAndClosedSlots) {
  // Opening an open slot changes nothing: the connection keeps working.
  EXPECT_TRUE(State().ethernetSlots[1].Open("127.0.0.1", 9, 1, 3));
  model.SetWord(0x2100, 0, 0x0A0B);
  uint16_t value = 0;
  EXPECT_EQ(0, ZARN_ReadWord(1, 0x2100, 0, &value));
  EXPECT_EQ(0x0A0B, value);
  // A reply that announces no data is complete at 12 bytes.
  peer.SetResponder([](const Bytes& req) {
    Bytes reply(req.begin(), req.begin() + 8);
    reply.insert(reply.end(), {0, 0, 0, 0});
    return Whole(reply);
  });
  uint8_t buffer[32] = {};
  auto start = Clock::now();
  EXPECT_EQ(0, ReadObject(1, 0x2100, 0, buffer));
  EXPECT_LT(MsSince(start), 500);
  // A slot never opened: closing does nothing, a request finds no socket.
  State().ethernetSlots[9].Close();
  MeiPacket p;
  EXPECT_EQ(ZARN_E_ETH_NO_SOCKET, State().ethernetSlots[9].Transact(&p));
}

TEST_F(EthernetLine, CloseIsPrompt) {
  auto start = Clock::now();
  EXPECT_EQ(0, ZARN_DriveClose(1));
  EXPECT_LT(MsSince(start), 50);
  EXPECT_EQ(0, ConnectionOf(1));
  EXPECT_FALSE(State().ethernetSlots[1].IsOpen());
  uint16_t value = 0;
  EXPECT_EQ(ZARN_E_NO_CONNECTION, ZARN_ReadWord(1, 0x2100, 0, &value));
}

TEST(EthernetOpen, ArgumentsSlotsAndSettings) {
  UdpPeer peer;
  DriveModel model;
  model.SetWord(0x2003, 0, 7);
  peer.SetResponder(model.Ethernet());
  EXPECT_EQ(ZARN_E_NO_EMPTY_CONNECTION, ZARN_EDRVOpen(32, "127.0.0.1", peer.Port()));
  EXPECT_EQ(ZARN_E_ID_RANGE, ZARN_EDRVOpen(256, "127.0.0.1", peer.Port()));
  EXPECT_EQ(ZARN_E_ID_RANGE, ZARN_EDRVOpen(-3, "127.0.0.1", peer.Port()));
  EXPECT_EQ(ZARN_E_INVALID_PARAM, ZARN_EDRVOpen(5, nullptr, peer.Port()));
  ASSERT_EQ(0, ZARN_SetTimeout(70000, 1));
  ASSERT_EQ(0, ZARN_EDRVOpen(5, "127.0.0.1", peer.Port()));
  EXPECT_EQ(kConnectionEthernet, ConnectionOf(5));
  EXPECT_EQ(kConnectionEthernet, State().lastConnectionKind.load());
  EXPECT_EQ(5, State().ethernetSlots[5].DriveId());
  uint32_t receiveMs = 0, sendMs = 0;
  ASSERT_TRUE(State().ethernetSlots[5].SocketTimeouts(&receiveMs, &sendMs));
  EXPECT_EQ(4464u, receiveMs);  // 70000 modulo 65536
  EXPECT_EQ(4464u, sendMs);
  ASSERT_TRUE(peer.WaitForRequests(1, 2000));
  EXPECT_EQ("2B 0D 00 00 00 20 03 00", Hex(peer.Requests()[0]));  // read once at open
  EXPECT_EQ(ZARN_E_ETH_OPEN, ZARN_EDRVOpen(5, "127.0.0.1", peer.Port()));
  EXPECT_EQ(0, ZARN_DriveClose(5));
  // The default time-out of 3 ms reaches the socket as 3 ms.
  ASSERT_EQ(0, ZARN_SetTimeout(3, 1));
  ASSERT_EQ(0, ZARN_EDRVOpen(6, "127.0.0.1", peer.Port()));
  ASSERT_TRUE(State().ethernetSlots[6].SocketTimeouts(&receiveMs, &sendMs));
  EXPECT_GE(receiveMs, 3u);  // the kernel rounds up to its clock tick
  EXPECT_LE(receiveMs, 10u);
  // The open succeeds even when the drive refuses the read of 0x2003:00.
  DriveModel refusing;
  refusing.Refuse(0x2003, 0, 2);
  UdpPeer other;
  other.SetResponder(refusing.Ethernet());
  ASSERT_EQ(0, ZARN_EDRVOpen(7, "127.0.0.1", other.Port()));
  EXPECT_EQ(0, ZARN_GetErrorCode(nullptr));
  EXPECT_EQ(1u, refusing.Log().size());
  EXPECT_EQ(0, ZARN_DriveClose(7));
  // A serial connection blocks the id for Ethernet.
  SetConnection(9, kConnectionSerial);
  EXPECT_EQ(ZARN_E_ETH_OPEN, ZARN_EDRVOpen(9, "127.0.0.1", peer.Port()));
  SetConnection(9, kConnectionNone);
  // Drive id 0 opens in slot 0 and can be closed again.
  ASSERT_EQ(0, ZARN_EDRVOpen(0, "127.0.0.1", peer.Port()));
  EXPECT_TRUE(State().ethernetSlots[0].IsOpen());
  EXPECT_EQ(0, ZARN_DriveClose(0));
  EXPECT_FALSE(State().ethernetSlots[0].IsOpen());
  EXPECT_EQ(0, ConnectionOf(0));
  ASSERT_EQ(0, ZARN_EDRVOpen(0, "127.0.0.1", peer.Port()));
  EXPECT_EQ(0, ZARN_DriveClose(0));
  EXPECT_EQ(0, ZARN_DriveClose(6));
}

TEST(EthernetOpen, TextThatIsNoDottedIPv4AddressIsRefused) {
  UdpPeer peer;
  DriveModel model;
  peer.SetResponder(model.Ethernet());
  for (const char* text : {"abc", "", "999.1.1.1", "256.0.0.1", "1.2.3", "127.0.0.01", "127.0.0.1 ", "localhost"}) {
    EXPECT_EQ(ZARN_E_INVALID_PARAM, ZARN_EDRVOpen(5, text, peer.Port())) << text;
    EXPECT_EQ(ZARN_E_INVALID_PARAM, ZARN_GetErrorCode(nullptr));
    EXPECT_EQ(0, ConnectionOf(5));
    EXPECT_FALSE(State().ethernetSlots[5].IsOpen());
  }
  ASSERT_EQ(0, ZARN_EDRVOpen(5, "127.0.0.1", peer.Port()));
  EXPECT_EQ(0, ZARN_DriveClose(5));
}

TEST(EthernetOpen, PacketsOfUnknownDrivesAndSetupFile) {
  uint8_t buffer[67];
  uint16_t length = 0;
  EXPECT_EQ(ZARN_E_INVALID_PARAM, ZARN_GetTxPackets(0, buffer, &length));
  EXPECT_EQ(ZARN_E_INVALID_PARAM, ZARN_GetTxPackets(3, nullptr, &length));
  EXPECT_EQ(ZARN_E_NO_CONNECTION, ZARN_GetRxPackets(3, buffer, &length));
  SetConnection(3, kConnectionEthernet);
  EXPECT_EQ(ZARN_E_NO_EMPTY_CONNECTION, ZARN_GetRxPackets(3, buffer, &length));
  SetConnection(3, kConnectionNone);

  char path[256] = "x";
  EXPECT_EQ(0, ZARN_GetEoESetupFile(path));
  EXPECT_STREQ("", path);
  EXPECT_EQ(0, ZARN_SetEoESetupFile("C:\\eoe\\network.xml"));
  EXPECT_EQ(0, ZARN_GetEoESetupFile(path));
  EXPECT_STREQ("C:\\eoe\\network.xml", path);
  std::string tooLong(256, 'p');
  EXPECT_EQ(ZARN_E_INVALID_PARAM, ZARN_SetEoESetupFile(tooLong.c_str()));
  EXPECT_EQ(0, ZARN_GetEoESetupFile(path));
  EXPECT_STREQ("C:\\eoe\\network.xml", path);
  int32_t mode = 0;
  EXPECT_EQ(0, ZARN_GetOnlineMode(&mode));
  EXPECT_EQ(2, mode);  // the built-in direct-IP master
}

TEST(EthernetOpen, SlaveCountAndOnlineProbe) {
  int32_t count = -1;
  EXPECT_EQ(0, ZARN_GetSlaveCount(&count));
  EXPECT_EQ(0, count);
  int32_t online = 5;
  EXPECT_EQ(ZARN_E_SLAVE_OFFLINE, ZARN_IsSlaveOnline(4, &online));
  EXPECT_EQ(0, online);
  UdpPeer a, b;
  DriveModel ma, mb;
  ma.SetWord(0x2514, 0, 100);
  a.SetResponder(ma.Ethernet());
  mb.Refuse(0x2514, 0, 2);  // answers, but not for the current gain
  b.SetResponder(mb.Ethernet());
  ASSERT_EQ(0, ZARN_EDRVOpen(2, "127.0.0.1", a.Port()));
  ASSERT_EQ(0, ZARN_EDRVOpen(3, "127.0.0.1", b.Port()));
  EXPECT_EQ(0, ZARN_IsSlaveOnline(2, &online));
  EXPECT_EQ(1, online);
  EXPECT_EQ(ZARN_E_SLAVE_OFFLINE, ZARN_IsSlaveOnline(3, &online));
  EXPECT_EQ(0, online);
  EXPECT_EQ(ZARN_E_SLAVE_OFFLINE, ZARN_GetErrorCode(nullptr));
  EXPECT_EQ(0, ZARN_GetSlaveCount(&count));
  EXPECT_EQ(1, count);
  EXPECT_EQ(0, ZARN_GetErrorCode(nullptr));
  ZARN_DriveClose(2);
  ZARN_DriveClose(3);
}

TEST(EthernetMany, ThirtyTwoDrivesAtOnce) {
  std::vector<std::unique_ptr<UdpPeer>> peers;
  std::vector<std::unique_ptr<DriveModel>> models;
  for (int id = 0; id < 32; ++id) {
    peers.push_back(std::make_unique<UdpPeer>());
    models.push_back(std::make_unique<DriveModel>());
    models[id]->SetWord(0x2003, 0, 1);
    models[id]->SetDWord(0x6064, 0, static_cast<uint32_t>(id * 100 + 7));
    peers[id]->SetResponder(models[id]->Ethernet());
    ASSERT_EQ(0, ZARN_EDRVOpen(id, "127.0.0.1", peers[id]->Port())) << id;
  }
  for (int round = 0; round < 3; ++round) {
    for (int id = 0; id < 32; ++id) {
      int32_t v = 0;
      ASSERT_EQ(0, ZARN_ReadDWordS(static_cast<uint8_t>(id), 0x6064, 0, &v)) << id;
      EXPECT_EQ(id * 100 + 7, v);
    }
  }
  auto start = Clock::now();
  for (int id = 0; id < 32; ++id) EXPECT_EQ(0, ZARN_DriveClose(id));
  EXPECT_LT(MsSince(start), 500);
  for (int id = 0; id < 32; ++id) EXPECT_FALSE(State().ethernetSlots[id].IsOpen());
}

}  // namespace
}  // namespace test
}  // namespace zarn
