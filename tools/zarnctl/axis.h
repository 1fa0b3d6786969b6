// Safe motion on one drive, through the C++ API (zarn::Drive): a move or a
// homing starts only on a drive that can move; a wait first sees the move
// start and then believes in-position; an alarm, an emergency stop or the servo
// going off end a wait with a failure; homing always gets a rising edge. What
// zarnctl adds: the waits look at Ctrl+C, which stops the axis (a second one
// sends the emergency stop), and report progress.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "session.h"

namespace zarnctl {

struct AxisStatus {
  uint16_t control1 = 0;        // drive control input 1 (0x211F)
  uint16_t state = 0;           // drive state output (0x2121)
  uint16_t homingState = 0;     // homing and index state (0x2122)
  uint16_t alarmCode = 0;       // 0x603F, read when the alarm bit is set
  bool servoCommanded = false;  // servo enable bit of the command word
  bool emergencyStop = false;   // emergency stop bit of the command word: latched until released
  bool servoOn = false;         // the drive reports the motor energised
  bool alarm = false;
  bool inPosition = false;
  bool inVelocity = false;
  bool torqueLimit = false;
  bool homed = false;
  bool stopCommanded = false;
};

using Profile = zarn::Profile;
using HomingProfile = zarn::HomingProfile;

// Called at each poll of a wait with the position, for progress and samples.
using Watcher = std::function<void(int32_t position)>;

class Axis {
 public:
  Axis(const Link& link, std::chrono::milliseconds timeout) : link_(link), timeout_(timeout) {}
  // How often the waits look at the drive (default 10 ms).
  void SetPollInterval(std::chrono::milliseconds interval) { interval_ = interval; }

  AxisStatus Status() const;
  int32_t Position() const;
  int32_t Velocity() const;

  void Enable() const;  // refused under an emergency stop or an alarm
  void Disable() const;
  void EmergencyStop() const;         // checked to be latched
  void ReleaseEmergencyStop() const;  // clears it and leaves the servo off
  void ResetAlarm() const;            // switches the servo off; fails when the alarm stays
  // Stops with the drive's stop deceleration and waits for standstill; the position.
  int32_t Stop() const;

  struct Move {
    int32_t start = 0;   // position before the start
    int32_t target = 0;  // where the axis is to end
  };
  // Starts a move (profile null: the profile the drive holds).
  Move StartMove(bool relative, int32_t value, const Profile* profile) const;
  // Waits for the move last started: true when it has ended in position,
  // false when the time ran out; throws on an alarm, an emergency stop or the
  // servo going off.
  bool WaitMoveDone(const Watcher& watch) const;
  // Starts homing with a rising edge of the homing start bit; the position before it.
  int32_t StartHoming(int8_t method, const HomingProfile& profile) const;
  bool WaitHomed(const HomingProfile& profile, int32_t start, const Watcher& watch) const;

  // After Ctrl+C during motion: stops the axis (a second Ctrl+C: emergency
  // stop), waits for standstill and throws the interruption with the position.
  [[noreturn]] void Halt(const std::string& context) const;
  // Halts when Ctrl+C has been pressed.
  void HaltIfInterrupted(const std::string& context) const;

 private:
  void SendEmergencyStop() const;
  void CheckStillRunning(const AxisStatus& s, const std::string& context, int32_t position) const;
  // The failure for an error of the C++ API: its motion conditions said as zarnctl says them.
  [[noreturn]] void Fail(const std::string& context, const Failure& f) const;
  bool WaitStandstill(bool escalate, bool* emergency) const;
  const Link& link_;
  std::chrono::milliseconds timeout_;
  std::chrono::milliseconds interval_{10};
};

}  // namespace zarnctl
