// The game data: containers, the text-database loaders and the data folder.
#pragma once
#include <stdexcept>
#include <string>

namespace vornhal {

// The data folder, ending in "/" (the executable's folder followed by "VornhalData/").
extern std::string DataDir;

// A data error that must stop start-up (MobDB.txt, a short grid file, a corrupt temp index).
class FatalDataError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

void InitDatabase();  // creates the world containers and the data-block dictionaries
void FreeDatabase();
void LoadDatabase();  // items, maps with grids, portals, NPCs, mobs, characters, in this order

void LoadItemData();
void LoadMapData();
void LoadPortalData();
void LoadNpcData();
void LoadMobData();

}  // namespace vornhal
