#include "core/replywait.h"

#include "platform/platform.h"

namespace zarn {

int32_t AwaitReply(ReplySource& source, uint32_t limitMs, int32_t timeoutCode) {
  const uint32_t start = platform::TickCount();
  for (;;) {
    int32_t code = 0;
    if (source.Decided(&code)) return code;
    if (platform::TickCount() - start > limitMs) return timeoutCode;
    source.WaitForMore(kReplyWaitPassMs);
  }
}

}  // namespace zarn
