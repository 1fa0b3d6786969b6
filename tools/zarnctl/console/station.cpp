#include "station.h"

#include <limits>

namespace zarnctl {
namespace console {

namespace {

// A silent drive costs one to two seconds a request: try it again at this pace.
constexpr std::chrono::milliseconds kRetryPeriod{500};

}  // namespace

Station::Station(zarn::Drive drive, std::string where, Clock::time_point origin)
    : drive_(std::move(drive)),
      link_(drive_.id(), &tracer_, &drive_),
      id_(drive_.id()),
      where_(std::move(where)),
      origin_(origin) {}

Station::~Station() {
  {
    std::lock_guard<std::mutex> lock(wakeMutex_);
    running_ = false;
  }
  wake_.notify_all();
  if (sampler_.joinable()) sampler_.join();
}

void Station::StartSampling() {
  running_ = true;
  sampler_ = std::thread([this] { Run(); });
}

std::unique_lock<std::mutex> Station::EnterLane() { return std::unique_lock<std::mutex>(lane_); }

void Station::EmergencyStop() {
  ++urgent_;
  struct Done {
    std::atomic<int>& urgent;
    ~Done() { --urgent; }
  } done{urgent_};
  std::unique_lock<std::mutex> lane = EnterLane();
  drive_.EmergencyStop();
  std::lock_guard<std::mutex> lock(data_);
  if (jog_.direction != 0) jogEnd_ = "emergency stop";
  jog_.direction = 0;
  ++stateVersion_;
}

uint64_t Station::StartJog(int direction, uint32_t velocity, uint32_t acceleration) {
  std::unique_lock<std::mutex> lane = EnterLane();
  {
    std::lock_guard<std::mutex> lock(data_);
    if (jog_.direction == direction) {
      jog_.deadline = Clock::now() + kJogLease;
      return jog_.number;
    }
  }
  // Towards the end of the position range: the jog ends by a stop, never by arriving.
  const int32_t far = direction > 0 ? std::numeric_limits<int32_t>::max() : std::numeric_limits<int32_t>::min();
  drive_.MoveAbsolute(far, zarn::Profile{velocity, acceleration, acceleration});
  std::lock_guard<std::mutex> lock(data_);
  jog_.number = ++jogCount_;
  jog_.direction = direction;
  jog_.deadline = Clock::now() + kJogLease;
  jogEnd_.clear();
  ++stateVersion_;
  return jog_.number;
}

bool Station::RenewJog(uint64_t number) {
  std::lock_guard<std::mutex> lock(data_);
  if (jog_.direction == 0 || jog_.number != number) return false;
  jog_.deadline = Clock::now() + kJogLease;
  return true;
}

void Station::ForgetJog(const std::string& why) {
  std::lock_guard<std::mutex> lock(data_);
  if (jog_.direction == 0) return;
  jog_.direction = 0;
  jogEnd_ = why;
  ++stateVersion_;
}

void Station::Stop(const std::string& why) {
  std::unique_lock<std::mutex> lane = EnterLane();
  drive_.Stop();
  ForgetJog(why);
}

void Station::StopIfMoving() {
  bool jogging = false;
  {
    std::lock_guard<std::mutex> lock(data_);
    jogging = jog_.direction != 0;
  }
  std::unique_lock<std::mutex> lane = EnterLane();
  try {
    if (jogging || drive_.Velocity() != 0) {
      drive_.Stop();
      ForgetJog("the console ended");
    }
  } catch (const zarn::Error&) {
    // A drive that does not answer cannot be stopped from here either.
  }
}

bool Station::JogExpired() const {
  std::lock_guard<std::mutex> lock(data_);
  return jog_.direction != 0 && Clock::now() >= jog_.deadline;
}

void Station::Watchdog() {
  if (!JogExpired()) return;
  // The page that held the jog is gone (closed, or its network): the dead man lets go.
  std::unique_lock<std::mutex> lane = EnterLane();
  if (!JogExpired()) return;  // renewed, or ended, while the lane was busy
  try {
    drive_.Stop();
    ForgetJog("no heartbeat from the page for " + std::to_string(kJogLease.count()) + " ms");
  } catch (const zarn::Error& e) {
    SetConnection(e.code().value(), e.what());  // tried again at the next round
  }
}

void Station::SetConnection(int32_t code, const std::string& message) {
  std::lock_guard<std::mutex> lock(data_);
  const bool answering = code == ZARN_OK;
  if (answering != answering_ || code != lastCode_) connectionSince_ = Ms(Clock::now());
  answering_ = answering;
  lastCode_ = code;
  lastMessage_ = message;
  ++stateVersion_;
}

void Station::SampleOnce(bool withStatus) {
  Sample s{};
  zarn::DriveStatus status{};
  int32_t code = ZARN_OK;
  std::string message;
  {
    std::unique_lock<std::mutex> lane = EnterLane();
    try {
      s.position = drive_.Position();
      s.t = Ms(Clock::now());
      s.velocity = drive_.Velocity();
      s.torque = drive_.Torque();
      if (withStatus) status = drive_.Status();
    } catch (const zarn::Error& e) {
      code = e.code().value();
      message = e.what();
    }
  }
  if (code != ZARN_OK) {
    SetConnection(code, message);
    return;
  }
  std::lock_guard<std::mutex> lock(data_);
  if (!answering_) {
    answering_ = true;
    lastCode_ = ZARN_OK;
    lastMessage_.clear();
    connectionSince_ = s.t;
    ++stateVersion_;
  }
  samples_.push_back(s);
  if (samples_.size() > kSamplesKept) {
    samples_.pop_front();
    ++firstSample_;
  }
  if (withStatus) {
    status_ = status;
    haveStatus_ = true;
    ++stateVersion_;
    // The drive has ended the jog itself: the page's heartbeats renew nothing from now on.
    if (jog_.direction != 0 && (status.alarm || status.emergencyStop || !status.servoOn)) {
      jog_.direction = 0;
      jogEnd_ = status.alarm ? "alarm" : status.emergencyStop ? "emergency stop" : "servo off";
    }
  }
}

void Station::Run() {
  auto next = Clock::now();
  auto nextStatus = next;
  while (running_) {
    const auto now = Clock::now();
    const bool withStatus = now >= nextStatus;
    if (withStatus) nextStatus = now + kStatusPeriod;
    if (urgent_ == 0) SampleOnce(withStatus);
    Watchdog();
    bool answering;
    {
      std::lock_guard<std::mutex> lock(data_);
      answering = answering_;
    }
    next += answering ? std::chrono::duration_cast<Clock::duration>(kSamplePeriod)
                      : std::chrono::duration_cast<Clock::duration>(kRetryPeriod);
    if (next < Clock::now()) next = Clock::now();  // late: no burst to catch up
    std::unique_lock<std::mutex> lock(wakeMutex_);
    wake_.wait_until(lock, next, [this] { return !running_; });
  }
}

SampleBatch Station::SamplesAfter(uint64_t after) const {
  std::lock_guard<std::mutex> lock(data_);
  SampleBatch batch;
  const uint64_t end = firstSample_ + samples_.size();
  const uint64_t from = std::max(after, firstSample_);
  for (uint64_t n = from; n < end; ++n) batch.samples.push_back(samples_[size_t(n - firstSample_)]);
  batch.next = end;
  return batch;
}

Json StatusJson(const zarn::DriveStatus& s) {
  return {{"servo_on", s.servoOn},
          {"alarm", s.alarm},
          {"alarm_code", s.alarmCode},
          {"emergency_stop", s.emergencyStop},
          {"servo_enable_command", s.servoEnableCommand},
          {"stop_command", s.stopCommand},
          {"in_position", s.inPosition},
          {"in_velocity", s.inVelocity},
          {"torque_limit", s.torqueLimit},
          {"homed", s.homed}};
}

Json Station::State() const {
  std::lock_guard<std::mutex> lock(data_);
  Json connection = {{"state", answering_ ? "connected" : (lastCode_ == ZARN_OK ? "connecting" : "no reply")},
                     {"since_ms", connectionSince_}};
  if (lastCode_ != ZARN_OK) {
    connection["code"] = lastCode_;
    connection["message"] = lastMessage_;
    connection["library_message"] = zarn::error_category().message(lastCode_);
  }
  Json state = {{"drive", id_}, {"where", where_}, {"connection", connection}};
  if (haveStatus_) {
    state["status"] = StatusJson(status_);
  } else {
    state["status"] = nullptr;
  }
  if (!samples_.empty()) {
    const Sample& last = samples_.back();
    state["position"] = last.position;
    state["velocity"] = last.velocity;
    state["torque"] = last.torque;
    state["t_ms"] = last.t;
  }
  state["jog"] = {{"direction", jog_.direction}, {"number", jog_.number}, {"ended", jogEnd_}};
  return state;
}

}  // namespace console
}  // namespace zarnctl
