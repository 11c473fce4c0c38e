// The main loop's pacing: a tick lasts at least 30 ms (the rest of the period is slept; a
// longer tick is not made up for), and all characters are saved every 10 minutes. Clock
// values are compared modulo 2^32, so the wrapping millisecond clock neither skips nor
// repeats a save or a sleep.
#pragma once
#include <cstdint>
#include <functional>

namespace vornhal {

constexpr uint32_t TickPeriod = 30;
constexpr uint32_t SaveInterval = 600000;

// Milliseconds to sleep after a tick that started at t0 and ended at t1.
uint32_t TickSleep(uint32_t t0, uint32_t t1);
// True when the tick time lies after the save deadline.
bool SaveDue(uint32_t now, uint32_t deadline);

struct TMainLoopHooks {
  std::function<uint32_t()> clock;
  std::function<void(uint32_t ms)> sleep;
  std::function<void(uint32_t tick)> process;  // called with the world lock held
  std::function<void()> save;                  // called with the world lock held
  std::function<bool()> stop;                  // tested after each tick
};

// Runs ticks until stop() is true. An exception from a hook ends the loop and is passed on.
void RunMainLoop(const TMainLoopHooks& hooks);

}  // namespace vornhal
