// Binding to the EtherCAT master API_EtherCAT, a closed library the library
// only calls. It is loaded at first use; only when no such library exists at
// all does a built-in direct-IP master stand in (online mode 2 always: drives
// reachable directly by IP). One that exists but cannot be used (it does not
// load, or lacks an entry point) is reported as broken, and reads offline.
#pragma once

#include <cstdint>

namespace zarn {

class EtherCatMaster {
 public:
  static EtherCatMaster& Instance();

  int32_t GetOnlineMode();
  // path: address of a pointer to the UTF-16 setup-file name.
  int32_t InitKernel(const uint16_t* const* path, int32_t* slaveCount);
  int32_t SetOnlineMode(int32_t mode);
  void Stop();
  // True when no API_EtherCAT library was found.
  bool IsDirectIp();
  // True when an API_EtherCAT library was found but cannot be used; *reason
  // then says why.
  bool IsBroken(const char** reason);
  // Forgets the loaded library so the next call loads it again (tests).
  void Unload();

 private:
  EtherCatMaster() = default;
  void Load();
};

}  // namespace zarn
