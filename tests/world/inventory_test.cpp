// Inventory placement, stacking, exchange, merge, drop and equipment, with their packets.
#include <gtest/gtest.h>

#include "world_fixture.h"

namespace vornhal::test {
namespace {

class InventoryTest : public WorldFixture {
 protected:
  void SetUp() override {
    WorldFixture::SetUp();
    tc_ = Chara("Owner", 10, 10);
  }
  TInventory& Inv() { return tc_->Inventory(); }
  void Put(int slot, TItemData* data, int count) {
    Inv().Insert(slot, std::make_unique<TItem>(data, count));
  }
  int CountAt(int slot) {
    const int position = Inv().IndexOfSlot(slot);
    return position < 0 ? -1 : Inv().GetItem(position)->Item()->Count();
  }
  std::vector<std::pair<TServerPacketId, uint32_t>> Sent() {
    std::vector<std::pair<TServerPacketId, uint32_t>> out;
    for (const Frame& f : Rec(tc_).Frames()) out.emplace_back(f.id, Subject(f));
    Rec(tc_).Clear();
    return out;
  }
  using Sends = std::vector<std::pair<TServerPacketId, uint32_t>>;

  TChara* tc_ = nullptr;
};

TEST_F(InventoryTest, CountsAreClampedToTheItemRange) {
  EXPECT_EQ(TItem(potion_, 70000).Count(), 65535);
  EXPECT_EQ(TItem(potion_, -3).Count(), 0);
  TItem item(potion_, 5);
  item.SetCount(65536);
  EXPECT_EQ(item.Count(), 65535);
}

TEST_F(InventoryTest, StacksFillUpBeforeANewSlotOpens) {
  Put(1, potion_, 97);
  Put(2, potion_, 98);
  EXPECT_EQ(Inv().Add(potion_, 5, true), 2);
  EXPECT_EQ(CountAt(1), 99);
  EXPECT_EQ(CountAt(2), 99);
  EXPECT_EQ(CountAt(3), 2);
  EXPECT_EQ(Sent(), (Sends{{sid::kInventoryItem, 1}, {sid::kInventoryItem, 2}, {sid::kInventoryItem, 3}, {sid::kMessage, 0}}));
  Inv().Add(potion_, 5, true);
  EXPECT_EQ(Messages(Rec(tc_)), std::vector<std::string>{"Potion を 5 個入手しました"});
}

TEST_F(InventoryTest, FullInventoryFillsStacksAndLosesTheRest) {
  for (int slot = 1; slot <= 63; ++slot) Put(slot, sword_, 1);
  Put(64, potion_, 98);
  EXPECT_FALSE(Inv().HasPlace(potion_, 2));
  EXPECT_TRUE(Inv().HasPlace(potion_, 1));
  EXPECT_EQ(Inv().Add(potion_, 5, true), -1);
  EXPECT_EQ(CountAt(64), 99);
  EXPECT_EQ(Inv().Count(), 64);
  EXPECT_EQ(Sent(), (Sends{{sid::kInventoryItem, 64}}));
}

TEST_F(InventoryTest, NewSlotTakesTheWholeCountAndTheLowestFreeNumber) {
  EXPECT_EQ(Inv().Add(potion_, 250, false), 0);
  EXPECT_EQ(CountAt(1), 250);
  EXPECT_TRUE(Messages(Rec(tc_)).empty());
  // Above one item's limit: one slot of 65535, and the message tells what was added.
  Put(1, sword_, 1);
  Put(2, sword_, 1);
  Put(4, sword_, 1);
  Rec(tc_).Clear();
  Inv().Add(potion_, 70000, true);
  EXPECT_EQ(CountAt(3), 65535);
  EXPECT_EQ(Messages(Rec(tc_)), std::vector<std::string>{"Potion を 65535 個入手しました"});
  // A count below one adds nothing.
  EXPECT_EQ(Inv().Add(axe_, 0, true), -1);
  EXPECT_EQ(Inv().Count(), 4);
}

TEST_F(InventoryTest, AddingAnInstanceThatFitsInStacksSaysNothing) {
  Put(1, potion_, 90);
  Put(2, potion_, 95);
  auto item = std::make_unique<TItem>(potion_, 12);
  EXPECT_EQ(Inv().Add(item, true), 1);
  EXPECT_EQ(item, nullptr);
  EXPECT_EQ(CountAt(1), 99);
  EXPECT_EQ(CountAt(2), 98);
  EXPECT_EQ(Sent(), (Sends{{sid::kInventoryItem, 1}, {sid::kInventoryItem, 2}}));
}

TEST_F(InventoryTest, ExchangeMovesSwapsOrMerges) {
  Put(3, potion_, 99);
  Put(5, potion_, 50);
  Inv().Exchange(3, 5);  // a full stack is not merged, and not swapped either
  EXPECT_EQ(CountAt(3), 99);
  EXPECT_EQ(CountAt(5), 50);
  EXPECT_TRUE(Sent().empty());

  Inv().Exchange(5, 3);  // onto a full stack: the two swap numbers
  EXPECT_EQ(CountAt(3), 50);
  EXPECT_EQ(CountAt(5), 99);
  EXPECT_EQ(Sent(), (Sends{{sid::kInventoryItem, 5}, {sid::kInventoryItem, 3}}));

  Inv().Exchange(3, 7);  // only slot 3 exists
  EXPECT_EQ(CountAt(7), 50);
  EXPECT_TRUE(Inv().IsEmptySlot(3));
  EXPECT_EQ(Sent(), (Sends{{sid::kInventoryClear, 3}, {sid::kInventoryItem, 7}}));

  Inv().Exchange(2, 7);  // only slot 7 exists
  EXPECT_EQ(CountAt(2), 50);
  EXPECT_EQ(Sent(), (Sends{{sid::kInventoryItem, 2}, {sid::kInventoryClear, 7}}));
}

TEST_F(InventoryTest, MergeThatEmptiesTheSource) {
  Put(1, potion_, 30);
  Put(2, potion_, 40);
  Inv().Merge(1, 98, 2);
  EXPECT_EQ(CountAt(2), 70);
  EXPECT_EQ(Inv().IndexOfSlot(1), -1);
  EXPECT_EQ(Inv().Count(), 1);
  EXPECT_EQ(Sent(), (Sends{{sid::kInventoryItem, 2}, {sid::kInventoryClear, 1}}));

  Put(1, potion_, 99);
  Inv().Merge(1, 99, 2);  // 99 is refused
  EXPECT_EQ(CountAt(1), 99);
  Inv().Merge(1, 40, 2);  // only what fits moves
  EXPECT_EQ(CountAt(2), 99);
  EXPECT_EQ(CountAt(1), 70);
}

TEST_F(InventoryTest, RemoveAndDrop) {
  Put(1, potion_, 10);
  Put(2, sword_, 1);
  Inv().Remove(1, 4);
  EXPECT_EQ(CountAt(1), 6);
  Inv().Remove(2, 1);
  EXPECT_TRUE(Inv().IsEmptySlot(2));
  Rec(tc_).Clear();

  TChara* other = Chara("Other", 12, 12);
  Inv().Drop(1, 2);
  EXPECT_EQ(CountAt(1), 4);
  const auto seen = Rec(other).Frames();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].id, sid::kMapObjects);
  TDroppedItem* ground = start_->GetItem(Subject(seen[0]), tc_->Point);
  ASSERT_NE(ground, nullptr);
  EXPECT_EQ(ground->Item()->Count(), 2);
  EXPECT_EQ(Sent(), (Sends{{sid::kMapObjects, ground->ObjectID}, {sid::kInventoryItem, 1}}));

