// Maps and blocks: geometry, the view exchange of a step, the group sends, walkability and
// the map list.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <utility>

#include "world_fixture.h"

namespace vornhal::test {
namespace {

using MapTest = WorldFixture;

TEST_F(MapTest, GridCoversEveryCellUpToWidthAndHeight) {
  EXPECT_FALSE(start_->Loaded());
  TChara* tc = Chara("Edge", 100, 60);
  EXPECT_TRUE(start_->Loaded());
  EXPECT_EQ(start_->BlockWidth, 26);
  EXPECT_EQ(start_->BlockHeight, 16);
  ASSERT_NE(start_->Block(25, 15), nullptr);
  EXPECT_EQ(start_->Block(25, 15)->CList, std::vector<TChara*>{tc});
  EXPECT_EQ(start_->Block(26, 15), nullptr);
  EXPECT_EQ(start_->Block(-1, 0), nullptr);

  EXPECT_TRUE(start_->InGrid(103, 63));
  EXPECT_FALSE(start_->InGrid(104, 0));
  EXPECT_FALSE(start_->InGrid(0, 64));
  EXPECT_FALSE(start_->InGrid(-1, 0));
}

TEST_F(MapTest, PositionsOutsideTheGridAreRefused) {
  TChara* tc = Chara("A", 99, 10);
  auto outside = std::make_unique<TChara>(World);
  outside->Map = start_;
  outside->Point = {104, 10};
  EXPECT_FALSE(start_->AddChara(outside.get()));
  EXPECT_EQ(start_->CList.size(), 1u);

  EXPECT_FALSE(start_->MoveChara(tc, 104, 10));
  EXPECT_EQ(tc->Point, (TMapPoint{99, 10}));
  EXPECT_TRUE(Rec(tc).Bytes().empty());
  EXPECT_TRUE(start_->MoveChara(tc, 103, 10));  // the last column of the grid

  TDroppedItem item(World, std::make_unique<TItem>(potion_, 1), 200, 1);
  EXPECT_FALSE(start_->AddItem(&item));
}

// The step from (11, 10) to (12, 10) crosses from block (2, 2) to block (3, 2). One observer
// stands in every block of columns 0 to 5, rows 0 to 4.
TEST_F(MapTest, StepAcrossABlockBorderExchangesTheView) {
  TChara* mover = Chara("Mover", 11, 10);
  std::map<std::pair<int, int>, TChara*> observers;
  for (int bx = 0; bx <= 5; ++bx) {
    for (int by = 0; by <= 4; ++by) {
      std::string name(1, 'O');
      name += std::to_string(bx);
      name += std::to_string(by);
      observers[{bx, by}] =
          Chara(name, static_cast<uint16_t>(bx * 4 + 1), static_cast<uint16_t>(by * 4 + 1));
    }
  }
  // Map objects in a block that is re-sent (4, 1) and in one that is not (1, 2).
  auto* shown = new TDroppedItem(World, std::make_unique<TItem>(potion_, 3), 17, 5);
  auto* kept = new TDroppedItem(World, std::make_unique<TItem>(potion_, 3), 5, 9);
  ASSERT_TRUE(start_->AddItem(shown));
  ASSERT_TRUE(start_->AddItem(kept));
  for (auto& [block, tc] : observers) Rec(tc).Clear();

  ASSERT_TRUE(start_->MoveChara(mover, 12, 10));
  EXPECT_EQ(mover->Point, (TMapPoint{12, 10}));
  EXPECT_EQ(start_->Block(2, 2)->CList, (std::vector<TChara*>{observers[{2, 2}]}));
  EXPECT_EQ(start_->Block(3, 2)->CList.back(), mover);

  for (auto& [block, tc] : observers) {
    const auto frames = Rec(tc).Frames();
    SCOPED_TRACE("observer in block " + std::to_string(block.first) + "," + std::to_string(block.second));
    if (block.first == 0) {
      ASSERT_EQ(frames.size(), 1u);
      EXPECT_EQ(frames[0].id, sid::kRemoveObject);
      EXPECT_EQ(Subject(frames[0]), mover->ObjectID);
    } else if (block.first == 5) {
      ASSERT_EQ(frames.size(), 1u);
      EXPECT_EQ(frames[0].id, sid::kCharaAppear);
      EXPECT_EQ(Subject(frames[0]), mover->ObjectID);
      EXPECT_EQ(U16At(frames[0].payload, 0), 11);  // the packet carries the old position
    } else {
      EXPECT_TRUE(frames.empty());
    }
  }

  // The mover, column by column and row by row: every block two or more blocks away from
  // its former block.
  std::vector<std::pair<TServerPacketId, uint32_t>> expected;
  for (int i = 1; i <= 5; ++i) {
    for (int j = 0; j <= 4; ++j) {
      if (std::max(std::abs(i - 2), std::abs(j - 2)) < 2) continue;
      expected.emplace_back(sid::kCharaAppear, observers[{i, j}]->ObjectID);
      if (i == 4 && j == 1) expected.emplace_back(sid::kMapObjects, shown->ObjectID);
    }
  }
  std::vector<std::pair<TServerPacketId, uint32_t>> got;
  for (const Frame& f : Rec(mover).Frames()) got.emplace_back(f.id, Subject(f));
  EXPECT_EQ(got, expected);
}

TEST_F(MapTest, StepInsideABlockOnlyMovesThePoint) {
  TChara* mover = Chara("Mover", 8, 8);
  TChara* near = Chara("Near", 9, 9);
  ASSERT_TRUE(start_->MoveChara(mover, 11, 11));
  EXPECT_EQ(mover->Point, (TMapPoint{11, 11}));
  EXPECT_TRUE(Rec(mover).Bytes().empty());
  EXPECT_TRUE(Rec(near).Bytes().empty());
}

TEST_F(MapTest, SendToBlockInACornerVisitsNineBlocks) {
  TChara* corner = Chara("Corner", 0, 0);
  TChara* inside = Chara("Inside", 11, 11);   // block (2, 2)
  TChara* beyond = Chara("Beyond", 12, 0);    // block (3, 0)
  TChara* doubled = Chara("Dup", 5, 5);       // listed twice in its block
  start_->Block(1, 1)->CList.push_back(doubled);

  TPacket p = SRemoveObjectPacket(*corner);
  p.SendToBlock(corner, false);
  EXPECT_TRUE(Rec(corner).Bytes().empty());
  EXPECT_EQ(Rec(inside).Frames().size(), 1u);
  EXPECT_TRUE(Rec(beyond).Bytes().empty());
  EXPECT_EQ(Rec(doubled).Frames().size(), 2u);
  // Every receiver gets the same bytes.
  EXPECT_EQ(Rec(inside).Bytes(), std::vector<uint8_t>(Rec(doubled).Bytes().begin(),
                                                       Rec(doubled).Bytes().begin() +
                                                           static_cast<long>(Rec(inside).Bytes().size())));
  p.SendToBlock(corner, true);
  EXPECT_EQ(Rec(corner).Frames().size(), 1u);
}

TEST_F(MapTest, SendsOnAnUnloadedMapOrAnEmptyBlockReachNobody) {
  TMap* empty = World.AddMap(7, "Empty", 20, 20);
  TChara* tc = Chara("A", 5, 5);
  tc->Map = empty;  // standing on a map nobody has entered
  TPacket p = SRemoveObjectPacket(*tc);
  p.SendToBlock(tc, true);
  EXPECT_TRUE(Rec(tc).Bytes().empty());
  EXPECT_FALSE(p.IsEncoded());

  TPacket q = SRemoveObjectPacket(*tc);
  q.SendToOneBlock(start_->Block(10, 10));
  q.SendToOneBlock(nullptr);
  EXPECT_FALSE(q.IsEncoded());
  q.WriteByte(1);  // still open for writing
}

TEST_F(MapTest, LoadPlacesNpcsAndPortalsInsideTheMapOnly) {
  auto* npc = new TNpc(World);
  npc->MapID = 10055;
  npc->Point = {20, 20};
  auto* outside = new TNpc(World);
  outside->MapID = 10055;
  outside->Point = {100, 20};  // X = Width
  World.NpcList.Add(npc);
  World.NpcList.Add(outside);
  auto portal = std::make_unique<TPortal>();
  portal->SrcMap = start_;
  portal->DestMap = start_;
  portal->SrcMinPoint = {10, 20};
  portal->SrcMaxPoint = {13, 21};
  portal->Point = {11, 20};
  TPortal* raw_portal = portal.get();
  World.PortalList.Add(std::move(portal));

  start_->Load();
  TMapObject* found = nullptr;
  EXPECT_TRUE(start_->Block(5, 5)->MapObjects.TryGetValue(npc->ObjectID, found));
  EXPECT_EQ(start_->Block(2, 5)->PortalCount(), 1);
  EXPECT_EQ(start_->Block(2, 5)->MapObjects.IndexOf(raw_portal), 0);
  EXPECT_FALSE(start_->Block(2, 5)->MapObjects.TryGetValue(0, found));
  for (int bx = 0; bx < start_->BlockWidth; ++bx) {
    for (int by = 0; by < start_->BlockHeight; ++by) {
      EXPECT_EQ(start_->Block(bx, by)->MapObjects.IndexOf(outside), -1);
    }
  }
  EXPECT_EQ(World.NpcList.Count(), 2);
}

// How often tc is listed in each block of map that lists it at all, by block coordinates.
std::map<std::pair<int, int>, int> BlocksListing(const TMap& map, const TChara* tc) {
  std::map<std::pair<int, int>, int> found;
  for (int bx = 0; bx < map.BlockWidth; ++bx) {
    for (int by = 0; by < map.BlockHeight; ++by) {
      const auto& list = map.Block(bx, by)->CList;
      const int n = static_cast<int>(std::count(list.begin(), list.end(), tc));
      if (n > 0) found[{bx, by}] = n;
    }
  }
  return found;
}

TEST_F(MapTest, AMoveWithoutViewKeepsTheCharacterListedOnceInTheBlockUnderIt) {
  TChara* walker = Chara("Walker", 5, 5);
  TChara* watcher = Chara("Watcher", 6, 6);
  using Listing = std::map<std::pair<int, int>, int>;

  ASSERT_TRUE(start_->MoveCharaSilently(walker, 30, 29));
  EXPECT_EQ(walker->Point, (TMapPoint{30, 29}));
  EXPECT_EQ(BlocksListing(*start_, walker), (Listing{{{7, 7}, 1}}));
  EXPECT_EQ(BlocksListing(*start_, watcher), (Listing{{{1, 1}, 1}}));
  ASSERT_TRUE(start_->MoveCharaSilently(walker, 31, 31));  // within the block
  EXPECT_EQ(BlocksListing(*start_, walker), (Listing{{{7, 7}, 1}}));
  EXPECT_EQ(std::count(start_->CList.begin(), start_->CList.end(), walker), 1);

  // Outside the grid nothing changes.
  EXPECT_FALSE(start_->MoveCharaSilently(walker, 104, 10));
  EXPECT_EQ(walker->Point, (TMapPoint{31, 31}));
  EXPECT_EQ(BlocksListing(*start_, walker), (Listing{{{7, 7}, 1}}));
  // Nobody is told: the path report carries the movement.
  EXPECT_TRUE(Rec(walker).Bytes().empty());
  EXPECT_TRUE(Rec(watcher).Bytes().empty());

  // A character that left the map is not listed again by a late move.
  start_->DeleteChara(walker);
  ASSERT_TRUE(start_->MoveCharaSilently(walker, 2, 2));
  EXPECT_TRUE(BlocksListing(*start_, walker).empty());
}

TEST_F(MapTest, TakingNpcsAndPortalsOutKeepsItemsAndThePortalCounts) {
  auto* npc = new TNpc(World);
  npc->MapID = 10055;
  npc->Point = {10, 21};
  World.NpcList.Add(npc);
  auto portal = std::make_unique<TPortal>();
  portal->SrcMap = start_;
  portal->DestMap = start_;
  portal->SrcMinPoint = {10, 20};
  portal->SrcMaxPoint = {13, 21};
  portal->Point = {11, 20};
  TPortal* raw_portal = portal.get();
  World.PortalList.Add(std::move(portal));
  TChara* tc = Chara("P", 12, 21);  // loads the map, standing in the portal
  auto* item = new TDroppedItem(World, std::make_unique<TItem>(potion_, 1), 11, 21);
  ASSERT_TRUE(start_->AddItem(item));
  TMapBlock* block = start_->Block(2, 5);
  ASSERT_EQ(block->MapObjects.Count(), 3);
  EXPECT_EQ(tc->IsInPortal(), raw_portal);

  start_->RemoveNpcsAndPortals();
  EXPECT_EQ(block->PortalCount(), 0);
  EXPECT_EQ(block->MapObjects.Count(), 1);
  EXPECT_EQ(block->MapObjects.IndexOf(item), 0);
  EXPECT_EQ(tc->IsInPortal(), nullptr);
  EXPECT_EQ(World.NpcList.Count(), 1);  // the lists keep them
  EXPECT_EQ(World.PortalList.Count(), 1);

  // Placed again, each portal counts once.
  start_->AddPortal(raw_portal);
  EXPECT_EQ(block->PortalCount(), 1);
  EXPECT_EQ(tc->IsInPortal(), raw_portal);
  start_->RemoveNpcsAndPortals();
  start_->RemoveNpcsAndPortals();
  EXPECT_EQ(block->PortalCount(), 0);
}

// Sets a flag when destroyed, to observe that the map owns what lies on it.
class WatchedItem : public TDroppedItem {
 public:
  WatchedItem(TWorld& world, std::unique_ptr<TItem> item, bool* destroyed)
      : TDroppedItem(world, std::move(item), 6, 6), destroyed_(destroyed) {}
  ~WatchedItem() override { *destroyed_ = true; }

