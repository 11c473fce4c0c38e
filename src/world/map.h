// Maps cut into 4 x 4 blocks, and the map list.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "world/map_object.h"

namespace vornhal {

class TChara;
class TMob;
class TNpc;
class TPortal;
class TDroppedItem;

using TMobList = TMapObjectList<TMob>;

// The largest map side, in cells, the map list accepts.
inline constexpr int kMaxMapSide = 4096;

// One 4 x 4 block of a map. Its lists and portal count are changed only by its map's
// operations, which keep them in step with the positions; everyone else reads them.
class TMapBlock {
 public:
  TMapBlock() : MapObjects(false) {}
  int PortalCount() const { return FPortalCount; }

  std::vector<TChara*> CList;            // not owned
  TMapObjectList<TMapObject> MapObjects;  // not owned

 private:
  friend class TMap;
  int FPortalCount = 0;
};

class TWorld;

class TMap {
 public:
  // A map of that world; Load places the world's NPCs and portals of this map.
  explicit TMap(TWorld& world);
  ~TMap();
  TMap(const TMap&) = delete;
  TMap& operator=(const TMap&) = delete;

  bool Loaded() const { return FLoaded; }
  void Load();
  // Unloading destroys the dropped items lying in the blocks (the map owns them); mobs stay
  // in MList, NPCs and portals in their own lists.
  void Unload(bool forced);

  // True when (x, y) lies in the block grid: x div 4 <= Width div 4 and y div 4 <= Height div 4
  // (BlockWidth = Width div 4 + 1), so every cell from (0, 0) to (Width, Height) is inside.
  // It does not depend on the grid being built. Every operation that indexes blocks by a
  // position uses it; positions outside are refused, never clamped.
  bool InGrid(int x, int y) const;
  // The block under a cell, or null outside the grid or when the map is not loaded.
  TMapBlock* BlockAt(int x, int y) const;
  // The block at block coordinates, or null outside the grid or when not loaded.
  TMapBlock* Block(int bx, int by) const;

  // Loads the map and lists tc in the map and in the block under its Point. Refused (false,
  // nothing listed) when tc's Point is outside the grid.
  bool AddChara(TChara* tc);
  void DeleteChara(TChara* tc);
  // Moves tc within the map and exchanges the view packets. Refused (false, nothing sent,
  // Point unchanged) when (new_x, new_y) is outside the grid; callers check InGrid first.
  bool MoveChara(TChara* tc, uint16_t new_x, uint16_t new_y);
  // Moves tc within the map and into the block under its new cell without any view packets
  // (a reported path carries the movement to the others). Refused (false, nothing changed)
  // when (new_x, new_y) is outside the grid. A character not listed in its old block is not
  // listed anywhere by this.
  bool MoveCharaSilently(TChara* tc, uint16_t new_x, uint16_t new_y);
  // Makes room for one more character in the map's list and in the block under (x, y) (when
  // loaded), so that an AddChara there that follows cannot fail for want of memory.
  void ReserveChara(uint16_t x, uint16_t y);

  // Lists the item in the block under its Point. Refused (false) when the map is not loaded,
  // the Point is outside the grid or the block already holds [Security] MaxItemsPerBlock
  // dropped items; the caller then still owns the item.
  bool AddItem(TDroppedItem* item);
  // How many more dropped items the block under point takes (INT_MAX without a cap, 0 when
  // no block is there).
  int ItemRoom(const TMapPoint& point) const;
  // False when the map already has [Security] MaxMobsPerMap mobs.
  bool MobRoom() const;
  void DeleteItem(TDroppedItem* item);
  TDroppedItem* GetItem(uint32_t object_id, const TMapPoint& point) const;

  void RegistMob(TMob* mob);  // the map takes ownership
  void UnregistMob(TMob* mob);
  void AddMob(TMob* mob);
  void DeleteMob(TMob* mob);
  void MoveMob(TMob* mob, uint16_t new_x, uint16_t new_y);

  void AddNpc(TNpc* tn);
  void AddPortal(TPortal* tp);
  // Takes every NPC and portal out of the blocks (their own lists keep them); the blocks'
  // portal counts go down with them.
  void RemoveNpcsAndPortals();

  bool CanMove(uint16_t x, uint16_t y) const;

  bool FLoaded = false;
  TWorld& World;
  uint16_t ID = 0;
  uint16_t Width = 0;
  uint16_t Height = 0;
  uint8_t Flag1 = 0;
  uint8_t Flag2 = 0;
  std::string Name;
  uint16_t BGM = 0;
  uint8_t Weather = 0;
  std::vector<TChara*> CList;  // not owned
  TMobList MList;              // owning
  int BlockWidth = 0;
  int BlockHeight = 0;
  bool Usedat = false;
  // Cell attributes [x][y] from the grid file, with its own dimensions; 0 = walkable.
  int DatWidth = 0;
  int DatHeight = 0;
  std::vector<uint8_t> dat;  // index x * DatHeight + y
  uint8_t Dat(int x, int y) const { return dat[static_cast<size_t>(x) * DatHeight + y]; }
  // The cell attribute, or false when (x, y) lies outside the grid file's own dimensions.
  bool DatWalkable(int x, int y) const;

 private:
  std::vector<std::unique_ptr<TMapBlock>> Blocks;  // [bx * BlockHeight + by]
};

class TMapList {
 public:
  int Count() const { return static_cast<int>(FItems.size()); }
  TMap* operator[](int index) const { return FItems.at(static_cast<size_t>(index)).get(); }
  auto begin() const { return FItems.begin(); }
  auto end() const { return FItems.end(); }
  void Add(std::unique_ptr<TMap> map) { FItems.push_back(std::move(map)); }
  void Clear() { FItems.clear(); }
  int IndexOfMapID(uint16_t map_id) const;
  // The map with that id, or null.
  TMap* FindMap(uint16_t map_id) const;
  void MapSort();

 private:
  std::vector<std::unique_ptr<TMap>> FItems;
};

}  // namespace vornhal
