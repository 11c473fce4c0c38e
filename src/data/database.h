// The text-database loaders that fill a world, and the data folder.
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

class TWorld;

// Fills the world: items, maps with grids, portals, NPCs, mobs, characters, in this order.
void LoadDatabase(TWorld& world);

void LoadItemData(TWorld& world);
void LoadMapData(TWorld& world);
void LoadPortalData(TWorld& world);
void LoadNpcData(TWorld& world);
void LoadMobData(TWorld& world);

}  // namespace vornhal
