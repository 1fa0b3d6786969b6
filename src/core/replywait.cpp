#include "core/replywait.h"

#include <atomic>

#include "platform/platform.h"

namespace zarn {

namespace {
std::atomic<uint32_t> g_instantPassMs{0};
}  // namespace

void SetInstantReplyWaits(uint32_t passMs) { g_instantPassMs.store(passMs); }

int32_t AwaitReply(ReplySource& source, uint32_t limitMs, int32_t timeoutCode) {
  const uint32_t instantPass = g_instantPassMs.load(std::memory_order_relaxed);
  const uint32_t start = platform::TickCount();
  uint32_t counted = 0;  // instant waits: the time the passes stand for
  for (;;) {
    int32_t code = 0;
    if (source.Decided(&code)) return code;
    if ((instantPass ? counted : platform::TickCount() - start) > limitMs) return timeoutCode;
    if (!instantPass) {
      source.WaitForMore(kReplyWaitPassMs);
      continue;
    }
    const uint32_t before = platform::TickCount();
    source.WaitForMore(instantPass);
    const uint32_t waited = platform::TickCount() - before;
    counted += waited >= instantPass ? kReplyWaitPassMs : waited;
  }
}

}  // namespace zarn
