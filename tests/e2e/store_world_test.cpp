// The world under piles, through the real server binary: more objects in one area than one
// frame carries, and the caps on what one player can pile up.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e/gm_player.h"

namespace vornhal::e2e {
namespace {

class CrowdedWorld : public SampleWorld {
 protected:
  void StartWith(const std::string& extra_ini) {
    server.reset();
    test::ServerProcess::Options options;
    options.data_dir = VORNHAL_SAMPLE_DIR;
    options.extra_ini = extra_ini;
    server = std::make_unique<test::ServerProcess>(options);
  }

  static size_t ObjectCount(const std::vector<Frame>& frames) {
    size_t n = 0;
    for (const Frame& f : OfId(frames, sid::kMapObjects)) n += client::ParseMapObjects(f).size();
    return n;
  }

  static bool HasError(const std::vector<Frame>& frames) {
    for (const std::string& m : Messages(frames)) {
      if (m.starts_with("[エラー]")) return true;
    }
    return false;
  }
};

// 3,000 dropped items under one cell do not fit one frame (about 2,400 of these do). Entering there and
// stepping back toward the pile used to fail half-way: the character was listed on the map
// without its login message, and each failed step left one more copy in a block list.
TEST_F(CrowdedWorld, EnteringAndSteppingBesideAPileBiggerThanOneFrame) {
  StartWith("[Security]\nMaxItemsPerBlock=0\nMaxPacketsPerSecond=0\n");
  Player& gm = Enter(NewName("piler"));
  for (int i = 0; i < 60; ++i) ASSERT_FALSE(HasError(gm.Command("@droptest")));

  // Entering at the pile completes: every item arrives, split over frames that each fit.
  Player& walker = Enter(NewName("walker"));
  const uint32_t walker_id = walker.id;

  // Away from the pile and back: every step is acknowledged, and coming back shows the pile.
  std::vector<Frame> back;
  for (uint8_t i = 0; i < 12; ++i) {
    auto frames = walker.Request(client::CMovePacket(1, i));
    ASSERT_EQ(OfId(frames, sid::kMoveAck).size(), 1u) << "step " << int(i) << " east";
  }
  for (uint8_t i = 0; i < 12; ++i) {
    auto frames = walker.Request(client::CMovePacket(3, static_cast<uint8_t>(12 + i)));
    ASSERT_EQ(OfId(frames, sid::kMoveAck).size(), 1u) << "step " << int(i) << " west";
    for (Frame& f : frames) back.push_back(std::move(f));
  }
  EXPECT_GE(ObjectCount(back), 3000u);
  EXPECT_GE(OfId(back, sid::kMapObjects).size(), 2u);  // split over frames
  for (const Frame& f : OfId(back, sid::kMapObjects)) EXPECT_LT(f.payload.size(), 65535u);
  EXPECT_FALSE(gm.zone.PeerClosed());
  EXPECT_FALSE(walker.zone.PeerClosed());

  // Once the walker has left, nobody sees it any more: no block still lists a copy of it.
  walker.zone.Close();
  ASSERT_TRUE(server->WaitForLog("[Zone] \"127.0.0.1\" からの接続を終了", 3000));
  // A newcomer at the same place walks the same way and sees who is around.
  Player& newcomer = Enter(NewName("newcomer"));
  for (uint8_t i = 0; i < 12; ++i) {
    auto frames = newcomer.Request(client::CMovePacket(1, i));
    for (const Frame& f : OfId(frames, sid::kCharaAppear)) {
      EXPECT_NE(client::ParseCharaAppear(f).id, walker_id) << "a copy of the walker is listed";
    }
  }
  for (uint8_t i = 0; i < 12; ++i) {
    auto frames = newcomer.Request(client::CMovePacket(3, static_cast<uint8_t>(12 + i)));
    for (const Frame& f : OfId(frames, sid::kCharaAppear)) {
      EXPECT_NE(client::ParseCharaAppear(f).id, walker_id) << "a copy of the walker is listed";
    }
  }
  EXPECT_TRUE(server->Running());
}

TEST_F(CrowdedWorld, DropsAndSummonsStopAtTheCaps) {
  StartWith("[Security]\nMaxItemsPerBlock=50\nMaxMobsPerMap=40\nMaxPacketsPerSecond=0\n");
  Player& gm = Enter(NewName("capper"));

  // Items: one @droptest fills the block (50 items); a second one is refused with an error
  // and drops nothing.
  auto first = gm.Command("@droptest");
  ASSERT_FALSE(HasError(first));
  auto dropped = OfId(first, sid::kMapObjects);
  ASSERT_EQ(ObjectCount(first), 50u);
  auto second = gm.Command("@droptest");
  EXPECT_TRUE(HasError(second));
  EXPECT_EQ(ObjectCount(second), 0u);

  // A player's own drop does nothing on the full block: the money stays with the character.
  gm.Command("@glod 1000");
  auto refused = gm.Request(client::CDropGlodPacket(100));
  EXPECT_EQ(ObjectCount(refused), 0u);
  // With one item picked up there is room for exactly one again.
  const uint32_t item_id = client::ParseMapObjects(dropped.front()).front().id;
  gm.Request(client::CPickItemPacket(item_id));
  auto accepted = gm.Request(client::CDropGlodPacket(100));
  EXPECT_EQ(ObjectCount(accepted), 1u);
  auto full_again = gm.Request(client::CDropGlodPacket(100));
  EXPECT_EQ(ObjectCount(full_again), 0u);

  // Mobs: summons succeed until the map holds 40 mobs, then each one is refused.
  int summoned = 0;
  bool refused_summon = false;
  for (int i = 0; i < 45 && !refused_summon; ++i) {
    auto frames = gm.Command("@summon");
    if (HasError(frames)) {
      refused_summon = true;
      EXPECT_EQ(ObjectCount(frames), 0u);
    } else {
      ASSERT_GE(ObjectCount(frames), 1u);
      ++summoned;
    }
  }
  EXPECT_TRUE(refused_summon);
  EXPECT_LE(summoned, 40);
  EXPECT_TRUE(HasError(gm.Command("@summon")));
}

}  // namespace
}  // namespace vornhal::e2e
