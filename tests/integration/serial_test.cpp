// The serial transport end to end over a real pseudo-terminal.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>

#include "core/dispatch.h"
#include "core/state.h"
#include "fixtures.h"
#include "platform/platform.h"

namespace zarn {
namespace test {
namespace {

using SerialLine = SerialDriveTest;

// The record is byte-packed: its fields are read by value, never by reference.
template <typename T>
T Field(T value) {
  return value;
}

TEST_F(SerialLine, ReadFrameAndReplyOnTheWire) {
  model.SetDWord(0x6064, 0, 1000);
  int32_t position = 0;
  ASSERT_EQ(0, ZARN_ReadDWordS(1, 0x6064, 0, &position));
  EXPECT_EQ(1000, position);
  auto requests = peer.Requests();
  ASSERT_EQ(1u, requests.size());
  EXPECT_EQ(Hex(SerialReadRequest(1, 0x6064, 0)), Hex(requests[0]));
  uint8_t buffer[67];
  uint16_t length = 0;
  ASSERT_EQ(0, ZARN_GetTxPackets(1, buffer, &length));
  EXPECT_EQ(Hex(requests[0]), Hex(Bytes(buffer, buffer + length)));
  ASSERT_EQ(0, ZARN_GetRxPackets(1, buffer, &length));
  EXPECT_EQ(19, length);  // 11 echoed, 2 count, 4 data, 2 CRC
}

TEST_F(SerialLine, LongestWriteAndOneByteTooMany) {
  MeiPacket p;
  p.driveId = 1;
  p.index = 0x2000;
  p.txLength = 52;
  memset(p.txData, 0x42, 52);
  // The frame goes out whole; its 67-byte echo cannot fit the 65-byte receive
  // buffer, so the check sees 65 bytes and reports a mismatch.
  EXPECT_EQ(ZARN_E_SERIAL_ECHO, State().serialClient.Transact(&p));
  ASSERT_EQ(1u, peer.Requests().size());
  EXPECT_EQ(67u, peer.Requests()[0].size());
  // The echo's last two bytes may straggle in; the next request drops them.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  p.txLength = 50;  // 65 bytes: the longest write whose echo fits
  EXPECT_EQ(0, State().serialClient.Transact(&p));
  EXPECT_EQ(2u, peer.Requests().size());
  p.txLength = 53;
  EXPECT_EQ(ZARN_E_SERIAL_TOO_BIG, State().serialClient.Transact(&p));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(2u, peer.Requests().size());  // nothing sent
}

TEST_F(SerialLine, ExceptionRepliesMapToTheirCodes) {
  const struct {
    uint8_t exception;
    int32_t code;
  } table[] = {{1, 5}, {2, 6}, {3, 7}, {4, 8}, {5, 9}, {6, 10}, {7, 4}, {8, 11}, {0, 4}, {200, 4}};
  for (auto row : table) {
    bool badCrc = row.exception == 200;
    peer.SetResponder([row, badCrc](const Bytes&) {
      Bytes reply{1, 0xAB, row.exception};
      AppendCrc(&reply);
      if (badCrc) reply.back() ^= 0xFF;  // the CRC of an exception is not examined
      return Whole(reply);
    });
    uint16_t value = 0x5555;
    auto start = Clock::now();
    EXPECT_EQ(row.code, ZARN_ReadWord(1, 0x2100, 0, &value)) << int(row.exception);
    EXPECT_LT(MsSince(start), 500);
    EXPECT_EQ(0x5555, value);
    EXPECT_EQ(row.code, ZARN_GetErrorCode(nullptr));
  }
}

TEST_F(SerialLine, EchoMismatchAndBadCrcKeepTheReadData) {
  model.SetWord(0x2100, 0, 0x1234);
  Responder good = model.Serial(1);
  peer.SetResponder([&](const Bytes& req) {
    Reply r = good(req);
    r[0].bytes[7] ^= 0x01;  // another index in the echo; the CRC is made anew
    r[0].bytes.resize(r[0].bytes.size() - 2);
    AppendCrc(&r[0].bytes);
    return r;
  });
  uint8_t buffer[32] = {};
  EXPECT_EQ(ZARN_E_SERIAL_ECHO, ReadObject(1, 0x2100, 0, buffer));
  EXPECT_EQ(0x12, buffer[0]);
  EXPECT_EQ(0x34, buffer[1]);
  peer.SetResponder([&](const Bytes& req) {
    Reply r = good(req);
    r[0].bytes.back() ^= 0x80;
    return r;
  });
  memset(buffer, 0, sizeof buffer);
  uint16_t value = 7;
  EXPECT_EQ(ZARN_E_SERIAL_CRC, ReadObject(1, 0x2100, 0, buffer));
  EXPECT_EQ(0x34, buffer[1]);
  EXPECT_EQ(ZARN_E_SERIAL_CRC, ZARN_ReadWord(1, 0x2100, 0, &value));
  EXPECT_EQ(7, value);
}

TEST_F(SerialLine, SilentDriveEndsWith21AfterOneToTwoSeconds) {
  peer.SetResponder(nullptr);
  uint16_t value = 9;
  auto start = Clock::now();
  EXPECT_EQ(ZARN_E_SERIAL_NO_REPLY, ZARN_ReadWord(1, 0x2100, 0, &value));
  long ms = MsSince(start);
  EXPECT_GE(ms, 1000);
  EXPECT_LE(ms, 2300);
  EXPECT_EQ(9, value);
  // A reply that starts but never completes ends the same way.
  peer.SetResponder([](const Bytes& req) { return Whole(Bytes(req.begin(), req.begin() + 6)); });
  start = Clock::now();
  EXPECT_EQ(ZARN_E_SERIAL_NO_REPLY, ZARN_ReadWord(1, 0x2100, 0, &value));
  EXPECT_LE(MsSince(start), 2300);
}

TEST_F(SerialLine, RepliesInChunksWithGaps) {
  model.SetDWord(0x6064, 0, 0x11223344);
  Responder good = model.Serial(1);
  peer.SetResponder([&](const Bytes& req) {
    Bytes whole = good(req)[0].bytes;
    Reply r;
    for (size_t i = 0; i < whole.size(); i += 4)
      r.push_back(Chunk{Bytes(whole.begin() + i, whole.begin() + std::min(whole.size(), i + 4)), 15});
    return r;
  });
  uint32_t value = 0;
  EXPECT_EQ(0, ZARN_ReadDWord(1, 0x6064, 0, &value));
  EXPECT_EQ(0x11223344u, value);
}

TEST_F(SerialLine, BytesBeyondSixtyFiveAreDropped) {
  peer.SetResponder([](const Bytes& req) {
    Bytes reply = req;
    reply.push_back(0x00);
    reply.push_back(60);  // announces 60 data bytes: 75 in all
    reply.resize(reply.size() + 60, 0x33);
    AppendCrc(&reply);
    return Whole(reply);
  });
  uint8_t buffer[32 + 16] = {};
  EXPECT_EQ(ZARN_E_SERIAL_CRC, ReadObject(1, 0x2100, 0, buffer));
  EXPECT_EQ(0x33, buffer[31]);
  for (int i = 32; i < 48; ++i) EXPECT_EQ(0, buffer[i]);
  uint8_t rx[65];
  uint16_t length = 0;
  ASSERT_EQ(0, ZARN_GetRxPackets(1, rx, &length));
  EXPECT_EQ(65, length);
}

TEST_F(SerialLine, StaleBytesBeforeARequestAreDropped) {
  model.SetWord(0x2100, 0, 0x0042);
  peer.SendRaw({0x01, 0xAB, 0x02, 0x00, 0x00, 0x13});  // noise that looks like an exception
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  uint16_t value = 0;
  EXPECT_EQ(0, ZARN_ReadWord(1, 0x2100, 0, &value));
  EXPECT_EQ(0x42, value);
}

TEST_F(SerialLine, ByteOrderAndSignednessOfEveryWidth) {
  model.SetWord(0x2000, 0, 0xFFFE);
  model.SetWord(0x2001, 0, 0x2345);
  model.Set(0x2002, 0, {0xFF});
  model.SetDWord(0x2003, 0, 0xFFFFFFFE);
  uint8_t u8 = 0;
  int8_t s8 = 0;
  uint16_t u16 = 0;
  int16_t s16 = 0;
  uint32_t u32 = 0;
  int32_t s32 = 0;
  EXPECT_EQ(0, ZARN_ReadWordS(1, 0x2000, 0, &s16));
  EXPECT_EQ(-2, s16);
  EXPECT_EQ(0, ZARN_ReadWord(1, 0x2000, 0, &u16));
  EXPECT_EQ(65534, u16);
  EXPECT_EQ(0, ZARN_ReadByte(1, 0x2001, 0, &u8));
  EXPECT_EQ(0x23, u8);  // the most significant byte comes first
  EXPECT_EQ(0, ZARN_ReadDWord(1, 0x2001, 0, &u32));
  EXPECT_EQ(0x23450000u, u32);  // bytes the reply did not deliver read as zero
  EXPECT_EQ(0, ZARN_ReadByteS(1, 0x2002, 0, &s8));
  EXPECT_EQ(-1, s8);
  EXPECT_EQ(0, ZARN_ReadDWordS(1, 0x2003, 0, &s32));
  EXPECT_EQ(-2, s32);
  EXPECT_EQ(0, ZARN_ReadDWord(1, 0x2003, 0, &u32));
  EXPECT_EQ(0xFFFFFFFEu, u32);

  model.ClearLog();
  EXPECT_EQ(0, ZARN_WriteWord(1, 0x2100, 0, 0x1234));
  EXPECT_EQ(0, ZARN_WriteDWordS(1, 0x2101, 0, -2));
  EXPECT_EQ(0, ZARN_WriteByteS(1, 0x2102, 0, -1));
  EXPECT_EQ(0, ZARN_WriteByte(1, 0x2103, 0, 0x80));
  EXPECT_EQ(0, ZARN_WriteWordS(1, 0x2104, 0, -300));
  EXPECT_EQ(0, ZARN_WriteDWord(1, 0x2105, 0, 0x01020304));
  auto log = model.Log();
  ASSERT_EQ(6u, log.size());
  EXPECT_EQ("12 34", Hex(log[0].data));
  EXPECT_EQ("FF FF FF FE", Hex(log[1].data));
  EXPECT_EQ("FF", Hex(log[2].data));
  EXPECT_EQ("80", Hex(log[3].data));
  EXPECT_EQ("FE D4", Hex(log[4].data));
  EXPECT_EQ("01 02 03 04", Hex(log[5].data));
}

TEST_F(SerialLine, Strings) {
  std::string s32(32, 'x');
  EXPECT_EQ(0, ZARN_WriteString(1, 0x2702, 1, s32.c_str()));
  EXPECT_EQ(Hex(Bytes(32, 'x')), Hex(model.Get(0x2702, 1)));
  std::string s33(33, 'y');
  const size_t before = peer.Requests().size();
  EXPECT_EQ(ZARN_E_STRING_TOO_LONG, ZARN_WriteString(1, 0x2702, 1, s33.c_str()));
  EXPECT_EQ(ZARN_E_STRING_TOO_LONG, ZARN_GetErrorCode(nullptr));
  EXPECT_EQ(before, peer.Requests().size());
  model.Set(0x2702, 2, {'A', 'B', 0, 0, 'C'});
  char text[33];
  EXPECT_EQ(0, ZARN_ReadString(1, 0x2702, 2, text));
  EXPECT_STREQ("AB", text);
  memset(text, 'z', sizeof text);
  EXPECT_EQ(0, ZARN_ReadString(1, 0x2702, 1, text));
  EXPECT_EQ(s32, std::string(text));
  model.Set(0x2702, 3, {'o', 'l', 'd'});
  EXPECT_EQ(0, ZARN_WriteString(1, 0x2702, 3, ""));  // a write with no data bytes
  EXPECT_TRUE(model.Get(0x2702, 3).empty());
  auto last = model.Log().back();
  EXPECT_TRUE(last.write);
}

TEST_F(SerialLine, IndexParameterStopsAtTheFailingSubindex) {
  for (int sub = 1; sub <= 11; ++sub) {
    bool wide = sub >= 2 && sub <= 7;
    if (wide)
      model.SetDWord(0x3105, sub, static_cast<uint32_t>(-sub * 1000));
    else
      model.SetWord(0x3105, sub, static_cast<uint16_t>(sub * 10));
  }
  IndexParameter record;
  memset(&record, 0, sizeof record);
  ASSERT_EQ(0, ZARN_ReadIndexParameter(1, 5, &record));
  EXPECT_EQ(10, Field(record.sub1));
  EXPECT_EQ(-2000, Field(record.sub2));
  EXPECT_EQ(-7000, Field(record.sub7));
  EXPECT_EQ(110, Field(record.sub11));
  // Written back to 0x3106, then read with subindex 4 refused.
  model.ClearLog();
  ASSERT_EQ(0, ZARN_WriteIndexParameter(1, 6, &record));
  auto log = model.Log();
  ASSERT_EQ(11u, log.size());
  EXPECT_EQ(0x3106, log[0].index);
  EXPECT_EQ(2u, log[0].data.size());
  EXPECT_EQ(4u, log[1].data.size());
  EXPECT_EQ(11, log[10].subIndex);
  model.Refuse(0x3106, 4, 2);
  IndexParameter partial;
  memset(&partial, 0, sizeof partial);
  EXPECT_EQ(ZARN_E_REPLY_ILLEGAL_ADDRESS, ZARN_ReadIndexParameter(1, 6, &partial));
  EXPECT_EQ(10, Field(partial.sub1));
  EXPECT_EQ(-3000, Field(partial.sub3));
  EXPECT_EQ(0, Field(partial.sub4));
  EXPECT_EQ(0, Field(partial.sub5));
}

TEST_F(SerialLine, StoreParameterSendsBothWritesTwoSecondsApart) {
  model.Refuse(0x1010, 1, 6);  // the first write is refused, the second still made
  auto start = Clock::now();
  EXPECT_EQ(0, ZARN_StoreParameter(1));
  EXPECT_GE(MsSince(start), 2000);
  auto log = model.Log();
  ASSERT_EQ(2u, log.size());
  EXPECT_EQ(1, log[0].subIndex);
  EXPECT_EQ(5, log[1].subIndex);
  EXPECT_EQ("65 76 61 73", Hex(log[1].data));
  EXPECT_EQ(0x1010, log[1].index);
}

TEST_F(SerialLine, NullOutputsAreRefusedWithoutARequest) {
  EXPECT_EQ(ZARN_E_INVALID_PARAM, ZARN_ReadWord(1, 0x2100, 0, nullptr));
  EXPECT_EQ(ZARN_E_INVALID_PARAM, ZARN_ReadString(1, 0x2100, 0, nullptr));
  EXPECT_EQ(ZARN_E_INVALID_PARAM, ZARN_WriteString(1, 0x2100, 0, nullptr));
  EXPECT_EQ(ZARN_E_INVALID_PARAM, ZARN_ReadIndexParameter(1, 0, nullptr));
  EXPECT_EQ(ZARN_E_INVALID_PARAM, ZARN_GetRxPackets(1, nullptr, nullptr));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_TRUE(peer.Requests().empty());
}

TEST(SerialOpen, ArgumentsAndSharedLine) {
  DriveModel one, two;
  one.SetWord(0x2100, 0, 111);
  two.SetWord(0x2100, 0, 222);
  Responder r1 = one.Serial(1), r2 = two.Serial(2);
  SerialPeer peer;
  peer.SetResponder([&](const Bytes& req) {
    Reply a = r1(req);
    return a.empty() ? r2(req) : a;
  });
  const char* path = peer.SlavePath().c_str();
  EXPECT_EQ(4.0, State().serialClient.InterFrameDelay());
  EXPECT_EQ(ZARN_E_ID_RANGE, ZARN_SDRVOpen(256, path, 9600));
  EXPECT_EQ(ZARN_E_ID_RANGE, ZARN_SDRVOpen(-1, path, 9600));
  EXPECT_EQ(ZARN_E_SERIAL_OPEN, ZARN_SDRVOpen(1, path, 0));
  EXPECT_EQ(ZARN_E_SERIAL_OPEN, ZARN_SDRVOpen(1, "/dev/does-not-exist", 9600));
  EXPECT_EQ(ZARN_E_SERIAL_OPEN, ZARN_SDRVOpen(1, "nothing", 9600));
  EXPECT_EQ(0, ConnectionOf(1));
  ASSERT_EQ(0, ZARN_SDRVOpen(1, path, 9600));
  EXPECT_NEAR(4.6458, State().serialClient.InterFrameDelay(), 1e-4);
  EXPECT_EQ(ZARN_E_SERIAL_OPEN, ZARN_SDRVOpen(1, path, 19200));  // already connected: nothing changes
  EXPECT_NEAR(4.6458, State().serialClient.InterFrameDelay(), 1e-4);
  ASSERT_EQ(0, ZARN_SDRVOpen(2, "ignored once the line is open", 115200));
  EXPECT_NEAR(35000.0 / 115200 + 1, State().serialClient.InterFrameDelay(), 1e-9);
  EXPECT_EQ(9600u, State().serialClient.BaudRate());  // joined at the line's own speed
  uint16_t a = 0, b = 0;
  EXPECT_EQ(0, ZARN_ReadWord(1, 0x2100, 0, &a));
  EXPECT_EQ(0, ZARN_ReadWord(2, 0x2100, 0, &b));
  EXPECT_EQ(111, a);
  EXPECT_EQ(222, b);
  auto requests = peer.Requests();
  ASSERT_EQ(2u, requests.size());
  EXPECT_EQ(1, requests[0][0]);
  EXPECT_EQ(2, requests[1][0]);
  // Drive id 0 opens but can never be addressed (0 is the broadcast address).
  ASSERT_EQ(0, ZARN_SDRVOpen(0, path, 9600));
  EXPECT_EQ(ZARN_E_INVALID_PARAM, ZARN_ReadWord(0, 0x2100, 0, &a));
  // Closing one serial drive closes the line for all of them.
  EXPECT_EQ(0, ZARN_DriveClose(1));
  EXPECT_EQ(0, ConnectionOf(1));
  EXPECT_EQ(1, ConnectionOf(2));
  EXPECT_EQ(ZARN_E_SERIAL_NO_PORT, ZARN_ReadWord(2, 0x2100, 0, &b));
  EXPECT_EQ(ZARN_E_ID_RANGE, ZARN_DriveClose(300));
  EXPECT_EQ(0, ZARN_DriveClose(77));  // never opened
  // Reopened through the closed id, the others work again.
  ASSERT_EQ(0, ZARN_SDRVOpen(1, path, 115200));
  EXPECT_EQ(0, ZARN_ReadWord(2, 0x2100, 0, &b));
  ZARN_DriveClose(1);
}

TEST(SerialThreads, ConcurrentReadersOfDifferentDrivesGetTheirOwnReplies) {
  DriveModel models[4];
  std::vector<Responder> responders;
  for (int i = 0; i < 4; ++i) {
    models[i].SetDWord(0x6064, 0, 1000u * (i + 1));
    responders.push_back(models[i].Serial(static_cast<uint8_t>(i + 1)));
  }
  SerialPeer peer;
  peer.SetResponder([&](const Bytes& req) {
    for (auto& r : responders) {
      Reply reply = r(req);
      if (!reply.empty()) return reply;
    }
    return Reply{};
  });
  for (int i = 1; i <= 4; ++i) ASSERT_EQ(0, ZARN_SDRVOpen(i, peer.SlavePath().c_str(), 115200));
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int i = 1; i <= 4; ++i) {
    threads.emplace_back([i, &wrong] {
      for (int n = 0; n < 25; ++n) {
        int32_t v = 0;
        if (ZARN_ReadDWordS(static_cast<uint8_t>(i), 0x6064, 0, &v) != 0 || v != 1000 * i) ++wrong;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(0, wrong.load());
  EXPECT_EQ(100u, peer.Requests().size());
  ZARN_DriveClose(1);
}

// Answers for drive ids 1 and 2 of one line.
struct TwoDrives {
  DriveModel one, two;
  Responder r1 = one.Serial(1), r2 = two.Serial(2);
  Responder Both() {
    return [this](const Bytes& req) {
      Reply a = r1(req);
      return a.empty() ? r2(req) : a;
    };
  }
};

TEST(SerialHangUp, RequestsFailAtOnceTheReaderSleepsAndReopenWorks) {
  ZARN_SKIP_UNDER_WINE(
      "a hung-up COM port under Wine looks healthy (writes and ClearCommError succeed) while Wine "
      "itself spins in the pending wait; Windows fails the waits of a removed device");
  auto peer = std::make_unique<SerialPeer>();
  DriveModel model;
  model.SetWord(0x2100, 0, 7);
  peer->SetResponder(model.Serial(1));
  ASSERT_EQ(0, ZARN_SDRVOpen(1, peer->SlavePath().c_str(), 115200));
  uint16_t value = 0;
  ASSERT_EQ(0, ZARN_ReadWord(1, 0x2100, 0, &value));
  peer->HangUp();  // the adapter is pulled
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const double cpuBefore = ProcessCpuSeconds();
  auto start = Clock::now();
  const int32_t code = ZARN_ReadWord(1, 0x2100, 0, &value);
  EXPECT_TRUE(code == ZARN_E_SERIAL_WRITE || code == ZARN_E_SERIAL_NO_REPLY) << code;
  EXPECT_LT(MsSince(start), 500);
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  EXPECT_LT(ProcessCpuSeconds() - cpuBefore, 0.3);  // a reader that spins uses the whole second
  start = Clock::now();
  EXPECT_EQ(0, ZARN_DriveClose(1));
  EXPECT_LT(MsSince(start), 500);
  peer.reset();
  // The adapter is back (a linked pair of ports may take a moment to return).
  auto back = std::make_unique<SerialPeer>();
  for (int i = 0; i < 50 && back->SlavePath().empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    back = std::make_unique<SerialPeer>();
  }
  back->SetResponder(model.Serial(1));
  ASSERT_EQ(0, ZARN_SDRVOpen(1, back->SlavePath().c_str(), 115200));
  EXPECT_EQ(0, ZARN_ReadWord(1, 0x2100, 0, &value));
  EXPECT_EQ(7, value);
  ZARN_DriveClose(1);
}

TEST(SerialOpen, SpeedsBelow300AreRefused) {
  SerialPeer peer;
  const char* path = peer.SlavePath().c_str();
  for (uint32_t baud : {1u, 299u}) {
    EXPECT_EQ(ZARN_E_SERIAL_OPEN, ZARN_SDRVOpen(1, path, baud)) << baud;
    EXPECT_EQ(ZARN_E_SERIAL_OPEN, ZARN_GetErrorCode(nullptr));
  }
  EXPECT_EQ(0, ConnectionOf(1));
  ASSERT_EQ(0, ZARN_SDRVOpen(1, path, 300));
  // Joining at 1 bit/s would hold every drive of the line for 35 s a request.
  EXPECT_EQ(ZARN_E_SERIAL_OPEN, ZARN_SDRVOpen(2, path, 1));
  EXPECT_NEAR(35000.0 / 300 + 1, State().serialClient.InterFrameDelay(), 1e-9);
  ZARN_DriveClose(1);
}

TEST(SerialTiming, TheBusIsSilentForThreeAndAHalfCharactersBeforeEachRequest) {
  DriveModel model;
  model.SetWord(0x2100, 0, 1);
  Responder answer = model.Serial(1);
  SerialPeer peer;
  // The drive answers after the post-send pause has passed, as real ones do.
  peer.SetResponder([&](const Bytes& request) {
    Reply reply = answer(request);
    if (!reply.empty()) reply[0].delayMs = 10;
    return reply;
  });
  ASSERT_EQ(0, ZARN_SDRVOpen(1, peer.SlavePath().c_str(), 9600));
  uint16_t value = 0;
  for (int i = 0; i < 6; ++i) ASSERT_EQ(0, ZARN_ReadWord(1, 0x2100, 0, &value));
  ASSERT_TRUE(peer.WaitForRequests(6, 1000));
  const auto requests = peer.RequestTimes();
  const auto replies = peer.ReplyTimes();
  ASSERT_GE(replies.size(), 5u);
  long shortest = 1000000;
  for (size_t k = 1; k < requests.size(); ++k)
    shortest = std::min<long>(
        shortest,
        static_cast<long>(std::chrono::duration_cast<std::chrono::microseconds>(requests[k] - replies[k - 1]).count()));
  EXPECT_GE(shortest, 3646);  // 3.5 characters of 10 bits at 9600 bit/s
  ZARN_DriveClose(1);
}

TEST(SerialTiming, ASlowLineWaitsForTheWholeWireTimeOfTheReply) {
  SerialPeer peer;
  // At 300 bit/s the 47-byte echo of a 32-character text write takes 1.57 s.
  peer.SetResponder([](const Bytes& request) {
    Reply reply;
    for (uint8_t b : request) reply.push_back(Chunk{{b}, 33});
    return reply;
  });
  ASSERT_EQ(0, ZARN_SDRVOpen(1, peer.SlavePath().c_str(), 300));
  const auto start = Clock::now();
  EXPECT_EQ(0, ZARN_WriteString(1, 0x2702, 1, std::string(32, 'x').c_str()));
  EXPECT_GE(MsSince(start), 1500);
  ZARN_DriveClose(1);
}

TEST(SerialTiming, AWriteMayTakeLongerThanItsWireTime) {
  for (uint32_t baud : {300u, 1200u, 9600u, 19200u, 115200u}) {
    for (uint32_t n : {1u, 11u, 47u, 67u}) {
      const double wireMs = n * 10 * 1000.0 / baud;
      EXPECT_GE(platform::SerialWriteTimeoutMs(baud, n), 1.5 * wireMs + 50) << baud << " bit/s, " << n << " bytes";
    }
  }
}

TEST_F(SerialLine, NoiseJustBeforeARequestIsNotTakenForItsReply) {
  ZARN_SKIP_UNDER_WINE(
      "socat relays the noise after the request has started: noise in flight, which nothing can tell "
      "from a reply");
  model.SetWord(0x2100, 0, 0x0042);
  int wrong = 0;
  for (int i = 0; i < 30; ++i) {
    peer.SendRaw({0x01, 0x2B, 0x0D, 0x00});  // the start of a frame that never ends
    uint16_t value = 0;
    if (ZARN_ReadWord(1, 0x2100, 0, &value) != 0 || value != 0x42) ++wrong;
  }
  EXPECT_EQ(0, wrong);
}

TEST(SerialThreads, AWaitingCallerGoesBeforeTheHolderComesAgain) {
  TwoDrives drives;
  SerialPeer peer;
  peer.SetResponder(drives.Both());
  ASSERT_EQ(0, ZARN_SDRVOpen(1, peer.SlavePath().c_str(), 115200));
  ASSERT_EQ(0, ZARN_SDRVOpen(2, peer.SlavePath().c_str(), 115200));
  drives.one.SetWord(0x2100, 0, 1);
  drives.two.SetWord(0x2100, 0, 2);
  std::atomic<int> done{0};
  std::atomic<bool> stop{false};
  std::thread busy([&] {
    // Requests back to back: the line is free only between two of them.
    for (int i = 0; i < 2000 && !stop.load(); ++i) {
      uint16_t v = 0;
      ZARN_ReadWord(1, 0x2100, 0, &v);
      ++done;
    }
  });
  int mostPassed = 0;
  for (int k = 0; k < 20; ++k) {
    const int at = done.load();
    while (done.load() < at + 2) std::this_thread::yield();
    const int before = done.load();
    uint16_t v = 0;
    EXPECT_EQ(0, ZARN_ReadWord(2, 0x2100, 0, &v));
    mostPassed = std::max(mostPassed, done.load() - before);
  }
  stop = true;
  busy.join();
  // The request on the line when this caller came, and at most one more
  // that had already drawn its turn.
  EXPECT_LE(mostPassed, 2);
  ZARN_DriveClose(1);
  ZARN_DriveClose(2);
}

// True once the process runs at most n threads; a thread just joined may
// still be listed for a moment.
bool ThreadsSettleAt(int n) {
  for (int i = 0; i < 200 && ThreadCount() > n; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return ThreadCount() <= n;
}

TEST(SerialThreads, OpenJoinCloseAndRequestsTakeTurns) {
  TwoDrives drives;
  SerialPeer peer;
  drives.two.SetWord(0x2100, 0, 2);
  peer.SetResponder(drives.Both());
  const std::string path = peer.SlavePath();
  // Wine starts threads of its own for overlapped waits: there the count tells nothing.
  const bool countThreads = !RunningUnderWine();
  const int baseline = ThreadCount();
  int extraReaders = 0, failedOpens = 0;
  for (int round = 0; round < 100; ++round) {
    // Two first opens at once: one opens the line, the other joins it.
    int32_t codes[2] = {-1, -1};
    std::atomic<int> ready{0};
    auto open = [&](int k) {
      ++ready;
      while (ready.load() < 2) {
      }
      codes[k] = ZARN_SDRVOpen(k + 1, path.c_str(), 115200);
    };
    std::thread a(open, 0), b(open, 1);
    a.join();
    b.join();
    if (codes[0] != 0 || codes[1] != 0) ++failedOpens;
    if (countThreads && !ThreadsSettleAt(baseline + 1)) ++extraReaders;
    // A request races the close of the line.
    std::thread request([] {
      uint16_t v = 0;
      ZARN_ReadWord(2, 0x2100, 0, &v);
    });
    ZARN_DriveClose(1);
    request.join();
    ZARN_DriveClose(2);
  }
  EXPECT_EQ(0, failedOpens);
  EXPECT_EQ(0, extraReaders);
  EXPECT_TRUE(!countThreads || ThreadsSettleAt(baseline));  // no reader outlives the closes
}

}  // namespace
}  // namespace test
}  // namespace zarn
