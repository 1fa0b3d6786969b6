#pragma once
#include <cstdint>

struct FakeEtherCatState {
  int32_t mode = 0;           // what RMC_GetOnlineMode answers
  int32_t initResult = 0;     // what RMC_InitKernel answers
  int32_t setModeResult = 0;  // what RMC_SetOnlineMode answers
  int32_t modeAfterSet = 2;   // the mode reached once RMC_SetOnlineMode accepted
  int initCalls = 0, getModeCalls = 0, setModeCalls = 0, stopCalls = 0;
  int32_t requestedMode = -1;
  bool slaveCountWasZero = false;
  uint16_t initPath[256] = {};
};

extern "C" FakeEtherCatState* FakeEtherCat();
