// One drive of the console: its connection, the lane through which its
// commands pass one at a time, the sampler that reads position, velocity and
// torque at 100 Hz and the drive's state ten times a second, and the jog with
// its dead-man watchdog.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "../output.h"
#include "../session.h"
#include "zarn/zarn.hpp"

namespace zarnctl {
namespace console {

// A drive's status as the page and the API show it.
Json StatusJson(const zarn::DriveStatus& s);

using Clock = std::chrono::steady_clock;

struct Sample {
  double t;  // ms since the console started
  int32_t position;
  int32_t velocity;
  int16_t torque;
};

// Samples after a point of the stream, and where the stream goes on.
struct SampleBatch {
  std::vector<Sample> samples;
  uint64_t next = 0;
};

class Station {
 public:
  static constexpr std::chrono::milliseconds kSamplePeriod{10};
  static constexpr std::chrono::milliseconds kStatusPeriod{100};
  // A jog ends when the page has not renewed it for this long.
  static constexpr std::chrono::milliseconds kJogLease{500};
  static constexpr size_t kSamplesKept = 6000;  // a minute at 100 Hz

  Station(zarn::Drive drive, std::string where, Clock::time_point origin);
  ~Station();
  Station(const Station&) = delete;
  Station& operator=(const Station&) = delete;

  uint8_t Id() const { return id_; }
  const std::string& Where() const { return where_; }
  void StartSampling();

  // Runs `work(drive, link)` alone on this drive: commands of one drive never
  // interleave, and the sampler waits while one runs.
  template <typename Work>
  auto Command(Work&& work) {
    std::unique_lock<std::mutex> lane = EnterLane();
    return work(drive_, link_);
  }

  // The emergency stop: jumps ahead of the sampler and of long commands
  // (backup, restore), which give way between their requests.
  void EmergencyStop();
  // True while an emergency stop waits for the lane; long commands end then.
  bool Urgent() const { return urgent_ > 0; }

  // A jog in direction +1 or -1: moves towards the end of the position range
  // until Stop, another command, or the lease running out. Starting the jog
  // that runs renews it. Returns the jog's number for the heartbeats.
  uint64_t StartJog(int direction, uint32_t velocity, uint32_t acceleration);
  // Renews the lease of jog `number`; false when that jog has ended.
  bool RenewJog(uint64_t number);
  // The jog ends without a stop (the command that ends it moves or stops the axis).
  void ForgetJog(const std::string& why);
  // Stops the axis (the drive's stop deceleration), ending any jog.
  void Stop(const std::string& why);
  // Stops the axis when it moves or a jog runs (leaving the console).
  void StopIfMoving();

  SampleBatch SamplesAfter(uint64_t after) const;
  // The drive's state as last read back, the connection and the jog.
  Json State() const;
  // Changes whenever State() does.
  uint64_t StateVersion() const { return stateVersion_; }

 private:
  struct Jog {
    uint64_t number = 0;
    int direction = 0;  // 0: none
    Clock::time_point deadline;
  };
  std::unique_lock<std::mutex> EnterLane();
  void Run();
  void SampleOnce(bool withStatus);
  bool JogExpired() const;
  void Watchdog();
  void SetConnection(int32_t code, const std::string& message);
  double Ms(Clock::time_point t) const { return std::chrono::duration<double, std::milli>(t - origin_).count(); }

  zarn::Drive drive_;
  Tracer tracer_;  // off: the console traces nothing
  Link link_;
  uint8_t id_;
  std::string where_;
  Clock::time_point origin_;

  std::mutex lane_;
  std::atomic<int> urgent_{0};

  mutable std::mutex data_;  // guards what follows
  std::deque<Sample> samples_;
  uint64_t firstSample_ = 0;  // the stream number of samples_.front()
  zarn::DriveStatus status_{};
  bool haveStatus_ = false;
  bool answering_ = false;
  int32_t lastCode_ = ZARN_OK;
  std::string lastMessage_;
  double connectionSince_ = 0;
  Jog jog_;
  uint64_t jogCount_ = 0;
  std::string jogEnd_;  // why the last jog ended
  std::atomic<uint64_t> stateVersion_{0};

  std::atomic<bool> running_{false};
  std::mutex wakeMutex_;
  std::condition_variable wake_;
  std::thread sampler_;
};

}  // namespace console
}  // namespace zarnctl
