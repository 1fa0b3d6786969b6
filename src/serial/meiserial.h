// CMeiSerial: the serial client. One request record becomes one framed
// request on the shared multi-drop line; the reply is awaited and checked.
#pragma once

#include <cstdint>

#include "platform/platform.h"
#include "serial/virtualserial.h"

namespace zarn {

class CMeiSerial : public CVirtualSerial {
 public:
  CMeiSerial();
  ~CMeiSerial();

  int32_t Transact(MeiPacket* packet) override;
  void OnReceive(uint16_t, uint16_t) override {}
  void OnSend(uint16_t, uint16_t) override {}
  void OnCommError(uint32_t, uint16_t) override {}

  double InterFrameDelay() const { return interFrameDelay_; }
  void SetInterFrameDelay(double ms) { interFrameDelay_ = ms; }
  // Closes the line between transactions (never under one in progress).
  void CloseLine();
  // Copies of the last frames, taken between transactions.
  uint16_t LastTx(uint8_t* out);
  uint16_t LastRx(uint8_t* out);

 private:
  int32_t TransactLocked(MeiPacket* packet);

  platform::Event responseEvent_;
  double interFrameDelay_;
  platform::Mutex transactLock_;
};

}  // namespace zarn