  const TItem* whole = Inv().GetItem(0)->Item();
  Inv().Drop(1, 50);  // the whole stack: the instance itself goes to the ground
  EXPECT_TRUE(Inv().IsEmptySlot(1));
  const auto frames = Rec(tc_).Frames();
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[1].id, sid::kInventoryClear);
  EXPECT_EQ(start_->GetItem(Subject(frames[0]), tc_->Point)->Item(), whole);
}

TEST_F(InventoryTest, EquipSwapsTheWornItemIntoTheInventory) {
  Put(1, axe_, 1);
  auto worn = std::make_unique<TItem>(sword_, 1);
  ASSERT_EQ(tc_->Equipments().Add(18, worn), 0);
  Rec(tc_).Clear();

  Inv().Use(1);
  EXPECT_EQ(tc_->Equipments().GetSlot(18, 1)->Item()->Data(), axe_);
  ASSERT_GE(Inv().IndexOfSlot(2), 0);  // the lowest free number other than the used slot
  EXPECT_EQ(Inv().GetItem(Inv().IndexOfSlot(2))->Item()->Data(), sword_);
  EXPECT_TRUE(Inv().IsEmptySlot(1));
  const auto frames = Rec(tc_).Frames();
  std::vector<TServerPacketId> ids;
  for (const Frame& f : frames) ids.push_back(f.id);
  EXPECT_EQ(ids, (std::vector<sid>{sid::kInventoryItem, sid::kMessage, sid::kEquipClear, sid::kCharaAppear,
                                       sid::kEquipItem, sid::kCharaAppear, sid::kInventoryClear}));
  EXPECT_EQ(MessageText(frames[1]), "Sword を 1 個入手しました");
  EXPECT_EQ(Subject(frames[6]), 1u);
}

