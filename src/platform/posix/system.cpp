// posix: time, events, locks, threads, message box, debug trace, dynamic libraries.
#include <dlfcn.h>
#include <errno.h>
#include <pthread.h>
#include <sched.h>
#include <stdio.h>
#include <string.h>
#include <syslog.h>
#include <time.h>

#include <new>

#include "platform/platform.h"

namespace zarn {
namespace platform {

uint32_t TickCount() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u);
}

void SleepMs(uint32_t milliseconds) {
  timespec ts;
  ts.tv_sec = milliseconds / 1000u;
  ts.tv_nsec = static_cast<long>(milliseconds % 1000u) * 1000000L;
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

void YieldThread() { sched_yield(); }

uint64_t MicroTicks() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000000u + static_cast<uint64_t>(ts.tv_nsec) / 1000u;
}

void SleepMicros(uint32_t microseconds) {
  timespec ts;
  ts.tv_sec = microseconds / 1000000u;
  ts.tv_nsec = static_cast<long>(microseconds % 1000000u) * 1000L;
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

void ShowNativeMessageBox(const char* text) { fprintf(stderr, "zarn: %s\n", text); }

void NativeDebugTrace(const char* text) { syslog(LOG_DEBUG, "zarn: %s", text); }

bool FileNameToUtf16(const char* name, uint16_t* out, size_t capacity) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(name);
  size_t n = 0;
  while (*p) {
    uint32_t c = *p++;
    int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
    if ((c >= 0x80 && c < 0xC0) || c > 0xF4) return false;  // not the start of a UTF-8 sequence
    if (extra) c &= 0x3Fu >> extra;
    for (; extra > 0 && (*p & 0xC0) == 0x80; --extra) c = (c << 6) | (*p++ & 0x3Fu);
    if (extra > 0 || c > 0x10FFFF) return false;  // a broken sequence names no file
    if (c >= 0x10000) {
      if (n + 2 >= capacity) return false;
      c -= 0x10000;
      out[n++] = static_cast<uint16_t>(0xD800 | (c >> 10));
      out[n++] = static_cast<uint16_t>(0xDC00 | (c & 0x3FF));
    } else {
      if (n + 1 >= capacity) return false;
      out[n++] = static_cast<uint16_t>(c);
    }
  }
  if (n >= capacity) return false;
  out[n] = 0;
  return true;
}

bool SocketLibraryStartup() { return true; }
void SocketLibraryCleanup() {}
bool ProcessExiting() { return false; }

namespace {
// The time timeoutMs from now on the given clock, for the timed waits.
timespec Deadline(clockid_t clock, uint32_t timeoutMs) {
  timespec t;
  clock_gettime(clock, &t);
  t.tv_sec += timeoutMs / 1000u;
  t.tv_nsec += static_cast<long>(timeoutMs % 1000u) * 1000000L;
  if (t.tv_nsec >= 1000000000L) {
    t.tv_sec += 1;
    t.tv_nsec -= 1000000000L;
  }
  return t;
}
}  // namespace

// ---------------------------------------------------------------- Event
struct Event::Impl {
  pthread_mutex_t mutex;
  pthread_cond_t cond;
  bool signalled;
};

Event::Event() : impl_(new (std::nothrow) Impl) {
  if (!impl_) return;
  pthread_mutex_init(&impl_->mutex, nullptr);
  pthread_condattr_t attr;
  pthread_condattr_init(&attr);
  pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
  pthread_cond_init(&impl_->cond, &attr);
  pthread_condattr_destroy(&attr);
  impl_->signalled = false;
}

Event::~Event() {
  if (!impl_) return;
  pthread_cond_destroy(&impl_->cond);
  pthread_mutex_destroy(&impl_->mutex);
  delete impl_;
}

void Event::Set() {
  if (!impl_) return;
  pthread_mutex_lock(&impl_->mutex);
  impl_->signalled = true;
  pthread_mutex_unlock(&impl_->mutex);
  // Outside the lock: a woken waiter does not block again on the setter's lock.
  pthread_cond_broadcast(&impl_->cond);
}

void Event::Reset() {
  if (!impl_) return;
  pthread_mutex_lock(&impl_->mutex);
  impl_->signalled = false;
  pthread_mutex_unlock(&impl_->mutex);
}

bool Event::Wait(uint32_t timeoutMs) {
  if (!impl_) return false;
  const timespec deadline = Deadline(CLOCK_MONOTONIC, timeoutMs);
  pthread_mutex_lock(&impl_->mutex);
  while (!impl_->signalled) {
    if (pthread_cond_timedwait(&impl_->cond, &impl_->mutex, &deadline) == ETIMEDOUT) break;
  }
  bool signalled = impl_->signalled;
  pthread_mutex_unlock(&impl_->mutex);
  return signalled;
}

