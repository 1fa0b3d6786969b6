// The one polling loop of zarnctl: every wait for the drive runs through it.
#pragma once

#include <chrono>
#include <functional>

namespace zarnctl {

enum class PollEnd { kDone, kTimedOut, kInterrupted };

struct PollOptions {
  std::chrono::milliseconds timeout{0};  // 0: no limit
  std::chrono::milliseconds interval{20};
  bool endOnInterrupt = true;  // false: the caller looks at the interrupts itself
};

// Calls step until it returns true, the time is up or Ctrl+C is pressed; step
// is called at once, then every interval. Exceptions of step pass through.
PollEnd PollUntil(const PollOptions& options, const std::function<bool()>& step);

}  // namespace zarnctl
