#include "platform/random.h"

#include <chrono>
#include <random>

namespace vornhal {
namespace {
std::mt19937_64& Engine() {
  static std::mt19937_64 engine(12345);
  return engine;
}
}  // namespace

void SeedRandom(uint64_t seed) { Engine().seed(seed); }

void SeedRandomFromClock() {
  SeedRandom(static_cast<uint64_t>(std::chrono::system_clock::now().time_since_epoch().count()));
}

// Callers hold the world lock, so the engine is never used by two threads at once.
int32_t Random(int32_t n) {
  if (n <= 0) return 0;
  std::uniform_int_distribution<int32_t> dist(0, n - 1);
  return dist(Engine());
}

}  // namespace vornhal
