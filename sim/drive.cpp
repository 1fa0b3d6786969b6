#include "drive.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "protocol/objects.h"

namespace zarn {
namespace sim {

namespace {

namespace obj = zarn::objects;
namespace bits = zarn::objects::bits;

// The letters s, a, v, e read as a little-endian number; sent most significant byte first, the
// wire bytes 65 76 61 73 spell "evas".
constexpr uint32_t kSaveSignature = 0x65766173;
constexpr int kSignals = 16;
constexpr int kIndexRecords = 64;
constexpr int kAlarmHistory = 16;
constexpr double kSensorHalfWidth = 50.0;
constexpr uint16_t kAlarmPositiveLimit = 0xFF11;
constexpr uint16_t kAlarmNegativeLimit = 0xFF12;
constexpr uint8_t kExceptionReadOnly = 2;  // a write to an object the drive owns: not a writable address
constexpr int8_t kHomeOnCurrentPosition = 35;

bool Bit(int64_t v, int bit) { return (v >> bit) & 1; }
int64_t WithBit(int64_t v, int bit, bool on) { return on ? (v | (int64_t(1) << bit)) : (v & ~(int64_t(1) << bit)); }

int64_t Clamp(int64_t v, uint8_t width, bool isSigned) {
  if (width == 0) return v;
  const int bitsWide = width * 8;
  const uint64_t mask = bitsWide == 64 ? ~0ull : ((1ull << bitsWide) - 1);
  uint64_t u = static_cast<uint64_t>(v) & mask;
  if (isSigned && (u >> (bitsWide - 1)) & 1) return static_cast<int64_t>(u | ~mask);
  return static_cast<int64_t>(u);
}

// The default of each object of the map; objects not listed start at 0.
int64_t DefaultOf(const obj::Object& o) {
  const struct {
    const obj::Object* object;
    int64_t value;
  } defaults[] = {
      {&obj::OpenProbe, 0x0110},
      {&obj::InertiaRatio, 100},
      {&obj::PosGainKp, 50},
      {&obj::VelGainKp, 75},
      {&obj::VelGainKiT, 20},
      {&obj::PosGainKvffFilter, 10},
      {&obj::VelocityLimit, 3000},
      {&obj::HomeTorqueLimit1, 100},
      {&obj::HomeTorqueLimit2, 100},
      {&obj::CurrentGain, 500},
      {&obj::DcLinkVoltage, 300},
      {&obj::DriveTemperature, 35},
      {&obj::ControlWord, 0x000F},
      {&obj::OperationMode, 1},
      {&obj::PositionWindow, 10},
      {&obj::PositionWindowTime, 5},
      {&obj::VelocityWindow, 1000},
      {&obj::VelocityWindowTime, 5},
      {&obj::MaxProfileVelocity, 10000000},
      {&obj::ProfileVelocity, 100000},
      {&obj::ProfileAcceleration, 1000000},
      {&obj::ProfileDeceleration, 1000000},
      {&obj::QuickStopDeceleration, 4000000},
      {&obj::TorqueSlope, 1000},
      {&obj::GearMotor, 1},
      {&obj::GearShaft, 1},
      {&obj::HomingMethod, 35},
      {&obj::HomingSwitchSpeed, 50000},
      {&obj::HomingZeroSpeed, 10000},
      {&obj::HomingAcceleration, 1000000},
      {&obj::StoreParameters, 1},
      {&obj::StoreParametersAll, 1},
  };
  for (const auto& d : defaults)
    if (d.object->index == o.index && d.object->subIndex == o.subIndex) return d.value;
  return 0;
}

}  // namespace

Drive::Drive(const DriveConfig& config) : config_(config), random_(config.faults.seed) {
  ResetToDefaults();
  Load();
  target_ = position_;
  lastTick_ = std::chrono::steady_clock::now();
  ticker_ = std::thread([this] { Run(); });
}

Drive::~Drive() {
  running_ = false;
  ticker_.join();
}

void Drive::Define(uint16_t index, uint8_t sub, uint8_t width, bool isSigned, int64_t value, bool stored,
                   bool readOnly) {
  dictionary_[Key(index, sub)] = Entry{width, isSigned, stored, readOnly, value, std::string()};
}

void Drive::ResetToDefaults() {
  dictionary_.clear();
  for (const obj::Object& o : obj::kAll) {
    // A store keeps the settings of the map; its monitors are the drive's own values, which a
    // client cannot write; commands are written but not kept.
    Define(o.index, o.subIndex, o.width, o.isSigned, DefaultOf(o), o.access == obj::Access::kSetting,
           o.access == obj::Access::kMonitor);
  }
  for (int n = 1; n <= kSignals; ++n) {
    Define(uint16_t(obj::kInputSignalBase + n), 0, 2, false, n, true);
    Define(uint16_t(obj::kOutputSignalBase + n), 0, 2, false, n, true);
  }
  for (int n = 0; n < kIndexRecords; ++n) {
    const uint16_t index = uint16_t(obj::kIndexParameterBase + n);
    for (uint8_t sub = 1; sub <= 11; ++sub) {
      const bool wide = sub >= 2 && sub <= 7;
      Define(index, sub, wide ? 4 : 2, wide, 0, true);
    }
    dictionary_[Key(index, 3)].value = 100000;   // velocity
    dictionary_[Key(index, 4)].value = 1000000;  // acceleration
    dictionary_[Key(index, 5)].value = 1000000;  // deceleration
  }
  for (int n = 0; n <= kAlarmHistory; ++n) Define(obj::kAlarmHistory, uint8_t(n), 0, false, 0, false);
}

Drive::Entry* Drive::Find(uint16_t index, uint8_t sub) {
  auto it = dictionary_.find(Key(index, sub));
  return it == dictionary_.end() ? nullptr : &it->second;
}

int64_t Drive::Get(uint16_t index, uint8_t sub) {
  Entry* e = Find(index, sub);
  return e ? e->value : 0;
}

void Drive::Put(uint16_t index, uint8_t sub, int64_t v) {
  Entry* e = Find(index, sub);
  if (e) e->value = Clamp(v, e->width, e->isSigned);
}

int64_t Drive::Value(uint16_t index, uint8_t sub) {
  std::lock_guard<std::mutex> lock(mutex_);
  return Get(index, sub);
}

void Drive::SetValue(uint16_t index, uint8_t sub, int64_t value) {
  std::lock_guard<std::mutex> lock(mutex_);
  const int64_t previous = Get(index, sub);
  Put(index, sub, value);
  OnWrite(index, sub, previous, Get(index, sub));
}

std::string Drive::Text(uint16_t index, uint8_t sub) {
  std::lock_guard<std::mutex> lock(mutex_);
  Entry* e = Find(index, sub);
  return e ? e->text : std::string();
}

Faults Drive::GetFaults() {
  std::lock_guard<std::mutex> lock(mutex_);
  return config_.faults;
}

void Drive::SetFaults(const Faults& f) {
  std::lock_guard<std::mutex> lock(mutex_);
  config_.faults = f;
  random_.seed(f.seed);
}

bool Drive::DropNext() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (config_.faults.dropShare <= 0) return false;
  return std::uniform_real_distribution<double>(0.0, 1.0)(random_) < config_.faults.dropShare;
}

void Drive::RaiseAlarm(uint16_t code, const char* text) {
  std::lock_guard<std::mutex> lock(mutex_);
  Alarm(code, text);
  UpdateStatus(0.0);
}

// With the lock held.
void Drive::Alarm(uint16_t code, const char* text) {
  Put(obj::StateOutput.index, 0, WithBit(Get(obj::StateOutput.index, 0), bits::kAlarm, true));
  Put(obj::ErrorCode.index, 0, code);
  for (int n = kAlarmHistory; n > 1; --n)
    dictionary_[Key(obj::kAlarmHistory, uint8_t(n))].text = dictionary_[Key(obj::kAlarmHistory, uint8_t(n - 1))].text;
  char entry[33];
  snprintf(entry, sizeof entry, "AL-%04X %s", code, text);
  dictionary_[Key(obj::kAlarmHistory, 1)].text = entry;
  Halt();
}

bool Drive::Energised() {
  const int64_t control1 = Get(obj::ControlInput1.index, 0);
  return Bit(control1, bits::kServoEnable) && !Bit(control1, bits::kEmergencyStop) &&
         !Bit(Get(obj::StateOutput.index, 0), bits::kAlarm);
}

// No torque: the motor stops where it is, and whatever move ran is over.
void Drive::Halt() {
  moving_ = homing_ = indexMove_ = false;
  velocity_ = acceleration_ = 0;
  target_ = position_;
}

// The current place becomes the home offset: positions, switches and limits shift with it.
void Drive::ApplyHomeOffset() {
  const double delta = double(Get(obj::HomeOffset.index, 0)) - position_;
  position_ += delta;
  target_ = position_;
  config_.homeSwitchPosition += int32_t(delta);
  config_.negativeLimit += int32_t(delta);
  config_.positiveLimit += int32_t(delta);
  homing_ = false;
  Put(obj::HomingState.index, 0, WithBit(Get(obj::HomingState.index, 0), bits::kHomingDone, true));
}

Answer Drive::Handle(const uint8_t* body, size_t n) {
  Answer a;
  a.function = n > 0 ? body[0] : 0;
  if (n < 8 || body[0] != 0x2B || body[1] != 0x0D || (body[2] != 0x00 && body[2] != 0x80)) {
    a.exception = true;
    a.code = 1;
    return a;
  }
  const bool write = body[2] == 0x80;
  const uint16_t index = uint16_t(body[5] << 8 | body[6]);
  const uint8_t sub = body[7];
  std::lock_guard<std::mutex> lock(mutex_);
  Advance();  // a request meets the drive as it is now, not as at the last tick (a move starts from now)
  if (config_.faults.refuse && index == config_.faults.refuseIndex && sub == config_.faults.refuseSubIndex) {
    a.exception = true;
    a.code = config_.faults.refuseCode;
    return a;
  }
  Entry* e = Find(index, sub);
  if (!e) {
    a.exception = true;
    a.code = 2;
    return a;
  }
  if (write && e->readOnly) {
    a.exception = true;
    a.code = kExceptionReadOnly;
    return a;
  }
  if (!write) {
    a.isRead = true;
    if (e->width == 0) {
      a.data.assign(e->text.begin(), e->text.end());
    } else {
      for (int i = e->width - 1; i >= 0; --i) a.data.push_back(uint8_t(static_cast<uint64_t>(e->value) >> (8 * i)));
    }
    return a;
  }
  const size_t count = n >= 12 ? (size_t(body[10]) << 8 | body[11]) : 0;
  if (n < 12 || 12 + count > n || (e->width != 0 && count != e->width) || (e->width == 0 && count > 32)) {
    a.exception = true;
    a.code = 3;
    return a;
  }
  if (e->width == 0) {
    e->text.assign(reinterpret_cast<const char*>(body + 12), count);
    return a;
  }
  uint64_t raw = 0;
  for (size_t i = 0; i < count; ++i) raw = raw << 8 | body[12 + i];
  if (index == obj::StoreParameters.index && raw != kSaveSignature) {
    a.exception = true;
    a.code = 3;
    return a;
  }
  const int64_t previous = e->value;
  e->value = Clamp(static_cast<int64_t>(raw), e->width, e->isSigned);
  OnWrite(index, sub, previous, e->value);
  return a;
}

Drive::ProfileLimits Drive::Limits(double velocity, double acceleration, double deceleration) {
  ProfileLimits l;
  l.velocity = std::max(1.0, velocity);
  l.acceleration = std::max(1.0, acceleration);
  l.deceleration = std::max(1.0, deceleration);
  return l;
}

void Drive::StartMove(double target, const ProfileLimits& limits) {
  target_ = target;
  profile_ = limits;
  moving_ = true;
  inPositionMs_ = 0;
  const int64_t state = Get(obj::StateOutput.index, 0);
  // A drive whose status lags the start edge still reports the last move's in-position for a while.
  staleInPositionLeftMs_ = Bit(state, bits::kInPosition) ? config_.staleInPositionMs : 0;
  if (staleInPositionLeftMs_ <= 0) Put(obj::StateOutput.index, 0, WithBit(state, bits::kInPosition, false));
}

void Drive::Stop(double deceleration) {
  if (!moving_) return;
  profile_.deceleration = std::max(1.0, deceleration);
  const double v = velocity_;
  target_ = position_ + (v >= 0 ? 1 : -1) * v * v / (2 * profile_.deceleration);
  homing_ = false;
  indexMove_ = false;
}

void Drive::OnWrite(uint16_t index, uint8_t sub, int64_t previous, int64_t value) {
  const bool energised = Energised();
  auto rising = [&](int bit) { return !Bit(previous, bit) && Bit(value, bit); };

  if (index == obj::ControlInput1.index) {
    if (Bit(value, bits::kEmergencyStop) || !Bit(value, bits::kServoEnable)) Halt();
    if (rising(bits::kStop)) Stop(double(Get(obj::QuickStopDeceleration.index, 0)));
    if (rising(bits::kAlarmReset) && !config_.faults.persistentAlarm) {  // a lasting fault stays
      Put(obj::StateOutput.index, 0, WithBit(Get(obj::StateOutput.index, 0), bits::kAlarm, false));
      Put(obj::ErrorCode.index, 0, 0);
    }
  } else if (index == obj::ControlInput2.index) {
    if (rising(bits::kStart) && energised) {
      int64_t homingState = Get(obj::HomingState.index, 0);
      Put(obj::HomingState.index, 0, WithBit(homingState, bits::kIndexEnded, false));
      if (lastTargetWasIndex_) {
        const uint16_t record = uint16_t(obj::kIndexParameterBase + Get(obj::IndexNumber.index, 0));
        if (Find(record, 1)) {
          const double t = double(Get(record, 2));
          StartMove(Bit(Get(record, 1), 0) ? target_ + t : t,
                    Limits(double(Get(record, 3)), double(Get(record, 4)), double(Get(record, 5))));
          indexMove_ = true;
        }
      } else {
        const double t = double(Get(obj::TargetPosition.index, 0));
        StartMove(Bit(Get(obj::ControlWord.index, 0), bits::kRelative) ? target_ + t : t,
                  Limits(double(Get(obj::ProfileVelocity.index, 0)), double(Get(obj::ProfileAcceleration.index, 0)),
                         double(Get(obj::ProfileDeceleration.index, 0))));
      }
    }
    if (rising(bits::kHomingStart) && energised) {
      Put(obj::HomingState.index, 0, WithBit(Get(obj::HomingState.index, 0), bits::kHomingDone, false));
      if (Get(obj::HomingMethod.index, 0) == kHomeOnCurrentPosition) {
        ApplyHomeOffset();
      } else {
        const double acceleration = double(Get(obj::HomingAcceleration.index, 0));
        StartMove(config_.homeSwitchPosition,
                  Limits(std::fabs(double(Get(obj::HomingSwitchSpeed.index, obj::HomingSwitchSpeed.subIndex))),
                         acceleration, acceleration));
        homing_ = true;
      }
    }
  } else if (index == obj::TargetPosition.index) {
    lastTargetWasIndex_ = false;
  } else if (index == obj::IndexNumber.index) {
    lastTargetWasIndex_ = true;
  } else if (index == obj::ProcedureCommand.index) {
    const int64_t argument = Get(obj::ProcedureArgument.index, 0);
    if (value == 3 && argument == 1) {
      for (int n = 0; n <= kAlarmHistory; ++n) dictionary_[Key(obj::kAlarmHistory, uint8_t(n))].text.clear();
    } else if (value == 9 && argument == 1) {
      Halt();
      Put(obj::ControlInput1.index, 0, 0);
      Put(obj::ControlInput2.index, 0, 0);
      Put(obj::StateOutput.index, 0, 0);
      Put(obj::ErrorCode.index, 0, 0);
    }
  } else if (index == obj::DigitalOutputs.index && sub == obj::DigitalOutputs.subIndex) {
    requestedOutputs_ = uint32_t(value);  // takes effect with the mask
    Put(index, sub, previous);
  } else if (index == obj::DigitalOutputMask.index && sub == obj::DigitalOutputMask.subIndex) {
    const uint32_t physical = uint32_t(Get(obj::DigitalOutputs.index, obj::DigitalOutputs.subIndex));
    const uint32_t mask = uint32_t(value);
    Put(obj::DigitalOutputs.index, obj::DigitalOutputs.subIndex, (physical & ~mask) | (requestedOutputs_ & mask));
  } else if (index == obj::StoreParameters.index) {
    Save();
  }
  UpdateStatus(0.0);  // monitors answer for the new state at once, not a tick later
}

void Drive::Tick(double dt) {
  const uint16_t fault = config_.faults.persistentAlarm;
  if (fault && !Bit(Get(obj::StateOutput.index, 0), bits::kAlarm)) Alarm(fault, "drive fault");
  if (moving_) {
    const double d = target_ - position_;
    const double dir = d >= 0 ? 1.0 : -1.0;
    const double distance = std::fabs(d);
    double speed = velocity_ * dir;  // along the way to the target
    const double canStop = std::sqrt(2 * profile_.deceleration * distance);
    const double want = std::min(profile_.velocity, canStop);
    const double before = speed;
    if (speed < want)
      speed = std::min(want, speed + profile_.acceleration * dt);
    else
      speed = std::max(want, speed - profile_.deceleration * dt);
    if (speed <= 0) speed = std::min(canStop, profile_.acceleration * dt);
    acceleration_ = (speed - before) * dir / dt;
    const double step = speed * dt;
    if (step >= distance) {
      position_ = target_;
      velocity_ = 0;
      acceleration_ = 0;
      moving_ = false;
      if (homing_) ApplyHomeOffset();  // the sensor is found
      if (indexMove_) {
        indexMove_ = false;
        Put(obj::HomingState.index, 0, WithBit(Get(obj::HomingState.index, 0), bits::kIndexEnded, true));
      }
    } else {
      position_ += dir * step;
      velocity_ = dir * speed;
    }
    if (position_ >= config_.positiveLimit && velocity_ > 0) Alarm(kAlarmPositiveLimit, "positive limit");
    if (position_ <= config_.negativeLimit && velocity_ < 0) Alarm(kAlarmNegativeLimit, "negative limit");
    if (!moving_) target_ = position_;
  }
  UpdateStatus(dt);
}

void Drive::UpdateStatus(double dt) {
  const int64_t pos = llround(position_);
  Put(obj::ActualPosition.index, 0, pos);
  Put(obj::ActualVelocity.index, 0, llround(velocity_));
  const double torque = std::max(
      -3000.0, std::min(3000.0, acceleration_ / 1000.0 * (1.0 + Get(obj::InertiaRatio.index, 0) / 100.0) / 2.0));
  Put(obj::ActualTorque.index, 0, llround(torque));
  Put(obj::FeedbackSpeed.index, 0, llround(std::max(-32768.0, std::min(32767.0, velocity_ * 60.0 / 131072.0))));
  const double overload = double(Get(obj::AccumOverload.index, 0));
  Put(obj::AccumOverload.index, 0, llround(overload + (std::fabs(torque) / 10.0 - overload) * std::min(1.0, dt)));
  Put(obj::DriveTemperature.index, 0, 35 + Get(obj::AccumOverload.index, 0) / 20);
  Put(obj::DcLinkVoltage.index, 0, 300 - llround(std::fabs(torque) / 100.0));
  Put(obj::SingleTurnData.index, 0, ((pos % 131072) + 131072) % 131072);
  Put(obj::MultiTurnData.index, 0, (pos >= 0 ? pos : pos - 131071) / 131072);

  const bool sensor = std::fabs(position_ - config_.homeSwitchPosition) <= kSensorHalfWidth;
  int64_t inputs = Get(obj::DigitalInputs.index, 0);
  inputs = WithBit(inputs, bits::kNegativeLimit, position_ <= config_.negativeLimit);
  inputs = WithBit(inputs, bits::kPositiveLimit, position_ >= config_.positiveLimit);
  inputs = WithBit(inputs, bits::kHomeSwitch, sensor);
  Put(obj::DigitalInputs.index, 0, inputs);
  if (Bit(Get(obj::TouchProbeFunction.index, 0), 0) && sensor != homeSensorWas_) {
    const int64_t status = Get(obj::TouchProbeStatus.index, 0);
    if (sensor) {
      Put(obj::TouchProbe1Positive.index, 0, pos);
      Put(obj::TouchProbeStatus.index, 0, WithBit(status, 1, true));
    } else {
      Put(obj::TouchProbe1Negative.index, 0, pos);
      Put(obj::TouchProbeStatus.index, 0, WithBit(status, 2, true));
    }
  }
  homeSensorWas_ = sensor;

  int64_t state = Get(obj::StateOutput.index, 0);
  const bool near = std::fabs(target_ - position_) <= double(Get(obj::PositionWindow.index, 0));
  inPositionMs_ = (!moving_ && near) ? inPositionMs_ + dt * 1000 : 0;
  bool inPosition = inPositionMs_ >= double(Get(obj::PositionWindowTime.index, 0));
  if (staleInPositionLeftMs_ > 0) {
    staleInPositionLeftMs_ -= dt * 1000;
    inPosition = true;
  }
  state = WithBit(state, bits::kInPosition, inPosition);
  state = WithBit(state, bits::kServoOn, Energised());
  const double commanded = moving_ ? profile_.velocity : 0;
  const bool atSpeed = std::fabs(std::fabs(velocity_) - commanded) <= double(Get(obj::VelocityWindow.index, 0));
  inVelocityMs_ = atSpeed ? inVelocityMs_ + dt * 1000 : 0;
  state = WithBit(state, bits::kInVelocity, inVelocityMs_ >= double(Get(obj::VelocityWindowTime.index, 0)));
  state = WithBit(state, bits::kTorqueLimit, std::fabs(torque) >= 2500);
  Put(obj::StateOutput.index, 0, state);
}

void Drive::Run() {
  while (running_) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::lock_guard<std::mutex> lock(mutex_);
    Advance();
  }
}

