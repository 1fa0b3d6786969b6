#include "serial/meiserial.h"

#include <algorithm>

#include "core/state.h"
#include "zarn/zarn.h"

namespace zarn {

namespace {
constexpr uint32_t kReplyDeadlineMs = 1000;
// What a slow line adds to the deadline beyond its wire time: the drive's own time to answer.
constexpr uint32_t kReplyAllowanceMs = 900;
constexpr double kDefaultInterFrameDelayMs = 4.0;
}  // namespace

CMeiSerial::CMeiSerial()
    : interFrameDelay_(kDefaultInterFrameDelayMs), pending_(nullptr), pendingRead_(false), pendingLength_(0) {
  if (responseEvent_.IsValid()) SetResponseEvent(&responseEvent_);
}

// The reader thread must not outlive the object whose hooks it calls.
CMeiSerial::~CMeiSerial() { Close(); }

int32_t CMeiSerial::OpenLine(uint8_t driveId, const char* port, uint32_t baud) {
  platform::LockGuard lock(lineLock_);
  if (ConnectionOf(driveId) != kConnectionNone) return ZARN_E_SERIAL_OPEN;
  // A joining id sets the delay too, though the line keeps its speed.
  interFrameDelay_ = 35000.0 / static_cast<double>(baud) + 1.0;
  if (!Open(port, baud, 0, 8, 0)) return ZARN_E_SERIAL_OPEN;
  State().lastConnectionKind.store(kConnectionSerial);
  SetConnection(driveId, kConnectionSerial);
  return ZARN_OK;
}

void CMeiSerial::CloseLine(uint8_t driveId) {
  platform::LockGuard lock(lineLock_);
  Close();
  SetConnection(driveId, kConnectionNone);
}

uint16_t CMeiSerial::LastTx(uint8_t* out) {
  platform::LockGuard lock(lineLock_);
  return CopyTx(out);
}

uint16_t CMeiSerial::LastRx(uint8_t* out) {
  platform::LockGuard lock(lineLock_);
  return CopyRx(out);
}

uint32_t CMeiSerial::ReplyLimitMs(bool isRead, uint16_t frameLength) const {
  const uint32_t longest = isRead ? frame::kRxBufferSize : std::min<uint32_t>(frameLength, frame::kRxBufferSize);
  const uint32_t baud = BaudRate() ? BaudRate() : 1;
  const uint32_t wireMs = (longest * 10u * 1000u + baud - 1) / baud;
  return std::max(kReplyDeadlineMs, wireMs + kReplyAllowanceMs);
}

int32_t CMeiSerial::Transact(MeiPacket* packet) {
  // One request at a time on the line, in the order the callers came:
  // frames of two threads never interleave, and none waits for ever.
  platform::LockGuard lock(lineLock_);
  return TransactLocked(packet);
}

int32_t CMeiSerial::TransactLocked(MeiPacket* packet) {
  if (!HasPort()) return ZARN_E_SERIAL_NO_PORT;
  if (packet->driveId == 0) return ZARN_E_INVALID_PARAM;
  if (!responseEvent_.IsValid()) return ZARN_E_INTERNAL;
  // A line that has gone away takes no frame.
  if (LineGone()) return ZARN_E_SERIAL_WRITE;
  WaitForSilence();
  DropInput();
  responseEvent_.Reset();
  uint16_t length = 0;
  const int32_t code = frame::BuildSerialRequest(*packet, txBuffer_, &length);
  if (code != ZARN_OK) return code;
  txLength_ = length;
  if (!Write()) return ZARN_E_SERIAL_WRITE;
  platform::SleepMs(static_cast<uint32_t>(interFrameDelay_));
  packet->rxLength = 0;
  pending_ = packet;
  pendingRead_ = !packet->IsWrite();
  pendingLength_ = length;
  return AwaitReply(*this, ReplyLimitMs(pendingRead_, length), ZARN_E_SERIAL_NO_REPLY);
}

bool CMeiSerial::Decided(int32_t* code) {
  if (LineGone()) {
    *code = ZARN_E_SERIAL_NO_REPLY;
    return true;
  }
  const uint16_t count = ReceiveCount();
  if (count < frame::kRxBufferSize) {
    if (frame::SerialException(rxBuffer_, count, code)) return true;
    if (!frame::SerialReplyComplete(rxBuffer_, count, pendingRead_, pendingLength_, &pending_->rxLength)) return false;
  }
  // The data count as it stands in the buffer, however fast the bytes came.
  frame::SerialReplyComplete(rxBuffer_, count, pendingRead_, pendingLength_, &pending_->rxLength);
  *code = frame::CheckSerialReply(rxBuffer_, count, txBuffer_, pendingLength_, pending_);
  return true;
}

void CMeiSerial::WaitForMore(uint32_t timeoutMs) {
  responseEvent_.Wait(timeoutMs);
  // Reset before the next look, so bytes that arrive after it set the event again.
  responseEvent_.Reset();
}

}  // namespace zarn

using namespace zarn;

extern "C" {

ZARN_API int32_t ZARN_CALL ZARN_SDRVOpen(int32_t driveId, const char* port, uint32_t baud) {
  if (driveId < 0 || driveId > 255) return Record(ZARN_E_ID_RANGE);
  // A speed below 300 bit/s (0 included) would stall the line for seconds per request.
  if (port == nullptr || baud < kMinimumBaud) return Record(ZARN_E_SERIAL_OPEN);
  return Record(State().serialClient.OpenLine(static_cast<uint8_t>(driveId), port, baud));
}

}  // extern "C"
