// The pieces behind the connection limits: admission per address and in total, the bound on
// unsent bytes across connections, and a frame reader that can stop and go on later.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/admission.h"
#include "net/backlog.h"
#include "net/frame_reader.h"

namespace vornhal {
namespace {

using Verdict = TAdmission::Verdict;

TEST(Admission, CapsPerAddressAndInTotalAndReleases) {
  TAdmission a;
  for (int i = 0; i < 2; ++i) EXPECT_EQ(a.Admit("10.0.0.1", false, 2, 4), Verdict::kAdmitted);
  EXPECT_EQ(a.Admit("10.0.0.1", false, 2, 4), Verdict::kTooManyFromAddress);
  // A trusted address is under no per-address cap, but the total holds for it too.
  EXPECT_EQ(a.Admit("127.0.0.1", true, 2, 4), Verdict::kAdmitted);
  EXPECT_EQ(a.Admit("127.0.0.1", true, 2, 4), Verdict::kAdmitted);
  EXPECT_EQ(a.Admit("127.0.0.1", true, 2, 4), Verdict::kTooManyInTotal);
  EXPECT_EQ(a.Admit("10.0.0.2", false, 2, 4), Verdict::kTooManyInTotal);
  EXPECT_EQ(a.Total(), 4);
  a.Release("10.0.0.1");
  EXPECT_EQ(a.FromAddress("10.0.0.1"), 1);
  EXPECT_EQ(a.Admit("10.0.0.2", false, 2, 4), Verdict::kAdmitted);
  // Releasing an address never counted changes nothing.
  a.Release("10.9.9.9");
  EXPECT_EQ(a.Total(), 4);
  // 0 turns a cap off.
  TAdmission open;
  for (int i = 0; i < 50; ++i) EXPECT_EQ(open.Admit("10.0.0.1", false, 0, 0), Verdict::kAdmitted);
}

TEST(Admission, RefusalsAreLoggedOncePerMinutePerAddress) {
  TAdmission a;
  auto t0 = TAdmission::Clock::time_point{} + std::chrono::hours(1);
  EXPECT_TRUE(a.ShouldLogRefusal("10.0.0.1", t0));
  EXPECT_FALSE(a.ShouldLogRefusal("10.0.0.1", t0 + std::chrono::seconds(59)));
  EXPECT_TRUE(a.ShouldLogRefusal("10.0.0.2", t0 + std::chrono::seconds(59)));
  EXPECT_TRUE(a.ShouldLogRefusal("10.0.0.1", t0 + std::chrono::seconds(61)));
}

struct FakeHolder : TBacklogHolder {
  size_t backlog = 0;
  bool open = true;
  int closed = 0;
  size_t Backlog() override { return backlog; }
  bool Open() const override { return open; }
  void CloseForBacklog(uint64_t) override {
    ++closed;
    open = false;
  }
};

TEST(BacklogBound, ClosesTheLargestBacklogsUntilTheTotalFits) {
  TBacklogBound bound;
  FakeHolder small, mid, big;
  small.backlog = 100;
  mid.backlog = 400;
  big.backlog = 900;
  for (FakeHolder* h : {&small, &mid, &big}) {
    bound.Register(h);
    bound.Add(h->backlog);
  }
  EXPECT_EQ(bound.Enforce(2000), 0);  // under the bound
  EXPECT_EQ(bound.Enforce(0), 0);     // no bound
  // 1400 queued, bound 600: closing the largest (900) is enough.
  EXPECT_EQ(bound.Enforce(600), 1);
  EXPECT_EQ(big.closed, 1);
  EXPECT_EQ(mid.closed + small.closed, 0);
  // While that close is under way its bytes still count, but it is not chosen again, and
  // nothing else is closed for bytes it will free.
  EXPECT_EQ(bound.Enforce(600), 0);
  EXPECT_EQ(big.closed, 1);
  // Bound 100 needs 1300 back: the 900 on their way out, then the 400; the 100 stays.
  EXPECT_EQ(bound.Enforce(100), 1);
  EXPECT_EQ(mid.closed, 1);
  EXPECT_EQ(small.closed, 0);
  bound.Sub(1300);
  EXPECT_EQ(bound.Total(), 100u);
  bound.Unregister(&small);
  bound.Unregister(&mid);
  bound.Unregister(&big);
}

TEST(FrameReaderPause, StoppingReturnsTheBytesTakenAndTheRestContinuesLater) {
  std::vector<std::vector<uint8_t>> bodies;
  bool go = false;
  TFrameReader reader([](size_t) { return true; },
                      [&](const uint8_t* b, size_t n) {
                        bodies.emplace_back(b, b + n);
                        return go;
                      });
  const std::vector<uint8_t> bytes = {0xAA, 0x00, 0x01, 0x05, 0xAA, 0x00, 0x00,
                                      0xAA, 0x00, 0x02, 0x06, 0x07};
  size_t taken = reader.Feed(bytes.data(), bytes.size());
  EXPECT_EQ(taken, 4u);
  ASSERT_EQ(bodies.size(), 1u);
  taken += reader.Feed(bytes.data() + taken, bytes.size() - taken);
  EXPECT_EQ(taken, 7u);
  go = true;
  taken += reader.Feed(bytes.data() + taken, bytes.size() - taken);
  EXPECT_EQ(taken, bytes.size());
  ASSERT_EQ(bodies.size(), 3u);
  EXPECT_TRUE(bodies[1].empty());
  EXPECT_EQ(bodies[2], (std::vector<uint8_t>{0x06, 0x07}));
}

}  // namespace
}  // namespace vornhal