// With the lock held: brings the model up to now. Long pauses (a stopped process) are replayed in
// 1 ms steps, at most a second.
void Drive::Advance() {
  const auto now = std::chrono::steady_clock::now();
  double dt = std::min(std::chrono::duration<double>(now - lastTick_).count(), 1.0);
  lastTick_ = now;
  while (dt > 0) {
    const double step = std::min(dt, 0.001);
    Tick(step);
    dt -= step;
  }
}

bool Drive::Save() {
  if (config_.statePath.empty()) return false;
  std::ostringstream out;
  out << "{\n  \"drive\": " << int(config_.id) << ",\n  \"parameters\": {";
  bool first = true;
  for (const auto& kv : dictionary_) {
    if (!kv.second.stored || kv.second.width == 0) continue;
    char key[16];
    snprintf(key, sizeof key, "%04X:%02X", kv.first >> 8, kv.first & 0xFF);
    out << (first ? "\n" : ",\n") << "    \"" << key << "\": " << kv.second.value;
    first = false;
  }
  out << "\n  }\n}\n";
  const std::string tmp = config_.statePath + ".tmp";
  {
    std::ofstream f(tmp, std::ios::trunc);
    if (!f) return false;
    f << out.str();
    if (!f.good()) return false;
  }
  // Replaces the previous file in one step (std::rename does not on Windows).
  std::error_code error;
  std::filesystem::rename(tmp, config_.statePath, error);
  return !error;
}

void Drive::Load() {
  if (config_.statePath.empty()) return;
  std::ifstream f(config_.statePath);
  if (!f) return;
  std::stringstream content;
  content << f.rdbuf();
  const std::string s = content.str();
  // Each stored parameter reads "IIII:SS": value.
  size_t at = 0;
  while ((at = s.find('"', at)) != std::string::npos) {
    unsigned index = 0, sub = 0;
    long long value = 0;
    if (sscanf(s.c_str() + at, "\"%4X:%2X\": %lld", &index, &sub, &value) == 3) {
      Entry* e = Find(uint16_t(index), uint8_t(sub));
      if (e && e->stored) e->value = Clamp(value, e->width, e->isSigned);
    }
    at = s.find('"', at + 1);
    if (at == std::string::npos) break;
    ++at;
  }
}

}  // namespace sim
}  // namespace zarn
