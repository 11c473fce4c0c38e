// What one connection may add to the log.
#include <gtest/gtest.h>

#include "platform/log.h"

namespace vornhal {
namespace {

using Clock = TLogBudget::Clock;
using std::chrono::milliseconds;

TEST(LogBudget, BurstThenATenthPerSecondWithTheSummaryCharged) {
  TLogBudget budget;
  budget.Configure(20, "[Test] \"10.0.0.1\"");
  auto t0 = Clock::now();
  int admitted = 0;
  for (int i = 0; i < 100; ++i) admitted += budget.Admit(t0);
  EXPECT_EQ(admitted, 20);
  EXPECT_EQ(budget.Suppressed(), 80u);
  // Two lines a second come back. The first line after the pause needs room for the summary
  // too, which is written with it and resets the count.
  EXPECT_FALSE(budget.Admit(t0 + milliseconds(600)));
  EXPECT_EQ(budget.Suppressed(), 81u);
  EXPECT_TRUE(budget.Admit(t0 + milliseconds(1000)));
  EXPECT_EQ(budget.Suppressed(), 0u);
  // A long quiet refills the burst, never beyond it.
  admitted = 0;
  for (int i = 0; i < 100; ++i) admitted += budget.Admit(t0 + std::chrono::seconds(100));
  EXPECT_EQ(admitted, 20);
}

TEST(LogBudget, ZeroMeansNoBoundAndScopesNest) {
  TLogBudget unbounded;
  unbounded.Configure(0, "x");
  for (int i = 0; i < 1000; ++i) EXPECT_TRUE(unbounded.Admit());
  TLogBudget outer, inner;
  outer.Configure(1, "[Test] outer");
  inner.Configure(1, "[Test] inner");
  {
    TLogBudgetScope a(&outer);
    {
      TLogBudgetScope b(&inner);
      Log("charged to inner");
      Log("suppressed by inner");
    }
    Log("charged to outer");
  }
  EXPECT_EQ(inner.Suppressed(), 1u);
  EXPECT_EQ(outer.Suppressed(), 0u);
  Log("charged to nobody");
  EXPECT_EQ(outer.Suppressed(), 0u);
  inner.Flush();
  EXPECT_EQ(inner.Suppressed(), 0u);
}

}  // namespace
}  // namespace vornhal
