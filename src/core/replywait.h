// The reply wait of a request, shared by the serial and the Ethernet client.
#pragma once

#include <cstdint>

namespace zarn {

// What a client offers the reply wait: a look at the bytes received so far,
// and a way to wait for more.
class ReplySource {
 public:
  // True when the request is decided: a complete reply checked, an exception,
  // a full receive buffer, a line gone; *code then holds its result.
  virtual bool Decided(int32_t* code) = 0;
  // Waits up to timeoutMs for more bytes of the reply. Whatever wakes it, the
  // next look must see every byte that had arrived by then (an event is reset
  // before the look, never after it).
  virtual void WaitForMore(uint32_t timeoutMs) = 0;

 protected:
  ~ReplySource() = default;
};

// One wait pass lasts at most this long.
constexpr uint32_t kReplyWaitPassMs = 1000;

// Looks at the reply and waits for more until it is decided. The limit is
// tested before each wait of at most one pass, so a reply still incomplete
// after limitMs ends the request with timeoutCode after limitMs to
// limitMs + kReplyWaitPassMs, and one completed within that time is taken.
int32_t AwaitReply(ReplySource& source, uint32_t limitMs, int32_t timeoutCode);

}  // namespace zarn
