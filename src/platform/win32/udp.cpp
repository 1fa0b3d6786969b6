// win32 UDP socket: Winsock 2.2 with event selection.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include <new>

#include "platform/platform.h"

#ifndef SIO_UDP_CONNRESET
#define SIO_UDP_CONNRESET _WSAIOW(IOC_VENDOR, 12)
#endif

namespace zarn {
namespace platform {

struct UdpSocket::Impl {
  SOCKET sock = INVALID_SOCKET;
  WSAEVENT event = WSA_INVALID_EVENT;
  WSAEVENT wake = WSA_INVALID_EVENT;
};

UdpSocket::UdpSocket() : impl_(nullptr) {}
UdpSocket::~UdpSocket() { Close(); }
bool UdpSocket::IsCreated() const { return impl_ != nullptr; }

bool UdpSocket::Create() {
  if (impl_) return true;
  Impl* impl = new (std::nothrow) Impl;
  if (!impl) return false;
  impl->sock = socket(AF_INET, SOCK_DGRAM, 0);
  impl->event = WSACreateEvent();
  impl->wake = WSACreateEvent();
  if (impl->sock == INVALID_SOCKET || impl->event == WSA_INVALID_EVENT || impl->wake == WSA_INVALID_EVENT) {
    if (impl->sock != INVALID_SOCKET) closesocket(impl->sock);
    if (impl->event != WSA_INVALID_EVENT) WSACloseEvent(impl->event);
    if (impl->wake != WSA_INVALID_EVENT) WSACloseEvent(impl->wake);
    delete impl;
    return false;
  }
  // Windows reports an ICMP "port unreachable" as an error of the next
  // receive; such a datagram is no reply and no reason to stop receiving.
  BOOL report = FALSE;
  DWORD returned = 0;
  WSAIoctl(impl->sock, SIO_UDP_CONNRESET, &report, sizeof report, nullptr, 0, &returned, nullptr, nullptr);
  impl_ = impl;
  return true;
}

bool UdpSocket::SetTimeouts(uint32_t milliseconds) {
  if (!impl_) return false;
  DWORD ms = milliseconds;
  return setsockopt(impl_->sock, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&ms), sizeof ms) == 0 &&
         setsockopt(impl_->sock, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&ms), sizeof ms) == 0;
}

bool UdpSocket::GetTimeouts(uint32_t* receiveMs, uint32_t* sendMs) const {
  if (!impl_) return false;
  DWORD r = 0, s = 0;
  int len = sizeof r;
  if (getsockopt(impl_->sock, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<char*>(&r), &len) != 0) return false;
  len = sizeof s;
  if (getsockopt(impl_->sock, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<char*>(&s), &len) != 0) return false;
  *receiveMs = r;
  *sendMs = s;
  return true;
}

bool UdpSocket::Connect(const char* address, uint16_t port, uint32_t waitSeconds) {
  if (!impl_) return false;
  sockaddr_in peer;
  memset(&peer, 0, sizeof peer);
  peer.sin_family = AF_INET;
  peer.sin_port = htons(port);
  peer.sin_addr.s_addr = inet_addr(address ? address : "");
  u_long on = 1;
  ioctlsocket(impl_->sock, FIONBIO, &on);
  connect(impl_->sock, reinterpret_cast<sockaddr*>(&peer), sizeof peer);
  fd_set writable, failed;
  FD_ZERO(&writable);
  FD_ZERO(&failed);
  FD_SET(impl_->sock, &writable);
  FD_SET(impl_->sock, &failed);
  timeval tv;
  tv.tv_sec = static_cast<long>(waitSeconds);
  tv.tv_usec = 0;
  select(0, nullptr, &writable, &failed, &tv);
  bool ok = FD_ISSET(impl_->sock, &writable) != 0;
  u_long off = 0;
  ioctlsocket(impl_->sock, FIONBIO, &off);
  return ok;
}

bool UdpSocket::Watch() {
  if (!impl_) return false;
  return WSAEventSelect(impl_->sock, impl_->event, FD_READ | FD_WRITE | FD_ACCEPT | FD_CONNECT | FD_CLOSE) == 0;
}

