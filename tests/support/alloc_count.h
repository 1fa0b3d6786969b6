// Counts the process's heap allocations (malloc, calloc, realloc) while
// asked to; linked into a program, it replaces those three functions.
#pragma once

namespace zarn {
namespace test {

// Starts counting from zero (true) or stops (false).
void CountAllocations(bool on);
long Allocations();

}  // namespace test
}  // namespace zarn
