// The world's global containers.
#include "world/globals.h"

namespace vornhal {

TItemDB* ItemDB = nullptr;
TMapList* MapList = nullptr;
TNpcList* NpcList = nullptr;
TPortalList* PortalList = nullptr;
TMobDB* MobDB = nullptr;
TCharaList* CharaList = nullptr;

void CreateWorldContainers() {
  FreeWorldContainers();
  ItemDB = new TItemDB();
  MapList = new TMapList();
  NpcList = new TNpcList(true);
  PortalList = new TPortalList();
  MobDB = new TMobDB();
  CharaList = new TCharaList();
}

void FreeWorldContainers() {
  // Unload every map first: its blocks refer to characters, NPCs, portals and mobs, and the
  // dropped items lying in them (owned by the map) refer to item definitions.
  if (MapList != nullptr) {
    for (const auto& map : *MapList) {
      map->Unload(true);
      map->CList.clear();
    }
  }
  // Then characters, NPCs, portals, maps (with their mobs), mob definitions, items: nothing
  // freed later refers to anything freed earlier.
  if (CharaList != nullptr) {
    for (TChara* tc : *CharaList) tc->Map = nullptr;
  }
  delete CharaList;
  CharaList = nullptr;
  delete NpcList;
  NpcList = nullptr;
  delete PortalList;
  PortalList = nullptr;
  delete MapList;
  MapList = nullptr;
  delete MobDB;
  MobDB = nullptr;
  delete ItemDB;
  ItemDB = nullptr;
}

}  // namespace vornhal
