// Surroundings, removal, map changes and system messages: who receives what, in which order.
#include "world/npc.h"
#include "packets_test_world.h"

namespace vornhal::test {
namespace {

using sid = TServerPacketId;
using Ids = std::vector<TServerPacketId>;

class SendsTest : public WorldTest {};

TEST_F(SendsTest, SurroundingsShowTheCharaAndItsNeighbourhood) {
  TChara* a = World.AddPlayingChara("A", town_, 17, 35);    // block (4, 8)
  TChara* near = World.AddPlayingChara("B", town_, 25, 40);  // block (6, 10): inside the 5 x 5 area
  TChara* far = World.AddPlayingChara("C", town_, 29, 35);   // block (7, 8): outside
  TItemData herb;
  herb.Name = "Herb";
  auto* item = new TDroppedItem(World, std::make_unique<TItem>(&herb, 1), 10, 30);  // block (2, 7)
  town_->AddItem(item);

  Rec(a).Clear();
  Rec(near).Clear();
  Rec(far).Clear();
  SendSurroundings(a);

  // Own look (area includes self), then per block column/row: the neighbour, then objects.
  // Block (2, 7) comes before block (6, 10) in column-major order.
  std::vector<Frame> got = Rec(a).Frames();
  ASSERT_EQ(Rec(a).Ids(), Ids({sid::kCharaAppear, sid::kMapObjects, sid::kCharaAppear}));
  EXPECT_EQ(Bytes(got[0].payload.begin() + 5, got[0].payload.begin() + 9),
            B({0x03, 0x00, 0x00, 0x00}));
  EXPECT_EQ(got[1].payload[1], 1);  // one object
  EXPECT_EQ(Bytes(got[2].payload.begin() + 5, got[2].payload.begin() + 9),
            B({0x03, 0x00, 0x00, 0x01}));
  EXPECT_EQ(Rec(near).Ids(), Ids({sid::kCharaAppear}));
  EXPECT_TRUE(Rec(far).Bytes().empty());
  town_->DeleteItem(item);
  delete item;
}

TEST_F(SendsTest, SurroundingsAtTheMapCornerStayInsideTheGrid) {
  TMap* tiny = World.AddMap(2, "Tiny", 7, 7);  // 2 x 2 blocks
  TChara* a = World.AddPlayingChara("A", tiny, 0, 0);
  TChara* b = World.AddPlayingChara("B", tiny, 7, 7);
  Rec(a).Clear();
  SendSurroundings(a);
  EXPECT_EQ(Rec(a).Ids(), Ids({sid::kCharaAppear, sid::kCharaAppear}));
  EXPECT_EQ(Rec(b).Ids().back(), sid::kCharaAppear);
}

TEST_F(SendsTest, RemovalGoesToTheAreaWithoutTheObject) {
  TChara* a = World.AddPlayingChara("A", town_, 17, 35);
  TChara* b = World.AddPlayingChara("B", town_, 18, 35);
  TChara* far = World.AddPlayingChara("C", town_, 90, 90);
  Rec(a).Clear();
  Rec(b).Clear();
  SendObjectRemoval(a);
  EXPECT_TRUE(Rec(a).Bytes().empty());
  ASSERT_EQ(Rec(b).Ids(), Ids({sid::kRemoveObject}));
  EXPECT_EQ(Rec(b).Frames()[0].payload, B({0x03, 0x00, 0x00, 0x00}));
  EXPECT_TRUE(Rec(far).Bytes().empty());
}

TEST_F(SendsTest, ChangeMapOnTheSameMap) {
  TChara* a = World.AddPlayingChara("A", town_, 17, 35);
  TChara* old_neighbour = World.AddPlayingChara("B", town_, 18, 35);
  TChara* new_neighbour = World.AddPlayingChara("D", town_, 80, 80);
  TChara* far = World.AddPlayingChara("C", town_, 40, 80);
  for (TChara* tc : {a, old_neighbour, new_neighbour, far}) Rec(tc).Clear();

  ChangeMap(a, town_, 81, 81);

  EXPECT_EQ(a->Map, town_);
  EXPECT_EQ(a->Point, (TMapPoint{81, 81}));
  EXPECT_EQ(a->Dir, 2);  // unchanged
  // Map info, music, position, weather, own look; then the surroundings: own look to the
  // area (itself included) and the neighbour's look.
  ASSERT_EQ(Rec(a).Ids(), Ids({sid::kMapInfo, sid::kSound, sid::kPlayerPosition, sid::kWeather, sid::kCharaAppear, sid::kCharaAppear, sid::kCharaAppear}));
  std::vector<Frame> got = Rec(a).Frames();
  EXPECT_EQ(got[2].payload, B({0x00, 0x51, 0x00, 0x51, 0x00, 0x08, 0x00, 0x09}));
  EXPECT_EQ(got[6].payload[8], 0x02);  // the neighbour D, id 0x03000002
  EXPECT_EQ(Rec(old_neighbour).Ids(), Ids({sid::kRemoveObject}));
  EXPECT_EQ(Rec(new_neighbour).Ids(), Ids({sid::kCharaAppear}));
  EXPECT_TRUE(Rec(far).Bytes().empty());
  // Listed once, under its new block.
  int listed = 0;
  for (TChara* tc : town_->CList) listed += tc == a;
  EXPECT_EQ(listed, 1);
  ASSERT_NE(town_->BlockAt(81, 81), nullptr);
  const auto& clist = town_->BlockAt(81, 81)->CList;
  EXPECT_NE(std::find(clist.begin(), clist.end(), a), clist.end());
  const auto& old_list = town_->BlockAt(17, 35)->CList;
  EXPECT_EQ(std::find(old_list.begin(), old_list.end(), a), old_list.end());
}

TEST_F(SendsTest, ChangeMapToAnotherMap) {
  TMap* dun = World.AddMap(1, "Dun", 50, 50);
  dun->BGM = 7;
  dun->Weather = 2;
  TChara* a = World.AddPlayingChara("A", town_, 17, 35);
  TChara* old_neighbour = World.AddPlayingChara("B", town_, 18, 35);
  TChara* there = World.AddPlayingChara("D", dun, 6, 6);
  auto* npc = new TNpc(World);
  npc->FName = "Np";
  npc->MapID = 1;
  npc->Point = TMapPoint{7, 7};
  World.NpcList.Add(npc);
  dun->AddNpc(npc);
  for (TChara* tc : {a, old_neighbour, there}) Rec(tc).Clear();

  ChangeMap(a, dun, 5, 5);

  EXPECT_EQ(a->Map, dun);
  EXPECT_TRUE(std::find(town_->CList.begin(), town_->CList.end(), a) == town_->CList.end());
  EXPECT_FALSE(std::find(dun->CList.begin(), dun->CList.end(), a) == dun->CList.end());
  ASSERT_EQ(Rec(a).Ids(), Ids({sid::kMapInfo, sid::kSound, sid::kPlayerPosition, sid::kWeather, sid::kCharaAppear, sid::kCharaAppear, sid::kCharaAppear, sid::kMapObjects}));
  std::vector<Frame> got = Rec(a).Frames();
  EXPECT_EQ(got[0].payload, Cat({B({0x00, 0x01, 0, 0, 0, 0, 0, 0}), Str8("Dun")}));
  EXPECT_EQ(got[1].payload, B({0x01, 0x00, 0x00, 0x07}));
  EXPECT_EQ(got[3].payload, B({0x01, 0x02}));
  EXPECT_EQ(Rec(old_neighbour).Ids(), Ids({sid::kRemoveObject}));
  EXPECT_EQ(Rec(there).Ids(), Ids({sid::kCharaAppear}));
}

TEST_F(SendsTest, SystemMessageToOneConnection) {
  TChara* a = World.AddPlayingChara("A", town_, 17, 35);
  TChara* b = World.AddPlayingChara("B", town_, 18, 35);
  Rec(a).Clear();
  Rec(b).Clear();
  SendSystemMessage(a->Conn(), 3, "Hi", false);
  ASSERT_EQ(Rec(a).Ids(), Ids({sid::kMessage}));
  EXPECT_EQ(Rec(a).Frames()[0].payload, B({0x03, 0x00, 0x00, 0x02, 'H', 'i'}));
  EXPECT_TRUE(Rec(b).Bytes().empty());
  SendSystemMessage(nullptr, 3, "Hi", false);  // nobody to send to: nothing happens
  Rec(a).SetConnected(false);
  SendSystemMessage(a->Conn(), 3, "Hi", false);
  EXPECT_EQ(Rec(a).Ids().size(), 1u);
}

}  // namespace
}  // namespace vornhal::test
