// Bit routines: single bits of words in memory, and read-modify-write of one
// bit of a 16-bit drive object (subindex 0).
#pragma once

#include <cstdint>

namespace zarn {

inline int TestBit16(const uint16_t* words, int n) { return (words[n / 16] >> (n % 16)) & 1; }
inline int TestBit32(const uint32_t* words, int n) { return static_cast<int>((words[n / 32] >> (n % 32)) & 1u); }
inline void SetBit16(uint16_t* words, int n) {
  words[n / 16] = static_cast<uint16_t>(words[n / 16] | (1u << (n % 16)));
}
inline void ClearBit16(uint16_t* words, int n) {
  words[n / 16] = static_cast<uint16_t>(words[n / 16] & ~(1u << (n % 16)));
}

// bit must be 0..15. Each returns the code of the step that failed, or of its last step.
int32_t ClearObjectBit(uint8_t driveId, uint16_t index, int bit);
int32_t SetObjectBit(uint8_t driveId, uint16_t index, int bit);
// Read; write with the bit cleared; write with it set (a rising edge).
int32_t PulseObjectBit(uint8_t driveId, uint16_t index, int bit);
// Write 0; write only the bit (a rising edge from an all-zero word, no read).
int32_t ZeroThenSetObjectBit(uint8_t driveId, uint16_t index, int bit);
// Read; if the bit is already set, write the word with it cleared; then write
// it set. A rising edge every time, the other bits keeping the values read.
int32_t EdgeObjectBit(uint8_t driveId, uint16_t index, int bit);

}  // namespace zarn
