// The experience table, level-ups, money on the character and on the ground, picking up,
// portals and the names of objects on the ground.
#include <gtest/gtest.h>

#include "world_fixture.h"

namespace vornhal::test {
namespace {

using CharaTest = WorldFixture;

TEST_F(CharaTest, ExperienceTableEntries) {
  const uint32_t level2[8] = {540, 567, 513, 621, 540, 594, 675, 702};
  const uint32_t level3[8] = {1440, 1511, 1368, 1656, 1440, 1584, 1800, 1871};
  const uint32_t level100[8] = {182103000, 191208149, 172997850, 209418450,
                                182103000, 200313300, 227628750, 236733899};
  for (int row = 0; row < 8; ++row) {
    SCOPED_TRACE("row " + std::to_string(row));
    EXPECT_EQ(ExpTable[row][0], level2[row]);
    EXPECT_EQ(ExpTable[row][1], level3[row]);
    EXPECT_EQ(ExpTable[row][98], level100[row]);
    for (int i = 1; i < 99; ++i) ASSERT_LT(ExpTable[row][i - 1], ExpTable[row][i]) << "index " << i;
  }
  for (int i = 0; i < 99; ++i) ASSERT_EQ(ExpTable[0][i], ExpTable[4][i]);
}

TEST_F(CharaTest, OneGainCanRaiseSeveralLevels) {
  TChara* tc = Chara("A", 10, 10);
  tc->CalcStatus();
  EXPECT_EQ(tc->ExpPercent, 0);
  EXPECT_EQ(tc->MaxWeight, 78);

  tc->IncExp(1500);  // past 540 (level 2) and 1440 (level 3)
  EXPECT_EQ(tc->Level, 3);
  EXPECT_EQ(tc->StatPoint, 2);
  EXPECT_EQ(tc->MaxWeight, 82);
  EXPECT_EQ(tc->ExpPercent, 50);  // level 3 leaves at 3000
  EXPECT_EQ(Rec(tc).Ids(), (std::vector<sid>{sid::kStatus, sid::kMessage,
                                                 sid::kMessage, sid::kEffect, sid::kStatus, sid::kLevelUp,
                                                 sid::kMessage, sid::kEffect, sid::kStatus, sid::kLevelUp}));
  EXPECT_EQ(Messages(Rec(tc)), (std::vector<std::string>{"経験値が 1500 上がりました",
                                                          "レベルが上がりました",
                                                          "レベルが上がりました"}));
}

TEST_F(CharaTest, LevelNinetyNineIsTheLast) {
  TChara* tc = Chara("A", 10, 10);
  tc->Level = 99;
  tc->Exp = ExpTable[0][98];
  tc->IncExp(1000);
  EXPECT_EQ(tc->Level, 99);
  EXPECT_EQ(tc->Exp, ExpTable[0][98] + 1000);
  EXPECT_EQ(tc->ExpPercent, 100);

  TChara* full = Chara("B", 10, 10);
  full->StatPoint = 255;
  full->IncExp(540);
  EXPECT_EQ(full->Level, 2);
  EXPECT_EQ(full->StatPoint, 255);
}

TEST_F(CharaTest, MoneyGainStopsAtTheCap) {
  TChara* tc = Chara("A", 10, 10);
  tc->Glod = 499999950;
  tc->IncGlod(100);
  EXPECT_EQ(tc->Glod, kMaxGlod);
  EXPECT_EQ(Messages(Rec(tc)), std::vector<std::string>{"100グロッドを手に入れました"});
  Rec(tc).Clear();
  tc->IncGlod(0);
  EXPECT_TRUE(Rec(tc).Bytes().empty());
  tc->Login = TLoginState::kOffline;
  tc->Glod = 5;
  tc->IncGlod(7);
  EXPECT_EQ(tc->Glod, 12u);
  EXPECT_TRUE(Rec(tc).Bytes().empty());
}

TEST_F(CharaTest, DroppedMoneyChoosesItsDefinitionByAmount) {
  TChara* tc = Chara("A", 10, 10);
  struct Case {
    uint32_t glod, value, dropped;
    int money;
  };
  const Case cases[] = {{400, 600, 400, 1}, {1000, 501, 501, 2}, {6000, 5001, 5001, 3},
                        {200000, 100000, 65535, 3}, {500000, 100001, 65535, 3}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    tc->Glod = c.glod;
    Rec(tc).Clear();
    tc->DropGlod(c.value);
    EXPECT_EQ(tc->Glod, c.glod - c.dropped);
    const auto frames = Rec(tc).Frames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].id, sid::kMapObjects);
    EXPECT_EQ(frames[1].id, sid::kStatus);
    TDroppedItem* item = start_->GetItem(Subject(frames[0]), tc->Point);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->Item()->Count(), c.dropped);
    EXPECT_EQ(item->Item()->Data(), money_[c.money]);
  }
  tc->Glod = 0;
  Rec(tc).Clear();
  tc->DropGlod(10);
  EXPECT_TRUE(Rec(tc).Bytes().empty());
}

class PickTest : public WorldFixture {
 protected:
  TDroppedItem* Lay(TItemData* data, int count, uint16_t x, uint16_t y) {
    auto* item = new TDroppedItem(World, std::make_unique<TItem>(data, count), x, y);
    EXPECT_TRUE(start_->AddItem(item));
    return item;
  }
};

