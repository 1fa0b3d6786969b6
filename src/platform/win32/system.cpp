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
