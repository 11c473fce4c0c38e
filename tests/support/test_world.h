// Small worlds for the unit tests, built in memory: a world with builders for maps, items,
// NPCs, portals and logged-in characters, a named world the test folders share, and the reset
// of the process-wide state around a test.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "data/database.h"
#include "support/captured_log.h"
#include "support/recording_connection.h"
#include "support/temp_folder.h"
#include "world/chara.h"
#include "world/item.h"
#include "world/map.h"
#include "world/npc.h"
#include "world/world.h"

namespace vornhal::test {

// Puts the process-wide state a test may change back to a fresh start: the settings, no
// cached data blocks, no data folder. The world itself is never shared: each test makes its own.
void ResetProcessState();

// The town 10055 (40 x 40) and the field 1 (100 x 80), joined by a portal around (21, 21) of
// the town that leads to (30, 30) of the field, facing direction 2.
struct TownAndField {
  TMap* town = nullptr;
  TMap* field = nullptr;
  TPortal* portal = nullptr;
};

// A fresh, empty world with default settings, and builders that add to it and return the new
// object. Maps are added at the end of the list; MapList.MapSort() sorts them when a test needs
// that.
class TTestWorld : public TWorld {
 public:
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
  // connection (see Rec) that lives as long as the world.
  TChara* AddPlayingChara(const std::string& name, TMap* map, uint16_t x, uint16_t y,
                          const std::string& ip = "127.0.0.1");
  TownAndField BuildTownAndField();

 private:
  std::vector<std::unique_ptr<RecordingConnection>> FConnections;
};

// The recording connection of a character made by AddPlayingChara.
RecordingConnection& Rec(const TChara* tc);

// The text of a system message frame (type, 0, str16), or "" for any other frame.
std::string MessageText(const Frame& f);
// The texts of the system messages a connection received, in order.
std::vector<std::string> Messages(const RecordingConnection& conn);

// A fixture with a fresh, empty world (World) and fresh process-wide state.
class FreshWorld : public ::testing::Test {
 protected:
  FreshWorld() { ResetProcessState(); }
  ~FreshWorld() override { ResetProcessState(); }
  TTestWorld World;
};

// A fixture with a fresh, empty world on a fresh data folder (DataDir), both gone after it.
class FreshWorldWithFolder : public FreshWorld {
 protected:
  explicit FreshWorldWithFolder(const std::string& stem = "vornhal-data") : folder_(stem) {
    DataDir = folder_.Path() + "/";
  }
  TempFolder folder_;
};

}  // namespace vornhal::test
