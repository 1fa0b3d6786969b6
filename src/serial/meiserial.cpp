#include "serial/meiserial.h"

#include "core/state.h"
#include "zarn/zarn.h"

namespace zarn {

namespace {
constexpr uint32_t kReplyDeadlineMs = 1000;
constexpr double kDefaultInterFrameDelayMs = 4.0;
}  // namespace

CMeiSerial::CMeiSerial() : interFrameDelay_(kDefaultInterFrameDelayMs) {
  if (responseEvent_.IsValid()) SetResponseEvent(&responseEvent_);
}

// The reader thread must not outlive the object whose hooks it calls.
CMeiSerial::~CMeiSerial() { Close(); }

void CMeiSerial::CloseLine() {
  platform::LockGuard lock(transactLock_);
  Close();
}

uint16_t CMeiSerial::LastTx(uint8_t* out) {
  platform::LockGuard lock(transactLock_);
  return CopyTx(out);
}

uint16_t CMeiSerial::LastRx(uint8_t* out) {
  platform::LockGuard lock(transactLock_);
  return CopyRx(out);
}

int32_t CMeiSerial::Transact(MeiPacket* packet) {
  // One request at a time on the line: frames of two threads never interleave.
  platform::LockGuard lock(transactLock_);
  return TransactLocked(packet);
}

int32_t CMeiSerial::TransactLocked(MeiPacket* packet) {
  if (!HasPort()) return ZARN_E_SERIAL_NO_PORT;
  if (packet->driveId == 0) return ZARN_E_INVALID_PARAM;
  if (!responseEvent_.IsValid()) return ZARN_E_INTERNAL;
  ResetReceiveCount();
  uint16_t length = 0;
  int32_t code = frame::BuildSerialRequest(*packet, txBuffer_, &length);
  if (code != ZARN_OK) return code;
  txLength_ = length;
  if (!Write()) return ZARN_E_SERIAL_WRITE;
  platform::SleepMs(static_cast<uint32_t>(interFrameDelay_));

  const bool isRead = !packet->IsWrite();
  packet->rxLength = 0;
  const uint32_t start = platform::TickCount();
  for (;;) {
    const uint16_t count = ReceiveCount();
    if (count >= frame::kRxBufferSize) break;
    if (frame::SerialException(rxBuffer_, count, &code)) {
      responseEvent_.Reset();
      return code;
    }
    if (platform::TickCount() - start > kReplyDeadlineMs) {
      responseEvent_.Reset();
      return ZARN_E_SERIAL_NO_REPLY;
    }
    if (!responseEvent_.Wait(kReplyDeadlineMs)) {
      responseEvent_.Reset();
      continue;
    }
    // Reset before looking, so bytes that arrive after the look set the event again.
    responseEvent_.Reset();
    if (frame::SerialReplyComplete(rxBuffer_, ReceiveCount(), isRead, length, &packet->rxLength)) break;
  }
  // The data count as it stands in the buffer, however fast the bytes came.
  frame::SerialReplyComplete(rxBuffer_, ReceiveCount(), isRead, length, &packet->rxLength);
  code = frame::CheckSerialReply(rxBuffer_, ReceiveCount(), txBuffer_, length, packet);
  responseEvent_.Reset();
  return code;
}

}  // namespace zarn

using namespace zarn;

extern "C" {

ZARN_API int32_t ZARN_CALL ZARN_SDRVOpen(int32_t driveId, const char* port, uint32_t baud) {
  if (driveId < 0 || driveId > 255) {
    SetLastError(ZARN_E_ID_RANGE);
    return ZARN_E_ID_RANGE;
  }
  const uint8_t id = static_cast<uint8_t>(driveId);
  LibraryState& s = State();
  // A baud rate of 0 would make the inter-frame delay unbounded.
  if (ConnectionOf(id) != kConnectionNone || baud == 0 || port == nullptr) {
    SetLastError(ZARN_E_SERIAL_OPEN);
    return ZARN_E_SERIAL_OPEN;
  }
  s.serialClient.SetInterFrameDelay(35000.0 / static_cast<double>(baud) + 1.0);
  const int32_t code = s.serialClient.Open(port, baud, 0, 8, 0) ? ZARN_OK : ZARN_E_SERIAL_OPEN;
  SetLastError(code);
  if (code == ZARN_OK) {
    s.lastConnectionKind.store(kConnectionSerial);
    SetConnection(id, kConnectionSerial);
  }
  return code;
}

}  // extern "C"
