// A stand-in for the closed EtherCAT master library, built as
// libAPI_EtherCAT.so for the tests. Its answers are set by the test through
// FakeEtherCat(); it records what the library called.
#include <atomic>
#include <cstdint>
#include <cstring>

#include "fake_ethercat.h"

namespace {
FakeEtherCatState g_state;
}

extern "C" {

FakeEtherCatState* FakeEtherCat() { return &g_state; }

int32_t RMC_InitKernel(const uint16_t* const* path, int32_t* slaveCount) {
  g_state.initCalls++;
  memset(g_state.initPath, 0, sizeof g_state.initPath);
  if (path && *path) {
    for (int i = 0; i < 255 && (*path)[i]; ++i) g_state.initPath[i] = (*path)[i];
  }
  g_state.slaveCountWasZero = slaveCount && *slaveCount == 0;
  if (slaveCount) *slaveCount = 3;
  return g_state.initResult;
}

int32_t RMC_GetOnlineMode() {
  g_state.getModeCalls++;
  return g_state.mode;
}

int32_t RMC_SetOnlineMode(int32_t mode) {
  g_state.setModeCalls++;
  g_state.requestedMode = mode;
  if (g_state.setModeResult == 0 || g_state.setModeResult == 1) g_state.mode = g_state.modeAfterSet;
  return g_state.setModeResult;
}

#ifndef ZARN_FAKE_WITHOUT_STOP  // a broken variant of the master lacks this entry point
int32_t RMC_Stop() {
  g_state.stopCalls++;
  g_state.mode = 0;
  return 0;
}
#endif

#ifdef ZARN_FAKE_WITH_DEPENDENCY  // a variant that needs a library that is not there
int32_t GoneDependency();
int32_t RMC_Extra() { return GoneDependency(); }
#endif

}  // extern "C"
