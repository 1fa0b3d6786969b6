// The library's process-wide state, built when the library is loaded.
#pragma once

#include <atomic>
#include <cstdint>

#include "core/packet.h"
#include "ethernet/meiethernet.h"
#include "platform/platform.h"
#include "serial/meiserial.h"

namespace zarn {

constexpr int kEthernetSlotCount = 32;
constexpr size_t kSetupFileSize = 256;

// The application object: its construction is the library's start-up hook,
// its destruction the shut-down hook.
class CZARNApp {
 public:
  CZARNApp();
  ~CZARNApp();
  bool started() const { return started_; }

 private:
  bool started_;
};

struct LibraryState {
  // Plain data first: it is in place before any object below is built.
  char errorText[256] = {};
  std::atomic<int32_t> lastError{0};
  std::atomic<uint8_t> lastConnectionKind{0};
  std::atomic<uint8_t> connectionTable[256] = {};
  std::atomic<int32_t> socketTimeout{0};
  std::atomic<int32_t> connectTimeout{0};
  // Ethernet opens and closes, with the master's bring-up and stop, one at a time.
  platform::Mutex ethernetCloseLock;

  // Objects, built in this order at load and destroyed in reverse.
  CMeiSerial serialClient;
  CMeiEthernet ethernetSlots[kEthernetSlotCount];
  char eoeSetupFile[kSetupFileSize] = {};
  CZARNApp app;
};

LibraryState& State();

// Resets the connection table, the error text and the time-outs (3 ms, 1 s).
int32_t LibraryInit();

inline void SetLastError(int32_t code) { State().lastError.store(code, std::memory_order_relaxed); }
// Records code as the last error and returns it: how an export ends with a code.
inline int32_t Record(int32_t code) {
  SetLastError(code);
  return code;
}
inline uint8_t ConnectionOf(uint8_t driveId) { return State().connectionTable[driveId].load(); }
inline void SetConnection(uint8_t driveId, uint8_t kind) { State().connectionTable[driveId].store(kind); }

// The message of a code; "Unknown Error." outside the table.
const char* ErrorMessage(int32_t code);

}  // namespace zarn