TEST_F(InventoryTest, EquipWithAFullInventoryOnlyComplains) {
  for (int slot = 1; slot <= 64; ++slot) Put(slot, axe_, 1);
  auto worn = std::make_unique<TItem>(sword_, 1);
  tc_->Equipments().Add(18, worn);
  Rec(tc_).Clear();
  Inv().Use(5);
  EXPECT_EQ(tc_->Equipments().GetSlot(18, 1)->Item()->Data(), sword_);
  EXPECT_EQ(Inv().Count(), 64);
  EXPECT_EQ(CountAt(5), 1);
  EXPECT_EQ(Rec(tc_).Ids(), std::vector<sid>{sid::kMessage});
  EXPECT_EQ(Messages(Rec(tc_)), std::vector<std::string>{"インベントリに空きがありません"});
}

TEST_F(InventoryTest, AnOwnerNotLoggedInGetsNoPacketsButEveryChange) {
  tc_->Login = TLoginState::kOffline;
  Inv().Add(potion_, 7, true);
  Put(2, axe_, 1);
  Inv().Exchange(1, 4);
  Inv().Use(2);
  EXPECT_EQ(CountAt(4), 7);
  EXPECT_TRUE(Inv().IsEmptySlot(2));
  EXPECT_EQ(tc_->Equipments().GetSlot(18, 1)->Item()->Data(), axe_);
  EXPECT_TRUE(Rec(tc_).Bytes().empty());
}

TEST_F(InventoryTest, AppearanceFollowsTheEquipment) {
  tc_->HairType = 7;
  tc_->HairColor = {1, 2, 3};
  EXPECT_EQ(tc_->HeadType(), 7);
  EXPECT_EQ(tc_->HeadColor(), (TAsColor{1, 2, 3}));
  TItemData* cap = World.AddItemData("cap", "Cap", 1, 4);
  cap->EquipTile = 40;
  TItemData* crown = World.AddItemData("crown", "Crown", 1, 17);
  crown->EquipTile = 170;
  crown->Color = {9, 9, 9};
  auto a = std::make_unique<TItem>(cap, 1);
  tc_->Equipments().Add(4, a);
  EXPECT_EQ(tc_->HeadType(), 40);
  auto b = std::make_unique<TItem>(crown, 1);
  tc_->Equipments().Add(17, b);
  EXPECT_EQ(tc_->HeadType(), 170);
  EXPECT_EQ(tc_->HeadColor(), (TAsColor{9, 9, 9}));
  EXPECT_EQ(tc_->WeaponType(), 0);
  EXPECT_EQ(tc_->WeaponColor(), (TAsColor{0, 0, 0}));
}

}  // namespace
}  // namespace vornhal::test
