// Cutting the received byte stream into frame bodies.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/frame_reader.h"

namespace vornhal {
namespace {

using Bytes = std::vector<uint8_t>;

struct Recorder {
  std::vector<Bytes> bodies;
  std::vector<size_t> garbage;
  TFrameReader reader{[this](size_t n) {
                        garbage.push_back(n);
                        return true;
                      },
                      [this](const uint8_t* b, size_t n) {
                        bodies.emplace_back(b, b + n);
                        return true;
                      }};
  void Feed(const Bytes& bytes) { reader.Feed(bytes.data(), bytes.size()); }
};

TEST(FrameReader, TwoFramesInOneReadAreBothDelivered) {
  Recorder r;
  r.Feed({0xAA, 0x00, 0x02, 0x05, 0x01, 0xAA, 0x00, 0x03, 0x06, 0x02, 0x03});
  ASSERT_EQ(r.bodies.size(), 2u);
  EXPECT_EQ(r.bodies[0], (Bytes{0x05, 0x01}));
  EXPECT_EQ(r.bodies[1], (Bytes{0x06, 0x02, 0x03}));
  EXPECT_TRUE(r.garbage.empty());
}

TEST(FrameReader, AFrameInPiecesIsDeliveredOnceAfterItsLastByte) {
  Bytes frame = {0xAA, 0x00, 0x05, 0x07, 0x00, 0x10, 0x20, 0x30};
  for (size_t cut1 = 1; cut1 < frame.size(); ++cut1) {
    for (size_t cut2 = cut1; cut2 < frame.size(); ++cut2) {
      Recorder r;
      r.Feed(Bytes(frame.begin(), frame.begin() + cut1));
      r.Feed(Bytes(frame.begin() + cut1, frame.begin() + cut2));
      EXPECT_TRUE(r.bodies.empty());
      r.Feed(Bytes(frame.begin() + cut2, frame.end()));
      ASSERT_EQ(r.bodies.size(), 1u) << cut1 << "," << cut2;
      EXPECT_EQ(r.bodies[0], Bytes(frame.begin() + 3, frame.end()));
    }
  }
  Recorder r;
  for (uint8_t b : frame) r.Feed({b});
  EXPECT_EQ(r.bodies.size(), 1u);
  EXPECT_FALSE(r.reader.InFrame());
}

TEST(FrameReader, AStrayByteDiscardsEverythingWaitingWithIt) {
  Recorder r;
  r.Feed({0x01, 0xAA, 0x00, 0x02, 0x00, 0x00});
  EXPECT_TRUE(r.bodies.empty());
  EXPECT_EQ(r.garbage, (std::vector<size_t>{5}));
  // Reading resumes with the next bytes to arrive.
  r.Feed({0xAA, 0x00, 0x01, 0x0B});
  ASSERT_EQ(r.bodies.size(), 1u);
  EXPECT_EQ(r.bodies[0], (Bytes{0x0B}));
}

TEST(FrameReader, StrayBytesAfterAFrameInTheSameRead) {
  Recorder r;
  r.Feed({0xAA, 0x00, 0x01, 0x0B, 0x42, 0x43});
  EXPECT_EQ(r.bodies.size(), 1u);
  EXPECT_EQ(r.garbage, (std::vector<size_t>{1}));
}

TEST(FrameReader, EmptyAndLargestBodies) {
  Recorder r;
  r.Feed({0xAA, 0x00, 0x00, 0xAA, 0x00, 0x01, 0x00});
  ASSERT_EQ(r.bodies.size(), 2u);
  EXPECT_TRUE(r.bodies[0].empty());

  Recorder big;
  Bytes frame = {0xAA, 0xFF, 0xFF};
  frame.resize(3 + 65535, 0x77);
  for (size_t i = 0; i < frame.size(); i += 1000) {
    big.Feed(Bytes(frame.begin() + i, frame.begin() + std::min(frame.size(), i + 1000)));
  }
  ASSERT_EQ(big.bodies.size(), 1u);
  EXPECT_EQ(big.bodies[0].size(), 65535u);
}

TEST(FrameReader, StopsTakingBytesWhenTheReceiverSaysSo) {
  int bodies = 0;
  TFrameReader reader([](size_t) { return true; },
                      [&](const uint8_t*, size_t) {
                        ++bodies;
                        return false;
                      });
  Bytes two = {0xAA, 0x00, 0x01, 0x0B, 0xAA, 0x00, 0x01, 0x0B};
  reader.Feed(two.data(), two.size());
  EXPECT_EQ(bodies, 1);
}

}  // namespace
}  // namespace vornhal
