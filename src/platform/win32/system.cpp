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

void ShowNativeMessageBox(const char* text) { MessageBoxA(nullptr, text, "zarn", MB_OK | MB_APPLMODAL); }
void DebugTrace(const char* text) { OutputDebugStringA(text); }

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
bool DynamicLibrary::Open(const char* name) {
  Close();
  handle_ = reinterpret_cast<void*>(LoadLibraryA(name));
  return handle_ != nullptr;
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
