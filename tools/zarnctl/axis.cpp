#include "axis.h"

#include <cstdlib>

#include "platform.h"
#include "poll.h"
#include "access.h"
#include "protocol/objects.h"

namespace zarnctl {

namespace {

namespace obj = zarn::objects;

std::string Where(int32_t position) { return "at position " + std::to_string(position); }

}  // namespace

AxisStatus Axis::Status() const {
  const zarn::DriveStatus d = link_.Api("status", [](zarn::Drive& drive) { return drive.Status(); });
  AxisStatus s;
  s.control1 = d.controlInput1;
  s.state = d.stateOutput;
  s.homingState = d.homingState;
  s.alarmCode = d.alarmCode;
  s.servoCommanded = d.servoEnableCommand;
  s.emergencyStop = d.emergencyStop;
  s.servoOn = d.servoOn;
  s.alarm = d.alarm;
  s.inPosition = d.inPosition;
  s.inVelocity = d.inVelocity;
  s.torqueLimit = d.torqueLimit;
  s.homed = d.homed;
  s.stopCommanded = d.stopCommand;
  return s;
}

void Axis::Fail(const std::string& context, const Failure& failure) const {
  // The C++ API's motion conditions, with the drive's state that goes with them.
  const bool refused = context == "enable" || context == "reset-alarm" || context.rfind("start ", 0) == 0;
  const std::string what = refused ? context.substr(context.rfind("start ", 0) == 0 ? 6 : 0) : context;
  Failure f = failure;
  Json details = failure.details;
  auto position = [&] {
    int32_t p = 0;
    if (link_.Call("read ActualPosition", ZARN_ActualPosition, &p) == ZARN_OK) details["position"] = p;
    return " " + Where(p);
  };
  auto alarmCode = [&] {
    uint16_t code = 0;
    link_.Call("read ErrorCode", ZARN_ReadWord, obj::ErrorCode.index, obj::ErrorCode.subIndex, &code);
    return HexText(code, 4);
  };
  switch (failure.code) {
    case ZARN_E_ALARM_ACTIVE:
      f = refused ? IncompleteFailure(what, "the drive is in alarm (code " + alarmCode() + ")",
                                      "zarnctl alarms shows it; zarnctl reset-alarm clears it")
                  : IncompleteFailure(what, "the drive raised an alarm (code " + alarmCode() + ")" + position(),
                                      "zarnctl alarms shows it; remove its cause, then zarnctl reset-alarm");
      break;
    case ZARN_E_EMERGENCY_STOP:
      f = refused ? IncompleteFailure(what, "the emergency stop is latched",
                                      "release it first: zarnctl estop --release, then zarnctl enable")
                  : IncompleteFailure(what, "the emergency stop was set" + position(),
                                      "zarnctl estop --release, then zarnctl enable");
      break;
    case ZARN_E_SERVO_OFF:
      f = refused ? IncompleteFailure(what, "the servo is off", "switch it on first: zarnctl enable")
                  : IncompleteFailure(what, "the servo was switched off" + position(), "zarnctl enable");
      break;
    case ZARN_E_SERVO_ON_TIMEOUT:
      f = IncompleteFailure(what, "the drive did not report the servo on", "zarnctl info shows its state");
      break;
    case ZARN_E_ALARM_PERSISTS:
      f = IncompleteFailure(what, "the alarm is still active (code " + alarmCode() + ")",
                            "remove its cause first (a limit switch, an overload), then reset again");
      break;
    default: f.context = what; break;
  }
  f.code = failure.code;
  f.details = details;
  throw f;
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
  try {
    link_.Api("enable", [](zarn::Drive& drive) { drive.Enable(); });
  } catch (const Failure& f) {
    Fail("enable", f);
  }
}

void Axis::Disable() const {
  link_.Api("disable", [](zarn::Drive& drive) { drive.Disable(); });
  if (Status().servoCommanded) throw IncompleteFailure("disable", "the servo enable bit is still set", "");
}

void Axis::SendEmergencyStop() const {
  // Straight to the C function (which sends the stop bit even when its first
  // write fails): this runs while another failure may be on its way up.
  link_.Call("emergency stop", ZARN_EmergencyStop);
}

void Axis::EmergencyStop() const {
  const int32_t code = link_.Call("emergency stop", ZARN_EmergencyStop);
  if (!Status().emergencyStop) {
    if (code != ZARN_OK) throw LibraryFailure("estop", code);
    throw IncompleteFailure("estop", "the emergency stop bit did not stay set", "cut the power by other means");
  }
}

void Axis::ReleaseEmergencyStop() const {
  link_.Api("release emergency stop", [](zarn::Drive& drive) { drive.ReleaseEmergencyStop(); });
  if (Status().emergencyStop) throw IncompleteFailure("estop --release", "the emergency stop bit is still set", "");
}

void Axis::ResetAlarm() const {
  try {
    link_.Api("reset alarm", [](zarn::Drive& drive) { drive.ResetAlarm(); });
  } catch (const Failure& f) {
    Fail("reset-alarm", f);
  }
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

Axis::Move Axis::StartMove(bool relative, int32_t value, const Profile* profile) const {
  Profile p{};
  if (profile) {
    p = *profile;
  } else {  // the profile the drive holds
    p.velocity = uint32_t(ReadNumber(link_, obj::ProfileVelocity));
    p.acceleration = uint32_t(ReadNumber(link_, obj::ProfileAcceleration));
    p.deceleration = uint32_t(ReadNumber(link_, obj::ProfileDeceleration));
  }
  Move m;
  m.start = Position();
  const int64_t target = relative ? int64_t(m.start) + value : int64_t(value);
  if (target < INT32_MIN || target > INT32_MAX)
    throw UsageFailure("the target " + std::to_string(target) + " lies outside the drive's position range");
  m.target = int32_t(target);
  try {
    link_.Api("move", [&](zarn::Drive& drive) {
      if (relative)
        drive.MoveRelative(value, p);
      else
        drive.MoveAbsolute(value, p);
    });
  } catch (const Failure& f) {
    Fail("start move", f);
  }
  return m;
}

bool Axis::WaitMoveDone(const Watcher& watch) const {
  // The C++ API's wait, in slices of one poll interval: between them zarnctl
  // looks at Ctrl+C, the time and the position for the progress.
  const auto deadline = std::chrono::steady_clock::now() + timeout_;
  const auto slice = std::max(interval_, std::chrono::milliseconds(10));
  for (;;) {
    if (platform::Interrupts() > 0) Halt("move");
    std::error_code ec;
    link_.Api("wait", [&](zarn::Drive& drive) { drive.WaitMoveDone(slice, ec); });
    if (!ec) {
      if (watch) watch(Position());
      return true;
    }
    if (ec.value() != ZARN_E_MOVE_TIMEOUT) Fail("move", LibraryFailure("move", ec.value()));
    if (watch) watch(Position());
    if (std::chrono::steady_clock::now() >= deadline) return false;
  }
}

int32_t Axis::StartHoming(int8_t method, const HomingProfile& p) const {
  // As the C++ API's Home() starts it (refused like a move; the library gives
  // the start bit a rising edge), without its wait, which zarnctl makes itself.
  const AxisStatus s = Status();
  if (s.alarm) Fail("start home", LibraryFailure("home", ZARN_E_ALARM_ACTIVE));
  if (s.emergencyStop) Fail("start home", LibraryFailure("home", ZARN_E_EMERGENCY_STOP));
  if (!s.servoOn) Fail("start home", LibraryFailure("home", ZARN_E_SERVO_OFF));
  const int32_t start = Position();
  link_.Check("home", ZARN_Homing, char(method), p.switchSpeed, p.zeroSpeed, p.acceleration, p.offset);
  return start;
}

bool Axis::WaitHomed(const HomingProfile& p, int32_t start, const Watcher& watch) const {
  bool started = false;
  PollOptions o;
  o.timeout = timeout_;
  o.interval = interval_;
  const PollEnd end = PollUntil(o, [&] {
    const AxisStatus s = Status();
    const int32_t position = Position();
    CheckStillRunning(s, "home", position);
    // A homing-done bit left from the last homing ends nothing until this one
    // is seen to run, or to have ended where every homing ends: at the offset
    // (method 35 at once; any method that starts on its home position within a tick).
    if (!s.homed || position != start || position == p.offset) started = true;
    if (watch) watch(position);
    return started && s.homed;
  });
  if (end == PollEnd::kInterrupted) Halt("home");
  return end == PollEnd::kDone;
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
  } else if (!s.servoOn) {
    f = IncompleteFailure(context, "the servo was switched off " + Where(position), "zarnctl enable");
  } else {
    return;
  }
  f.details["position"] = position;
  throw f;
}

}  // namespace zarnctl
