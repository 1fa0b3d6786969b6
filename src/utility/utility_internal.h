// What the portable half of CUtilityMOX needs from each system.
#pragma once

#include <cstdint>
#include <string>

namespace zarn {
namespace utility {

// The named mutex that guards a shared block ("<name>_mutex"); owned while alive.
class NamedLock {
 public:
  explicit NamedLock(const std::string& name);
  ~NamedLock();
  NamedLock(const NamedLock&) = delete;
  NamedLock& operator=(const NamedLock&) = delete;
  bool Owned() const { return owned_; }

 private:
  void* handle_ = nullptr;
  bool owned_ = false;
};

std::string FormatGuid(uint32_t d1, uint16_t d2, uint16_t d3, const uint8_t d4[8]);

}  // namespace utility
}  // namespace zarn
