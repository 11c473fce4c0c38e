// Maps, their 4 x 4 blocks, the view exchange of a moving character, and the map list.
#include "world/map.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <optional>

#include "platform/settings.h"
#include "world/chara.h"
#include "world/mob.h"
#include "world/npc.h"
#include "world/packets.h"
#include "world/world.h"

namespace vornhal {

namespace {

int Chebyshev(int dx, int dy) { return std::max(std::abs(dx), std::abs(dy)); }

// Removes the first occurrence of tc from a character list.
void EraseFirst(std::vector<TChara*>& list, const TChara* tc) {
  auto it = std::find(list.begin(), list.end(), tc);
  if (it != list.end()) list.erase(it);
}

}  // namespace

TMap::TMap(TWorld& world) : World(world), MList(true) {}

TMap::~TMap() {
  Unload(true);
  // MList (owning) destroys every registered mob with the map.
}

bool TMap::InGrid(int x, int y) const {
  return x >= 0 && y >= 0 && x / 4 <= Width / 4 && y / 4 <= Height / 4;
}

TMapBlock* TMap::Block(int bx, int by) const {
  if (!FLoaded || bx < 0 || by < 0 || bx >= BlockWidth || by >= BlockHeight) return nullptr;
  return Blocks[static_cast<size_t>(bx) * BlockHeight + by].get();
}

TMapBlock* TMap::BlockAt(int x, int y) const {
  if (!InGrid(x, y)) return nullptr;
  return Block(x / 4, y / 4);
}

void TMap::Load() {
  if (FLoaded) return;
  BlockWidth = Width / 4 + 1;
  BlockHeight = Height / 4 + 1;
  Blocks.clear();
  Blocks.reserve(static_cast<size_t>(BlockWidth) * BlockHeight);
  for (int i = 0; i < BlockWidth * BlockHeight; ++i) Blocks.push_back(std::make_unique<TMapBlock>());
  // The grid must count as loaded while NPCs and portals are placed into it.
  FLoaded = true;
  for (TNpc* tn : World.NpcList) {
    if (tn->MapID == ID) AddNpc(tn);
  }
  for (const auto& tp : World.PortalList) {
    if (tp->SrcMap != nullptr && tp->SrcMap->ID == ID) AddPortal(tp.get());
  }
}

void TMap::Unload(bool forced) {
  if (!FLoaded) return;
  if (!forced && !CList.empty()) return;
  // Dropped items belong to the map they lie on: destroy them with the blocks.
  for (auto& block : Blocks) {
    std::vector<TMapObject*> items;
    for (TMapObject* obj : block->MapObjects) {
      if (obj->ObjectKind() == kKindDroppedItem) items.push_back(obj);
    }
    block->MapObjects.Clear();
    for (TMapObject* obj : items) delete obj;
  }
  Blocks.clear();
  FLoaded = false;
}

bool TMap::AddChara(TChara* tc) {
  if (!InGrid(tc->Point.X, tc->Point.Y)) return false;
  Load();
  // Room first, so the character is listed in both lists or in neither.
  TMapBlock* block = BlockAt(tc->Point.X, tc->Point.Y);
  CList.reserve(CList.size() + 1);
  block->CList.reserve(block->CList.size() + 1);
  CList.push_back(tc);
  block->CList.push_back(tc);
  return true;
}

void TMap::DeleteChara(TChara* tc) {
  EraseFirst(CList, tc);
  if (TMapBlock* block = BlockAt(tc->Point.X, tc->Point.Y)) EraseFirst(block->CList, tc);
}

bool TMap::MoveChara(TChara* tc, uint16_t new_x, uint16_t new_y) {
  if (!InGrid(new_x, new_y)) return false;
  const int ox = tc->Point.X / 4, oy = tc->Point.Y / 4;
  const int nx = new_x / 4, ny = new_y / 4;
  if (!FLoaded || (ox == nx && oy == ny)) {
    tc->Point = TMapPoint{new_x, new_y};
    return true;
  }
  // Every packet is built before anything changes: a failure leaves the character listed once,
  // in its old block, at its old position. Removal and appearance carry the old position.
  TMapBlock* new_block = Block(nx, ny);
  TPacket removal = SRemoveObjectPacket(*tc);
  TPacket appear = SCharaAppearPacket(*tc);
  // The sends in their order: the removal to a block of the former area, a packet to the
  // mover, or the appearance to a block of the new area.
  enum class TTo { kRemoval, kMover, kAppear };
  struct TSend {
    TTo to;
    TMapBlock* block;
    size_t packet;
  };
  std::vector<TSend> sends;
  std::vector<TPacket> to_mover;
  for (int i = ox - 2; i <= ox + 2; ++i) {
    for (int j = oy - 2; j <= oy + 2; ++j) {
      TMapBlock* block = Block(i, j);
      if (block == nullptr || Chebyshev(i - nx, j - ny) <= 2) continue;
      sends.push_back(TSend{TTo::kRemoval, block, 0});
    }
  }
  for (int i = nx - 2; i <= nx + 2; ++i) {
    for (int j = ny - 2; j <= ny + 2; ++j) {
      TMapBlock* block = Block(i, j);
      if (block == nullptr) continue;
      const int distance = Chebyshev(i - ox, j - oy);
      if (distance >= 2) {
        // The outermost ring of the former area is shown again to the mover.
        for (TChara* other : block->CList) {
          if (other == tc) continue;
          sends.push_back(TSend{TTo::kMover, nullptr, to_mover.size()});
          to_mover.push_back(SCharaAppearPacket(*other));
        }
        if (block->MapObjects.Count() > 0) {
          for (TPacket& p : SMapObjectsPackets(*block)) {
            sends.push_back(TSend{TTo::kMover, nullptr, to_mover.size()});
            to_mover.push_back(std::move(p));
          }
        }
      }
      if (distance > 2) sends.push_back(TSend{TTo::kAppear, block, 0});
    }
  }
  new_block->CList.reserve(new_block->CList.size() + 1);

  // The move itself cannot fail.
  if (TMapBlock* old_block = Block(ox, oy)) EraseFirst(old_block->CList, tc);
  new_block->CList.push_back(tc);
  tc->Point = TMapPoint{new_x, new_y};

  TConnection* own = tc->Conn();
  for (const TSend& send : sends) {
    switch (send.to) {
      case TTo::kRemoval:
        if (!send.block->CList.empty()) removal.SendToOneBlock(send.block);
        break;
      case TTo::kMover:
        to_mover[send.packet].SendTo(own);
        break;
      case TTo::kAppear:
        if (!send.block->CList.empty()) appear.SendToOneBlock(send.block);
        break;
    }
  }
  return true;
}

bool TMap::MoveCharaSilently(TChara* tc, uint16_t new_x, uint16_t new_y) {
  if (!InGrid(new_x, new_y)) return false;
  if (FLoaded) {
    TMapBlock* from = BlockAt(tc->Point.X, tc->Point.Y);
    TMapBlock* to = BlockAt(new_x, new_y);
    if (from != to && from != nullptr && to != nullptr) {
      auto it = std::find(from->CList.begin(), from->CList.end(), tc);
      if (it != from->CList.end()) {
        to->CList.reserve(to->CList.size() + 1);  // so the character is never in neither
        from->CList.erase(it);
        to->CList.push_back(tc);
      }
    }
  }
  tc->Point = TMapPoint{new_x, new_y};
  return true;
}

void TMap::ReserveChara(uint16_t x, uint16_t y) {
  CList.reserve(CList.size() + 1);
  if (TMapBlock* block = BlockAt(x, y)) block->CList.reserve(block->CList.size() + 1);
}

int TMap::ItemRoom(const TMapPoint& point) const {
  const TMapBlock* block = BlockAt(point.X, point.Y);
  if (block == nullptr) return 0;
  const int cap = World.Settings.MaxItemsPerBlock;
  if (cap <= 0) return INT_MAX;
  int lying = 0;
  for (const TMapObject* obj : block->MapObjects) {
    if (obj->ObjectKind() == kKindDroppedItem) ++lying;
  }
  return std::max(0, cap - lying);
}

bool TMap::AddItem(TDroppedItem* item) {
  TMapBlock* block = BlockAt(item->Point.X, item->Point.Y);
  if (block == nullptr || ItemRoom(item->Point) == 0) return false;
  block->MapObjects.Add(item);
  return true;
}

bool TMap::MobRoom() const {
  const int cap = World.Settings.MaxMobsPerMap;
  return cap <= 0 || MList.Count() < cap;
}

void TMap::DeleteItem(TDroppedItem* item) {
  if (TMapBlock* block = BlockAt(item->Point.X, item->Point.Y)) {
    block->MapObjects.DeleteByID(item->ObjectID);
  }
}

TDroppedItem* TMap::GetItem(uint32_t object_id, const TMapPoint& point) const {
  const int bx = point.X / 4, by = point.Y / 4;
  for (int i = bx - 2; i <= bx + 2; ++i) {
    for (int j = by - 2; j <= by + 2; ++j) {
      TMapBlock* block = Block(i, j);
      if (block == nullptr) continue;
      TMapObject* obj = nullptr;
      if (block->MapObjects.TryGetValue(object_id, obj) && obj->ObjectKind() == kKindDroppedItem) {
        return static_cast<TDroppedItem*>(obj);
      }
    }
  }
  return nullptr;
}

void TMap::RegistMob(TMob* mob) {
  MList.Add(mob);
  if (FLoaded) AddMob(mob);
}

void TMap::UnregistMob(TMob* mob) {
  if (FLoaded) DeleteMob(mob);
  MList.DeleteByID(mob->ObjectID);
}

void TMap::AddMob(TMob* mob) {
  if (mob->Point.X >= Width || mob->Point.Y >= Height || mob->IsDead) return;
  if (TMapBlock* block = BlockAt(mob->Point.X, mob->Point.Y)) block->MapObjects.Add(mob);
}

void TMap::DeleteMob(TMob* mob) {
  if (TMapBlock* block = BlockAt(mob->Point.X, mob->Point.Y)) {
    block->MapObjects.DeleteByID(mob->ObjectID);
  }
}

void TMap::MoveMob(TMob* mob, uint16_t new_x, uint16_t new_y) {
  // A position outside the grid would index no block: the mob stays where it is.
  if (!InGrid(new_x, new_y)) return;
  if (FLoaded && (mob->Point.X / 4 != new_x / 4 || mob->Point.Y / 4 != new_y / 4)) {
    if (TMapBlock* old_block = BlockAt(mob->Point.X, mob->Point.Y)) {
      old_block->MapObjects.DeleteByID(mob->ObjectID);
    }
    TMapBlock* new_block = BlockAt(new_x, new_y);
    TMapObject* listed = nullptr;
    if (!new_block->MapObjects.TryGetValue(mob->ObjectID, listed)) new_block->MapObjects.Add(mob);
  }
  mob->Point = TMapPoint{new_x, new_y};
}

void TMap::AddNpc(TNpc* tn) {
  if (tn->Point.X >= Width || tn->Point.Y >= Height) return;
  if (TMapBlock* block = BlockAt(tn->Point.X, tn->Point.Y)) block->MapObjects.Add(tn);
}

void TMap::AddPortal(TPortal* tp) {
  if (tp->Point.X >= Width || tp->Point.Y >= Height) return;
  if (TMapBlock* block = BlockAt(tp->Point.X, tp->Point.Y)) {
    block->MapObjects.Add(tp);
    ++block->FPortalCount;
  }
}

void TMap::RemoveNpcsAndPortals() {
  for (auto& block : Blocks) {
    for (int i = block->MapObjects.Count() - 1; i >= 0; --i) {
      TMapObject* obj = block->MapObjects[i];
      const uint8_t kind = obj->ObjectKind();
      if (kind != kKindNpc && kind != kKindPortal) continue;
      if (kind == kKindPortal && block->FPortalCount > 0) --block->FPortalCount;
      block->MapObjects.Delete(i);
    }
  }
}

bool TMap::DatWalkable(int x, int y) const {
  // A cell the grid file does not cover counts as blocked.
  if (x < 0 || y < 0 || x >= DatWidth || y >= DatHeight) return false;
  if (dat.size() < static_cast<size_t>(DatWidth) * static_cast<size_t>(DatHeight)) return false;
  return Dat(x, y) == 0;
}

bool TMap::CanMove(uint16_t x, uint16_t y) const {
  if (x == 0 || y == 0) return false;
  if (!Usedat) return true;
  if (x > Width || y > Height) return false;
  return DatWalkable(x, y);
}

int TMapList::IndexOfMapID(uint16_t map_id) const {
  for (size_t i = 0; i < FItems.size(); ++i) {
    if (FItems[i]->ID == map_id) return static_cast<int>(i);
  }
  return -1;
}

TMap* TMapList::FindMap(uint16_t map_id) const {
  const int index = IndexOfMapID(map_id);
  return index < 0 ? nullptr : FItems[static_cast<size_t>(index)].get();
}

void TMapList::MapSort() {
  std::stable_sort(FItems.begin(), FItems.end(),
                   [](const std::unique_ptr<TMap>& a, const std::unique_ptr<TMap>& b) {
                     return a->ID < b->ID;
                   });
}

}  // namespace vornhal
