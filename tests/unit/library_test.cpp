// Library state after load, the error table, time-outs, version, and the
// request dispatcher's routes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/dispatch.h"
#include "core/state.h"
#include "zarn/zarn.h"

namespace zarn {
namespace {

std::string Message(int32_t code, int32_t* returned = nullptr) {
  SetLastError(code);
  char text[71];
  memset(text, 'x', sizeof text);
  int32_t r = ZARN_GetErrorCode(text);
  if (returned) *returned = r;
  return text;
}

TEST(Library, StateRightAfterLoad) {
  char text[71];
  EXPECT_EQ(0, ZARN_GetErrorCode(text));
  EXPECT_STREQ("ZARN is OK.", text);
  int32_t socketTimeout = 0, connectTimeout = 0;
  EXPECT_EQ(0, ZARN_GetTimeout(&socketTimeout, &connectTimeout));
  EXPECT_EQ(3, socketTimeout);
  EXPECT_EQ(1, connectTimeout);
  for (int id = 0; id < 256; ++id) EXPECT_EQ(0, ConnectionOf(static_cast<uint8_t>(id)));
  EXPECT_TRUE(State().app.started());
}

TEST(Library, ErrorTableMessages) {
  EXPECT_EQ("ZARN is OK.", Message(0));
  EXPECT_EQ("Function call parameter is invalid.", Message(3));
  EXPECT_EQ("Reply Error: Data address is not allowable.", Message(6));
  EXPECT_EQ("Serial: RxPacket is missing.", Message(21));
  EXPECT_EQ("Ethernet: StateMachine socket is null(SystemError).", Message(34));
  EXPECT_EQ("Connection: There is no connection!", Message(38));
  EXPECT_EQ("Parameter: String size is range over(>32)!", Message(42));
  // Every code has a message that fits the caller's 71 bytes; the longest has 70 characters.
  size_t longest = 0;
  for (int code = 0; code < 43; ++code) {
    std::string m = Message(code);
    EXPECT_FALSE(m.empty()) << code;
    longest = std::max(longest, m.size());
  }
  EXPECT_EQ(70u, longest);
}

TEST(Library, UnknownCodesReportTheirOwnCode) {
  for (int32_t code : {15, 43, -1, 1000, INT32_MIN}) {
    int32_t returned = 0;
    EXPECT_EQ("Unknown Error.", Message(code, &returned)) << code;
    EXPECT_EQ(code, returned);
    // Asking twice gives the same answer: the call changes nothing.
    EXPECT_EQ("Unknown Error.", Message(code, &returned));
    EXPECT_EQ(code, ZARN_GetErrorCode(nullptr));
  }
}

TEST(Library, ErrorStringIsEmptyAndClearsTheLastError) {
  SetLastError(ZARN_E_SERIAL_NO_REPLY);
  char text[256];
  memset(text, 'x', sizeof text);
  EXPECT_EQ(0, ZARN_GetErrorString(text));
  EXPECT_STREQ("", text);
  char message[71];
  EXPECT_EQ(0, ZARN_GetErrorCode(message));
  EXPECT_STREQ("ZARN is OK.", message);
}

TEST(Library, VersionAndTimeoutsLeaveTheLastErrorAlone) {
  SetLastError(ZARN_E_NO_CONNECTION);
  int32_t version = 0;
  EXPECT_EQ(0, ZARN_GetZarnDllVersion(&version));
  EXPECT_EQ(0x01020304, version);
  EXPECT_EQ(0, ZARN_SetTimeout(70000, 1));
  int32_t socketTimeout = 0, connectTimeout = 0;
  EXPECT_EQ(0, ZARN_GetTimeout(&socketTimeout, &connectTimeout));
  EXPECT_EQ(70000, socketTimeout);
  EXPECT_EQ(1, connectTimeout);
  EXPECT_EQ(0, ZARN_SetTimeout(-5, 0));
  EXPECT_EQ(0, ZARN_GetTimeout(&socketTimeout, &connectTimeout));
  EXPECT_EQ(-5, socketTimeout);
  EXPECT_EQ(0, connectTimeout);
  EXPECT_EQ(ZARN_E_NO_CONNECTION, ZARN_GetErrorCode(nullptr));
}

// A transport that reports whatever the test sets, including a length that
// no caller's buffer can hold.
class FakeTransport : public ITransport {
 public:
  int32_t Transact(MeiPacket* p) override {
    ++calls;
    last = *p;
    p->rxLength = rxLength;
    memset(p->rxData, 0xA5, sizeof p->rxData);
    return result;
  }
  int calls = 0;
  int32_t result = 0;
  uint16_t rxLength = 0;
  MeiPacket last;
};

class Dispatch : public ::testing::Test {
 protected:
  void SetUp() override { SetTransportOverride(&fake); }
  void TearDown() override {
    SetTransportOverride(nullptr);
    for (int id = 0; id < 256; ++id) SetConnection(static_cast<uint8_t>(id), kConnectionNone);
  }
  FakeTransport fake;
};

TEST_F(Dispatch, UnconnectedDriveGivesNoConnectionAndLeavesTheBufferAlone) {
  uint8_t buffer[32];
  memset(buffer, 0x11, sizeof buffer);
  EXPECT_EQ(ZARN_E_NO_CONNECTION, ReadObject(7, 0x6064, 0, buffer));
  EXPECT_EQ(ZARN_E_NO_CONNECTION, ZARN_GetErrorCode(nullptr));
  for (uint8_t b : buffer) EXPECT_EQ(0x11, b);
  uint8_t data[2] = {1, 2};
  SetLastError(0);
  EXPECT_EQ(ZARN_E_NO_CONNECTION, WriteObject(7, 0x6064, 0, data, 2));
  EXPECT_EQ(ZARN_E_NO_CONNECTION, ZARN_GetErrorCode(nullptr));
  EXPECT_EQ(0, fake.calls);
}

TEST_F(Dispatch, EthernetDriveWithoutSlotGivesNoActiveConnection) {
  SetConnection(9, kConnectionEthernet);
  uint8_t buffer[32] = {};
  EXPECT_EQ(ZARN_E_ETH_NO_SLOT, ReadObject(9, 0x6064, 0, buffer));
  EXPECT_EQ(ZARN_E_ETH_NO_SLOT, ZARN_GetErrorCode(nullptr));
  EXPECT_EQ(0, fake.calls);
}

TEST_F(Dispatch, SerialRequestCarriesItsFieldsAndRecordsTheCode) {
  SetConnection(3, kConnectionSerial);
  uint8_t data[4] = {0xDE, 0xAD, 0xBE, 0xEF};
  fake.result = ZARN_E_REPLY_BUSY;
  EXPECT_EQ(ZARN_E_REPLY_BUSY, WriteObject(3, 0x607A, 2, data, 4));
  EXPECT_EQ(ZARN_E_REPLY_BUSY, ZARN_GetErrorCode(nullptr));
  EXPECT_EQ(kConnectionSerial, fake.last.kind);
  EXPECT_EQ(3, fake.last.driveId);
  EXPECT_EQ(0x607A, fake.last.index);
  EXPECT_EQ(2, fake.last.subIndex);
  EXPECT_EQ(4, fake.last.txLength);
  EXPECT_EQ(0, memcmp(data, fake.last.txData, 4));
  fake.result = 0;
  uint8_t buffer[32];
  EXPECT_EQ(0, ReadObject(3, 0x6064, 0, buffer));
  EXPECT_EQ(0, fake.last.txLength);
  EXPECT_EQ(0, ZARN_GetErrorCode(nullptr));
}

TEST_F(Dispatch, FailedReadStillCopiesTheReportedBytes) {
  SetConnection(3, kConnectionSerial);
  fake.result = ZARN_E_SERIAL_CRC;
  fake.rxLength = 3;
  uint8_t buffer[32];
  memset(buffer, 0, sizeof buffer);
  EXPECT_EQ(ZARN_E_SERIAL_CRC, ReadObject(3, 0x6064, 0, buffer));
  EXPECT_EQ(0xA5, buffer[0]);
  EXPECT_EQ(0xA5, buffer[2]);
  EXPECT_EQ(0x00, buffer[3]);
}

TEST_F(Dispatch, NeverCopiesPastTheCallersBuffer) {
  SetConnection(3, kConnectionSerial);
  for (uint16_t reported : {uint16_t(32), uint16_t(33), uint16_t(65), uint16_t(66), uint16_t(0xFFFF)}) {
    fake.rxLength = reported;
    struct {
      uint8_t buffer[32];
      uint8_t guard[40];
    } area;
    memset(&area, 0, sizeof area);
    EXPECT_EQ(0, ReadObject(3, 0x6064, 0, area.buffer));
    EXPECT_EQ(0xA5, area.buffer[31]);
    for (uint8_t g : area.guard) ASSERT_EQ(0, g) << "reported " << reported;
  }
}

TEST_F(Dispatch, WriteLengthIsBoundedBy32) {
  SetConnection(3, kConnectionSerial);
  uint8_t data[64] = {};
  EXPECT_EQ(0, WriteObject(3, 0x2000, 0, data, 64));
  EXPECT_EQ(32, fake.last.txLength);
}

TEST_F(Dispatch, EthernetSlotLookupTakesTheFirstMatch) {
  int slot = -1;
  // A free slot holds drive id 0, so id 0 finds slot 0.
  EXPECT_TRUE(FindEthernetSlot(0, &slot));
  EXPECT_EQ(0, slot);
  EXPECT_FALSE(FindEthernetSlot(5, &slot));
  State().ethernetSlots[5].SetDriveId(5);
  EXPECT_TRUE(FindEthernetSlot(5, &slot));
  EXPECT_EQ(5, slot);
  SetConnection(5, kConnectionEthernet);
  uint8_t buffer[32];
  EXPECT_EQ(0, ReadObject(5, 0x6064, 0, buffer));
  EXPECT_EQ(1, fake.calls);
  State().ethernetSlots[5].SetDriveId(0);
}

}  // namespace
}  // namespace zarn
