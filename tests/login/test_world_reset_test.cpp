// The shared reset of the tests' world: whatever one test leaves behind, the next one starts
// from nothing. A piece of game state the reset forgets would leak between tests unseen.
#include <gtest/gtest.h>

#include "data/common.h"
#include "data/database.h"
#include "login/multi.h"
#include "platform/settings.h"
#include "support/test_world.h"
#include "world/globals.h"

namespace vornhal::test {
namespace {

TEST(TestWorldReset, LeavesNothingOfTheWorldBefore) {
  ResetWorld();
  const int32_t default_gm_level = GMLevel;
  const uint32_t first_npc_id = TNpc().ObjectID;

  TownAndField w = BuildTownAndField();
  AddItemData("stick", "stick");
  AddNpc("guide", "", 10055, TMapPoint{5, 5});
  AddPlayingChara("alice", w.town, 10, 10);
  MobDB->Add(std::make_unique<TMobData>());
  IssueZoneTicket("alice", "127.0.0.1", 1000);
  ScriptCRCs["script"] = 1;
  DataDir = "/nowhere/";
  GMLevel = default_gm_level + 5;

  ResetWorld();
  EXPECT_EQ(MapList->Count(), 0);
  EXPECT_EQ(ItemDB->Count(), 0);
  EXPECT_EQ(NpcList->Count(), 0);
  EXPECT_EQ(PortalList->Count(), 0);
  EXPECT_EQ(MobDB->Count(), 0);
  EXPECT_EQ(CharaList->Count(), 0);
  EXPECT_FALSE(ConsumeZoneTicket("alice", "127.0.0.1", 1000));
  EXPECT_TRUE(ScriptCRCs.empty());
  EXPECT_TRUE(DataDir.empty());
  EXPECT_EQ(GMLevel, default_gm_level);
  EXPECT_EQ(TNpc().ObjectID, first_npc_id) << "the object ids start again";
  FreeWorld();
}

TEST(TestWorldReset, TheTownAndFieldAreJoinedByTheirPortal) {
  ResetWorld();
  TownAndField w = BuildTownAndField();
  EXPECT_EQ(MapList->FindMap(10055), w.town);
  EXPECT_EQ(MapList->FindMap(1), w.field);
  ASSERT_EQ(PortalList->Count(), 1);
  EXPECT_EQ(w.portal->SrcMap, w.town);
  EXPECT_EQ(w.portal->DestMap, w.field);
  EXPECT_EQ(w.portal->SrcMinPoint, (TMapPoint{20, 20}));
  EXPECT_EQ(w.portal->SrcMaxPoint, (TMapPoint{22, 22}));
  FreeWorld();
}

}  // namespace
}  // namespace vornhal::test
