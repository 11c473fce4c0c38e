#include "platform/clock.h"

#include <atomic>
#include <chrono>

namespace vornhal {
namespace {
std::atomic<bool> g_override{false};
std::atomic<uint32_t> g_value{0};
}  // namespace

uint32_t TickCount() {
  if (g_override.load(std::memory_order_relaxed)) return g_value.load(std::memory_order_relaxed);
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::steady_clock::now().time_since_epoch())
                .count();
  return static_cast<uint32_t>(ms);
}

void SetTickOverride(bool enabled, uint32_t value) {
  g_value.store(value);
  g_override.store(enabled);
}

}  // namespace vornhal
