// The process-wide uniform random generator, seeded from the clock at start-up.
#pragma once
#include <cstdint>

namespace vornhal {

void SeedRandom(uint64_t seed);
void SeedRandomFromClock();
// Uniform integer in [0, n) for n > 0 (0 for n <= 0).
int32_t Random(int32_t n);

}  // namespace vornhal
