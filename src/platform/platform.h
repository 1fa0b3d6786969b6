// The operating-system services the library uses, behind OS-neutral types.
// posix/ and win32/ each implement every declaration of this header; nothing
// above this folder includes an OS header or tests _WIN32.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zarn {
namespace platform {

// Milliseconds since an arbitrary start, wrapping at 2^32 (GetTickCount).
uint32_t TickCount();
void SleepMs(uint32_t milliseconds);
// Microseconds since an arbitrary start, for timing below one millisecond.
uint64_t MicroTicks();
// Sleeps at least the given microseconds (Windows: rounded up to milliseconds).
void SleepMicros(uint32_t microseconds);
// A wait that ends only when woken.
constexpr uint32_t kWaitForever = 0xFFFFFFFFu;
// Gives up the rest of the time slice (Sleep(0)).
void YieldThread();

// A modal message with an OK button (posix: one line on standard error).
void ShowMessageBox(const char* text);
// Sends every message box to sink instead (nullptr restores the box); for
// programs without a desktop and for tests.
typedef void (*MessageSink)(const char* text);
void SetMessageSink(MessageSink sink);
// One diagnostic line for a debugger (posix: syslog at debug level).
void DebugTrace(const char* text);
// Sends every debug trace line to sink as well (nullptr: none); for tests.
typedef void (*TraceSink)(const char* text);
void SetTraceSink(TraceSink sink);

// Converts a file name in the code page the system's file functions read it
// in (Windows: ANSI or OEM, as AreFileApisANSI says; posix: UTF-8) to a
// NUL-terminated UTF-16 text, so that the name still names the same file.
// False when the name is not valid in that code page or does not fit in
// capacity units: nothing is substituted or cut.
bool FileNameToUtf16(const char* name, uint16_t* out, size_t capacity);

// Takes and gives back one use of the socket library (Winsock 2.2): the first
// use starts it, the last one releases it. Called on the callers' threads and
// the library's own, never while the library is loaded or unloaded.
bool SocketLibraryStartup();
void SocketLibraryCleanup();

// True once the process has begun to end. The library then releases nothing:
// on Windows its other threads are gone by then, perhaps while holding its
// locks, and the system reclaims every handle. Always false on posix, where
// the threads still run at exit and are stopped as at an unload.
bool ProcessExiting();

// Manual-reset event. Set wakes every waiter; a waiter does not contend
// with the setter for the event's lock on its way out.
class Event {
 public:
  Event();
  ~Event();
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;
  bool IsValid() const { return impl_ != nullptr; }
  void Set();
  void Reset();
  // True when the event is (or becomes) signalled within the time-out.
  bool Wait(uint32_t timeoutMs);

 private:
  struct Impl;
  Impl* impl_;
};

class Mutex {
 public:
  Mutex();
  ~Mutex();
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;
  void Lock();
  void Unlock();

 private:
  struct Impl;
  Impl* impl_;
};

// Holds a Mutex or a FairMutex for one scope.
template <typename M>
class LockGuard {
 public:
  explicit LockGuard(M& m) : m_(m) { m_.Lock(); }
  ~LockGuard() { m_.Unlock(); }
  LockGuard(const LockGuard&) = delete;
  LockGuard& operator=(const LockGuard&) = delete;

 private:
  M& m_;
};

// A lock that serves its waiters first come, first served.
class FairMutex {
 public:
  FairMutex();
  ~FairMutex();
  FairMutex(const FairMutex&) = delete;
  FairMutex& operator=(const FairMutex&) = delete;
  void Lock();
  void Unlock();

 private:
  struct Impl;
  Impl* impl_;
};

// A thread of the library. On Windows each one holds the library loaded while
// it runs (it lets go as it exits), so unloading the library never waits for
// it and never pulls its code away from under it.
class Thread {
 public:
  typedef uint32_t (*Routine)(void* argument);
  Thread();
  ~Thread();
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;
  bool Start(Routine routine, void* argument);
  bool IsStarted() const { return impl_ != nullptr; }
  // Waits until the routine has returned; true when it has (the handle is
  // then released). On a time-out the thread stays joinable.
  bool Join(uint32_t timeoutMs);

 private:
  struct Impl;
  Impl* impl_;
};

// Ends a thread that stops when woken: wakes it and waits up to a second,
// three times. Should it never end (a thread held up by the system), its
// handle is kept and false returned, so that the caller leaves in place what
// the thread still uses; nothing waits for ever.
template <typename Wake>
bool StopThread(Thread& thread, Wake wake) {
  for (int attempt = 0; attempt < 3 && thread.IsStarted(); ++attempt) {
    wake();
    thread.Join(1000);
  }
  return !thread.IsStarted();
}

class DynamicLibrary {
 public:
  // The file name of a library called base on this system
  // ("libbase.so" on posix, "base.dll" on Windows).
  static void FileName(const char* base, char* out, size_t size);
  DynamicLibrary();
  ~DynamicLibrary();
  DynamicLibrary(const DynamicLibrary&) = delete;
  DynamicLibrary& operator=(const DynamicLibrary&) = delete;
  enum OpenResult { kOpened, kNotFound, kUnusable };
  // Loads the library; kNotFound when no file of that name is found at all,
  // kUnusable (with the system's reason in reason) when one is found but does
  // not load, e.g. for a dependency that is missing.
  OpenResult Open(const char* name, char* reason, size_t reasonSize);
  void* Resolve(const char* symbol) const;
  void Close();
  bool IsOpen() const { return handle_ != nullptr; }
  // Lets go of the library without unloading it: it stays loaded until the
  // process ends.
  void KeepLoaded() { handle_ = nullptr; }

