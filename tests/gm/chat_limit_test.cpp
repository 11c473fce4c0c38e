// The chat lines one character may send.
#include <gtest/gtest.h>

#include "gm/chat_limit.h"

namespace vornhal {
namespace {

using Clock = TChatLimit::Clock;
using std::chrono::milliseconds;

TEST(ChatLimit, LinesPerFiveSecondsPerCharacterWithOneNoticePerWindow) {
  TChatLimit limit;
  auto t0 = Clock::time_point{} + std::chrono::hours(1);
  bool notify = false;
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(limit.Take("a", 3, t0 + milliseconds(i), notify));
  EXPECT_FALSE(limit.Take("a", 3, t0 + milliseconds(10), notify));
  EXPECT_TRUE(notify);
  EXPECT_FALSE(limit.Take("a", 3, t0 + milliseconds(20), notify));
  EXPECT_FALSE(notify) << "told once per five seconds";
  // Another character is not held back by the first one's flood.
  EXPECT_TRUE(limit.Take("b", 3, t0 + milliseconds(20), notify));
  // The window slides: the first line's slot comes back five seconds after it was sent.
  EXPECT_FALSE(limit.Take("a", 3, t0 + milliseconds(4999), notify));
  EXPECT_TRUE(limit.Take("a", 3, t0 + milliseconds(5000), notify));
  EXPECT_FALSE(limit.Take("a", 3, t0 + milliseconds(5000), notify));
  EXPECT_FALSE(notify);
  EXPECT_TRUE(limit.Take("a", 3, t0 + milliseconds(5001), notify));
  EXPECT_TRUE(limit.Take("a", 3, t0 + milliseconds(5002), notify));
  EXPECT_FALSE(limit.Take("a", 3, t0 + milliseconds(5011), notify));
  EXPECT_TRUE(notify) << "a new window may tell again";
  // 0 turns the limit off.
  for (int i = 0; i < 100; ++i) EXPECT_TRUE(limit.Take("c", 0, t0, notify));
}

}  // namespace
}  // namespace vornhal
