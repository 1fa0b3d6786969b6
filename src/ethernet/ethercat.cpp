#include "ethernet/ethercat.h"

#include <cstdio>

#include "platform/platform.h"
#include "zarn/zarn.h"

namespace zarn {

namespace {

typedef int32_t(ZARN_CALL* InitKernelFn)(const uint16_t* const*, int32_t*);
typedef int32_t(ZARN_CALL* GetOnlineModeFn)();
typedef int32_t(ZARN_CALL* SetOnlineModeFn)(int32_t);
typedef int32_t(ZARN_CALL* StopFn)();

constexpr int32_t kDirectIpOnlineMode = 2;
constexpr int32_t kBrokenOnlineMode = 0;

struct Binding {
  platform::Mutex lock;
  bool loaded = false;
  bool broken = false;
  char reason[400] = "";
  platform::DynamicLibrary library;
  InitKernelFn initKernel = nullptr;
  GetOnlineModeFn getOnlineMode = nullptr;
  SetOnlineModeFn setOnlineMode = nullptr;
  StopFn stop = nullptr;
  // Once loaded, the master library stays loaded until the process ends.
  // Unloading it with ours would run its own unload under the system's
  // loader lock, where a master that waits for its threads hangs.
  ~Binding() { library.KeepLoaded(); }
};

Binding& TheBinding() {
  static Binding binding;
  return binding;
}

}  // namespace

EtherCatMaster& EtherCatMaster::Instance() {
  static EtherCatMaster master;
  return master;
}

void EtherCatMaster::Load() {
  Binding& b = TheBinding();
  platform::LockGuard guard(b.lock);
  if (b.loaded) return;
  b.loaded = true;
  char name[64];
  platform::DynamicLibrary::FileName("API_EtherCAT", name, sizeof name);
  char why[300];
  switch (b.library.Open(name, why, sizeof why)) {
    case platform::DynamicLibrary::kNotFound:
      platform::DebugTrace("ethercat: API_EtherCAT not found; using the built-in direct-IP master (online mode 2)");
      return;
    case platform::DynamicLibrary::kUnusable:
      b.broken = true;
      snprintf(b.reason, sizeof b.reason, "%s does not load: %s", name, why);
      break;
    case platform::DynamicLibrary::kOpened: {
      b.initKernel = reinterpret_cast<InitKernelFn>(b.library.Resolve("RMC_InitKernel"));
      b.getOnlineMode = reinterpret_cast<GetOnlineModeFn>(b.library.Resolve("RMC_GetOnlineMode"));
      b.setOnlineMode = reinterpret_cast<SetOnlineModeFn>(b.library.Resolve("RMC_SetOnlineMode"));
      b.stop = reinterpret_cast<StopFn>(b.library.Resolve("RMC_Stop"));
      const char* missing = !b.initKernel      ? "RMC_InitKernel"
                            : !b.getOnlineMode ? "RMC_GetOnlineMode"
                            : !b.setOnlineMode ? "RMC_SetOnlineMode"
                            : !b.stop          ? "RMC_Stop"
                                               : nullptr;
      if (!missing) return;
      b.broken = true;
      snprintf(b.reason, sizeof b.reason, "%s has no entry point %s", name, missing);
      b.library.Close();
      b.initKernel = nullptr;
      b.getOnlineMode = nullptr;
      b.setOnlineMode = nullptr;
      b.stop = nullptr;
      break;
    }
  }
  char text[480];
  snprintf(text, sizeof text, "ethercat: the master cannot be used: %s", b.reason);
  platform::DebugTrace(text);
}

bool EtherCatMaster::IsDirectIp() {
  Load();
  return TheBinding().getOnlineMode == nullptr && !TheBinding().broken;
}

bool EtherCatMaster::IsBroken(const char** reason) {
  Load();
  *reason = TheBinding().reason;
  return TheBinding().broken;
}

int32_t EtherCatMaster::GetOnlineMode() {
  Load();
  GetOnlineModeFn f = TheBinding().getOnlineMode;
  if (f) return f();
  return TheBinding().broken ? kBrokenOnlineMode : kDirectIpOnlineMode;
}

int32_t EtherCatMaster::InitKernel(const uint16_t* const* path, int32_t* slaveCount) {
  Load();
  InitKernelFn f = TheBinding().initKernel;
  return f ? f(path, slaveCount) : 0;
}

int32_t EtherCatMaster::SetOnlineMode(int32_t mode) {
  Load();
  SetOnlineModeFn f = TheBinding().setOnlineMode;
  return f ? f(mode) : 0;
}

void EtherCatMaster::Stop() {
  Load();
  StopFn f = TheBinding().stop;
  if (f) f();
}

void EtherCatMaster::Unload() {
  Binding& b = TheBinding();
  platform::LockGuard guard(b.lock);
  b.library.Close();
  b.initKernel = nullptr;
  b.getOnlineMode = nullptr;
  b.setOnlineMode = nullptr;
  b.stop = nullptr;
  b.loaded = false;
  b.broken = false;
  b.reason[0] = '\0';
}

}  // namespace zarn
