// CVirtualSerial: one serial port with a reader thread that collects every
// received byte into a 65-byte receive buffer and wakes the client. A line
// that goes away (an adapter pulled) is noted once; the reader then sleeps
// until Close.
#pragma once

#include <atomic>
#include <cstdint>

#include "core/packet.h"
#include "platform/platform.h"
#include "protocol/frame.h"

namespace zarn {

class CVirtualSerial : public ITransport {
 public:
  CVirtualSerial();
  CVirtualSerial(const CVirtualSerial&) = delete;
  CVirtualSerial& operator=(const CVirtualSerial&) = delete;

  void SetResponseEvent(platform::Event* event) { responseEvent_ = event; }
  // Opens the port and starts the reader; true at once when already open.
  bool Open(const char* portName, uint32_t baud, uint8_t parity, uint8_t byteSize, uint8_t stopBits);
  void Close();
  // Sends the first transmit-length bytes of the transmit buffer.
  bool Write();
  bool IsOpen() const { return openFlag_.load(); }
  bool HasPort() const { return device_.IsOpen(); }
  // True when Close could not end the reader (it keeps the port).
  bool HasThread() const { return reader_.IsStarted(); }
  // The device has gone away since it was opened; only Close and a new Open help.
  bool LineGone() const { return lineGone_.load(); }
  uint16_t PortNumber() const { return portNumber_; }
  uint32_t BaudRate() const { return baudRate_; }

  // Last frame sent and bytes received (copied out for ZARN_GetTxPackets / ZARN_GetRxPackets).
  uint16_t CopyTx(uint8_t* out) const;
  uint16_t CopyRx(uint8_t* out);

  virtual void OnReceive(uint16_t count, uint16_t port) = 0;
  virtual void OnSend(uint16_t length, uint16_t port) = 0;
  virtual void OnCommError(uint32_t errors, uint16_t port) = 0;

 protected:
  ~CVirtualSerial();
  // Receive buffer access for the client: the reader appends under rxLock_.
  uint16_t ReceiveCount() const { return rxCount_.load(std::memory_order_acquire); }
  // Waits until the line has been quiet for 3.5 character times at its speed
  // (nothing seen or sent), as a request must not start earlier; at most a
  // second when the line never falls quiet.
  void WaitForSilence();
  // Drops what the driver holds and the receive buffer: nothing received
  // before a request can pass for part of its reply.
  void DropInput();

  uint16_t txLength_;
  uint8_t rxBuffer_[frame::kRxBufferSize];
  uint8_t txBuffer_[frame::kSerialTxSize];

 private:
  static uint32_t ReaderEntry(void* self);
  uint32_t ReadLoop();
  // Moves what the driver holds into the receive buffer; false when the
  // device can no longer be asked.
  bool TakeInput(uint8_t* local);
  void NoteLineGone();

  std::atomic<uint16_t> rxCount_;
  std::atomic<bool> lineGone_;
  std::atomic<uint64_t> lastActivityUs_;  // last byte seen or sent, MicroTicks()
  uint16_t portNumber_;
  uint8_t parity_;
  uint8_t stopBits_;
  uint32_t baudRate_;
  platform::Event* responseEvent_;
  platform::SerialDevice device_;
  std::atomic<bool> openFlag_;
  platform::Thread reader_;
  platform::Mutex rxLock_;
};

}  // namespace zarn
