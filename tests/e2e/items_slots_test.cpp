// Items, inventory slots and the shop list through the real server on the sample world.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e/gm_player.h"

namespace vornhal::e2e {
namespace {

// The tests fill inventories with a hundred GM commands, each an audit line in the log: the
// per-connection log budget would hide the lines they look for.
class ItemsAndSlots : public SampleWorld {
 protected:
  std::string ExtraIni() const override { return "[Security]\nMaxLogLinesPerConnection=0\n"; }
};

client::InventoryItem OnlyItem(const std::vector<Frame>& frames) {
  auto items = OfId(frames, sid::kInventoryItem);
  if (items.size() != 1) throw std::runtime_error("expected one inventory item packet");
  return client::ParseInventoryItem(items[0]);
}

TEST_F(ItemsAndSlots, DropKindTwoIsIgnoredWhileZeroAndOneAct) {
  Player& p = Enter(NewName("it"));
  ASSERT_EQ(OnlyItem(p.Command("@item stick1")).slot, 1);
  EXPECT_TRUE(p.Request(client::CDropItemPacket(2, 1, 1)).empty());

  // The slot is still there: throwing it away (kind 1) clears it.
  auto frames = p.Request(client::CDropItemPacket(1, 1, 1));
  ASSERT_EQ(Ids(frames), std::vector<sid>{sid::kInventoryClear});
  EXPECT_EQ(client::ParseInventoryClear(frames[0]), 1);

  // Kind 0 puts it on the ground in view of the area.
  ASSERT_EQ(OnlyItem(p.Command("@item stick1")).slot, 1);
  frames = p.Request(client::CDropItemPacket(0, 1, 1));
  ASSERT_EQ(Ids(frames), (std::vector<sid>{sid::kMapObjects, sid::kInventoryClear}));
  auto objects = client::ParseMapObjects(frames[0]);
  ASSERT_EQ(objects.size(), 1u);
  EXPECT_EQ(objects[0].kind, 3);
  EXPECT_EQ(objects[0].name, "木の棒");
  EXPECT_EQ(server->CountInLog("Parse Error"), 0);
}

TEST_F(ItemsAndSlots, UseTypeFiveEquipsOnlyForCategoryOne) {
  Player& p = Enter(NewName("it"));
  ASSERT_EQ(OnlyItem(p.Command("@item sword1")).slot, 1);
  EXPECT_TRUE(p.Request(client::CUsePacket(2, 1, 0, 5)).empty());
  EXPECT_EQ(server->CountInLog("CUsePacket"), 0);

  auto frames = p.Request(client::CUsePacket(1, 1, 0, 5));
  auto equipped = OfId(frames, sid::kEquipItem);
  ASSERT_EQ(equipped.size(), 1u);
  EXPECT_EQ(client::ParseEquipItem(equipped[0]).key, "sword1");
  auto cleared = OfId(frames, sid::kInventoryClear);
  ASSERT_EQ(cleared.size(), 1u);
  EXPECT_EQ(client::ParseInventoryClear(cleared[0]), 1);
  EXPECT_EQ(server->CountInLog("CUsePacket"), 0);
}

TEST_F(ItemsAndSlots, ChangeSlotExchangeLogOnlyAndMerge) {
  Player& p = Enter(NewName("it"));
  ASSERT_EQ(OnlyItem(p.Command("@item stick1")).slot, 1);

  client::ChangeSlotFields fields;
  fields.category = 1;
  fields.slot1 = 1;
  fields.slot2 = 5;
  EXPECT_TRUE(p.Request(client::CChangeSlotPacket(1, fields)).empty());
  EXPECT_TRUE(server->WaitForLog("CChangeSlotPacket: type 1 category 1, slot1 1, slot2 5", 2000));

  auto frames = p.Request(client::CChangeSlotPacket(0, fields));
  ASSERT_EQ(Ids(frames), (std::vector<sid>{sid::kInventoryClear, sid::kInventoryItem}));
  EXPECT_EQ(client::ParseInventoryClear(frames[0]), 1);
  EXPECT_EQ(client::ParseInventoryItem(frames[1]).slot, 5);
  EXPECT_EQ(client::ParseInventoryItem(frames[1]).key, "stick1");

  // 100 potions: a full stack of 99 in slot 1 and one more in slot 2.
  for (int i = 0; i < 100; ++i) p.Chat("@item helixir");
  p.Settle();
  frames = p.Request(client::CMergeSlotsPacket(1, 2, 5));
  ASSERT_EQ(Ids(frames), (std::vector<sid>{sid::kInventoryItem, sid::kInventoryItem}));
  client::InventoryItem dest = client::ParseInventoryItem(frames[0]);
  client::InventoryItem src = client::ParseInventoryItem(frames[1]);
  EXPECT_EQ(dest.slot, 2);
  EXPECT_EQ(dest.count, 6);
  EXPECT_EQ(src.slot, 1);
  EXPECT_EQ(src.count, 94);

  // Category 2 only logs.
  client::ChangeSlotFields other = fields;
  other.category = 2;
  other.number = 3;
  EXPECT_TRUE(p.Request(client::CChangeSlotPacket(8, other)).empty());
  EXPECT_TRUE(server->WaitForLog("CChangeSlotPacket: type 8 category 2, slot1 1, slot2 5, number 3", 2000))
      << server->Log();
  EXPECT_EQ(server->CountInLog("Parse Error"), 0);
}

}  // namespace
}  // namespace vornhal::e2e
