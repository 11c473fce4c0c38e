// The millisecond clock: an unsigned 32-bit count that wraps about every 49.7 days.
// Compare clock values only through Elapsed/Passed, which work modulo 2^32.
#pragma once
#include <cstdint>

namespace vornhal {

uint32_t TickCount();

// Milliseconds from `from` to `to`, modulo 2^32.
inline uint32_t Elapsed(uint32_t from, uint32_t to) { return to - from; }
// True when `deadline` lies in the past of `now` (or is now), assuming the two are less than
// 2^31 ms apart.
inline bool Passed(uint32_t now, uint32_t deadline) {
  return static_cast<int32_t>(now - deadline) >= 0;
}

// Test hook: when set, TickCount returns the given value instead of the steady clock.
void SetTickOverride(bool enabled, uint32_t value = 0);

}  // namespace vornhal
