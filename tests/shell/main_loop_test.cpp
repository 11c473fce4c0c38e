// The main loop's pacing and its save deadline on the wrapping millisecond clock.
#include <gtest/gtest.h>

#include <vector>

#include "shell/main_loop.h"

namespace vornhal {
namespace {

TEST(TickSleep, SleepsTheRestOfThePeriod) {
  EXPECT_EQ(TickSleep(1000, 1010), 20u);
  EXPECT_EQ(TickSleep(1000, 1000), 30u);
  EXPECT_EQ(TickSleep(1000, 1029), 1u);
  EXPECT_EQ(TickSleep(1000, 1030), 0u);
  EXPECT_EQ(TickSleep(1000, 1045), 0u);
  // Across the clock's wrap-around.
  EXPECT_EQ(TickSleep(0xFFFFFFF6u, 0x00000000u), 20u);
  EXPECT_EQ(TickSleep(0xFFFFFFF0u, 0x00000020u), 0u);
}

TEST(SaveDue, ComparesModulo2To32) {
  EXPECT_FALSE(SaveDue(600000, 600000));
  EXPECT_TRUE(SaveDue(600001, 600000));
  EXPECT_FALSE(SaveDue(599999, 600000));
  uint32_t deadline = 0xFFFFFF00u + SaveInterval;  // lies past the wrap
  EXPECT_FALSE(SaveDue(0xFFFFFFF0u, deadline));
  EXPECT_FALSE(SaveDue(deadline, deadline));
  EXPECT_TRUE(SaveDue(deadline + 1, deadline));
}

// A simulated clock: each tick's work takes `work` ms, sleeping advances the clock.
struct Simulation {
  uint32_t now;
  uint32_t work = 10;
  int ticks = 0;
  int max_ticks;
  std::vector<uint32_t> sleeps;
  std::vector<uint32_t> tick_times;
  std::vector<uint32_t> saves;      // tick time of each save
  std::vector<uint32_t> save_ends;  // clock after each save

  Simulation(uint32_t start, int max) : now(start), max_ticks(max) {}

  void Run() {
    TMainLoopHooks hooks;
    hooks.clock = [this] { return now; };
    hooks.sleep = [this](uint32_t ms) {
      sleeps.push_back(ms);
      now += ms;
    };
    hooks.process = [this](uint32_t tick) {
      tick_times.push_back(tick);
      now += work;
    };
    hooks.save = [this] {
      saves.push_back(tick_times.back());
      now += 5;
      save_ends.push_back(now);
    };
    hooks.stop = [this] { return ++ticks >= max_ticks; };
    RunMainLoop(hooks);
  }
};

TEST(MainLoop, ShortTicksSleepAndLongTicksGoOnAtOnce) {
  Simulation sim(1000, 3);
  sim.Run();
  EXPECT_EQ(sim.sleeps, (std::vector<uint32_t>{20, 20, 20}));
  EXPECT_EQ(sim.tick_times, (std::vector<uint32_t>{1000, 1030, 1060}));

  Simulation slow(1000, 3);
  slow.work = 45;
  slow.Run();
  EXPECT_TRUE(slow.sleeps.empty());
  EXPECT_EQ(slow.tick_times, (std::vector<uint32_t>{1000, 1045, 1090}));
}

TEST(MainLoop, TheStopFlagIsTestedAfterACompleteTick) {
  Simulation sim(0, 1);
  sim.Run();
  EXPECT_EQ(sim.tick_times.size(), 1u);
  EXPECT_EQ(sim.sleeps.size(), 1u);
}

TEST(MainLoop, SavesEveryTenMinutesAcrossTheClockWrap) {
  // Start 15 minutes before the wrap and run 35 minutes of 30 ms ticks.
  const uint32_t start = 0u - 900000u;
  Simulation sim(start, 35 * 60000 / 30);
  sim.Run();
  ASSERT_EQ(sim.saves.size(), 3u);
  // The first save comes in the first tick that starts more than 600000 ms after the loop
  // began; each next one 600000 ms after the end of the previous save.
  uint32_t first = sim.saves[0] - start;
  EXPECT_GT(first, SaveInterval);
  EXPECT_LE(first, SaveInterval + 30);
  for (size_t i = 1; i < sim.saves.size(); ++i) {
    uint32_t gap = sim.saves[i] - sim.save_ends[i - 1];
    EXPECT_GT(gap, SaveInterval);
    EXPECT_LE(gap, SaveInterval + 30);
  }
  // Ticks kept their pace over the wrap.
  for (size_t i = 1; i < sim.tick_times.size(); ++i) {
    uint32_t step = sim.tick_times[i] - sim.tick_times[i - 1];
    EXPECT_GE(step, 30u);
    EXPECT_LE(step, 35u);
  }
}

TEST(MainLoop, AnErrorInATickEndsTheLoop) {
  TMainLoopHooks hooks;
  int ticks = 0;
  hooks.clock = [] { return 0u; };
  hooks.sleep = [](uint32_t) {};
  hooks.process = [&](uint32_t) {
    if (++ticks == 2) throw std::runtime_error("tick failed");
  };
  hooks.save = [] {};
  hooks.stop = [] { return false; };
  EXPECT_THROW(RunMainLoop(hooks), std::runtime_error);
  EXPECT_EQ(ticks, 2);
}

}  // namespace
}  // namespace vornhal
