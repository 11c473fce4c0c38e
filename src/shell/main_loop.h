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

// A tick is late by the time its start lies past the end of its period (t0 + 30 ms of the
// tick before).
struct TSaveReport {
  uint32_t lock_ms = 0;
  uint32_t late_ms = 0;
  uint32_t max_late_ms = 0;
};

struct TMainLoopHooks {
  std::function<uint32_t()> clock;
  std::function<void(uint32_t ms)> sleep;
  std::function<void(uint32_t tick)> process;  // called with the world lock held
  std::function<void()> save;                  // called with the world lock held
  std::function<bool()> stop;                  // tested after each tick
  // Optional: called on the tick after each save (without the world lock) with the time the
  // saving tick held the world lock, how late this tick started and the latest start of any
  // tick since the previous report (this one included), all in ms.
  std::function<void(const TSaveReport&)> saved;
};

// Runs ticks until stop() is true. An exception from a hook ends the loop and is passed on.
void RunMainLoop(const TMainLoopHooks& hooks);

}  // namespace vornhal
