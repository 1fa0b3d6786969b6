// CUtilityMOX's named shared memory on POSIX systems (shm_open and mmap) and
// the lock of its shared blocks: an flock on a shared-memory object of the
// lock's name, which the system releases when its holder ends.
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "utility/os.h"
#include "zarn/utilitymox.h"

namespace zarn {

namespace {

constexpr int kLockWaitMs = 5000;

// What a handle stands for: the object, the view mapped through it and its
// size (the object may grow later), and whether this handle created the name.
struct SharedMapping {
  int fd;
  void* view;
  size_t size;
  bool creator;
  std::string name;
};

// A shared-memory name: one leading '/', no other '/' or '\'.
std::string ObjectName(const char* name) {
  std::string n = "/";
  for (const char* p = name; *p; ++p) n += (*p == '/' || *p == '\\') ? '_' : *p;
  return n;
}

UtilityHandle Keep(int fd, void* view, size_t size, bool creator, const std::string& name) {
  return new SharedMapping{fd, view, size, creator, name};
}

}  // namespace

utility::NamedLock::NamedLock(const std::string& name) {
  const int fd = shm_open(ObjectName(name.c_str()).c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0600);
  if (fd < 0) return;
  handle_ = reinterpret_cast<void*>(static_cast<intptr_t>(fd) + 1);
  // Each lock opens the object anew, so threads of one process exclude each other too.
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  const int64_t deadline = now.tv_sec * 1000LL + now.tv_nsec / 1000000 + kLockWaitMs;
  const timespec pause = {0, 1000000};
  while (!(owned_ = flock(fd, LOCK_EX | LOCK_NB) == 0)) {
    clock_gettime(CLOCK_MONOTONIC, &now);
    if (now.tv_sec * 1000LL + now.tv_nsec / 1000000 >= deadline) break;
    nanosleep(&pause, nullptr);
  }
}

utility::NamedLock::~NamedLock() {
  if (handle_) close(static_cast<int>(reinterpret_cast<intptr_t>(handle_) - 1));  // releases the lock
}

// The handle that made the name removes it when it is closed; views mapped
// until then stay valid, and later opens of the name fail.
void* CUtilityMOX::CreateSharedMemory(UtilityHandle* handle, uint32_t size, const char* name) {
  if (!handle || !name || size == 0) return nullptr;
  const std::string object = ObjectName(name);
  bool creator = true;
  int fd = shm_open(object.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0600);
  if (fd < 0 && errno == EEXIST) {
    creator = false;
    fd = shm_open(object.c_str(), O_RDWR | O_CLOEXEC, 0);
  }
  if (fd < 0) return nullptr;
  struct stat st;
  void* view = MAP_FAILED;
  if (fstat(fd, &st) == 0 && (st.st_size >= static_cast<off_t>(size) || ftruncate(fd, size) == 0))
    view = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (view == MAP_FAILED) {
    close(fd);
    if (creator) shm_unlink(object.c_str());
    return nullptr;
  }
  *handle = Keep(fd, view, size, creator, object);
  mapping_ = *handle;
  return view;
}

bool CUtilityMOX::OpenSharedMemory(UtilityHandle* handle, void** view, const char* name) {
  if (!handle || !view || !name) return false;
  const std::string object = ObjectName(name);
  const int fd = shm_open(object.c_str(), O_RDWR | O_CLOEXEC, 0);
  if (fd < 0) return false;
  struct stat st;
  void* v = MAP_FAILED;
  if (fstat(fd, &st) == 0 && st.st_size > 0)
    v = mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (v == MAP_FAILED) {
    close(fd);
    return false;
  }
  *handle = Keep(fd, v, static_cast<size_t>(st.st_size), false, object);
  *view = v;
  mapping_ = *handle;
  return true;
}

void CUtilityMOX::CloseSharedMemory(UtilityHandle* handle, void* view) {
  if (!handle || !*handle) return;
  SharedMapping* mapping = static_cast<SharedMapping*>(*handle);
  if (view && view == mapping->view) munmap(view, mapping->size);  // the size it was mapped with
  close(mapping->fd);
  if (mapping->creator) shm_unlink(mapping->name.c_str());
  if (mapping_ == *handle) mapping_ = nullptr;
  *handle = nullptr;
  delete mapping;
}

}  // namespace zarn
