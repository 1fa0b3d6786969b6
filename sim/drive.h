// A virtual servo drive: the object dictionary of the library's object map
// and a motion model that runs on a 1 ms control tick.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace zarn {
namespace sim {

using Bytes = std::vector<uint8_t>;

// Faults a drive can be told to make, per drive. None by default.
struct Faults {
  double dropShare = 0.0;  // share of replies not sent (seeded)
  uint32_t seed = 1;
  int delayMs = 0;       // pause before every reply
  int chunkSize = 0;     // serial: send replies in pieces of this many bytes...
  int chunkGapMs = 0;    // ...with this gap between them
  bool badCrc = false;   // serial: a wrong CRC on every reply
  bool badEcho = false;  // a wrong subindex in every echo
  bool refuse = false;   // answer requests for one object with an exception
  uint16_t refuseIndex = 0;
  uint8_t refuseSubIndex = 0;
  uint8_t refuseCode = 2;
  bool oversize = false;  // send replies padded far past 65 bytes
  // An alarm with this code that stays while the fault lasts: raised on the
  // next tick, and an alarm reset does not clear it. 0: none.
  uint16_t persistentAlarm = 0;
};

struct DriveConfig {
  uint8_t id = 1;
  std::string statePath;           // parameters survive restarts here once stored
  int32_t homeSwitchPosition = 0;  // where the home sensor (0x60FD bit 2) sits
  int32_t negativeLimit = -100000000;
  int32_t positiveLimit = 100000000;
  // As on many drives, the in-position bit keeps its old value for this long
  // after a move starts (0: it drops with the start edge).
  int staleInPositionMs = 0;
  Faults faults;
};

// What a request gets back, independent of the transport.
struct Answer {
  bool exception = false;
  uint8_t code = 0;         // exception code
  uint8_t function = 0x2B;  // the request's function code
  bool isRead = false;
  Bytes data;  // a read's value, most significant byte first
};

class Drive {
 public:
  explicit Drive(const DriveConfig& config);
  ~Drive();
  Drive(const Drive&) = delete;
  Drive& operator=(const Drive&) = delete;

  uint8_t Id() const { return config_.id; }
  // Handles one request body (function code first).
  Answer Handle(const uint8_t* body, size_t n);

  // Direct access for tests and tools (no request made).
  int64_t Value(uint16_t index, uint8_t subIndex);
  void SetValue(uint16_t index, uint8_t subIndex, int64_t value);
  std::string Text(uint16_t index, uint8_t subIndex);
  // Raises an alarm now, as a fault of the drive would: motion stops, the
  // code goes to 0x603F and an "AL-<code> <text>" entry to the history.
  void RaiseAlarm(uint16_t code, const char* text);
  Faults GetFaults();
  void SetFaults(const Faults& f);
  // Decides whether to drop the next reply (seeded by the faults).
  bool DropNext();
  // Writes the stored parameters to the state file now.
  bool Save();

 private:
  struct Entry {
    uint8_t width;  // 1, 2, 4 bytes; 0 for a text
    bool isSigned;
    bool stored;    // part of the parameters kept by a store
    bool readOnly;  // the drive's own value: a write is refused
    int64_t value;
    std::string text;
  };
  static uint32_t Key(uint16_t index, uint8_t sub) { return uint32_t(index) << 8 | sub; }
  void Define(uint16_t index, uint8_t sub, uint8_t width, bool isSigned, int64_t value, bool stored,
              bool readOnly = false);
  Entry* Find(uint16_t index, uint8_t sub);
  int64_t Get(uint16_t index, uint8_t sub);
  void Put(uint16_t index, uint8_t sub, int64_t v);
  void OnWrite(uint16_t index, uint8_t sub, int64_t previous, int64_t value);
  void Load();
  void ResetToDefaults();
  // The limits of a move's profile, each at least 1.
  struct ProfileLimits {
    double velocity = 1, acceleration = 1, deceleration = 1;
  };
  static ProfileLimits Limits(double velocity, double acceleration, double deceleration);
  bool Energised();
  void Alarm(uint16_t code, const char* text);
  void Halt();
  void ApplyHomeOffset();
  void StartMove(double target, const ProfileLimits& limits);
  void Stop(double deceleration);
  void Advance();
  void Tick(double dt);
  void UpdateStatus(double dt);
  void Run();

  DriveConfig config_;
  std::mutex mutex_;
  std::map<uint32_t, Entry> dictionary_;
  std::mt19937 random_;
  // The motor's actual motion.
  double position_ = 0, velocity_ = 0, acceleration_ = 0;
  // The running move: where it ends and the limits it keeps to.
  double target_ = 0;
  ProfileLimits profile_;
  bool moving_ = false;
  bool homing_ = false;
  int homingPhase_ = 0;
  bool indexMove_ = false;
  bool lastTargetWasIndex_ = false;
  double inPositionMs_ = 0, inVelocityMs_ = 0;
  double staleInPositionLeftMs_ = 0;
  bool homeSensorWas_ = false;
  uint32_t requestedOutputs_ = 0;
  std::chrono::steady_clock::time_point lastTick_;
  std::atomic<bool> running_{true};
  std::thread ticker_;
};

}  // namespace sim
}  // namespace zarn