 private:
  bool* destroyed_;
};

TEST_F(MapTest, UnloadKeepsAnOccupiedMapAndDestroysLyingItems) {
  TChara* tc = Chara("A", 5, 5);
  bool destroyed = false;
  auto* item = new WatchedItem(World, std::make_unique<TItem>(potion_, 1), &destroyed);
  const uint32_t id = item->ObjectID;
  ASSERT_TRUE(start_->AddItem(item));
  EXPECT_EQ(start_->GetItem(item->ObjectID, tc->Point), item);
  start_->Unload(false);
  EXPECT_TRUE(start_->Loaded());
  start_->DeleteChara(tc);
  EXPECT_TRUE(start_->CList.empty());
  EXPECT_TRUE(start_->Loaded());  // leaving does not unload
  EXPECT_FALSE(destroyed);
  start_->Unload(false);
  EXPECT_FALSE(start_->Loaded());
  EXPECT_TRUE(destroyed);
  EXPECT_EQ(start_->GetItem(id, tc->Point), nullptr);
}

TEST_F(MapTest, GetItemSearchesTheFiveByFiveBlocksForDroppedItemsOnly) {
  Chara("A", 0, 0);
  auto* item = new TDroppedItem(World, std::make_unique<TItem>(potion_, 1), 19, 19);  // block (4, 4)
  ASSERT_TRUE(start_->AddItem(item));
  EXPECT_EQ(start_->GetItem(item->ObjectID, TMapPoint{11, 11}), item);  // block (2, 2)
  EXPECT_EQ(start_->GetItem(item->ObjectID, TMapPoint{7, 7}), nullptr);  // block (1, 1)
  auto* npc = new TNpc(World);
  npc->Point = {18, 18};
  World.NpcList.Add(npc);
  start_->AddNpc(npc);
  EXPECT_EQ(start_->GetItem(npc->ObjectID, TMapPoint{18, 18}), nullptr);
  start_->DeleteItem(item);
  EXPECT_EQ(start_->GetItem(item->ObjectID, TMapPoint{19, 19}), nullptr);
  delete item;
}

TEST_F(MapTest, CanMove) {
  TMap* plain = World.AddMap(1, "Plain", 10, 10);
  EXPECT_FALSE(plain->CanMove(0, 5));
  EXPECT_FALSE(plain->CanMove(5, 0));
  EXPECT_TRUE(plain->CanMove(500, 500));  // no cell file: everything else is walkable

  TMap* grid = World.AddMap(2, "Grid", 10, 10);
  grid->Usedat = true;
  grid->DatWidth = 6;  // the file is smaller than the map
  grid->DatHeight = 6;
  grid->dat.assign(36, 0);
  grid->dat[3 * 6 + 4] = 1;
  EXPECT_TRUE(grid->CanMove(2, 2));
  EXPECT_FALSE(grid->CanMove(3, 4));
  EXPECT_FALSE(grid->CanMove(8, 2));   // inside the map, outside the file
  EXPECT_FALSE(grid->CanMove(11, 2));  // beyond Width
  // The first column and row past the file are blocked too, even when the file holds more
  // bytes than its grid needs.
  grid->dat.assign(64, 0);
  EXPECT_TRUE(grid->CanMove(5, 5));
  EXPECT_FALSE(grid->CanMove(6, 2));
  EXPECT_FALSE(grid->CanMove(2, 6));
}

TEST_F(MapTest, MapListSearchAndSort) {
  World.AddMap(300, "C", 10, 10);
  TMap* first = World.AddMap(5, "A", 10, 10);
  World.AddMap(5, "B", 10, 10);
  EXPECT_EQ(World.MapList.IndexOfMapID(5), 2);
  EXPECT_EQ(World.MapList.FindMap(5), first);
  EXPECT_EQ(World.MapList.IndexOfMapID(4242), -1);
  EXPECT_EQ(World.MapList.FindMap(4242), nullptr);
  World.MapList.MapSort();
  std::vector<uint16_t> ids;
  for (const auto& map : World.MapList) ids.push_back(map->ID);
  EXPECT_EQ(ids, (std::vector<uint16_t>{5, 5, 300, 10055}));
}

}  // namespace
}  // namespace vornhal::test
