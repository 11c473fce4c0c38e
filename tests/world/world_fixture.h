// A small world for the world-model tests: a fresh world with the start map 10055 (100 x 60),
// a few item definitions, and characters attached to recording connections.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "net/wire.h"
#include "platform/text.h"
#include "support/recording_connection.h"
#include "support/test_world.h"
#include "world/exp_table.h"
#include "world/world.h"
#include "world/map.h"
#include "world/npc.h"
#include "world/packets.h"

namespace vornhal::test {

using sid = TServerPacketId;

inline uint32_t U32At(const std::vector<uint8_t>& p, size_t at) {
  TWireReader r(p);
  r.Skip(at);
  return r.U32();
}
inline uint16_t U16At(const std::vector<uint8_t>& p, size_t at) {
  TWireReader r(p);
  r.Skip(at);
  return r.U16();
}

// The object a frame is about: the removed object, the appearing character, or the first of
// the listed map objects; the slot number for inventory and equipment frames.
inline uint32_t Subject(const Frame& f) {
  switch (f.id) {
    case sid::kRemoveObject: return U32At(f.payload, 0);
    case sid::kCharaAppear: return U32At(f.payload, 5);
    case sid::kMapObjects: return U32At(f.payload, 7);
    case sid::kInventoryItem:
    case sid::kInventoryClear: return f.payload.at(1);
    default: return 0;
  }
}

class WorldFixture : public FreshWorld {
 protected:
  void SetUp() override {
    FreshWorld::SetUp();
    start_ = World.AddMap(10055, "Start", 100, 60);
    potion_ = World.AddItemData("potion", "Potion", 0, 0);
    sword_ = World.AddItemData("sword", "Sword", 1, 18);
    axe_ = World.AddItemData("axe", "Axe", 1, 18);
    for (int i = 1; i <= 4; ++i) {
      money_[i] = World.AddItemData("money" + std::to_string(i), "Money", 0, 0);
    }
  }

  // A logged-in character standing on the start map (or `map`) at (x, y).
  TChara* Chara(const std::string& name, uint16_t x, uint16_t y, TMap* map = nullptr) {
    return World.AddPlayingChara(name, map != nullptr ? map : start_, x, y);
  }

  TMap* start_ = nullptr;
  TItemData* potion_ = nullptr;
  TItemData* sword_ = nullptr;
  TItemData* axe_ = nullptr;
  TItemData* money_[5] = {};
};

}  // namespace vornhal::test
