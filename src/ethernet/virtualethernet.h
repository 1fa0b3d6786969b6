// CVirtualEthernet: one IPv4 UDP socket connected to one drive. The thread
// that makes a request receives its own reply: it waits on the socket and
// appends each datagram to the receive buffer. While no request runs, the
// connection's event thread does the same (so a late datagram still shows in
// the receive buffer); while requests run it stays parked off the socket.
#pragma once

#include <atomic>
#include <cstdint>

#include "core/packet.h"
#include "platform/platform.h"

namespace zarn {

constexpr size_t kEthernetBufferSize = 65;

// True when text is an IPv4 address in dotted form: four decimal numbers of
// 0 to 255 without leading zeros, separated by dots.
bool IsDottedIPv4(const char* text);

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
  // A request takes over receiving: the event thread leaves the socket, the
  // datagrams already queued (a reply that came after its request's deadline)
  // are dropped and the receive count returns to 0.
  void BeginReceiving();
  // Waits up to timeoutMs for a datagram and appends it to the receive buffer.
  void ReceiveForRequest(uint32_t timeoutMs);
  // The request is over; the event thread takes over once the connection idles.
  void EndReceiving();

  uint16_t txLength_;
  uint8_t rxBuffer_[kEthernetBufferSize];
  uint8_t txBuffer_[kEthernetBufferSize];

 private:
  static uint32_t ThreadEntry(void* self);
  uint32_t EventLoop();
  // Receives one datagram without waiting and appends it; on a receive error
  // every receiver pauses (see PauseLeftMs).
  void ReceiveOne(bool eventThread);
  // Milliseconds left of the pause that follows a receive error.
  uint32_t PauseLeftMs() const;
  void RemoveSocket();
  void Trace(int line, const char* text);

  std::atomic<uint16_t> rxCount_;
  char address_[64];
  uint16_t port_;
  uint16_t connectWait_;
  platform::UdpSocket socket_;
  // The connection has a socket to send on: cleared when the socket reports
  // it closed, and when Close releases it (which only Close does).
  bool socketPresent_;
  uint8_t receiveArea_[kEthernetBufferSize];
  std::atomic<bool> openFlag_;
  std::atomic<bool> requestReceiving_;  // a request receives for itself
  std::atomic<bool> eventThreadWatching_;
  std::atomic<uint32_t> lastRequestEnd_;  // tick count
  std::atomic<uint64_t> pauseUntilMs_;    // MicroTicks() / 1000
  platform::Thread thread_;
  platform::Event* responseEvent_;
  platform::Event stopEvent_;  // ends the event thread's parking and pauses at close
  platform::Mutex socketLock_;
  platform::Mutex rxLock_;  // one receiver at a time; the buffer and its count
};

}  // namespace zarn
