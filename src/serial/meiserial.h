// CMeiSerial: the serial client. One request record becomes one framed
// request on the shared multi-drop line; the reply is awaited and checked.
// Opening, joining, closing and requests take turns on the line, first come,
// first served.
#pragma once

#include <cstdint>

#include "core/replywait.h"
#include "platform/platform.h"
#include "serial/virtualserial.h"

namespace zarn {

// Below this speed a request would hold the line for seconds.
constexpr uint32_t kMinimumBaud = 300;

class CMeiSerial : public CVirtualSerial, private ReplySource {
 public:
  CMeiSerial();
  ~CMeiSerial();

  int32_t Transact(MeiPacket* packet) override;
  void OnReceive(uint16_t, uint16_t) override {}
  void OnSend(uint16_t, uint16_t) override {}
  void OnCommError(uint32_t, uint16_t) override {}

  double InterFrameDelay() const { return interFrameDelay_; }
  // Opens the line for driveId (or joins it when open) and marks the id serial.
  int32_t OpenLine(uint8_t driveId, const char* port, uint32_t baud);
  // Closes the line for every serial drive and unmarks driveId, between requests.
  void CloseLine(uint8_t driveId);
  // Copies of the last frames, taken between requests.
  uint16_t LastTx(uint8_t* out);
  uint16_t LastRx(uint8_t* out);
  // How long a request waits for its reply: 1000 ms, or the wire time of
  // the longest reply it can get plus 900 ms when that is longer.
  uint32_t ReplyLimitMs(bool isRead, uint16_t frameLength) const;

 private:
  int32_t TransactLocked(MeiPacket* packet);
  bool Decided(int32_t* code) override;
  void WaitForMore(uint32_t timeoutMs) override;

  platform::Event responseEvent_;
  double interFrameDelay_;
  platform::FairMutex lineLock_;
  // The request being answered.
  MeiPacket* pending_;
  bool pendingRead_;
  uint16_t pendingLength_;
};

}  // namespace zarn
