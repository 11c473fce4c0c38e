// References to a connection: they follow the connection they were last set to and read null
// once that connection has ended or gone, whatever the order in which references and
// connections come and go.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "support/recording_connection.h"

namespace vornhal {
namespace {

using test::RecordingConnection;

TEST(ConnectionRef, EveryReferenceReadsNullOnceItsConnectionEnds) {
  RecordingConnection a;
  RecordingConnection b;
  std::vector<std::unique_ptr<TConnectionRef>> refs;
  for (int i = 0; i < 5; ++i) {
    refs.push_back(std::make_unique<TConnectionRef>());
    refs.back()->Reset(i % 2 == 0 ? &a : &b);
  }
  // One from the middle of a's references goes first, then one moves from b to a.
  refs[2].reset();
  refs[1]->Reset(&a);
  EXPECT_EQ(refs[1]->Get(), &a);

  b.DropRefs();
  EXPECT_EQ(refs[3]->Get(), nullptr);
  EXPECT_EQ(refs[0]->Get(), &a);
  EXPECT_EQ(refs[1]->Get(), &a);
  EXPECT_EQ(refs[4]->Get(), &a);

  a.DropRefs();
  for (size_t i : {0u, 1u, 3u, 4u}) {
    EXPECT_EQ(refs[i]->Get(), nullptr) << i;
    EXPECT_FALSE(*refs[i]) << i;
  }
  // A cleared reference can name a connection again, and is cleared by that one's end.
  refs[0]->Reset(&b);
  EXPECT_EQ(refs[0]->Get(), &b);
  b.DropRefs();
  EXPECT_EQ(refs[0]->Get(), nullptr);
}

TEST(ConnectionRef, AConnectionAndItsReferencesMayGoInEitherOrder) {
  TConnectionRef outlives;
  {
    RecordingConnection conn;
    TConnectionRef first;
    first.Reset(&conn);
    {
      TConnectionRef gone_early;
      gone_early.Reset(&conn);
      outlives.Reset(&conn);
    }
    // The reference that went unlinked itself: the connection's end touches only the others.
    EXPECT_EQ(first.Get(), &conn);
    first.Reset();
    EXPECT_EQ(outlives.Get(), &conn);
  }
  EXPECT_EQ(outlives.Get(), nullptr);
  // Setting it to the same connection twice lists it once: one end clears it, and its own
  // destruction then has nothing to unlink.
  auto conn = std::make_unique<RecordingConnection>();
  outlives.Reset(conn.get());
  outlives.Reset(conn.get());
  conn->DropRefs();
  EXPECT_EQ(outlives.Get(), nullptr);
  outlives.Reset(conn.get());
  conn.reset();
  EXPECT_EQ(outlives.Get(), nullptr);
}

}  // namespace
}  // namespace vornhal
