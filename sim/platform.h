// The operating-system calls of the virtual drive, behind OS-neutral types:
// a UDP socket that answers any sender, a serial line, and the wait for a stop
// request. platform_posix.cpp and platform_win32.cpp each implement all of it.
//
// The drive does not borrow the library's platform layer: it is the peer the
// library is tested against, so its transports stay independent of the code
// under test, and its needs differ (a bound socket answering many senders, a
// new pseudo-terminal, reads with a time-out).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace zarn {
namespace sim {
namespace os {

// Where a datagram came from, kept to send the reply back.
struct Sender {
  alignas(8) unsigned char address[16];
  int length = 0;
};

class UdpSocket {
 public:
  UdpSocket() = default;
  ~UdpSocket() { Close(); }
  UdpSocket(const UdpSocket&) = delete;
  UdpSocket& operator=(const UdpSocket&) = delete;

  // host: a dotted IPv4 address; port 0 picks a free one. False with *error.
  bool Bind(const std::string& host, uint16_t port, std::string* error);
  bool IsOpen() const { return handle_ != kClosed; }
  uint16_t Port() const { return port_; }
  // Waits up to timeoutMs for one datagram: its length, 0 when none came, -1 on failure.
  int Receive(uint8_t* buffer, size_t capacity, Sender* from, int timeoutMs);
  void Send(const uint8_t* data, size_t n, const Sender& to);
  void Close();

 private:
  static constexpr intptr_t kClosed = -1;
  intptr_t handle_ = kClosed;
  uint16_t port_ = 0;
};

class SerialLine {
 public:
  SerialLine() = default;
  ~SerialLine() { Close(); }
  SerialLine(const SerialLine&) = delete;
  SerialLine& operator=(const SerialLine&) = delete;

  // A new pseudo-terminal; *path is the end a client opens. False with *error,
  // always on a system without pseudo-terminals.
  bool OpenPseudoTerminal(std::string* path, std::string* error);
  // An existing device ("/dev/ttyUSB0", "COM3"), raw 8N1 at baud. False with *error.
  bool Open(const std::string& device, uint32_t baud, std::string* error);
  bool IsOpen() const { return handle_ != kClosed; }
  // Waits up to timeoutMs for bytes: the count read, 0 when none came (also
  // while no client holds the other end), -1 on failure.
  int Read(uint8_t* buffer, size_t capacity, int timeoutMs);
  void Write(const uint8_t* data, size_t n);
  void Close();

 private:
  static constexpr intptr_t kClosed = -1;
  intptr_t handle_ = kClosed;
  intptr_t keepOpen_ = kClosed;  // a pseudo-terminal's client end, so the line does not hang up between clients
};

// Ctrl+C, SIGTERM, or (Windows) closing the console window. Prepare before any
// thread starts; Wait returns once a stop was asked for, even before Wait.
void PrepareForStopRequest();
void WaitForStopRequest();

}  // namespace os
}  // namespace sim
}  // namespace zarn
