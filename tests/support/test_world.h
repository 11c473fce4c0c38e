// Small worlds for the unit tests, built in memory: the reset of the process-wide game state,
// builders for maps, items, NPCs, portals and logged-in characters, and a few named worlds
// the test folders share.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "support/captured_log.h"
#include "support/recording_connection.h"
#include "support/temp_folder.h"
#include "world/chara.h"
#include "world/item.h"
#include "world/map.h"
#include "world/npc.h"

namespace vornhal::test {

// Puts all process-wide game state back to a fresh start: empty containers (maps, items, NPCs,
// portals, mobs, characters), empty data blocks, the object id counters, the experience table,
// no zone tickets, no data folder. This is the one place that knows which globals make up
// the world; every fixture resets through it.
void ResetWorld();
// Frees what ResetWorld created (the containers and everything they own).
void FreeWorld();

// Builders: each adds to the world's containers and returns the new object. Maps are added at
// the end of the list; MapList->MapSort() sorts them when a test needs that.
TMap* AddMap(uint16_t id, const std::string& name, uint16_t width, uint16_t height);
TItemData* AddItemData(const std::string& key, const std::string& name, uint8_t item_type = 0,
                       uint8_t equip_part = 0);
TNpc* AddNpc(const std::string& name, const std::string& script, uint16_t map_id, TMapPoint at,
             uint16_t graphic = 16500);
// A portal from the 3 x 3 cells around `at` on `from` to `dest` on `to`.
TPortal* AddPortal(TMap* from, TMapPoint at, TMap* to, TMapPoint dest, uint8_t dir);
// A character in the list, not yet in the world.
TChara* AddChara(const std::string& name, TMapPoint at = {});
// A logged-in character standing on `map` at (x, y), attached to a fresh recording
// connection (see Rec).
TChara* AddPlayingChara(const std::string& name, TMap* map, uint16_t x, uint16_t y,
                        const std::string& ip = "127.0.0.1");
// The recording connection of a character made by AddPlayingChara.
RecordingConnection& Rec(const TChara* tc);

// Named worlds.
// The town 10055 (40 x 40) and the field 1 (100 x 80), joined by a portal around (21, 21) of
// the town that leads to (30, 30) of the field, facing direction 2.
struct TownAndField {
  TMap* town = nullptr;
  TMap* field = nullptr;
  TPortal* portal = nullptr;
};
TownAndField BuildTownAndField();

// The text of a system message frame (type, 0, str16), or "" for any other frame.
std::string MessageText(const Frame& f);
// The texts of the system messages a connection received, in order.
std::vector<std::string> Messages(const RecordingConnection& conn);

// A fixture with a fresh, empty world, freed after the test.
class FreshWorld : public ::testing::Test {
 protected:
  void SetUp() override { ResetWorld(); }
  void TearDown() override { FreeWorld(); }
};

// A fixture with a fresh, empty world on a fresh data folder (DataDir), both gone after it.
class FreshWorldWithFolder : public ::testing::Test {
 protected:
  explicit FreshWorldWithFolder(const std::string& stem = "vornhal-data") : folder_(stem) {}
  void SetUp() override;
  void TearDown() override { FreeWorld(); }
  TempFolder folder_;
};

}  // namespace vornhal::test
