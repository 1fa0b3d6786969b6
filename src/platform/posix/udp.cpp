// posix UDP socket: non-blocking connect with a writable wait, millisecond
// time-outs, poll-based event waiting with a wake pipe.
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <new>

#include "platform/platform.h"
#include "platform/posix/wake_pipe.h"

namespace zarn {
namespace platform {

struct UdpSocket::Impl {
  int fd = -1;
  WakePipe wake;
};

UdpSocket::UdpSocket() : impl_(nullptr) {}
UdpSocket::~UdpSocket() { Close(); }

bool UdpSocket::IsCreated() const { return impl_ != nullptr; }

bool UdpSocket::Create() {
  if (impl_) return true;
  Impl* impl = new (std::nothrow) Impl;
  if (!impl) return false;
  impl->fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (impl->fd < 0 || !impl->wake.Create()) {
    if (impl->fd >= 0) close(impl->fd);
    delete impl;
    return false;
  }
  impl_ = impl;
  return true;
}

bool UdpSocket::SetTimeouts(uint32_t milliseconds) {
  if (!impl_) return false;
  timeval tv;
  tv.tv_sec = milliseconds / 1000u;
  tv.tv_usec = static_cast<suseconds_t>(milliseconds % 1000u) * 1000;
  return setsockopt(impl_->fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) == 0 &&
         setsockopt(impl_->fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv) == 0;
}

bool UdpSocket::GetTimeouts(uint32_t* receiveMs, uint32_t* sendMs) const {
  if (!impl_) return false;
  timeval r{}, s{};
  socklen_t len = sizeof r;
  if (getsockopt(impl_->fd, SOL_SOCKET, SO_RCVTIMEO, &r, &len) != 0) return false;
  len = sizeof s;
  if (getsockopt(impl_->fd, SOL_SOCKET, SO_SNDTIMEO, &s, &len) != 0) return false;
  *receiveMs = static_cast<uint32_t>(r.tv_sec * 1000 + r.tv_usec / 1000);
  *sendMs = static_cast<uint32_t>(s.tv_sec * 1000 + s.tv_usec / 1000);
  return true;
}

bool UdpSocket::Connect(const char* address, uint16_t port, uint32_t waitSeconds) {
  if (!impl_) return false;
  sockaddr_in peer;
  memset(&peer, 0, sizeof peer);
  peer.sin_family = AF_INET;
  peer.sin_port = htons(port);
  peer.sin_addr.s_addr = inet_addr(address ? address : "");
  int flags = fcntl(impl_->fd, F_GETFL);
  fcntl(impl_->fd, F_SETFL, flags | O_NONBLOCK);
  connect(impl_->fd, reinterpret_cast<sockaddr*>(&peer), sizeof peer);  // result read through writability
  pollfd p{impl_->fd, POLLOUT, 0};
  int n = poll(&p, 1, static_cast<int>(waitSeconds * 1000u));
  bool writable = n == 1 && (p.revents & POLLOUT) && !(p.revents & (POLLERR | POLLNVAL));
  fcntl(impl_->fd, F_SETFL, flags & ~O_NONBLOCK);
  return writable;
}

bool UdpSocket::Watch() {
  if (!impl_) return false;
  int flags = fcntl(impl_->fd, F_GETFL);
  return fcntl(impl_->fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

int32_t UdpSocket::Send(const uint8_t* data, uint32_t n) {
  if (!impl_) return -1;
  ssize_t sent = send(impl_->fd, data, n, MSG_NOSIGNAL);
  return sent < 0 ? -1 : static_cast<int32_t>(sent);
}

UdpSocket::ReceiveResult UdpSocket::Receive(uint8_t* buffer, uint32_t capacity, uint32_t* received, int* error) {
  *received = 0;
  *error = 0;
  if (!impl_) return kFailed;
  ssize_t got = recv(impl_->fd, buffer, capacity, MSG_TRUNC | MSG_DONTWAIT);
  if (got < 0) {
    if (errno == EAGAIN || errno == EWOULDBLOCK) return kWouldBlock;
    *error = errno;
    return kFailed;
  }
  if (static_cast<size_t>(got) > capacity) {  // the datagram did not fit: it is lost
    *error = EMSGSIZE;
    return kFailed;
  }
  *received = static_cast<uint32_t>(got);
  return kReceived;
}

void UdpSocket::Discard() {
  if (!impl_) return;
  uint8_t scrap[1];
  for (int i = 0; i < 64; ++i) {
    if (recv(impl_->fd, scrap, sizeof scrap, MSG_TRUNC | MSG_DONTWAIT) < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
      return;
  }
}

bool UdpSocket::WaitReadable(uint32_t timeoutMs) {
  if (!impl_) return false;
  pollfd p{impl_->fd, POLLIN, 0};
  const int n = poll(&p, 1, timeoutMs == kWaitForever ? -1 : static_cast<int>(timeoutMs));
  return n > 0;
}

UdpSocket::WaitResult UdpSocket::WaitEvents(uint32_t timeoutMs, uint32_t* events, int* readError) {
  *events = 0;
  *readError = 0;
  if (!impl_) return kWaitFailed;
  pollfd fds[2];
  fds[0] = pollfd{impl_->fd, POLLIN, 0};
  fds[1] = pollfd{impl_->wake.ReadEnd(), POLLIN, 0};
  int n = poll(fds, 2, timeoutMs == kWaitForever ? -1 : static_cast<int>(timeoutMs));
  if (n < 0) return errno == EINTR ? kTimeout : kWaitFailed;
  if (fds[1].revents & POLLIN) {
    impl_->wake.Drain();
    return kWoken;
  }
  if (n == 0) return kTimeout;
  if (fds[0].revents & (POLLIN | POLLERR)) *events |= kEventRead;
  if (fds[0].revents & (POLLHUP | POLLNVAL)) *events |= kEventClose;
  return kEvents;
}

void UdpSocket::Wake() {
  if (impl_) impl_->wake.Signal();
}

bool UdpSocket::PeerName(char* address, size_t size, uint16_t* port) const {
  if (!impl_) return false;
  sockaddr_in peer;
  socklen_t len = sizeof peer;
  if (getpeername(impl_->fd, reinterpret_cast<sockaddr*>(&peer), &len) != 0) return false;
  inet_ntop(AF_INET, &peer.sin_addr, address, static_cast<socklen_t>(size));
  *port = ntohs(peer.sin_port);
  return true;
}

void UdpSocket::Close() {
  if (!impl_) return;
  close(impl_->fd);
  delete impl_;
  impl_ = nullptr;
}

void UdpSocket::FormatLastError(const char* text, char* out, size_t size) {
  snprintf(out, size, "%s. %s", text, strerror(errno));
}

}  // namespace platform
}  // namespace zarn
