// CVirtualEthernet: one IPv4 UDP socket connected to one drive, with an event
// thread that appends each received datagram to the receive buffer and wakes
// the client.
#pragma once

#include <atomic>
#include <cstdint>

#include "core/packet.h"
#include "platform/platform.h"

namespace zarn {

constexpr size_t kEthernetBufferSize = 65;

class CVirtualEthernet : public ITransport {
 public:
  CVirtualEthernet();
  CVirtualEthernet(const CVirtualEthernet&) = delete;
  CVirtualEthernet& operator=(const CVirtualEthernet&) = delete;

  bool Open(const char* address, uint16_t port, uint16_t connectWait, uint16_t socketTimeout);
  void Close();
  bool Send();
  bool IsOpen() const { return openFlag_.load(); }
  // True when Close could not end the event thread (it keeps its socket).
  bool HasThread() const { return thread_.IsStarted(); }
  void SetResponseEvent(platform::Event* event) { responseEvent_ = event; }
  bool HasSocket();

  uint16_t CopyTx(uint8_t* out);
  uint16_t CopyRx(uint8_t* out);
  uint16_t Port() const { return port_; }
  uint16_t ConnectWait() const { return connectWait_; }
  // The socket's receive and send time-outs in milliseconds.
  bool SocketTimeouts(uint32_t* receiveMs, uint32_t* sendMs);

  virtual void OnReceive(uint16_t count, const platform::UdpSocket& socket) = 0;
  virtual void OnSend(uint16_t length, const platform::UdpSocket& socket) = 0;
  virtual void OnError(uint32_t a, uint32_t b) = 0;

 protected:
  ~CVirtualEthernet();
  uint16_t ReceiveCount() const { return rxCount_.load(std::memory_order_acquire); }
  void ResetReceiveCount();

  uint16_t txLength_;
  uint8_t rxBuffer_[kEthernetBufferSize];
  uint8_t txBuffer_[kEthernetBufferSize];

 private:
  static uint32_t ThreadEntry(void* self);
  uint32_t EventLoop();
  void RemoveSocket();
  void Trace(int line, const char* text);

  std::atomic<uint16_t> rxCount_;
  char address_[64];
  uint16_t port_;
  uint16_t connectWait_;
  platform::UdpSocket socket_;
  bool socketPresent_;  // entry 0 of the socket list
  uint8_t receiveArea_[kEthernetBufferSize];
  std::atomic<bool> openFlag_;
  platform::Thread thread_;
  platform::Event* responseEvent_;
  platform::Event stopEvent_;  // interrupts the event thread's pauses
  platform::Mutex socketLock_;
  platform::Mutex rxLock_;
};

}  // namespace zarn
