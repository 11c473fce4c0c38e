// The mob database, mob creation, placement, revival and death.
#include <set>

#include "platform/clock.h"
#include "platform/random.h"
#include "packets_test_world.h"

namespace vornhal::test {
namespace {

using sid = TServerPacketId;
using Ids = std::vector<TServerPacketId>;

class MobTest : public WorldTest {
 protected:
  void SetUp() override {
    WorldTest::SetUp();
    slime_.Name = "Slime";
    slime_.GraphicID = 0x1234;
    slime_.Level = 4;
    slime_.MaxHP = 30, slime_.MaxMP = 20, slime_.MaxSP = 10;
    slime_.DAM = 1, slime_.HIT = 2, slime_.MDAM = 3, slime_.MHIT = 4;
    slime_.SAR = 5, slime_.AAR = 6, slime_.STR = 7, slime_.INT = 8, slime_.WIS = 9;
    slime_.CON = 10, slime_.DEX = 11, slime_.AC = -12, slime_.MC = 13;
    slime_.IsActive = false;
    slime_.IsMove = true;
  }
  void TearDown() override {
    SetTickOverride(false);
    WorldTest::TearDown();
  }
  TMobData slime_;
};

TEST(MobDBTest, LooksNamesUpIgnoringCase) {
  TMobDB db;
  auto slime = std::make_unique<TMobData>();
  slime->Name = "Slime";
  TMobData* raw = slime.get();
  EXPECT_EQ(db.Add(std::move(slime)), 0);
  auto bat = std::make_unique<TMobData>();
  bat->Name = "Bat";
  EXPECT_EQ(db.Add(std::move(bat)), 1);

  TMobData* found = nullptr;
  ASSERT_TRUE(db.TryGetValue("SLIME", found));
  EXPECT_EQ(found, raw);
  EXPECT_FALSE(db.TryGetValue("Slim", found));

  auto again = std::make_unique<TMobData>();
  again->Name = "sLiMe";
  EXPECT_THROW(db.Add(std::move(again)), DuplicateKeyError);
  EXPECT_EQ(db.Count(), 2);

  db.Delete(0);
  EXPECT_EQ(db.Count(), 1);
  EXPECT_FALSE(db.TryGetValue("slime", found));
  EXPECT_TRUE(db.TryGetValue("bat", found));
}

TEST_F(MobTest, CreateCopiesTheDefinition) {
  TMob first(town_, &slime_, false, 20, 21, 0, 500);
  TMob second(town_, &slime_, false, 20, 21, 0, 500);
  EXPECT_EQ(first.ObjectID, 5000000u);
  EXPECT_EQ(second.ObjectID, 5000001u);
  EXPECT_EQ(first.Level, 4);
  EXPECT_EQ(first.HP, 30u);
  EXPECT_EQ(first.MaxHP, 30u);
  EXPECT_EQ(first.MP, 20u);
  EXPECT_EQ(first.SP, 10u);
  EXPECT_EQ(first.DAM, 1);
  EXPECT_EQ(first.HIT, 2);
  EXPECT_EQ(first.MDAM, 0);  // not copied
  EXPECT_EQ(first.MHIT, 0);
  EXPECT_EQ(first.SAR, 5);
  EXPECT_EQ(first.AAR, 6);
  EXPECT_EQ(first.STR, 7);
  EXPECT_EQ(first.DEX, 11);
  EXPECT_EQ(first.AC, -12);
  EXPECT_EQ(first.MC, 13);
  EXPECT_FALSE(first.IsDead);
  EXPECT_EQ(first.SummonRange, 0);
  EXPECT_EQ(first.SummonInterval, 500u);
  EXPECT_FALSE(first.IsActive);  // from the definition
  EXPECT_TRUE(first.IsMove);
  EXPECT_EQ(first.Point, (TMapPoint{20, 21}));
  EXPECT_EQ(first.Name(), "Slime");
  first.SetName("Boss");
  EXPECT_EQ(first.Name(), "Boss");

  TMob summoned(town_, &slime_, true, 20, 21, 5, 500);
  EXPECT_EQ(summoned.SummonRange, 1);
  EXPECT_EQ(summoned.SummonInterval, 0xFFFFFFFFu);
  EXPECT_TRUE(summoned.IsActive);
  EXPECT_TRUE(summoned.IsMove);

  TMob negative(town_, &slime_, false, 20, 21, -3, 0);
  EXPECT_EQ(negative.Point, (TMapPoint{20, 21}));
}

TEST_F(MobTest, SummonedMobLandsOnOrNextToItsPoint) {
  SeedRandom(2024);
  std::set<std::pair<int, int>> cells;
  for (int i = 0; i < 400; ++i) {
    TMob mob(town_, &slime_, true, 10, 10, 0, 0);
    cells.insert({mob.Point.X, mob.Point.Y});
  }
  const std::set<std::pair<int, int>> expected{{9, 9}, {9, 10}, {10, 9}, {10, 10}};
  EXPECT_EQ(cells, expected);
}

TEST_F(MobTest, PlacementRetriesUntilAWalkableCell) {
  town_->Usedat = true;
  town_->Width = 20;
  town_->Height = 20;
  town_->DatWidth = 21;
  town_->DatHeight = 21;
  town_->dat.assign(21 * 21, 1);
  town_->dat[9 * 21 + 9] = 0;  // only (9, 9) is walkable
  SeedRandom(99);
  for (int i = 0; i < 50; ++i) {
    TMob mob(town_, &slime_, true, 10, 10, 0, 0);
    EXPECT_EQ(mob.Point, (TMapPoint{9, 9}));
  }
  // Nothing walkable: the mob still stands on one of the drawn cells.
  town_->dat[9 * 21 + 9] = 1;
  TMob stuck(town_, &slime_, false, 10, 10, 3, 0);
  EXPECT_GE(stuck.Point.X, 7);
  EXPECT_LE(stuck.Point.X, 12);
  EXPECT_GE(stuck.Point.Y, 7);
  EXPECT_LE(stuck.Point.Y, 12);
}

TEST_F(MobTest, SummonShowsTheMobWhenSomeoneIsOnTheMap) {
  TChara* a = World.AddPlayingChara("A", town_, 10, 10);
  Rec(a).Clear();
  TMob mob(town_, &slime_, false, 12, 12, 0, 0);
  ASSERT_EQ(Rec(a).Ids(), Ids({sid::kMapObjects}));
  const Frame f = Rec(a).Frames()[0];
  EXPECT_EQ(Bytes(f.payload.begin(), f.payload.begin() + 12),
            B({0x00, 0x01, 0x00, 0x0C, 0x00, 0x0C, 0x02, 0x00, 0x4C, 0x4B, 0x40, 0x00}));
}

TEST_F(MobTest, ReviveAndDie) {
  TChara* a = World.AddPlayingChara("A", town_, 10, 10);
  auto* stays = new TMob(town_, &slime_, false, 11, 11, 0, 0);
  town_->RegistMob(stays);
  auto* leaves = new TMob(town_, &slime_, true, 12, 12, 0, 0);
  town_->RegistMob(leaves);
  Rec(a).Clear();

  SetTickOverride(true, 123456);
  stays->HP = 0;
  stays->IsDead = true;
  stays->Die();
  EXPECT_EQ(stays->DeadTime, 123456u);
  EXPECT_NE(town_->BlockAt(stays->Point.X, stays->Point.Y)->MapObjects.IndexOf(stays), -1);

  leaves->IsDead = true;
  leaves->Die();
  EXPECT_EQ(town_->BlockAt(leaves->Point.X, leaves->Point.Y)->MapObjects.IndexOf(leaves), -1);
  EXPECT_EQ(town_->MList.IndexOf(leaves), 1);

  ASSERT_EQ(Rec(a).Ids(), Ids({sid::kDie, sid::kDie}));
  EXPECT_EQ(Rec(a).Frames()[0].payload, B({0x00, 0x4C, 0x4B, 0x40}));
  EXPECT_EQ(Rec(a).Frames()[1].payload, B({0x00, 0x4C, 0x4B, 0x41}));

  stays->MP = 1;
  stays->Revive();
  EXPECT_FALSE(stays->IsDead);
  EXPECT_EQ(stays->HP, 30u);
  EXPECT_EQ(stays->MP, 20u);
}

}  // namespace
}  // namespace vornhal::test
