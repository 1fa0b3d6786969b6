// win32 serial device: a COM port opened for overlapped I/O, every line
// setting made explicit so nothing a previous program left behind remains.
#include <windows.h>

#include <stdio.h>
#include <string.h>

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
  uint32_t baud = 0;
  int failedWaits = 0;      // in a row
  DWORD pendingErrors = 0;  // line errors read before a wait, reported by the next ClearErrors
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
  bool ok = GetCommTimeouts(impl->port, &timeouts) != 0;
  if (ok) {
    timeouts.ReadIntervalTimeout = 0xFFFF;
    timeouts.ReadTotalTimeoutMultiplier = 1;
    timeouts.ReadTotalTimeoutConstant = 1000;
    // A byte takes 10/baud s on the wire: twice that per byte, plus a margin.
    timeouts.WriteTotalTimeoutMultiplier = SerialWriteTimeoutMs(baud, 1) - SerialWriteTimeoutMs(baud, 0);
    timeouts.WriteTotalTimeoutConstant = SerialWriteTimeoutMs(baud, 0);
    ok = SetCommTimeouts(impl->port, &timeouts) != 0;
  }
  // Every field of the line settings, from zero: a raw line without flow
  // control of any kind, whatever the port's last user left in it.
  DCB dcb;
  memset(&dcb, 0, sizeof dcb);
  dcb.DCBlength = sizeof dcb;
  if (ok) {
    dcb.BaudRate = baud;
    dcb.fBinary = 1;
    dcb.fParity = parity != 0 ? 1 : 0;
    dcb.fOutxCtsFlow = 0;
    dcb.fOutxDsrFlow = 0;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fDsrSensitivity = 0;
    dcb.fTXContinueOnXoff = 1;
    dcb.fOutX = 0;
    dcb.fInX = 0;
    dcb.fErrorChar = 0;
    dcb.fNull = 0;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    dcb.fAbortOnError = 0;
    dcb.XonLim = 0;
    dcb.XoffLim = 0;
    dcb.ByteSize = byteSize;
    dcb.Parity = parity;
    dcb.StopBits = stopBits;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    dcb.ErrorChar = 0;
    dcb.EofChar = 0;
    dcb.EvtChar = 0;
    ok = SetCommState(impl->port, &dcb) != 0;
  }
  if (!ok) {
    CloseHandle(impl->port);
    ReleaseEvents(impl);
    delete impl;
    return false;
  }
  impl->baud = baud;
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

namespace {
// A wait that was cancelled (Wine cancels pending waits every few
// milliseconds) is simply made again. Any other failure is spaced out, never
// retried at once; and a device that no longer answers ClearCommError, or
// whose waits keep failing, has gone away (an adapter pulled): it does not
// come back while the handle is open.
SerialDevice::WaitResult WaitEnded(SerialDevice::Impl* impl, bool succeeded) {
  if (succeeded) {
    impl->failedWaits = 0;
    return SerialDevice::kInput;
  }
  if (GetLastError() == ERROR_OPERATION_ABORTED) return SerialDevice::kFailed;
  DWORD errors = 0;
  COMSTAT stat{};
  if (!ClearCommError(impl->port, &errors, &stat) || ++impl->failedWaits >= 5) return SerialDevice::kHungUp;
  Sleep(10);
  return SerialDevice::kFailed;
}
}  // namespace

SerialDevice::WaitResult SerialDevice::WaitForInput() {
  if (!impl_) return kFailed;
  if (WaitForSingleObject(impl_->wake, 0) == WAIT_OBJECT_0) {
    ResetEvent(impl_->wake);
    return kWoken;
  }
  // A wait reports bytes that arrive while it is pending: those that came
  // between two waits (Wine also cancels pending waits now and then) are
  // looked for first.
  DWORD errors = 0;
  COMSTAT stat{};
  if (!ClearCommError(impl_->port, &errors, &stat)) return kHungUp;
  impl_->pendingErrors |= errors;
  if (stat.cbInQue > 0 || impl_->pendingErrors != 0) return kInput;
  DWORD mask = 0;
  ResetEvent(impl_->waitOv.hEvent);
  if (WaitCommEvent(impl_->port, &mask, &impl_->waitOv)) return WaitEnded(impl_, true);
  if (GetLastError() != ERROR_IO_PENDING) return WaitEnded(impl_, false);
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
  return WaitEnded(impl_, GetOverlappedResult(impl_->port, &impl_->waitOv, &ignored, TRUE) != 0);
}

void SerialDevice::WaitForWake() {
  if (!impl_) return;
  WaitForSingleObject(impl_->wake, INFINITE);
  ResetEvent(impl_->wake);
}

bool SerialDevice::ClearErrors(uint32_t* errors, uint32_t* inQueue) {
  *errors = 0;
  *inQueue = 0;
  if (!impl_) return false;
  DWORD flags = 0;
  COMSTAT stat{};
  if (!ClearCommError(impl_->port, &flags, &stat)) return false;
  *errors = flags | impl_->pendingErrors;
  impl_->pendingErrors = 0;
  *inQueue = stat.cbInQue;
  return true;
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

void SerialDevice::PurgeInput() {
  if (!impl_) return;
  // Read out what is queued rather than purge it: a purge can end the
  // reader's pending wait with an error. The caller keeps the reader's reads out.
  uint8_t scrap[64];
  for (int i = 0; i < 16; ++i) {
    DWORD errors = 0;
    COMSTAT stat{};
    if (!ClearCommError(impl_->port, &errors, &stat) || stat.cbInQue == 0) return;
    if (Read(scrap, stat.cbInQue < sizeof scrap ? stat.cbInQue : sizeof scrap) <= 0) return;
  }
}

void SerialDevice::Wake() {
  if (impl_) SetEvent(impl_->wake);
}

}  // namespace platform
}  // namespace zarn
