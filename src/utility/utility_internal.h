// What the portable half of CUtilityMOX needs from each system.
#pragma once

#include <cstdarg>
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
// printf-like formatting into a text sized for it, followed by one line feed.
std::string FormatLine(const char* format, va_list args);

}  // namespace utility
}  // namespace zarn
