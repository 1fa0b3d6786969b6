// win32: time, events, locks, threads, message box, debug trace, dynamic libraries.
#include <winsock2.h>
#include <windows.h>

#include <stdio.h>

#include <new>

#include "platform/platform.h"

namespace zarn {
namespace platform {

uint32_t TickCount() { return static_cast<uint32_t>(GetTickCount()); }
void SleepMs(uint32_t milliseconds) { Sleep(milliseconds); }
void YieldThread() { Sleep(0); }

uint64_t MicroTicks() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<uint64_t>(now.QuadPart / frequency.QuadPart) * 1000000u +
         static_cast<uint64_t>(now.QuadPart % frequency.QuadPart) * 1000000u /
             static_cast<uint64_t>(frequency.QuadPart);
}

void SleepMicros(uint32_t microseconds) { Sleep((microseconds + 999u) / 1000u); }

void ShowNativeMessageBox(const char* text) { MessageBoxA(nullptr, text, "zarn", MB_OK | MB_APPLMODAL); }
void NativeDebugTrace(const char* text) { OutputDebugStringA(text); }

bool AnsiToUtf16(const char* text, uint16_t* out, size_t capacity) {
  int n = MultiByteToWideChar(CP_THREAD_ACP, 0, text, -1, reinterpret_cast<wchar_t*>(out), static_cast<int>(capacity));
  return n > 0;
}

bool SocketLibraryStartup() {
  WSADATA data;
  return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}
void SocketLibraryCleanup() { WSACleanup(); }

// ---------------------------------------------------------------- Event
struct Event::Impl {
  HANDLE handle;
};

Event::Event() : impl_(nullptr) {
  HANDLE h = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (h) impl_ = new (std::nothrow) Impl{h};
  if (h && !impl_) CloseHandle(h);
}
Event::~Event() {
  if (!impl_) return;
  CloseHandle(impl_->handle);
  delete impl_;
}
void Event::Set() {
  if (impl_) SetEvent(impl_->handle);
}
void Event::Reset() {
  if (impl_) ResetEvent(impl_->handle);
}
bool Event::Wait(uint32_t timeoutMs) { return impl_ && WaitForSingleObject(impl_->handle, timeoutMs) == WAIT_OBJECT_0; }

// ---------------------------------------------------------------- Mutex
struct Mutex::Impl {
  CRITICAL_SECTION section;
};
Mutex::Mutex() : impl_(new Impl) { InitializeCriticalSection(&impl_->section); }
Mutex::~Mutex() {
  DeleteCriticalSection(&impl_->section);
  delete impl_;
}
void Mutex::Lock() { EnterCriticalSection(&impl_->section); }
void Mutex::Unlock() { LeaveCriticalSection(&impl_->section); }

// ---------------------------------------------------------------- FairMutex
// A ticket lock: each caller draws a number and waits until it is served.
struct FairMutex::Impl {
  CRITICAL_SECTION section;
  CONDITION_VARIABLE turn;
  uint64_t next;
  uint64_t serving;
};
FairMutex::FairMutex() : impl_(new Impl) {
  InitializeCriticalSection(&impl_->section);
  InitializeConditionVariable(&impl_->turn);
  impl_->next = impl_->serving = 0;
}
FairMutex::~FairMutex() {
  DeleteCriticalSection(&impl_->section);
  delete impl_;
}
void FairMutex::Lock() {
  EnterCriticalSection(&impl_->section);
  const uint64_t ticket = impl_->next++;
  while (ticket != impl_->serving) SleepConditionVariableCS(&impl_->turn, &impl_->section, INFINITE);
  LeaveCriticalSection(&impl_->section);
}
void FairMutex::Unlock() {
  EnterCriticalSection(&impl_->section);
  ++impl_->serving;
  const bool waiting = impl_->next != impl_->serving;
  LeaveCriticalSection(&impl_->section);
  if (waiting) WakeAllConditionVariable(&impl_->turn);
}

// ---------------------------------------------------------------- Thread
struct Thread::Impl {
  HANDLE handle;
};

namespace {
struct StartBlock {
  Thread::Routine routine;
  void* argument;
};
DWORD WINAPI Trampoline(LPVOID p) {
  StartBlock block = *static_cast<StartBlock*>(p);
  delete static_cast<StartBlock*>(p);
  return block.routine(block.argument);
}
}  // namespace

Thread::Thread() : impl_(nullptr) {}
Thread::~Thread() {
  if (impl_) {
    CloseHandle(impl_->handle);
    delete impl_;
  }
}

bool Thread::Start(Routine routine, void* argument) {
  if (impl_) return false;
  StartBlock* block = new (std::nothrow) StartBlock{routine, argument};
  if (!block) return false;
  HANDLE h = CreateThread(nullptr, 0, Trampoline, block, 0, nullptr);
  if (!h) {
    delete block;
    return false;
  }
  impl_ = new (std::nothrow) Impl{h};
  if (!impl_) {
    CloseHandle(h);
    return false;
  }
  return true;
}

bool Thread::Join(uint32_t timeoutMs) {
  if (!impl_) return true;
  if (WaitForSingleObject(impl_->handle, timeoutMs) != WAIT_OBJECT_0) return false;
  CloseHandle(impl_->handle);
  delete impl_;
  impl_ = nullptr;
  return true;
}

// ---------------------------------------------------------------- DynamicLibrary
void DynamicLibrary::FileName(const char* base, char* out, size_t size) { snprintf(out, size, "%s.dll", base); }

DynamicLibrary::DynamicLibrary() : handle_(nullptr) {}
DynamicLibrary::~DynamicLibrary() { Close(); }
DynamicLibrary::OpenResult DynamicLibrary::Open(const char* name, char* reason, size_t reasonSize) {
  Close();
  if (reasonSize) reason[0] = '\0';
  handle_ = reinterpret_cast<void*>(LoadLibraryA(name));
  if (handle_) return kOpened;
  const DWORD error = GetLastError();
  char message[256] = "";
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                 MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), message, sizeof message, nullptr);
  snprintf(reason, reasonSize, "%s: error %lu %s", name, static_cast<unsigned long>(error), message);
  // "Module not found" also stands for a missing dependency: the library
  // itself is missing only when the search finds no file of its name.
  if (error != ERROR_MOD_NOT_FOUND) return kUnusable;
  char found[MAX_PATH];
  return SearchPathA(nullptr, name, nullptr, sizeof found, found, nullptr) == 0 ? kNotFound : kUnusable;
}
void* DynamicLibrary::Resolve(const char* symbol) const {
  return handle_ ? reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), symbol)) : nullptr;
}
void DynamicLibrary::Close() {
  if (handle_) FreeLibrary(static_cast<HMODULE>(handle_));
  handle_ = nullptr;
}

}  // namespace platform
}  // namespace zarn
