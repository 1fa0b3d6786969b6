#include "serial/virtualserial.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>

namespace zarn {

namespace {
// The number after "COM" in a port name, 0 when there is none. Windows device
// names are case-insensitive: "com3" is COM3.
uint16_t PortNumberOf(const char* name) {
  auto upper = [](char c) { return static_cast<char>(toupper(static_cast<unsigned char>(c))); };
  for (const char* p = name; p && *p; ++p) {
    if (upper(p[0]) == 'C' && upper(p[1]) == 'O' && upper(p[2]) == 'M') return static_cast<uint16_t>(atoi(p + 3));
  }
  return 0;
}
}  // namespace

CVirtualSerial::CVirtualSerial()
    : txLength_(0),
      rxBuffer_(),
      txBuffer_(),
      rxCount_(0),
      lineGone_(false),
      lastActivityUs_(0),
      portNumber_(1),
      parity_(0),
      stopBits_(0),
      baudRate_(9600),
      responseEvent_(nullptr),
      openFlag_(false) {}

CVirtualSerial::~CVirtualSerial() { Close(); }

bool CVirtualSerial::Open(const char* portName, uint32_t baud, uint8_t parity, uint8_t byteSize, uint8_t stopBits) {
  if (openFlag_.load()) return true;
  memset(rxBuffer_, 0, sizeof rxBuffer_);
  memset(txBuffer_, 0, frame::kSerialFrameLimit);
  rxCount_.store(0);
  txLength_ = 0;
  portNumber_ = PortNumberOf(portName);
  baudRate_ = baud;
  parity_ = parity;
  stopBits_ = stopBits;
  if (!device_.Open(portName, portNumber_, baud, parity, byteSize, stopBits)) return false;
  lineGone_.store(false);
  lastActivityUs_.store(platform::MicroTicks());
  openFlag_.store(true);
  if (!reader_.Start(&CVirtualSerial::ReaderEntry, this)) {
    Close();
    return false;
  }
  return true;
}

void CVirtualSerial::Close() {
  if (!openFlag_.exchange(false)) return;
  // The reader ends within one wait of the wake. Should it not, the device
  // stays open rather than be released under it.
  if (!platform::StopThread(reader_, [this] { device_.Wake(); })) {
    platform::DebugTrace("virtualserial: the reader did not end; the port is left open");
    return;
  }
  device_.Close();
}

bool CVirtualSerial::Write() {
  if (!device_.IsOpen()) return false;
  int32_t written = device_.Write(txBuffer_, txLength_);
  lastActivityUs_.store(platform::MicroTicks());
  if (written != static_cast<int32_t>(txLength_)) return false;
  OnSend(txLength_, portNumber_);
  return true;
}

uint32_t CVirtualSerial::ReaderEntry(void* self) { return static_cast<CVirtualSerial*>(self)->ReadLoop(); }

void CVirtualSerial::WaitForSilence() {
  if (baudRate_ == 0) return;
  // 3.5 characters of 10 bits.
  const uint64_t silenceUs = (35000000u + baudRate_ - 1) / baudRate_;
  const uint64_t limit = platform::MicroTicks() + 1000000u;
  for (;;) {
    const uint64_t now = platform::MicroTicks();
    const uint64_t quietSince = lastActivityUs_.load();
    if (now >= quietSince + silenceUs || now >= limit) return;
    platform::SleepMicros(static_cast<uint32_t>(quietSince + silenceUs - now));
  }
}

void CVirtualSerial::DropInput() {
  platform::LockGuard lock(rxLock_);
  device_.PurgeInput();
  rxCount_.store(0, std::memory_order_release);
}

void CVirtualSerial::NoteLineGone() {
  if (lineGone_.exchange(true)) return;
  platform::DebugTrace("virtualserial: the line has gone away; requests fail until it is closed and opened again");
  if (responseEvent_) responseEvent_->Set();  // a request waiting for its reply ends now
}

bool CVirtualSerial::TakeInput(uint8_t* local) {
  for (;;) {
    uint32_t errors = 0, waiting = 0;
    int32_t got = 0;
    uint16_t count = 0;
    {
      // Reading and appending under the lock: a request that drops the input
      // never sees bytes read before it land after it.
      platform::LockGuard lock(rxLock_);
      if (!device_.ClearErrors(&errors, &waiting)) return false;
      if (errors != 0) {
        rxCount_.store(0, std::memory_order_release);
        device_.Purge();
      } else if (waiting > 0 && openFlag_.load()) {
        got = device_.Read(local, std::min<uint32_t>(waiting, frame::kRxBufferSize));
        if (got > 0) {
          count = rxCount_.load(std::memory_order_relaxed);
          // Bytes beyond the 65th are dropped: the buffer never overflows.
          const uint32_t take = std::min<uint32_t>(static_cast<uint32_t>(got), sizeof rxBuffer_ - count);
          memcpy(rxBuffer_ + count, local, take);
          count = static_cast<uint16_t>(count + take);
          rxCount_.store(count, std::memory_order_release);
          lastActivityUs_.store(platform::MicroTicks());
        }
      }
    }
    if (errors != 0) {
      OnCommError(errors, portNumber_);
      return true;
    }
    if (got <= 0) return true;  // nothing (more) waiting
    memset(local, 0, frame::kRxBufferSize);
    if (responseEvent_) responseEvent_->Set();
    OnReceive(count, portNumber_);
  }
}

uint32_t CVirtualSerial::ReadLoop() {
  uint8_t local[frame::kRxBufferSize];
  while (openFlag_.load()) {
    const platform::SerialDevice::WaitResult r = device_.WaitForInput();
    if (r == platform::SerialDevice::kHungUp || (r == platform::SerialDevice::kInput && !TakeInput(local))) {
      NoteLineGone();
      break;
    }
  }
  // A line that has gone away does not come back on this handle: sleep until Close.
  while (openFlag_.load()) device_.WaitForWake();
  return 0;
}

uint16_t CVirtualSerial::CopyTx(uint8_t* out) const {
  memcpy(out, txBuffer_, txLength_);
  return txLength_;
}

uint16_t CVirtualSerial::CopyRx(uint8_t* out) {
  platform::LockGuard lock(rxLock_);
  uint16_t n = rxCount_.load();
  memcpy(out, rxBuffer_, n);
  return n;
}

}  // namespace zarn