int32_t UdpSocket::Send(const uint8_t* data, uint32_t n) {
  if (!impl_) return -1;
  int sent = send(impl_->sock, reinterpret_cast<const char*>(data), static_cast<int>(n), 0);
  return sent == SOCKET_ERROR ? -1 : sent;
}

UdpSocket::ReceiveResult UdpSocket::Receive(uint8_t* buffer, uint32_t capacity, uint32_t* received, int* error) {
  *received = 0;
  *error = 0;
  if (!impl_) return kFailed;
  int got = recv(impl_->sock, reinterpret_cast<char*>(buffer), static_cast<int>(capacity), 0);
  if (got == SOCKET_ERROR) {
    int e = WSAGetLastError();
    if (e == WSAEWOULDBLOCK) return kWouldBlock;
    *error = e;
    return kFailed;
  }
  *received = static_cast<uint32_t>(got);
  return kReceived;
}

void UdpSocket::Discard() {
  if (!impl_) return;
  char scrap[1];
  for (int i = 0; i < 64; ++i) {
    if (recv(impl_->sock, scrap, sizeof scrap, 0) == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK) return;
  }
}

bool UdpSocket::WaitReadable(uint32_t timeoutMs) {
  if (!impl_) return false;
  // select looks at the socket's state, not at the watch event, which stays
  // the event thread's.
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(impl_->sock, &readable);
  timeval tv;
  tv.tv_sec = static_cast<long>(timeoutMs / 1000u);
  tv.tv_usec = static_cast<long>(timeoutMs % 1000u) * 1000L;
  return select(0, &readable, nullptr, nullptr, timeoutMs == kWaitForever ? nullptr : &tv) > 0;
}

UdpSocket::WaitResult UdpSocket::WaitEvents(uint32_t timeoutMs, uint32_t* events, int* readError) {
  *events = 0;
  *readError = 0;
  if (!impl_) return kWaitFailed;
  WSAEVENT handles[2] = {impl_->event, impl_->wake};
  DWORD r = WSAWaitForMultipleEvents(2, handles, FALSE, timeoutMs, FALSE);
  if (r == WSA_WAIT_FAILED) return kWaitFailed;
  if (r == WSA_WAIT_TIMEOUT) return kTimeout;
  if (r == WSA_WAIT_EVENT_0 + 1) {
    WSAResetEvent(impl_->wake);
    return kWoken;
  }
  WSANETWORKEVENTS network;
  if (WSAEnumNetworkEvents(impl_->sock, impl_->event, &network) != 0) return kWaitFailed;
  if (network.lNetworkEvents & FD_READ) {
    *events |= kEventRead;
    *readError = network.iErrorCode[FD_READ_BIT];
  }
  if (network.lNetworkEvents & FD_CLOSE) *events |= kEventClose;
  if (network.lNetworkEvents & FD_CONNECT) *events |= kEventConnect;
  return kEvents;
}

void UdpSocket::Wake() {
  if (impl_) WSASetEvent(impl_->wake);
}

bool UdpSocket::PeerName(char* address, size_t size, uint16_t* port) const {
  if (!impl_) return false;
  sockaddr_in peer;
  int len = sizeof peer;
  if (getpeername(impl_->sock, reinterpret_cast<sockaddr*>(&peer), &len) != 0) return false;
  snprintf(address, size, "%s", inet_ntoa(peer.sin_addr));
  *port = ntohs(peer.sin_port);
  return true;
}

void UdpSocket::Close() {
  if (!impl_) return;
  closesocket(impl_->sock);
  WSACloseEvent(impl_->event);
  WSACloseEvent(impl_->wake);
  delete impl_;
  impl_ = nullptr;
}

void UdpSocket::FormatLastError(const char* text, char* out, size_t size) {
  char message[512] = "";
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, WSAGetLastError(),
                 MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), message, sizeof message, nullptr);
  snprintf(out, size, "%s. %s", text, message);
}

}  // namespace platform
}  // namespace zarn
