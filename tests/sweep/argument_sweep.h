// The table of every export, generated from the public header at build time
// (generate_exports.py), that the argument sweep walks.
#pragma once

#include <cstddef>
#include <cstdint>

#include "zarn/zarn.h"

namespace zarn {
namespace sweep {

enum class ArgType { kU8, kI8, kChar, kU16, kI16, kU32, kI32, kInt, kRecord };

// One argument: an integer of any of the widths, or a pointer.
union Value {
  int64_t integer;
  void* pointer;
};

struct ParamInfo {
  const char* name;
  ArgType type;
  bool pointer;
  bool isConst;
  // For an output buffer of bytes: the size its documentation gives, from the
  // other arguments; null for every other parameter.
  int64_t (*documentedBytes)(const Value* args);
};

constexpr size_t kMaxParams = 8;

struct ExportInfo {
  const char* name;
  int32_t (*call)(const Value* args);
  ParamInfo params[kMaxParams];
};

extern const ExportInfo kExports[];
extern const size_t kExportCount;

inline size_t ParamCount(const ExportInfo& e) {
  size_t n = 0;
  while (n < kMaxParams && e.params[n].name) ++n;
  return n;
}

}  // namespace sweep
}  // namespace zarn