// ---------------------------------------------------------------- Mutex
struct Mutex::Impl {
  pthread_mutex_t mutex;
};

Mutex::Mutex() : impl_(new Impl) { pthread_mutex_init(&impl_->mutex, nullptr); }
Mutex::~Mutex() {
  pthread_mutex_destroy(&impl_->mutex);
  delete impl_;
}
void Mutex::Lock() { pthread_mutex_lock(&impl_->mutex); }
void Mutex::Unlock() { pthread_mutex_unlock(&impl_->mutex); }

// ---------------------------------------------------------------- FairMutex
// A ticket lock: each caller draws a number and waits until it is served.
struct FairMutex::Impl {
  pthread_mutex_t mutex;
  pthread_cond_t turn;
  uint64_t next = 0;
  uint64_t serving = 0;
};

FairMutex::FairMutex() : impl_(new Impl) {
  pthread_mutex_init(&impl_->mutex, nullptr);
  pthread_cond_init(&impl_->turn, nullptr);
}
FairMutex::~FairMutex() {
  pthread_cond_destroy(&impl_->turn);
  pthread_mutex_destroy(&impl_->mutex);
  delete impl_;
}
void FairMutex::Lock() {
  pthread_mutex_lock(&impl_->mutex);
  const uint64_t ticket = impl_->next++;
  while (ticket != impl_->serving) pthread_cond_wait(&impl_->turn, &impl_->mutex);
  pthread_mutex_unlock(&impl_->mutex);
}
void FairMutex::Unlock() {
  pthread_mutex_lock(&impl_->mutex);
  ++impl_->serving;
  const bool waiting = impl_->next != impl_->serving;
  pthread_mutex_unlock(&impl_->mutex);
  if (waiting) pthread_cond_broadcast(&impl_->turn);
}

// ---------------------------------------------------------------- Thread
struct Thread::Impl {
  pthread_t thread;
};

namespace {
struct StartBlock {
  Thread::Routine routine;
  void* argument;
};

void* Trampoline(void* p) {
  StartBlock block = *static_cast<StartBlock*>(p);
  delete static_cast<StartBlock*>(p);
  block.routine(block.argument);
  return nullptr;
}
}  // namespace

Thread::Thread() : impl_(nullptr) {}

Thread::~Thread() {
  if (impl_) {
    pthread_detach(impl_->thread);
    delete impl_;
  }
}

bool Thread::Start(Routine routine, void* argument) {
  if (impl_) return false;
  StartBlock* block = new (std::nothrow) StartBlock{routine, argument};
  Impl* impl = new (std::nothrow) Impl;
  if (!block || !impl || pthread_create(&impl->thread, nullptr, Trampoline, block) != 0) {
    delete block;
    delete impl;
    return false;
  }
  impl_ = impl;
  return true;
}

bool Thread::Join(uint32_t timeoutMs) {
  if (!impl_) return true;
  const timespec deadline = Deadline(CLOCK_REALTIME, timeoutMs);
  if (pthread_timedjoin_np(impl_->thread, nullptr, &deadline) != 0) return false;
  delete impl_;
  impl_ = nullptr;
  return true;
}

// ---------------------------------------------------------------- DynamicLibrary
void DynamicLibrary::FileName(const char* base, char* out, size_t size) { snprintf(out, size, "lib%s.so", base); }

DynamicLibrary::DynamicLibrary() : handle_(nullptr) {}
DynamicLibrary::~DynamicLibrary() { Close(); }

DynamicLibrary::OpenResult DynamicLibrary::Open(const char* name, char* reason, size_t reasonSize) {
  Close();
  if (reasonSize) reason[0] = '\0';
  handle_ = dlopen(name, RTLD_NOW | RTLD_LOCAL);
  if (handle_) return kOpened;
  const char* error = dlerror();
  if (!error) error = "unknown reason";
  snprintf(reason, reasonSize, "%s", error);
  // The loader names the file it could not find: this library itself when
  // there is none at all, else a dependency of one that exists.
  char missing[320];
  snprintf(missing, sizeof missing, "%s: cannot open shared object file: No such file or directory", name);
  return strcmp(error, missing) == 0 ? kNotFound : kUnusable;
}

void* DynamicLibrary::Resolve(const char* symbol) const { return handle_ ? dlsym(handle_, symbol) : nullptr; }

void DynamicLibrary::Close() {
  if (handle_) dlclose(handle_);
  handle_ = nullptr;
}

}  // namespace platform
}  // namespace zarn
