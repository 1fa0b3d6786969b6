#include "ethernet/ethercat.h"

#include "platform/platform.h"
#include "zarn/zarn.h"

namespace zarn {

namespace {

typedef int32_t(ZARN_CALL* InitKernelFn)(const uint16_t* const*, int32_t*);
typedef int32_t(ZARN_CALL* GetOnlineModeFn)();
typedef int32_t(ZARN_CALL* SetOnlineModeFn)(int32_t);
typedef int32_t(ZARN_CALL* StopFn)();

constexpr int32_t kDirectIpOnlineMode = 2;

struct Binding {
  platform::Mutex lock;
  bool loaded = false;
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
  if (b.library.Open(name)) {
    b.initKernel = reinterpret_cast<InitKernelFn>(b.library.Resolve("RMC_InitKernel"));
    b.getOnlineMode = reinterpret_cast<GetOnlineModeFn>(b.library.Resolve("RMC_GetOnlineMode"));
    b.setOnlineMode = reinterpret_cast<SetOnlineModeFn>(b.library.Resolve("RMC_SetOnlineMode"));
    b.stop = reinterpret_cast<StopFn>(b.library.Resolve("RMC_Stop"));
    if (b.initKernel && b.getOnlineMode && b.setOnlineMode && b.stop) return;
    platform::DebugTrace("ethercat: API_EtherCAT lacks an RMC_ entry point; using the built-in direct-IP master");
    b.library.Close();
    b.initKernel = nullptr;
    b.getOnlineMode = nullptr;
    b.setOnlineMode = nullptr;
    b.stop = nullptr;
    return;
  }
  platform::DebugTrace("ethercat: API_EtherCAT not found; using the built-in direct-IP master (online mode 2)");
}

bool EtherCatMaster::IsDirectIp() {
  Load();
  return TheBinding().getOnlineMode == nullptr;
}

int32_t EtherCatMaster::GetOnlineMode() {
  Load();
  GetOnlineModeFn f = TheBinding().getOnlineMode;
  return f ? f() : kDirectIpOnlineMode;
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
}

}  // namespace zarn