TEST_F(PickTest, MoneyNearTheCapLeavesTheRestOnTheGround) {
  TChara* tc = Chara("A", 10, 10);
  TChara* watcher = Chara("W", 12, 12);
  TDroppedItem* money = Lay(money_[2], 1000, 11, 10);
  tc->Glod = 499999500;
  tc->PickItem(money->ObjectID);
  EXPECT_EQ(tc->Glod, kMaxGlod);
  EXPECT_EQ(money->Item()->Count(), 500);
  EXPECT_EQ(start_->GetItem(money->ObjectID, tc->Point), money);
  EXPECT_EQ(Messages(Rec(tc)), std::vector<std::string>{"500グロッドを手に入れました"});
  EXPECT_EQ(Rec(watcher).Ids(), std::vector<sid>{sid::kMapObjects});

  Rec(tc).Clear();
  Rec(watcher).Clear();
  tc->PickItem(money->ObjectID);  // at the cap
  EXPECT_EQ(Rec(tc).Ids(), std::vector<sid>{sid::kMessage});
  EXPECT_EQ(Messages(Rec(tc)), std::vector<std::string>{"所持金が最大です"});
  EXPECT_EQ(money->Item()->Count(), 500);
  EXPECT_TRUE(Rec(watcher).Bytes().empty());

  tc->Glod = 100;
  Rec(tc).Clear();
  const uint32_t id = money->ObjectID;
  tc->PickItem(id);  // all of it: the dropped item is destroyed
  EXPECT_EQ(tc->Glod, 600u);
  EXPECT_EQ(start_->GetItem(id, tc->Point), nullptr);
  EXPECT_EQ(Rec(watcher).Ids(), std::vector<sid>{sid::kRemoveObject});
}

TEST_F(PickTest, ItemsGoIntoTheInventoryWhenTheyFit) {
  TChara* tc = Chara("A", 10, 10);
  TDroppedItem* far = Lay(money_[1], 5, 40, 40);
  tc->PickItem(far->ObjectID);  // beyond the 5 x 5 blocks
  EXPECT_EQ(tc->Glod, 0u);

  TDroppedItem* potions = Lay(potion_, 12, 10, 10);
  const TItem* instance = potions->Item();
  const uint32_t id = potions->ObjectID;
  tc->PickItem(id);
  ASSERT_EQ(tc->Inventory().Count(), 1);
  EXPECT_EQ(tc->Inventory().GetItem(0)->Item(), instance);
  EXPECT_EQ(start_->GetItem(id, tc->Point), nullptr);
  EXPECT_EQ(Rec(tc).Ids(), (std::vector<sid>{sid::kInventoryItem, sid::kMessage, sid::kRemoveObject}));

  for (int slot = 2; slot <= 64; ++slot) tc->Inventory().Insert(slot, std::make_unique<TItem>(sword_, 1));
  TDroppedItem* blade = Lay(axe_, 1, 10, 10);
  Rec(tc).Clear();
  tc->PickItem(blade->ObjectID);  // full: nothing, silently
  EXPECT_EQ(start_->GetItem(blade->ObjectID, tc->Point), blade);
  EXPECT_TRUE(Rec(tc).Bytes().empty());
}

TEST_F(CharaTest, PortalIsFoundWithinOneBlockOfItsCentre) {
  auto portal = std::make_unique<TPortal>();
  portal->SrcMap = start_;
  portal->DestMap = start_;
  portal->SrcMinPoint = {10, 20};
  portal->SrcMaxPoint = {13, 21};
  portal->Point = {11, 20};
  TPortal* small = portal.get();
  World.PortalList.Add(std::move(portal));
  auto wide = std::make_unique<TPortal>();
  wide->SrcMap = start_;
  wide->SrcMinPoint = {0, 40};
  wide->SrcMaxPoint = {30, 43};
  wide->Point = {15, 41};  // block (3, 10)
  TPortal* wide_raw = wide.get();
  World.PortalList.Add(std::move(wide));

  TChara* tc = Chara("A", 13, 21);
  EXPECT_EQ(tc->IsInPortal(), small);
  ASSERT_TRUE(start_->MoveChara(tc, 14, 21));
  EXPECT_EQ(tc->IsInPortal(), nullptr);
  ASSERT_TRUE(start_->MoveChara(tc, 8, 41));  // block (2, 10): next to the centre block
  EXPECT_EQ(tc->IsInPortal(), wide_raw);
  ASSERT_TRUE(start_->MoveChara(tc, 4, 41));  // block (1, 10): inside, but two blocks away
  EXPECT_EQ(tc->IsInPortal(), nullptr);
}

TEST_F(CharaTest, NamesAndTilesOfObjectsOnTheGround) {
  TDroppedItem money(World, std::make_unique<TItem>(money_[1], 250), 1, 1);
  EXPECT_EQ(money.Name(), "250 グロッド");
  TItemData* upper = World.AddItemData("MONEY2x", "M", 0, 0);
  upper->MetaKey = "MONEY2";
  EXPECT_TRUE(upper->IsMoney());
  potion_->DropTile = 0x9000;
  TDroppedItem one(World, std::make_unique<TItem>(potion_, 1), 1, 1);
  TDroppedItem twelve(World, std::make_unique<TItem>(potion_, 12), 1, 1);
  EXPECT_EQ(one.Name(), "Potion");
  EXPECT_EQ(twelve.Name(), "Potion 12個");
  EXPECT_EQ(one.Tile(), 0x1000);
  EXPECT_EQ(one.ObjectKind(), kKindDroppedItem);

  TPortal portal;
  portal.DestMap = start_;
  start_->Name = "Town";
  EXPECT_EQ(portal.Name(), "Townへ");
}

}  // namespace
}  // namespace vornhal::test
