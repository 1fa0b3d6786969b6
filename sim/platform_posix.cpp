#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "platform.h"

namespace zarn {
namespace sim {
namespace os {

static_assert(sizeof(sockaddr_in) <= sizeof(Sender::address), "an IPv4 address fits a Sender");

namespace {

int Fd(intptr_t handle) { return static_cast<int>(handle); }

bool Speed(uint32_t baud, speed_t* speed) {
  switch (baud) {
    case 9600: *speed = B9600; return true;
    case 19200: *speed = B19200; return true;
    case 38400: *speed = B38400; return true;
    case 57600: *speed = B57600; return true;
    case 115200: *speed = B115200; return true;
    case 230400: *speed = B230400; return true;
    default: return false;
  }
}

// Waits for input on fd: true when there is some.
bool Readable(int fd, int timeoutMs) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, timeoutMs) > 0 && (p.revents & POLLIN);
}

}  // namespace

// ---------------------------------------------------------------- UDP
bool UdpSocket::Bind(const std::string& host, uint16_t port, std::string* error) {
  const std::string where = "cannot bind UDP " + host + ":" + std::to_string(port) + ": ";
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  if (inet_pton(AF_INET, host.c_str(), &a.sin_addr) != 1) {
    *error = where + "not a dotted IPv4 address";
    return false;
  }
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    *error = where + strerror(errno);
    if (fd >= 0) close(fd);
    return false;
  }
  socklen_t length = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
  port_ = ntohs(a.sin_port);
  handle_ = fd;
  return true;
}

int UdpSocket::Receive(uint8_t* buffer, size_t capacity, Sender* from, int timeoutMs) {
  if (!Readable(Fd(handle_), timeoutMs)) return 0;
  socklen_t length = sizeof from->address;
  const ssize_t n = recvfrom(Fd(handle_), buffer, capacity, 0, reinterpret_cast<sockaddr*>(from->address), &length);
  from->length = static_cast<int>(length);
  return n < 0 ? -1 : static_cast<int>(n);
}

void UdpSocket::Send(const uint8_t* data, size_t n, const Sender& to) {
  sendto(Fd(handle_), data, n, 0, reinterpret_cast<const sockaddr*>(to.address), socklen_t(to.length));
}

void UdpSocket::Close() {
  if (handle_ != kClosed) close(Fd(handle_));
  handle_ = kClosed;
}

// ---------------------------------------------------------------- serial
bool SerialLine::OpenPseudoTerminal(std::string* path, std::string* error) {
  termios tio{};
  cfmakeraw(&tio);
  int master = -1, slave = -1;
  char name[128];
  if (openpty(&master, &slave, name, &tio, nullptr) != 0) {
    *error = std::string("cannot open a pseudo-terminal: ") + strerror(errno);
    return false;
  }
  fcntl(master, F_SETFD, FD_CLOEXEC);
  fcntl(slave, F_SETFD, FD_CLOEXEC);
  handle_ = master;
  keepOpen_ = slave;
  *path = name;
  return true;
}

bool SerialLine::Open(const std::string& device, uint32_t baud, std::string* error) {
  speed_t speed;
  if (!Speed(baud, &speed)) {
    *error = "unsupported speed " + std::to_string(baud) + " (9600, 19200, 38400, 57600, 115200 or 230400)";
    return false;
  }
  const int fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  termios tio;
  if (fd < 0 || tcgetattr(fd, &tio) != 0) {
    *error = "cannot open " + device + ": " + strerror(errno);
    if (fd >= 0) close(fd);
    return false;
  }
  cfmakeraw(&tio);
  tio.c_cflag |= CLOCAL | CREAD;
  cfsetspeed(&tio, speed);
  tcsetattr(fd, TCSANOW, &tio);
  handle_ = fd;
  return true;
}

int SerialLine::Read(uint8_t* buffer, size_t capacity, int timeoutMs) {
  if (!Readable(Fd(handle_), timeoutMs)) return 0;
  const ssize_t n = read(Fd(handle_), buffer, capacity);
  if (n >= 0) return static_cast<int>(n);
  if (errno == EIO) {  // a pseudo-terminal without a client: wait as if nothing came
    std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
    return 0;
  }
  return errno == EINTR || errno == EAGAIN ? 0 : -1;
}

void SerialLine::Write(const uint8_t* data, size_t n) {
  while (n > 0) {
    const ssize_t w = write(Fd(handle_), data, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return;
    data += w;
    n -= size_t(w);
  }
}

void SerialLine::Close() {
  if (handle_ != kClosed) close(Fd(handle_));
  if (keepOpen_ != kClosed) close(Fd(keepOpen_));
  handle_ = keepOpen_ = kClosed;
}

// ---------------------------------------------------------------- stop request
namespace {
sigset_t StopSignals() {
  sigset_t s;
  sigemptyset(&s);
  sigaddset(&s, SIGINT);
  sigaddset(&s, SIGTERM);
  return s;
}
}  // namespace

// Blocked in every thread, the signals wait for sigwait: no handler, and no
// signal lost between a check and a sleep.
void PrepareForStopRequest() {
  const sigset_t s = StopSignals();
  pthread_sigmask(SIG_BLOCK, &s, nullptr);
}

void WaitForStopRequest() {
  const sigset_t s = StopSignals();
  int signal = 0;
  while (sigwait(&s, &signal) != 0) {
  }
}

}  // namespace os
}  // namespace sim
}  // namespace zarn
