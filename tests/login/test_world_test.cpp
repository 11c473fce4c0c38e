// The tests' worlds: each test makes its own, and nothing of one reaches another. A piece of
// game state that lived outside the world would leak between tests unseen.
#include <gtest/gtest.h>

#include "data/common.h"
#include "data/database.h"
#include "platform/settings.h"
#include "support/test_world.h"
#include "world/world.h"

namespace vornhal::test {
namespace {

TEST(TestWorld, AFreshWorldSharesNothingWithAnother) {
  auto first = std::make_unique<TTestWorld>();
  TownAndField w = first->BuildTownAndField();
  first->AddItemData("stick", "stick");
  first->AddNpc("guide", "", 10055, TMapPoint{5, 5});
  TChara* alice = first->AddPlayingChara("alice", w.town, 10, 10);
  alice->DecHP(alice->HP);  // dead: listed in the first world only
  first->MobDB.Add(std::make_unique<TMobData>());
  first->ZoneTickets.Issue("alice", "127.0.0.1", 1000);
  first->ReservedCharaNames.insert("bob");
  first->CreatingCharaNames.insert("carol");
  first->Settings.GMLevel = 5;
  ASSERT_EQ(first->DeadCharas.size(), 1u);

  TTestWorld second;
  EXPECT_EQ(second.MapList.Count(), 0);
  EXPECT_EQ(second.ItemDB.Count(), 0);
  EXPECT_EQ(second.NpcList.Count(), 0);
  EXPECT_EQ(second.PortalList.Count(), 0);
  EXPECT_EQ(second.MobDB.Count(), 0);
  EXPECT_EQ(second.CharaList.Count(), 0);
  EXPECT_TRUE(second.DeadCharas.empty());
  EXPECT_TRUE(second.ReservedCharaNames.empty());
  EXPECT_TRUE(second.CreatingCharaNames.empty());
  EXPECT_FALSE(second.ZoneTickets.Consume("alice", "127.0.0.1", 1000));
  EXPECT_EQ(second.Settings.GMLevel, TWorldSettings().GMLevel);
  EXPECT_EQ(TNpc(second).ObjectID, kFirstNpcID) << "each world counts its own ids";
  second.AddMap(10055, "town", 10, 10);
  EXPECT_EQ(second.AddChara("dave")->ObjectID, kFirstCharaID);

  // The first world's ticket is still its own, and it goes away whole.
  EXPECT_TRUE(first->ZoneTickets.Consume("alice", "127.0.0.1", 1000));
  first.reset();
}

TEST(TestWorld, TheProcessStateGoesBackToAFreshStart) {
  ScriptCRCs["script"] = 1;
  DataDir = "/nowhere/";
  WorldSettings.GMLevel = 7;
  Security.LoginTimeout = 1;
  ResetProcessState();
  EXPECT_TRUE(ScriptCRCs.empty());
  EXPECT_TRUE(DataDir.empty());
  EXPECT_EQ(WorldSettings.GMLevel, 0);
  EXPECT_EQ(Security.LoginTimeout, TSecuritySettings().LoginTimeout);
}

TEST(TestWorld, TheTownAndFieldAreJoinedByTheirPortal) {
  TTestWorld world;
  TownAndField w = world.BuildTownAndField();
  EXPECT_EQ(world.MapList.FindMap(10055), w.town);
  EXPECT_EQ(world.MapList.FindMap(1), w.field);
  ASSERT_EQ(world.PortalList.Count(), 1);
  EXPECT_EQ(w.portal->SrcMap, w.town);
  EXPECT_EQ(w.portal->DestMap, w.field);
  EXPECT_EQ(w.portal->SrcMinPoint, (TMapPoint{20, 20}));
  EXPECT_EQ(w.portal->SrcMaxPoint, (TMapPoint{22, 22}));
}

}  // namespace
}  // namespace vornhal::test
