#include "poll.h"

#include <algorithm>
#include <thread>

#include "platform.h"

namespace zarnctl {

PollEnd PollUntil(const PollOptions& o, const std::function<bool()>& step) {
  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  const auto interrupted = [&] { return o.endOnInterrupt && platform::Interrupts() > 0; };
  for (;;) {
    if (interrupted()) return PollEnd::kInterrupted;
    if (step()) return PollEnd::kDone;
    const auto next = Clock::now() + o.interval;
    if (o.timeout.count() > 0 && next - start > o.timeout) return PollEnd::kTimedOut;
    // Short naps, so that Ctrl+C is seen within a few milliseconds.
    while (Clock::now() < next) {
      if (interrupted()) return PollEnd::kInterrupted;
      std::this_thread::sleep_for(std::min<Clock::duration>(std::chrono::milliseconds(5), next - Clock::now()));
    }
  }
}

}  // namespace zarnctl
