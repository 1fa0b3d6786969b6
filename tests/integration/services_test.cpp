// The named drive services: exact request sequences on the wire (serial line,
// drive model behind a pseudo-terminal), values, widths and signedness.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "fixtures.h"

namespace zarn {
namespace test {
namespace {

class Services : public SerialDriveTest {
 protected:
  // The accesses since the last call, as "R 6040:00" or "W 607A:00 00 00 03 E8".
  std::vector<std::string> Wire() {
    std::vector<std::string> out;
    for (const auto& a : model.Log()) {
      char head[32];
      snprintf(head, sizeof head, "%c %04X:%02X", a.write ? 'W' : 'R', a.index, a.subIndex);
      out.push_back(a.write ? std::string(head) + " " + Hex(a.data) : std::string(head));
    }
    model.ClearLog();
    return out;
  }
  using Lines = std::vector<std::string>;
};

TEST_F(Services, SingleObjectReaders) {
  struct Case {
    const char* name;
    uint16_t index;
    uint8_t sub;
    Bytes reply;
    std::function<int32_t(int64_t*)> call;
    int64_t expected;
  };
  auto u16 = [](int32_t (*f)(uint8_t, uint16_t*)) {
    return [f](int64_t* out) {
      uint16_t v = 0;
      int32_t c = f(1, &v);
      *out = v;
      return c;
    };
  };
  auto s16 = [](int32_t (*f)(uint8_t, int16_t*)) {
    return [f](int64_t* out) {
      int16_t v = 0;
      int32_t c = f(1, &v);
      *out = v;
      return c;
    };
  };
  auto u32 = [](int32_t (*f)(uint8_t, uint32_t*)) {
    return [f](int64_t* out) {
      uint32_t v = 0;
      int32_t c = f(1, &v);
      *out = v;
      return c;
    };
  };
  auto s32 = [](int32_t (*f)(uint8_t, int32_t*)) {
    return [f](int64_t* out) {
      int32_t v = 0;
      int32_t c = f(1, &v);
      *out = v;
      return c;
    };
  };
  const Case cases[] = {
      {"InertiaRatio", 0x2100, 0, {0x01, 0x2C}, u16(ZARN_GetInertiaRatio), 300},
      {"PosGainKp", 0x2101, 0, {0x00, 0x32}, u16(ZARN_GetPosGainKp), 50},
      {"VelGainKp", 0x2102, 0, {0x00, 0x4B}, u16(ZARN_GetVelGainKp), 75},
      {"VelGainKiT", 0x2103, 0, {0x00, 0x14}, u16(ZARN_GetVelGainKiT), 20},
      {"PosGainKvff", 0x210C, 0, {0xFF, 0xFF}, u16(ZARN_GetPosGainKvff), 65535},
      {"PosGainKvff_flt", 0x210D, 0, {0x00, 0x01}, u16(ZARN_GetPosGainKvff_flt), 1},
      {"CurGain", 0x2514, 0, {0x12, 0x34}, u16(ZARN_GetCurGain), 0x1234},
      {"FeedbackSpeed", 0x2600, 0, {0xFF, 0x38}, s16(ZARN_FeedbackSpeed), -200},
      {"AccumOverload", 0x2603, 0, {0x80, 0x00}, s16(ZARN_AccumOverload), -32768},
      {"DCLinkVoltage", 0x2605, 0, {0x01, 0x2C}, u16(ZARN_DCLinkVoltage), 300},
      {"SingleTurnData", 0x2607, 0, {0xFF, 0x00, 0x00, 0x01}, u32(ZARN_SingleTurnData), 0xFF000001},
      {"MultiTurnData", 0x260A, 0, {0x00, 0x07}, u16(ZARN_MultiTurnData), 7},
      {"DriveTemp", 0x260B, 0, {0xFF, 0xF6}, s16(ZARN_DriveTemp), -10},
      {"WarningCode", 0x2614, 0, {0x09, 0x01}, u16(ZARN_WarningCode), 0x0901},
      {"ActualPosition", 0x6064, 0, {0xFF, 0xFF, 0xFE, 0x0C}, s32(ZARN_ActualPosition), -500},
      {"ActualVelocity", 0x606C, 0, {0x00, 0x01, 0x86, 0xA0}, s32(ZARN_ActualVelocity), 100000},
      {"ActualTorque", 0x6077, 0, {0xFF, 0x38}, s16(ZARN_ActualTorque), -200},
      {"TouchProbeStatus", 0x60B9, 0, {0x00, 0x03}, u16(ZARN_TouchProbeStatus), 3},
      {"TouchProbe1Pos", 0x60BA, 0, {0x80, 0x00, 0x00, 0x00}, s32(ZARN_TouchProbe1PositiveEdgeValue), INT32_MIN},
      {"TouchProbe1Neg", 0x60BB, 0, {0x00, 0x00, 0x00, 0x2A}, s32(ZARN_TouchProbe1NegativeEdgeValue), 42},
      {"TouchProbe2Pos", 0x60BC, 0, {0xFF, 0xFF, 0xFF, 0xFF}, s32(ZARN_TouchProbe2PositiveEdgeValue), -1},
      {"TouchProbe2Neg", 0x60BD, 0, {0x7F, 0xFF, 0xFF, 0xFF}, s32(ZARN_TouchProbe2NegativeEdgeValue), INT32_MAX},
  };
  for (const Case& c : cases) {
    model.Set(c.index, c.sub, c.reply);
    int64_t value = 0;
    EXPECT_EQ(0, c.call(&value)) << c.name;
    EXPECT_EQ(c.expected, value) << c.name;
    char expect[16];
    snprintf(expect, sizeof expect, "R %04X:%02X", c.index, c.sub);
    EXPECT_EQ(Lines{expect}, Wire()) << c.name;
  }
  // A reader of a drive without a connection leaves the caller's variable alone.
  int32_t position = 77;
  EXPECT_EQ(ZARN_E_NO_CONNECTION, ZARN_ActualPosition(9, &position));
  EXPECT_EQ(77, position);
  EXPECT_EQ(ZARN_E_INVALID_PARAM, ZARN_ActualPosition(1, nullptr));
  EXPECT_TRUE(Wire().empty());
}

TEST_F(Services, SingleObjectWriters) {
  struct Case {
    std::function<int32_t()> call;
    const char* wire;
  };
  const Case cases[] = {
      {[] { return ZARN_SetInertiaRatio(1, 300); }, "W 2100:00 01 2C"},
      {[] { return ZARN_SetPosGainKp(1, 50); }, "W 2101:00 00 32"},
      {[] { return ZARN_SetVelGainKp(1, 75); }, "W 2102:00 00 4B"},
      {[] { return ZARN_SetVelGainKiT(1, 20); }, "W 2103:00 00 14"},
      {[] { return ZARN_SetPosGainKvff(1, 0xFFFF); }, "W 210C:00 FF FF"},
      {[] { return ZARN_SetPosGainKvff_flt(1, 1); }, "W 210D:00 00 01"},
      {[] { return ZARN_SetCurGain(1, 0x1234); }, "W 2514:00 12 34"},
      {[] { return ZARN_SelVelocityLimit(1, 2); }, "W 230D:00 00 02"},
      {[] { return ZARN_SetVelocityLimit(1, 3000); }, "W 230E:00 0B B8"},
      {[] { return ZARN_TorqueVelLimit(1, 0x01020304); }, "W 607F:00 01 02 03 04"},
      {[] { return ZARN_ProfileVelocity(1, 100000); }, "W 6081:00 00 01 86 A0"},
      {[] { return ZARN_ProfileAccel(1, 0xFFFFFFFF); }, "W 6083:00 FF FF FF FF"},
      {[] { return ZARN_ProfileDecel(1, 1); }, "W 6084:00 00 00 00 01"},
      {[] { return ZARN_StopDecel(1, 256); }, "W 6085:00 00 00 01 00"},
      {[] { return ZARN_TorqueSlope(1, 1000); }, "W 6087:00 00 00 03 E8"},
      {[] { return ZARN_TargetTorque(1, -1); }, "W 6071:00 FF FF FF FF"},
      {[] { return ZARN_TargetVelocity(1, -2); }, "W 60FF:00 FF FF FF FE"},
      {[] { return ZARN_TouchProbeFunction(1, 0x0011); }, "W 60B8:00 00 11"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(0, c.call()) << c.wire;
    EXPECT_EQ(Lines{c.wire}, Wire());
  }
}

TEST_F(Services, PairWritersStopAtTheFirstRefusal) {
  EXPECT_EQ(0, ZARN_SetInPosition(1, 100, 5));
  EXPECT_EQ((Lines{"W 6067:00 00 00 00 64", "W 6068:00 00 05"}), Wire());
  EXPECT_EQ(0, ZARN_SetInVelocity(1, 20, 3));
  EXPECT_EQ((Lines{"W 606D:00 00 00 00 14", "W 606E:00 00 03"}), Wire());
  EXPECT_EQ(0, ZARN_HomeTorqueLimit(1, 100, 200));
  EXPECT_EQ((Lines{"W 2409:00 00 64", "W 240A:00 00 C8"}), Wire());
  EXPECT_EQ(0, ZARN_SetElecGearRatio(1, 131072, 360));
  EXPECT_EQ((Lines{"W 6091:01 00 02 00 00", "W 6091:02 00 00 01 68"}), Wire());
  model.Refuse(0x6091, 1, 3);
  EXPECT_EQ(ZARN_E_REPLY_ILLEGAL_DATA, ZARN_SetElecGearRatio(1, 1, 2));
  EXPECT_EQ((Lines{"W 6091:01 00 00 00 01"}), Wire());
  EXPECT_EQ(ZARN_E_REPLY_ILLEGAL_DATA, ZARN_GetErrorCode(nullptr));
}

TEST_F(Services, ServoEnableDisableAndEmergencyStop) {
  model.SetWord(0x211F, 0, 0x0008);
  EXPECT_EQ(0, ZARN_Enable(1));
  EXPECT_EQ((Lines{"R 211F:00", "W 211F:00 10 08"}), Wire());
  model.SetWord(0x211F, 0, 0x1408);
  EXPECT_EQ(0, ZARN_Disable(1));
  EXPECT_EQ((Lines{"R 211F:00", "W 211F:00 04 08"}), Wire());
  model.SetWord(0x211F, 0, 0x1008);
  EXPECT_EQ(0, ZARN_EmergencyStop(1));
  EXPECT_EQ((Lines{"W 211F:00 00 00", "W 211F:00 04 00"}), Wire());
  int enabled = 7;
  EXPECT_EQ(0, ZARN_IsEnabled(1, &enabled));
  EXPECT_EQ(0, enabled);
  EXPECT_EQ(0, ZARN_Enable(1));  // emergency stop stays set
  EXPECT_EQ((Lines{"R 211F:00", "R 211F:00", "W 211F:00 14 00"}), Wire());
  int bit = 0;
  EXPECT_EQ(0, ZARN_IsEnabled(1, &enabled));
  EXPECT_EQ(0, ZARN_GetDriveControlInput1(1, 12, &bit));
  EXPECT_EQ(1, enabled);
  EXPECT_EQ(enabled, bit);
  // A failed read writes nothing; the emergency stop bit is sent even after a failed first write.
  model.Refuse(0x211F, 0, 6);
  Wire();
  EXPECT_EQ(ZARN_E_REPLY_BUSY, ZARN_Disable(1));
  EXPECT_EQ((Lines{"R 211F:00"}), Wire());
  EXPECT_EQ(ZARN_E_REPLY_BUSY, ZARN_EmergencyStop(1));
  EXPECT_EQ((Lines{"W 211F:00 00 00", "W 211F:00 04 00"}), Wire());
}

TEST_F(Services, EmergencyStopBitGoesOutWhenTheDriveIsBusyFirst) {
  // The drive answers the clearing write "busy" and takes the stop bit.
  const Responder drive = model.Serial(1);
  int writes = 0;
  peer.SetResponder([&](const Bytes& request) {
    const Reply reply = drive(request);
    if (request.size() > 3 && request[3] == 0x80 && ++writes == 1) {
      Bytes busy{1, 0xAB, 6};
      AppendCrc(&busy);
      return Whole(busy);
    }
    return reply;
  });
  model.SetWord(0x211F, 0, 0x1000);
  EXPECT_EQ(ZARN_E_REPLY_BUSY, ZARN_EmergencyStop(1));
  EXPECT_EQ((Lines{"W 211F:00 00 00", "W 211F:00 04 00"}), Wire());
  EXPECT_EQ((Bytes{0x04, 0x00}), model.Get(0x211F, 0));
  char text[71];
  EXPECT_EQ(ZARN_E_REPLY_BUSY, ZARN_GetErrorCode(text));  // the code returned is the one recorded
  peer.SetResponder(model.Serial(1));
}

TEST_F(Services, ResetAlarmHoldsTheBitHalfASecond) {
  model.SetWord(0x211F, 0, 0x1000);
  auto start = Clock::now();
  EXPECT_EQ(0, ZARN_ResetAlarm(1));
  EXPECT_GE(MsSince(start), 500);
  EXPECT_EQ((Lines{"R 211F:00", "W 211F:00 18 00", "R 211F:00", "W 211F:00 10 00"}), Wire());
  model.Refuse(0x211F, 0, 4);
  start = Clock::now();
  EXPECT_EQ(ZARN_E_REPLY_DEVICE_FAILURE, ZARN_ResetAlarm(1));
  EXPECT_LT(MsSince(start), 300);
  EXPECT_EQ((Lines{"R 211F:00"}), Wire());
}

TEST_F(Services, AlarmsProceduresAndModes) {
  model.SetWord(0x2121, 0, 0x0002);
  model.SetWord(0x603F, 0, 0x7500);
  int alarm = 0;
  uint16_t code = 0;
  EXPECT_EQ(0, ZARN_IsAlarm(1, &alarm, &code));
  EXPECT_EQ(1, alarm);
  EXPECT_EQ(0x7500, code);
  model.SetWord(0x2121, 0, 0x0000);
  EXPECT_EQ(0, ZARN_IsAlarm(1, &alarm, &code));
  EXPECT_EQ(0, alarm);
  EXPECT_EQ((Lines{"R 2121:00", "R 603F:00", "R 2121:00", "R 603F:00"}), Wire());
  model.Refuse(0x603F, 0, 2);
  alarm = 5;
  code = 9;
  EXPECT_EQ(ZARN_E_REPLY_ILLEGAL_ADDRESS, ZARN_IsAlarm(1, &alarm, &code));
  EXPECT_EQ(0, alarm);  // stored before the second read failed
  EXPECT_EQ(9, code);
  Wire();
  EXPECT_EQ(0, ZARN_ClearAlarmHistory(1));
  EXPECT_EQ((Lines{"W 2701:00 00 01", "W 2700:00 00 03"}), Wire());
  EXPECT_EQ(0, ZARN_DriveSoftReset(1));
  EXPECT_EQ((Lines{"W 2701:00 00 01", "W 2700:00 00 09"}), Wire());
  model.Refuse(0x2701, 0, 1);
  EXPECT_EQ(ZARN_E_REPLY_ILLEGAL_FUNCTION, ZARN_ProcedureCmd(1, 7, 8));
  EXPECT_EQ((Lines{"W 2701:00 00 08"}), Wire());
  EXPECT_EQ(0, ZARN_SetOperationMode(1, -1));
  EXPECT_EQ(0, ZARN_SetControlMode(1, 2));
  EXPECT_EQ((Lines{"W 6060:00 FF", "W 3000:00 00 02"}), Wire());
  model.Set(0x2702, 0, {'E', '0', '1'});
  char text[33];
  EXPECT_EQ(0, ZARN_GetAlarmHistory(1, 0, text));
  EXPECT_STREQ("E01", text);
  EXPECT_EQ((Lines{"R 2702:00"}), Wire());
}

TEST_F(Services, MoveSequences) {
  model.SetWord(0x6040, 0, 0x004F);
  EXPECT_EQ(0, ZARN_MoveAbs(1, 1000));
  EXPECT_EQ((Lines{"W 607A:00 00 00 03 E8", "R 6040:00", "W 6040:00 00 0F", "W 2120:00 00 00", "W 2120:00 00 01"}),
            Wire());
  EXPECT_EQ(0, ZARN_MoveRel(1, -500));
  EXPECT_EQ((Lines{"W 607A:00 FF FF FE 0C", "R 6040:00", "W 6040:00 00 4F", "W 2120:00 00 00", "W 2120:00 00 01"}),
            Wire());
  EXPECT_EQ(0, ZARN_MoveAbsolute(1, 2000, 100, 200, 300));
  EXPECT_EQ((Lines{"W 607A:00 00 00 07 D0", "W 6081:00 00 00 00 64", "W 6083:00 00 00 00 C8", "W 6084:00 00 00 01 2C",
                   "R 6040:00", "W 6040:00 00 0F", "W 2120:00 00 00", "W 2120:00 00 01"}),
            Wire());
  EXPECT_EQ(0, ZARN_MoveRelative(1, 10, 1, 2, 3));
  EXPECT_EQ(8u, Wire().size());
  EXPECT_EQ(0, ZARN_MoveIndex(1, 4));
  EXPECT_EQ((Lines{"W 3008:00 00 04", "W 2120:00 00 00", "W 2120:00 00 01"}), Wire());
  model.SetWord(0x2120, 0, 0x0008);
  EXPECT_EQ(0, ZARN_Start(1));
  EXPECT_EQ((Lines{"W 2120:00 00 00", "W 2120:00 00 01"}), Wire());
  // A refused target write ends the command before any edge.
  model.Refuse(0x607A, 0, 3);
  EXPECT_EQ(ZARN_E_REPLY_ILLEGAL_DATA, ZARN_MoveAbs(1, 5));
  EXPECT_EQ((Lines{"W 607A:00 00 00 00 05"}), Wire());
  model.Refuse(0x6081, 0, 3);
  EXPECT_EQ(ZARN_E_REPLY_ILLEGAL_DATA, ZARN_MoveAbsolute(1, 5, 1, 1, 1));
  EXPECT_EQ(1u, Wire().size());
}

TEST_F(Services, HomingStopAndCurrentPosition) {
  model.SetWord(0x2120, 0, 0x0001);
  EXPECT_EQ(0, ZARN_Homing(1, 1, 5000, -100, 1000, -1));
  EXPECT_EQ((Lines{"W 6098:00 01", "W 6099:01 00 00 13 88", "W 6099:02 FF FF FF 9C", "W 609A:00 00 00 03 E8",
                   "W 607C:00 FF FF FF FF", "R 2120:00", "W 2120:00 00 09"}),
            Wire());
  // Homing again gives the drive a new edge of bit 3: cleared first, then set.
  EXPECT_EQ(0, ZARN_Homing(1, 1, 5000, -100, 1000, -1));
  EXPECT_EQ((Lines{"W 6098:00 01", "W 6099:01 00 00 13 88", "W 6099:02 FF FF FF 9C", "W 609A:00 00 00 03 E8",
                   "W 607C:00 FF FF FF FF", "R 2120:00", "W 2120:00 00 01", "W 2120:00 00 09"}),
            Wire());
  EXPECT_EQ(0, ZARN_SetCurrentPosition(1, 0));
  EXPECT_EQ((Lines{"W 6098:00 23", "W 607C:00 00 00 00 00", "R 2120:00", "W 2120:00 00 01", "W 2120:00 00 09"}),
            Wire());
  model.SetWord(0x211F, 0, 0x1008);
  EXPECT_EQ(0, ZARN_Stop(1));
  EXPECT_EQ((Lines{"R 211F:00", "W 211F:00 10 00", "W 211F:00 10 08"}), Wire());
}

TEST_F(Services, WaitMoveDone) {
  model.SetWord(0x2121, 0, 0x0010);
  int done = 0;
  auto start = Clock::now();
  EXPECT_EQ(0, ZARN_WaitMoveDone(1, 1000, &done));
  EXPECT_EQ(1, done);
  EXPECT_LT(MsSince(start), 500);  // one poll (below), not the time-out
  EXPECT_EQ((Lines{"R 2121:00"}), Wire());
  // Never in position: about the time-out, polled every 10 ms plus a request.
  model.SetWord(0x2121, 0, 0x0000);
  model.SetWord(0x2122, 0, 0x0003);  // homing done and index ended do not end the wait
  start = Clock::now();
  EXPECT_EQ(0, ZARN_WaitMoveDone(1, 100, &done));
  long ms = MsSince(start);
  EXPECT_EQ(0, done);
  EXPECT_GE(ms, 100);
  EXPECT_LT(ms, 1000);  // loose: a loaded machine may sleep long
  size_t polls = Wire().size();
  EXPECT_GE(polls, 2u);   // polled again, not once
  EXPECT_LE(polls, 11u);  // and not busily
  // A time-out of 0 still polls once and answers with the drive's state.
  EXPECT_EQ(0, ZARN_WaitMoveDone(1, 0, &done));
  EXPECT_EQ((Lines{"R 2121:00"}), Wire());
  model.SetWord(0x2121, 0, 0x0010);
  EXPECT_EQ(0, ZARN_WaitMoveDone(1, 0, &done));
  EXPECT_EQ(1, done);
  // A failed poll returns its code and leaves done alone.
  model.Refuse(0x2121, 0, 2);
  done = 42;
  EXPECT_EQ(ZARN_E_REPLY_ILLEGAL_ADDRESS, ZARN_WaitMoveDone(1, 1000, &done));
  EXPECT_EQ(42, done);
}

TEST_F(Services, StatusBits) {
  struct Case {
    uint16_t index;
    Bytes word;
    int32_t (*query)(uint8_t, int*);
    int expected;
  };
  const Case cases[] = {
      {0x60FD, {0, 0, 0, 6}, ZARN_IsNegativeLimit, 0}, {0x60FD, {0, 0, 0, 6}, ZARN_IsPositiveLimit, 1},
      {0x60FD, {0, 0, 0, 6}, ZARN_IsHomeSensor, 1},    {0x2121, {0x00, 0x20}, ZARN_IsTorqueLimit, 1},
      {0x2121, {0xFF, 0xDF}, ZARN_IsTorqueLimit, 0},   {0x2121, {0x00, 0x10}, ZARN_IsInPosition, 1},
      {0x2121, {0x00, 0x80}, ZARN_IsInVelocity, 1},    {0x2121, {0xFF, 0x7F}, ZARN_IsInVelocity, 0},
      {0x2122, {0x00, 0x01}, ZARN_IsHome, 1},          {0x2122, {0x00, 0x02}, ZARN_IsEndIndex, 1},
      {0x2122, {0x00, 0x02}, ZARN_IsHome, 0},
  };
  for (const Case& c : cases) {
    model.Set(c.index, 0, c.word);
    int value = -1;
    EXPECT_EQ(0, c.query(1, &value));
    EXPECT_EQ(c.expected, value) << std::hex << c.index;
  }
  int value = -1;
  for (int bit = 0; bit < 16; ++bit) {
    model.SetWord(0x2121, 0, static_cast<uint16_t>(1u << bit));
    EXPECT_EQ(0, ZARN_GetDriveStateOutput(1, bit, &value));
    EXPECT_EQ(1, value) << bit;
  }
  Wire();
  EXPECT_EQ(ZARN_E_INVALID_PARAM, ZARN_GetDriveStateOutput(1, 16, &value));
  EXPECT_EQ(ZARN_E_INVALID_PARAM, ZARN_GetDriveControlInput2(1, -1, &value));
  EXPECT_EQ(ZARN_E_INVALID_PARAM, ZARN_SetDriveControlInput1(1, 16, 1));
  EXPECT_EQ(ZARN_E_INVALID_PARAM, ZARN_IsHome(1, nullptr));
  EXPECT_TRUE(Wire().empty());
}

TEST_F(Services, DigitalIoAndCommandBits) {
  model.SetDWord(0x60FD, 0, 0x80000001);
  uint32_t inputs = 0, outputs = 0;
  EXPECT_EQ(0, ZARN_GetDigitalInputs(1, &inputs));
  EXPECT_EQ(0x80000001u, inputs);
  EXPECT_EQ(0, ZARN_SetDigitalOutputs(1, 0x00010000));
  EXPECT_EQ(0, ZARN_GetDigitalOutputs(1, &outputs));
  EXPECT_EQ(0x00010000u, outputs);
  EXPECT_EQ((Lines{"R 60FD:00", "W 60FE:01 00 01 00 00", "W 60FE:02 FF FF FF FF", "R 60FE:01"}), Wire());
  EXPECT_EQ(0, ZARN_SetDigitalOutputsWithMask(1, 0x3, 0x1));
  EXPECT_EQ((Lines{"W 60FE:01 00 00 00 03", "W 60FE:02 00 00 00 01"}), Wire());
  model.Refuse(0x60FE, 1, 4);
  EXPECT_EQ(ZARN_E_REPLY_DEVICE_FAILURE, ZARN_SetDigitalOutputsWithMask(1, 0x3, 0x1));
  EXPECT_EQ((Lines{"W 60FE:01 00 00 00 03"}), Wire());

  model.SetWord(0x2120, 0, 0x0000);
  EXPECT_EQ(0, ZARN_SetDriveControlInput2(1, 0, 1));
  EXPECT_EQ((Lines{"R 2120:00", "W 2120:00 00 01"}), Wire());  // no zero write first
  EXPECT_EQ(0, ZARN_SetDriveControlInput2(1, 0, 1));
  EXPECT_EQ((Lines{"R 2120:00", "W 2120:00 00 01"}), Wire());  // unchanged, still written
  model.SetWord(0x211F, 0, 0x0400);
  EXPECT_EQ(0, ZARN_SetDriveControlInput1(1, 10, 0));
  EXPECT_EQ((Lines{"R 211F:00", "W 211F:00 00 00"}), Wire());
  int bit = -1;
  EXPECT_EQ(0, ZARN_GetDriveControlInput2(1, 0, &bit));
  EXPECT_EQ(1, bit);
}

TEST_F(Services, SignalConfiguration) {
  EXPECT_EQ(0, ZARN_SetDigitalInputSignals(1, 1, 0x0005, 1));
  EXPECT_EQ(0, ZARN_SetDigitalInputSignals(1, 1, 0x1005, 0));
  EXPECT_EQ(0, ZARN_SetDigitalOutputSignals(1, 3, 0xA0FF, 1));  // bits 8-15 go through unmasked
  EXPECT_EQ((Lines{"W 2200:00 10 05", "W 2200:00 00 05", "W 2212:00 B0 FF"}), Wire());
  model.SetWord(0x2211, 0, 0x1A07);
  uint16_t signal = 0, flag = 0;
  EXPECT_EQ(0, ZARN_GetDigitalOutputSignals(1, 2, &signal, &flag));
  EXPECT_EQ(0x0007, signal);
  EXPECT_EQ(1, flag);
  model.SetWord(0x2210, 0, 0x0033);
  EXPECT_EQ(0, ZARN_GetDigitalInputSignals(1, 17, &signal, &flag));  // input 17 is output 1's object
  EXPECT_EQ(0x33, signal);
  EXPECT_EQ(0, flag);
  EXPECT_EQ((Lines{"R 2211:00", "R 2210:00"}), Wire());
  // Signal number 0: 3 at once, no request, the last error untouched.
  model.Refuse(0x9999, 0, 2);
  uint16_t v;
  ZARN_ReadWord(1, 0x9999, 0, &v);
  Wire();
  EXPECT_EQ(ZARN_E_INVALID_PARAM, ZARN_SetDigitalInputSignals(1, 0, 1, 1));
  EXPECT_EQ(ZARN_E_INVALID_PARAM, ZARN_GetDigitalOutputSignals(1, 0, &signal, &flag));
  EXPECT_EQ(ZARN_E_REPLY_ILLEGAL_ADDRESS, ZARN_GetErrorCode(nullptr));
  EXPECT_TRUE(Wire().empty());
}

}  // namespace
}  // namespace test
}  // namespace zarn
