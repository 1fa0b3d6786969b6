// CUtilityMOX's named shared memory on Windows (file mappings backed by the
// paging file) and the named mutex of its shared blocks.
#include <windows.h>

#include <string>

#include "utility/os.h"
#include "zarn/utilitymox.h"

namespace zarn {

utility::NamedLock::NamedLock(const std::string& name) {
  HANDLE m = CreateMutexA(nullptr, FALSE, name.c_str());
  if (!m) return;
  handle_ = m;
  // An abandoned mutex (its holder ended) is owned all the same.
  const DWORD r = WaitForSingleObject(m, 5000);
  owned_ = r == WAIT_OBJECT_0 || r == WAIT_ABANDONED;
}

utility::NamedLock::~NamedLock() {
  if (!handle_) return;
  if (owned_) ReleaseMutex(static_cast<HANDLE>(handle_));
  CloseHandle(static_cast<HANDLE>(handle_));
}

void* CUtilityMOX::CreateSharedMemory(UtilityHandle* handle, uint32_t size, const char* name) {
  if (!handle || !name) return nullptr;
  HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, size, name);
  if (!mapping) return nullptr;
  void* view = MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0);
  if (!view) {
    CloseHandle(mapping);
    return nullptr;
  }
  *handle = mapping;
  mapping_ = mapping;
  return view;
}

bool CUtilityMOX::OpenSharedMemory(UtilityHandle* handle, void** view, const char* name) {
  if (!handle || !view || !name) return false;
  HANDLE mapping = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, name);
  if (!mapping) return false;
  void* v = MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0);
  if (!v) {
    CloseHandle(mapping);
    return false;
  }
  *handle = mapping;
  *view = v;
  mapping_ = mapping;
  return true;
}

void CUtilityMOX::CloseSharedMemory(UtilityHandle* handle, void* view) {
  if (view) UnmapViewOfFile(view);
  if (handle && *handle) {
    CloseHandle(static_cast<HANDLE>(*handle));
    if (mapping_ == *handle) mapping_ = nullptr;
    *handle = nullptr;
  }
}

}  // namespace zarn