 private:
  void* handle_;
};

// Line-error flags in the Windows CE_* coding.
enum : uint32_t {
  kLineErrorOverrun = 0x0002,  // CE_OVERRUN
  kLineErrorParity = 0x0004,   // CE_RXPARITY
  kLineErrorFrame = 0x0008,    // CE_FRAME
  kLineErrorBreak = 0x0010,    // CE_BREAK
};

// The longest a write of n bytes may take at baud bit/s: twice its wire time
// (10 bits a character) and 100 ms for the system.
inline uint32_t SerialWriteTimeoutMs(uint32_t baud, uint32_t n) {
  const uint32_t perByte = baud ? (20000u + baud - 1) / baud : 20000u;
  return n * perByte + 100u;
}

// A serial port opened for the library's line discipline: raw bytes, 8N1 by
// default, no flow control of any kind, RTS held off, driver queues of 65
// bytes, reads that never block. On posix the device is held exclusively
// (TIOCEXCL and an advisory lock), so a second program cannot share it.
class SerialDevice {
 public:
  SerialDevice();
  ~SerialDevice();
  SerialDevice(const SerialDevice&) = delete;
  SerialDevice& operator=(const SerialDevice&) = delete;

  // name: "COMn" (portNumber n) or, on posix, a device path starting with '/'.
  // parity and stopBits in the Windows DCB coding. False when the device does
  // not open: missing, busy, refused, or a name too long for the system; the
  // system's reason goes to the debug trace.
  bool Open(const char* name, unsigned portNumber, uint32_t baud, uint8_t parity, uint8_t byteSize, uint8_t stopBits);
  void Close();
  bool IsOpen() const;

  enum WaitResult { kInput, kWoken, kFailed, kHungUp };
  // Blocks until bytes are waiting, Wake() is called, or the device fails;
  // kHungUp when the device has gone away (an adapter pulled, the far end
  // of a pseudo-terminal closed): it will not come back while open.
  WaitResult WaitForInput();
  // Blocks until Wake() is called.
  void WaitForWake();
  // Reports and clears line errors (CE_* flags) and gives the bytes waiting;
  // false when the device can no longer be asked (it has gone away).
  bool ClearErrors(uint32_t* errors, uint32_t* inQueue);
  // Reads up to n bytes that are waiting; returns the count or -1.
  int32_t Read(uint8_t* buffer, uint32_t n);
  // Writes n bytes and flushes them to the line; returns the count written or -1.
  int32_t Write(const uint8_t* buffer, uint32_t n);
  // Discards both driver queues.
  void Purge();
  // Discards the input queue only. Not while another thread reads.
  void PurgeInput();
  // Makes a pending or the next WaitForInput (or WaitForWake) return.
  void Wake();

  struct Impl;  // opaque, per system

 private:
  Impl* impl_;
};

// An IPv4 UDP socket connected to one peer, watched for network events.
class UdpSocket {
 public:
  UdpSocket();
  ~UdpSocket();
  UdpSocket(const UdpSocket&) = delete;
  UdpSocket& operator=(const UdpSocket&) = delete;

  bool Create();
  bool IsCreated() const;
  // SO_RCVTIMEO and SO_SNDTIMEO in milliseconds.
  bool SetTimeouts(uint32_t milliseconds);
  bool GetTimeouts(uint32_t* receiveMs, uint32_t* sendMs) const;
  // Non-blocking connect, then waits up to waitSeconds for writability.
  bool Connect(const char* address, uint16_t port, uint32_t waitSeconds);
  // Associates the socket with its event for the watch loop (non-blocking from here on).
  bool Watch();
  int32_t Send(const uint8_t* data, uint32_t n);

  enum ReceiveResult { kReceived, kWouldBlock, kFailed };
  // Receives one datagram of at most capacity bytes without waiting; a larger
  // one is a failure.
  ReceiveResult Receive(uint8_t* buffer, uint32_t capacity, uint32_t* received, int* error);
  // Drops every datagram (and pending error) already queued; at most 64 of them.
  void Discard();
  // Waits up to timeoutMs until a datagram (or an error) can be received; for
  // the thread that receives its own reply. Not woken by Wake().
  bool WaitReadable(uint32_t timeoutMs);

  enum : uint32_t { kEventRead = 1, kEventClose = 2, kEventConnect = 4 };
  enum WaitResult { kEvents, kTimeout, kWoken, kWaitFailed };
  // Waits up to timeoutMs (kWaitForever: no limit) for network events or
  // Wake(); on kEvents *events holds kEvent* flags and *readError the error
  // attached to the read event (0 when none).
  WaitResult WaitEvents(uint32_t timeoutMs, uint32_t* events, int* readError);
  // Makes a pending or the next WaitEvents return kWoken.
  void Wake();
  // Dotted address and host-order port of the peer; false when unknown.
  bool PeerName(char* address, size_t size, uint16_t* port) const;
  void Close();
  // Composes "%s. %s" from text and the platform's message for the last socket error.
  static void FormatLastError(const char* text, char* out, size_t size);

 private:
  struct Impl;
  Impl* impl_;
};

}  // namespace platform
}  // namespace zarn
