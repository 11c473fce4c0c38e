// The report after a periodic save: how long the saving tick held the world lock and how late
// the ticks around it started.
#include <gtest/gtest.h>

#include <vector>

#include "shell/main_loop.h"

namespace vornhal {
namespace {

struct LoopRun {
  uint32_t now = 5000;
  uint32_t save_ms = 0;
  std::vector<uint32_t> extra_work;  // extra ms of the process hook per tick, by tick index
  int ticks = 0;
  int max_ticks = 0;
  std::vector<TSaveReport> reports;

  void Go() {
    TMainLoopHooks hooks;
    hooks.clock = [this] { return now; };
    hooks.sleep = [this](uint32_t ms) { now += ms; };
    hooks.process = [this](uint32_t) {
      now += 10;
      auto i = static_cast<size_t>(ticks);
      if (i < extra_work.size()) now += extra_work[i];
      ++ticks;
    };
    hooks.save = [this] { now += save_ms; };
    hooks.saved = [this](const TSaveReport& r) { reports.push_back(r); };
    hooks.stop = [this] { return ticks >= max_ticks; };
    RunMainLoop(hooks);
  }
};

TEST(SaveReport, GivesTheLockHoldAndTheLatenessItCaused) {
  LoopRun run;
  run.save_ms = 700;
  run.max_ticks = 600000 / 30 + 10;  // past the first save
  run.Go();
  ASSERT_EQ(run.reports.size(), 1u);
  // The saving tick held the lock for its work (10 ms) and the save (700 ms); the next tick
  // started 680 ms after the end of that tick's period.
  EXPECT_EQ(run.reports[0].lock_ms, 710u);
  EXPECT_EQ(run.reports[0].late_ms, 680u);
  EXPECT_EQ(run.reports[0].max_late_ms, 680u);
}

TEST(SaveReport, MaximumCoversEveryTickSinceTheLastReport) {
  LoopRun run;
  run.save_ms = 3;
  run.extra_work.assign(100, 0);
  run.extra_work[40] = 95;  // tick 41 starts 75 ms late
  run.max_ticks = 2 * (600000 / 30) + 40;  // past the second save
  run.Go();
  ASSERT_EQ(run.reports.size(), 2u);
  EXPECT_EQ(run.reports[0].lock_ms, 13u);
  EXPECT_EQ(run.reports[0].late_ms, 0u);  // a 13 ms tick leaves the next one on time
  EXPECT_EQ(run.reports[0].max_late_ms, 75u);
  EXPECT_EQ(run.reports[1].max_late_ms, 0u);  // the long tick was reported already
}

TEST(SaveReport, OptionalHookAndNoSaveNoReport) {
  LoopRun run;
  run.max_ticks = 100;
  run.Go();
  EXPECT_TRUE(run.reports.empty());
  TMainLoopHooks hooks;  // without a report hook the loop runs as before
  uint32_t now = 0;
  int ticks = 0;
  hooks.clock = [&] { return now; };
  hooks.sleep = [&](uint32_t ms) { now += ms; };
  hooks.process = [&](uint32_t) { ++ticks; };
  hooks.save = [] {};
  hooks.stop = [&] { return ticks > 600000 / 30 + 2; };
  RunMainLoop(hooks);
  EXPECT_GT(ticks, 600000 / 30);
}

}  // namespace
}  // namespace vornhal
