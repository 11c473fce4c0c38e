// One text database file as it may lie in the data folder, read by its loader. VORNHAL_LOADER
// picks the loader: 0 items, 1 maps (the input after its first NUL byte is also the grid file
// of maps 1 and 10055), 2 portals (over maps 1 and 10055), 3 NPCs, 4 mobs.
#include <cstring>
#include <string>

#include "fuzz_support.h"

#ifndef VORNHAL_LOADER
#error "VORNHAL_LOADER must pick the loader"
#endif

namespace {

using namespace vornhal;

void AddMap(TWorld& world, uint16_t id, uint16_t w, uint16_t h) {
  auto map = std::make_unique<TMap>(world);
  map->ID = id;
  map->Width = w;
  map->Height = h;
  world.MapList.Add(std::move(map));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::SilenceStdout();
  DataDir = fuzz::TempRoot() + "/VornhalData/";
  std::filesystem::create_directories(DataDir + "db");
  std::filesystem::create_directories(DataDir + "map");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string input(reinterpret_cast<const char*>(data), size);
  TWorld World;
  try {
    switch (VORNHAL_LOADER) {
      case 0:
        fuzz::WriteDataFile("db/ItemDB.txt", input);
        LoadItemData(World);
        break;
      case 1: {
        size_t nul = input.find('\0');
        std::string grid = nul == std::string::npos ? std::string() : input.substr(nul + 1);
        fuzz::WriteDataFile("db/MapDB.txt", input.substr(0, nul));
        for (const char* name : {"map/00001.dat", "map/10055.dat"}) {
          if (nul == std::string::npos) {
            std::filesystem::remove(DataDir + name);
          } else {
            fuzz::WriteDataFile(name, grid);
          }
        }
        LoadMapData(World);
        // Every map that loaded a grid holds the cells it claims.
        for (auto& map : World.MapList) {
          if (map->Usedat && map->dat.size() != static_cast<size_t>(map->DatWidth) * static_cast<size_t>(map->DatHeight)) std::abort();
        }
        break;
      }
      case 2:
        AddMap(World, 10055, 80, 60);
        AddMap(World, 1, 120, 100);
        World.MapList.MapSort();
        fuzz::WriteDataFile("db/PortalList.txt", input);
        LoadPortalData(World);
        break;
      case 3:
        fuzz::WriteDataFile("db/NpcList.txt", input);
        LoadNpcData(World);
        break;
      case 4:
        fuzz::WriteDataFile("db/MobDB.txt", input);
        LoadMobData(World);
        break;
    }
  } catch (const FatalDataError&) {
    // A data error that stops start-up: the expected outcome for a bad MobDB.txt or grid.
  }
  return 0;
}
