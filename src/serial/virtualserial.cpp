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
  openFlag_.store(true);
  if (!reader_.Start(&CVirtualSerial::ReaderEntry, this)) {
    Close();
    return false;
  }
  return true;
}

void CVirtualSerial::Close() {
  if (!openFlag_.exchange(false)) return;
  // The reader ends within one wait of the wake. Should it not (a thread held
  // up by the system, as while a library is unloaded), the device stays open
  // rather than be released under it; nothing waits for ever.
  for (int attempt = 0; attempt < 3 && reader_.IsStarted(); ++attempt) {
    device_.Wake();
    reader_.Join(1000);
  }
  if (reader_.IsStarted()) {
    platform::DebugTrace("virtualserial: the reader did not end; the port is left open");
    return;
  }
  device_.Close();
}

bool CVirtualSerial::Write() {
  if (!device_.IsOpen()) return false;
  int32_t written = device_.Write(txBuffer_, txLength_);
  if (written != static_cast<int32_t>(txLength_)) return false;
  OnSend(txLength_, portNumber_);
  return true;
}

uint32_t CVirtualSerial::ReaderEntry(void* self) { return static_cast<CVirtualSerial*>(self)->ReadLoop(); }

void CVirtualSerial::ResetReceiveCount() {
  platform::LockGuard lock(rxLock_);
  rxCount_.store(0, std::memory_order_release);
}

void CVirtualSerial::Append(const uint8_t* data, uint32_t n) {
  uint16_t count;
  {
    platform::LockGuard lock(rxLock_);
    count = rxCount_.load(std::memory_order_relaxed);
    // Bytes beyond the 65th are dropped: the buffer never overflows.
    const uint32_t room = sizeof rxBuffer_ - count;
    const uint32_t take = std::min(n, room);
    memcpy(rxBuffer_ + count, data, take);
    count = static_cast<uint16_t>(count + take);
    rxCount_.store(count, std::memory_order_release);
  }
  if (responseEvent_) responseEvent_->Set();
  OnReceive(count, portNumber_);
}

void CVirtualSerial::DropInput(uint32_t errors) {
  ResetReceiveCount();
  device_.Purge();
  OnCommError(errors, portNumber_);
}

uint32_t CVirtualSerial::ReadLoop() {
  uint8_t local[frame::kRxBufferSize];
  while (openFlag_.load()) {
    if (device_.WaitForInput() != platform::SerialDevice::kInput) continue;
    uint32_t waiting = 0;
    uint32_t errors = device_.ClearErrors(&waiting);
    if (errors != 0) {
      DropInput(errors);
      continue;
    }
    while (waiting > 0 && openFlag_.load()) {
      int32_t got = device_.Read(local, std::min<uint32_t>(waiting, sizeof local));
      if (got > 0) {
        Append(local, static_cast<uint32_t>(got));
        waiting -= std::min<uint32_t>(waiting, static_cast<uint32_t>(got));
        memset(local, 0, sizeof local);
        continue;
      }
      // A failed read: report a line error if there is one and go back to waiting.
      uint32_t inQueue = 0;
      errors = device_.ClearErrors(&inQueue);
      if (errors != 0) DropInput(errors);
      break;
    }
  }
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
