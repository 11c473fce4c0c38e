// The world's global containers, created by InitDatabase and filled by the loaders.
#pragma once
#include <memory>
#include <vector>

#include "world/chara.h"
#include "world/item.h"
#include "world/map.h"
#include "world/mob.h"
#include "world/npc.h"

namespace vornhal {

using TNpcList = TMapObjectList<TNpc>;

// An owning list of portals (no id dictionary: every portal has id 0).
class TPortalList {
 public:
  int Count() const { return static_cast<int>(FItems.size()); }
  TPortal* operator[](int index) const { return FItems.at(static_cast<size_t>(index)).get(); }
  auto begin() const { return FItems.begin(); }
  auto end() const { return FItems.end(); }
  void Add(std::unique_ptr<TPortal> portal) { FItems.push_back(std::move(portal)); }
  void Clear() { FItems.clear(); }

 private:
  std::vector<std::unique_ptr<TPortal>> FItems;
};

extern TItemDB* ItemDB;
extern TMapList* MapList;
extern TNpcList* NpcList;
extern TPortalList* PortalList;
extern TMobDB* MobDB;
extern TCharaList* CharaList;

// Creates / frees the six containers (the data layer adds its own blocks around these).
void CreateWorldContainers();
void FreeWorldContainers();

}  // namespace vornhal
