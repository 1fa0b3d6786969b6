// win32 serial device: a COM port opened for overlapped I/O.
#include <windows.h>

#include <stdio.h>

#include <new>

#include "platform/platform.h"

namespace zarn {
namespace platform {

struct SerialDevice::Impl {
  HANDLE port = INVALID_HANDLE_VALUE;
  OVERLAPPED waitOv{};
  OVERLAPPED writeOv{};
  OVERLAPPED readOv{};
  HANDLE wake = nullptr;
};

SerialDevice::SerialDevice() : impl_(nullptr) {}
SerialDevice::~SerialDevice() { Close(); }
bool SerialDevice::IsOpen() const { return impl_ != nullptr; }

namespace {
void ReleaseEvents(SerialDevice::Impl* impl);
}

bool SerialDevice::Open(const char* name, unsigned portNumber, uint32_t baud, uint8_t parity, uint8_t byteSize,
                        uint8_t stopBits) {
  (void)name;
  if (impl_) return true;
  Impl* impl = new (std::nothrow) Impl;
  if (!impl) return false;
  impl->waitOv.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  impl->writeOv.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  impl->readOv.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  impl->wake = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (!impl->waitOv.hEvent || !impl->writeOv.hEvent || !impl->readOv.hEvent || !impl->wake) {
    ReleaseEvents(impl);
    delete impl;
    return false;
  }
  char path[32];
  wsprintfA(path, "\\\\?\\COM%d", static_cast<int>(portNumber));
  impl->port = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr);
  if (impl->port == INVALID_HANDLE_VALUE) {
    ReleaseEvents(impl);
    delete impl;
    return false;
  }
  SetCommMask(impl->port, EV_RXCHAR);
  SetupComm(impl->port, 65, 65);
  PurgeComm(impl->port, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
  COMMTIMEOUTS timeouts{};
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  bool ok = GetCommTimeouts(impl->port, &timeouts) != 0;
  if (ok) {
    timeouts.ReadIntervalTimeout = 0xFFFF;
    timeouts.ReadTotalTimeoutMultiplier = 1;
    timeouts.ReadTotalTimeoutConstant = 1000;
    timeouts.WriteTotalTimeoutMultiplier = 1;
    timeouts.WriteTotalTimeoutConstant = 0;
    ok = SetCommTimeouts(impl->port, &timeouts) != 0;
  }
  if (ok) ok = GetCommState(impl->port, &dcb) != 0;
  if (ok) {
    dcb.BaudRate = baud;
    dcb.ByteSize = byteSize;
    dcb.Parity = parity;
    dcb.StopBits = stopBits;
    dcb.fBinary = 1;
    dcb.fParity = parity != 0 ? 1 : 0;
    dcb.fOutX = 0;
    dcb.fInX = 0;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    ok = SetCommState(impl->port, &dcb) != 0;
  }
  if (!ok) {
    CloseHandle(impl->port);
    ReleaseEvents(impl);
    delete impl;
    return false;
  }
  impl_ = impl;
  return true;
}

namespace {
void ReleaseEvents(SerialDevice::Impl* impl) {
  HANDLE events[] = {impl->waitOv.hEvent, impl->writeOv.hEvent, impl->readOv.hEvent, impl->wake};
  for (HANDLE h : events) {
    if (h) {
      SetEvent(h);
      CloseHandle(h);
    }
  }
  impl->waitOv.hEvent = impl->writeOv.hEvent = impl->readOv.hEvent = impl->wake = nullptr;
}
}  // namespace

void SerialDevice::Close() {
  if (!impl_) return;
  CancelIo(impl_->port);
  CloseHandle(impl_->port);
  ReleaseEvents(impl_);
  delete impl_;
  impl_ = nullptr;
}

SerialDevice::WaitResult SerialDevice::WaitForInput() {
  if (!impl_) return kFailed;
  if (WaitForSingleObject(impl_->wake, 0) == WAIT_OBJECT_0) {
    ResetEvent(impl_->wake);
    return kWoken;
  }
  DWORD mask = 0;
  ResetEvent(impl_->waitOv.hEvent);
  if (WaitCommEvent(impl_->port, &mask, &impl_->waitOv)) return kInput;
  if (GetLastError() != ERROR_IO_PENDING) {
    Sleep(10);  // do not spin on a port that keeps failing
    return kFailed;
  }
  HANDLE handles[2] = {impl_->waitOv.hEvent, impl_->wake};
  DWORD r = WaitForMultipleObjects(2, handles, FALSE, INFINITE);
  if (r == WAIT_OBJECT_0 + 1) {
    CancelIo(impl_->port);
    DWORD ignored = 0;
    GetOverlappedResult(impl_->port, &impl_->waitOv, &ignored, TRUE);
    ResetEvent(impl_->wake);
    return kWoken;
  }
  DWORD ignored = 0;
  if (!GetOverlappedResult(impl_->port, &impl_->waitOv, &ignored, TRUE)) return kFailed;
  return kInput;
}

uint32_t SerialDevice::ClearErrors(uint32_t* inQueue) {
  if (inQueue) *inQueue = 0;
  if (!impl_) return 0;
  DWORD errors = 0;
  COMSTAT stat{};
  if (!ClearCommError(impl_->port, &errors, &stat)) return 0;
  if (inQueue) *inQueue = stat.cbInQue;
  return errors;
}

int32_t SerialDevice::Read(uint8_t* buffer, uint32_t n) {
  if (!impl_) return -1;
  DWORD got = 0;
  ResetEvent(impl_->readOv.hEvent);
  if (ReadFile(impl_->port, buffer, n, &got, &impl_->readOv)) return static_cast<int32_t>(got);
  if (GetLastError() != ERROR_IO_PENDING) return -1;
  for (;;) {
    if (GetOverlappedResult(impl_->port, &impl_->readOv, &got, TRUE)) return static_cast<int32_t>(got);
    if (GetLastError() != ERROR_IO_INCOMPLETE) return -1;
  }
}

int32_t SerialDevice::Write(const uint8_t* buffer, uint32_t n) {
  if (!impl_) return -1;
  DWORD written = 0;
  ResetEvent(impl_->writeOv.hEvent);
  if (!WriteFile(impl_->port, buffer, n, &written, &impl_->writeOv)) {
    if (GetLastError() == ERROR_IO_PENDING) {
      if (!GetOverlappedResult(impl_->port, &impl_->writeOv, &written, TRUE)) written = 0;
    } else {
      written = 0;
    }
  }
  FlushFileBuffers(impl_->port);
  return static_cast<int32_t>(written);
}

void SerialDevice::Purge() {
  if (impl_) PurgeComm(impl_->port, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
}

void SerialDevice::Wake() {
  if (impl_) SetEvent(impl_->wake);
}

}  // namespace platform
}  // namespace zarn
