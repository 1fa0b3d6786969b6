// win32: time, events, locks, threads, message box, debug trace, dynamic libraries.
#include <winsock2.h>
#include <windows.h>

#include <stdio.h>

#include <atomic>
#include <new>

#include "platform/platform.h"

namespace zarn {
namespace platform {

uint32_t TickCount() { return static_cast<uint32_t>(GetTickCount()); }
void SleepMs(uint32_t milliseconds) { Sleep(milliseconds); }
void YieldThread() { Sleep(0); }

void ShowNativeMessageBox(const char* text) { MessageBoxA(nullptr, text, "zarn", MB_OK | MB_APPLMODAL); }
void DebugTrace(const char* text) { OutputDebugStringA(text); }

bool FileNameToUtf16(const char* name, uint16_t* out, size_t capacity) {
  // CreateFileA reads the name in this code page, whatever the thread's locale.
  const UINT codePage = AreFileApisANSI() ? CP_ACP : CP_OEMCP;
  int n = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, name, -1, reinterpret_cast<wchar_t*>(out),
                              static_cast<int>(capacity));
  return n > 0;
}

namespace {
SRWLOCK g_socketLibraryLock = SRWLOCK_INIT;  // no constructor: usable before and after static objects
int g_socketLibraryUses = 0;
std::atomic<bool> g_processExiting{false};
}  // namespace

bool SocketLibraryStartup() {
  AcquireSRWLockExclusive(&g_socketLibraryLock);
  bool ok = true;
  if (g_socketLibraryUses == 0) {
    WSADATA data;
    ok = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }
  if (ok) ++g_socketLibraryUses;
  ReleaseSRWLockExclusive(&g_socketLibraryLock);
  return ok;
}

void SocketLibraryCleanup() {
  AcquireSRWLockExclusive(&g_socketLibraryLock);
  if (g_socketLibraryUses > 0 && --g_socketLibraryUses == 0) WSACleanup();
  ReleaseSRWLockExclusive(&g_socketLibraryLock);
}

bool ProcessExiting() { return g_processExiting.load(); }
// Called by the DLL entry when the process detaches the library as it ends.
void NoteProcessExit() { g_processExiting.store(true); }

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
// Each thread holds a reference to the module its code is in and gives it
// back with FreeLibraryAndExitThread, so the module stays mapped until the
// thread has left it. Its routine returning is signalled on an event of its
// own: a thread that has returned and waits to exit (at an unload it cannot
// exit before the loader lock is free) counts as ended.
struct Thread::Impl {
  HANDLE handle;
  HANDLE returned;
};

namespace {
struct StartBlock {
  Thread::Routine routine;
  void* argument;
  HANDLE returned;  // the thread's own duplicate, closed by the thread
  HMODULE module;
};

DWORD WINAPI Trampoline(LPVOID p) {
  StartBlock block = *static_cast<StartBlock*>(p);
  delete static_cast<StartBlock*>(p);
  const DWORD code = block.routine(block.argument);
  SetEvent(block.returned);
  CloseHandle(block.returned);
  FreeLibraryAndExitThread(block.module, code);
}

void CloseAll(HANDLE a, HANDLE b) {
  if (a) CloseHandle(a);
  if (b) CloseHandle(b);
}
}  // namespace

Thread::Thread() : impl_(nullptr) {}
Thread::~Thread() {
  if (impl_) {
    CloseAll(impl_->handle, impl_->returned);
    delete impl_;
  }
}

bool Thread::Start(Routine routine, void* argument) {
  if (impl_) return false;
  Impl* impl = new (std::nothrow) Impl{nullptr, CreateEventA(nullptr, TRUE, FALSE, nullptr)};
  StartBlock* block = new (std::nothrow) StartBlock{routine, argument, nullptr, nullptr};
  HANDLE process = GetCurrentProcess();
  bool ready = impl && block && impl->returned &&
               DuplicateHandle(process, impl->returned, process, &block->returned, 0, FALSE, DUPLICATE_SAME_ACCESS) &&
               GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&Trampoline),
                                  &block->module);
  if (ready) impl->handle = CreateThread(nullptr, 0, Trampoline, block, 0, nullptr);
  if (ready && impl->handle) {
    impl_ = impl;
    return true;
  }
  if (block) {
    if (block->module) FreeLibrary(block->module);
    CloseAll(block->returned, nullptr);
    delete block;
  }
  if (impl) {
    CloseAll(impl->returned, nullptr);
    delete impl;
  }
  return false;
}

bool Thread::Join(uint32_t timeoutMs) {
  if (!impl_) return true;
  // Either the routine has returned, or the thread is gone without returning
  // (ended by the system).
  HANDLE ends[2] = {impl_->returned, impl_->handle};
  const DWORD r = WaitForMultipleObjects(2, ends, FALSE, timeoutMs);
  if (r != WAIT_OBJECT_0 && r != WAIT_OBJECT_0 + 1) return false;
  CloseAll(impl_->handle, impl_->returned);
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
