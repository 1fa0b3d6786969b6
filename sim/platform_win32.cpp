#include <winsock2.h>
#include <ws2tcpip.h>
// after winsock2.h
#include <mswsock.h>
#include <windows.h>

#include <string>

#include "platform.h"

namespace zarn {
namespace sim {
namespace os {

static_assert(sizeof(sockaddr_in) <= sizeof(Sender::address), "an IPv4 address fits a Sender");

namespace {

// The system's text for an error code, without its line end.
std::string SystemMessage(DWORD code) {
  char text[256] = "";
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                           sizeof text, nullptr);
  while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == ' ' || text[n - 1] == '.')) --n;
  return n > 0 ? std::string(text, n) : "error " + std::to_string(code);
}

SOCKET Socket(intptr_t handle) { return static_cast<SOCKET>(handle); }
HANDLE Handle(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

bool StartWinsock() {
  static bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return started;
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
  if (!StartWinsock()) {
    *error = where + "the socket library did not start";
    return false;
  }
  const SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (s == INVALID_SOCKET || bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    *error = where + SystemMessage(WSAGetLastError());
    if (s != INVALID_SOCKET) closesocket(s);
    return false;
  }
  // A reply to a client that has gone away would otherwise fail the next receive.
  BOOL report = FALSE;
  DWORD unused = 0;
  WSAIoctl(s, SIO_UDP_CONNRESET, &report, sizeof report, nullptr, 0, &unused, nullptr, nullptr);
  int length = sizeof a;
  getsockname(s, reinterpret_cast<sockaddr*>(&a), &length);
  port_ = ntohs(a.sin_port);
  handle_ = static_cast<intptr_t>(s);
  return true;
}

int UdpSocket::Receive(uint8_t* buffer, size_t capacity, Sender* from, int timeoutMs) {
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(Socket(handle_), &readable);
  timeval wait{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  if (select(0, &readable, nullptr, nullptr, &wait) <= 0) return 0;
  int length = sizeof from->address;
  const int n = recvfrom(Socket(handle_), reinterpret_cast<char*>(buffer), static_cast<int>(capacity), 0,
                         reinterpret_cast<sockaddr*>(from->address), &length);
  from->length = length;
  if (n == SOCKET_ERROR) return WSAGetLastError() == WSAEMSGSIZE ? static_cast<int>(capacity) : -1;
  return n;
}

void UdpSocket::Send(const uint8_t* data, size_t n, const Sender& to) {
  sendto(Socket(handle_), reinterpret_cast<const char*>(data), static_cast<int>(n), 0,
         reinterpret_cast<const sockaddr*>(to.address), to.length);
}

void UdpSocket::Close() {
  if (handle_ != kClosed) closesocket(Socket(handle_));
  handle_ = kClosed;
}

// ---------------------------------------------------------------- serial
bool SerialLine::OpenPseudoTerminal(std::string*, std::string* error) {
  *error =
      "--serial-pty needs pseudo-terminals, which Windows does not have: give --serial COMn, "
      "one end of a virtual null-modem pair";
  return false;
}

bool SerialLine::Open(const std::string& device, uint32_t baud, std::string* error) {
  // "COM3" and "COM12" alike: the device namespace reaches every port number.
  const std::string path = device.compare(0, 1, "\\") == 0 ? device : "\\\\.\\" + device;
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    *error = "cannot open " + device + ": " + SystemMessage(GetLastError());
    return false;
  }
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  bool ok = GetCommState(h, &dcb) != 0;
  if (ok) {
    dcb.BaudRate = baud;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fAbortOnError = FALSE;
    ok = SetCommState(h, &dcb) != 0;
  }
  if (!ok) {
    *error = "cannot set " + device + " to " + std::to_string(baud) + " baud 8N1: " + SystemMessage(GetLastError());
    CloseHandle(h);
    return false;
  }
  PurgeComm(h, PURGE_RXCLEAR | PURGE_TXCLEAR);
  handle_ = reinterpret_cast<intptr_t>(h);
  return true;
}

int SerialLine::Read(uint8_t* buffer, size_t capacity, int timeoutMs) {
  // Return as soon as one byte is there, with all that are; none after timeoutMs.
  COMMTIMEOUTS t{};
  t.ReadIntervalTimeout = MAXDWORD;
  t.ReadTotalTimeoutMultiplier = MAXDWORD;
  t.ReadTotalTimeoutConstant = static_cast<DWORD>(timeoutMs);
  t.WriteTotalTimeoutConstant = 1000;  // a stuck line fails a reply instead of hanging the drive
  DWORD n = 0;
  if (!SetCommTimeouts(Handle(handle_), &t) ||
      !ReadFile(Handle(handle_), buffer, static_cast<DWORD>(capacity), &n, nullptr)) {
    DWORD errors = 0;
    ClearCommError(Handle(handle_), &errors, nullptr);  // a line error stops reads until cleared
    return -1;
  }
  return static_cast<int>(n);
}

void SerialLine::Write(const uint8_t* data, size_t n) {
  while (n > 0) {
    DWORD written = 0;
    if (!WriteFile(Handle(handle_), data, static_cast<DWORD>(n), &written, nullptr) || written == 0) return;
    data += written;
    n -= written;
  }
}

void SerialLine::Close() {
  if (handle_ != kClosed) CloseHandle(Handle(handle_));
  handle_ = keepOpen_ = kClosed;
}

// ---------------------------------------------------------------- stop request
namespace {
HANDLE g_stopRequested = nullptr;

BOOL WINAPI OnConsoleEvent(DWORD type) {
  SetEvent(g_stopRequested);
  // The system ends the process once this returns from a close, logoff or
  // shutdown: leave the main thread time to stop the drives first.
  if (type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT) Sleep(5000);
  return TRUE;
}
}  // namespace

void PrepareForStopRequest() {
  g_stopRequested = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  SetConsoleCtrlHandler(nullptr, FALSE);  // Ctrl+C counts even when started in a new process group
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

void WaitForStopRequest() { WaitForSingleObject(g_stopRequested, INFINITE); }

}  // namespace os
}  // namespace sim
}  // namespace zarn
