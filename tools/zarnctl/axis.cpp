#include "axis.h"

#include <cstdlib>

#include "platform.h"
#include "poll.h"
#include "protocol/objects.h"

namespace zarnctl {

namespace {

namespace obj = zarn::objects;
namespace bits = zarn::objects::bits;

bool Bit(uint32_t word, int bit) { return (word >> bit) & 1; }

std::string Where(int32_t position) { return "at position " + std::to_string(position); }

}  // namespace

AxisStatus Axis::Status() const {
  AxisStatus s;
  link_.Check("read ControlInput1", ZARN_ReadWord, obj::ControlInput1.index, obj::ControlInput1.subIndex, &s.control1);
  link_.Check("read StateOutput", ZARN_ReadWord, obj::StateOutput.index, obj::StateOutput.subIndex, &s.state);
  link_.Check("read HomingState", ZARN_ReadWord, obj::HomingState.index, obj::HomingState.subIndex, &s.homingState);
  s.servoCommanded = Bit(s.control1, bits::kServoEnable);
  s.emergencyStop = Bit(s.control1, bits::kEmergencyStop);
  s.stopCommanded = Bit(s.control1, bits::kStop);
  s.alarm = Bit(s.state, bits::kAlarm);
  s.inPosition = Bit(s.state, bits::kInPosition);
  s.inVelocity = Bit(s.state, bits::kInVelocity);
  s.torqueLimit = Bit(s.state, bits::kTorqueLimit);
  s.homed = Bit(s.homingState, bits::kHomingDone);
  s.servoOn = s.servoCommanded && !s.emergencyStop && !s.alarm;
  if (s.alarm)
    link_.Check("read ErrorCode", ZARN_ReadWord, obj::ErrorCode.index, obj::ErrorCode.subIndex, &s.alarmCode);
  return s;
}

int32_t Axis::Position() const {
  int32_t v = 0;
  link_.Check("read ActualPosition", ZARN_ActualPosition, &v);
  return v;
}

int32_t Axis::Velocity() const {
  int32_t v = 0;
  link_.Check("read ActualVelocity", ZARN_ActualVelocity, &v);
  return v;
}

void Axis::Enable() const {
  AxisStatus s = Status();
  // Enabling under a latched emergency stop would re-energise the axis the
  // moment the stop is released: refused.
  if (s.emergencyStop)
    throw IncompleteFailure("enable", "the emergency stop is latched", "release it first: zarnctl estop --release");
  if (s.alarm)
    throw IncompleteFailure("enable", "the drive is in alarm (code " + HexText(s.alarmCode, 4) + ")",
                            "zarnctl alarms shows it; zarnctl reset-alarm clears it");
  link_.Check("enable", ZARN_Enable);
  s = Status();
  if (!s.servoOn) throw IncompleteFailure("enable", "the drive did not switch the servo on", "zarnctl info shows why");
}

void Axis::Disable() const {
  link_.Check("disable", ZARN_Disable);
  if (Status().servoCommanded) throw IncompleteFailure("disable", "the servo enable bit is still set", "");
}

void Axis::SendEmergencyStop() const {
  // The export writes 0 before the stop bit; if that first write fails the
  // bit itself is written, for the stop must not be lost.
  if (link_.Call("emergency stop", ZARN_EmergencyStop) != ZARN_OK)
    link_.Call("emergency stop bit", ZARN_SetDriveControlInput1, bits::kEmergencyStop, 1);
}

void Axis::EmergencyStop() const {
  SendEmergencyStop();
  if (!Status().emergencyStop) {
    link_.Check("emergency stop bit", ZARN_SetDriveControlInput1, bits::kEmergencyStop, 1);
    if (!Status().emergencyStop)
      throw IncompleteFailure("estop", "the emergency stop bit did not stay set", "cut the power by other means");
  }
}

void Axis::ReleaseEmergencyStop() const {
  uint16_t word = 0;
  link_.Check("read ControlInput1", ZARN_ReadWord, obj::ControlInput1.index, obj::ControlInput1.subIndex, &word);
  // Released with the servo off, so that releasing never moves the axis.
  word = uint16_t(word & ~((1u << bits::kEmergencyStop) | (1u << bits::kServoEnable)));
  link_.Check("release emergency stop", ZARN_WriteWord, obj::ControlInput1.index, obj::ControlInput1.subIndex, word);
  if (Status().emergencyStop) throw IncompleteFailure("estop --release", "the emergency stop bit is still set", "");
}

void Axis::ResetAlarm() const {
  link_.Check("reset alarm", ZARN_ResetAlarm);
  const AxisStatus s = Status();
  if (s.alarm)
    throw IncompleteFailure("reset-alarm", "the alarm is still active (code " + HexText(s.alarmCode, 4) + ")",
                            "remove its cause first (a limit switch, an overload), then reset again");
}

bool Axis::WaitStandstill(bool escalate, bool* emergency) const {
  uint32_t window = 0;
  link_.Call("read VelocityWindow", ZARN_ReadDWord, obj::VelocityWindow.index, obj::VelocityWindow.subIndex, &window);
  PollOptions o;
  o.timeout = timeout_;
  o.interval = interval_;
  o.endOnInterrupt = false;
  const PollEnd end = PollUntil(o, [&] {
    if (escalate && !*emergency && platform::Interrupts() >= 2) {
      *emergency = true;
      SendEmergencyStop();
    }
    int32_t v = 0;
    return link_.Call("read ActualVelocity", ZARN_ActualVelocity, &v) == ZARN_OK && uint32_t(std::abs(v)) <= window;
  });
  return end == PollEnd::kDone;
}

int32_t Axis::Stop() const {
  link_.Check("stop", ZARN_Stop);
  bool emergency = false;
  if (!WaitStandstill(true, &emergency))
    throw IncompleteFailure("stop", "the axis still moves after " + std::to_string(timeout_.count()) + " ms",
                            "zarnctl estop stops it at once");
  if (emergency) Halt("stop");
  return Position();
}

void Axis::Halt(const std::string& context) const {
  bool emergency = platform::Interrupts() >= 2;
  if (emergency || link_.Call("stop", ZARN_Stop) != ZARN_OK) {
    emergency = true;
    SendEmergencyStop();
  }
  const bool still = WaitStandstill(true, &emergency);
  int32_t position = 0, velocity = 0;
  const bool known = link_.Call("read ActualPosition", ZARN_ActualPosition, &position) == ZARN_OK &&
                     link_.Call("read ActualVelocity", ZARN_ActualVelocity, &velocity) == ZARN_OK;
  Failure f;
  f.kind = "interrupted";
  f.exitStatus = kExitInterrupted;
  f.context = context;
  f.message = std::string("interrupted: ") + (emergency ? "emergency stop" : "the axis was stopped");
  if (!still) f.message += ", but the axis still moves";
  f.message += known ? " " + Where(position) : " (its position could not be read)";
  if (emergency) f.hint = "the emergency stop is latched: zarnctl estop --release, then zarnctl enable";
  f.details["stopped_by"] = emergency ? "emergency_stop" : "stop";
  f.details["position"] = known ? Json(position) : Json(nullptr);
  f.details["velocity"] = known ? Json(velocity) : Json(nullptr);
  throw f;
}

void Axis::HaltIfInterrupted(const std::string& context) const {
  if (platform::Interrupts() > 0) Halt(context);
}

AxisStatus Axis::CheckCanMove(const std::string& context) const {
  const AxisStatus s = Status();
  if (s.emergencyStop)
    throw IncompleteFailure(context, "the emergency stop is latched",
                            "zarnctl estop --release, then zarnctl enable, then move again");
  if (s.alarm)
    throw IncompleteFailure(context, "the drive is in alarm (code " + HexText(s.alarmCode, 4) + ")",
                            "zarnctl alarms shows it; zarnctl reset-alarm clears it");
  if (!s.servoOn) throw IncompleteFailure(context, "the servo is off", "switch it on first: zarnctl enable");
  return s;
}

void Axis::CheckStillRunning(const AxisStatus& s, const std::string& context, int32_t position) const {
  Failure f;
  if (s.alarm) {
    f = IncompleteFailure(context,
                          "the drive raised an alarm (code " + HexText(s.alarmCode, 4) + ") " + Where(position),
                          "zarnctl alarms shows it; remove its cause, then zarnctl reset-alarm");
  } else if (s.emergencyStop) {
    f = IncompleteFailure(context, "the emergency stop was set " + Where(position),
                          "zarnctl estop --release, then zarnctl enable");
  } else if (!s.servoCommanded) {
    f = IncompleteFailure(context, "the servo was switched off " + Where(position), "zarnctl enable");
  } else {
    return;
  }
  f.details["position"] = position;
  throw f;
}

void Axis::ClearStop(const AxisStatus& s) const {
  // A drive whose stop input is level-sensitive would not start while it is set.
  if (s.stopCommanded) link_.Check("clear stop bit", ZARN_SetDriveControlInput1, bits::kStop, 0);
}

Axis::Move Axis::StartMove(bool relative, int32_t value, const Profile* profile) const {
  ClearStop(CheckCanMove("move"));
  Move m;
  m.start = Position();
  const int64_t target = relative ? int64_t(m.start) + value : int64_t(value);
  if (target < INT32_MIN || target > INT32_MAX)
    throw UsageFailure("the target " + std::to_string(target) + " lies outside the drive's position range");
  m.target = int32_t(target);
  if (profile) {
    if (relative)
      link_.Check("move", ZARN_MoveRelative, value, profile->velocity, profile->acceleration, profile->deceleration);
    else
      link_.Check("move", ZARN_MoveAbsolute, value, profile->velocity, profile->acceleration, profile->deceleration);
  } else {
    link_.Check("move", relative ? ZARN_MoveRel : ZARN_MoveAbs, value);
  }
  return m;
}

bool Axis::WaitMoveDone(const Move& move, const Watcher& watch) const {
  uint32_t window = 0;
  link_.Check("read PositionWindow", ZARN_ReadDWord, obj::PositionWindow.index, obj::PositionWindow.subIndex, &window);
  bool started = false, near = false;
  int32_t position = move.start;
  PollOptions o;
  o.timeout = timeout_;
  o.interval = interval_;
  const PollEnd end = PollUntil(o, [&] {
    const AxisStatus s = Status();
    position = Position();
    CheckStillRunning(s, "move", position);
    near = std::llabs(int64_t(position) - move.target) <= int64_t(window);
    // An in-position bit left over from the last move does not end the wait:
    // the move must be seen to start first.
    if (!s.inPosition || position != move.start || near) started = true;
    if (watch) watch(position);
    return started && s.inPosition;
  });
  if (end == PollEnd::kInterrupted) Halt("move");
  if (end == PollEnd::kTimedOut) {
    if (!started)
      throw IncompleteFailure("move", "the drive did not start the move", "zarnctl info shows the drive's state");
    return false;
  }
  if (!near) {
    Failure f = IncompleteFailure("move",
                                  "the drive reports in position " + Where(position) + ", outside the window of " +
                                      std::to_string(window) + " around the target " + std::to_string(move.target),
                                  "another command may have moved the axis; read PositionWindow and TargetPosition");
    f.details["position"] = position;
    throw f;
  }
  return true;
}

int32_t Axis::StartHoming(int8_t method, const HomingProfile& p) const {
  ClearStop(CheckCanMove("home"));
  // Homing starts on a rising edge of its start bit: a bit left set by the
  // last homing is cleared first.
  uint16_t word = 0;
  link_.Check("read ControlInput2", ZARN_ReadWord, obj::ControlInput2.index, obj::ControlInput2.subIndex, &word);
  if (Bit(word, bits::kHomingStart))
    link_.Check("clear homing start bit", ZARN_SetDriveControlInput2, bits::kHomingStart, 0);
  const int32_t start = Position();
  link_.Check("home", ZARN_Homing, char(method), p.switchSpeed, p.zeroSpeed, p.acceleration, p.offset);
  return start;
}

bool Axis::WaitHomed(int8_t method, const HomingProfile& p, int32_t start, const Watcher& watch) const {
  bool started = false;
  PollOptions o;
  o.timeout = timeout_;
  o.interval = interval_;
  const PollEnd end = PollUntil(o, [&] {
    const AxisStatus s = Status();
    const int32_t position = Position();
    CheckStillRunning(s, "home", position);
    // A homing-done bit left from the last homing ends nothing until this one
    // is seen to run (method 35 ends at once, at the offset).
    if (!s.homed || position != start || (method == zarn::objects::kHomeOnCurrentPosition && position == p.offset))
      started = true;
    if (watch) watch(position);
    return started && s.homed;
  });
  if (end == PollEnd::kInterrupted) Halt("home");
  return end == PollEnd::kDone;
}

}  // namespace zarnctl
