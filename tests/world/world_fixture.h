// A small world for the world-model tests: the containers, the start map 10055 (100 x 60),
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
#include "world/exp_table.h"
#include "world/globals.h"
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

// The text of a system message frame (type, 0, str16).
inline std::string MessageText(const Frame& f) {
  if (f.id != sid::kMessage || f.payload.size() < 4) return std::string();
  const size_t len = U16At(f.payload, 2);
  return FromCP932(std::string(f.payload.begin() + 4, f.payload.begin() + 4 + static_cast<long>(len)));
}

inline std::vector<std::string> Messages(const RecordingConnection& conn) {
  std::vector<std::string> out;
  for (const Frame& f : conn.Frames()) {
    if (f.id == sid::kMessage) out.push_back(MessageText(f));
  }
  return out;
}

class WorldFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    CreateWorldContainers();
    ResetObjectIDs();
    InitExpTable();
    start_ = AddMap(10055, "Start", 100, 60);
    potion_ = AddItemData("potion", "Potion", 0, 0);
    sword_ = AddItemData("sword", "Sword", 1, 18);
    axe_ = AddItemData("axe", "Axe", 1, 18);
    for (int i = 1; i <= 4; ++i) {
      money_[i] = AddItemData("money" + std::to_string(i), "Money", 0, 0);
    }
  }
  void TearDown() override { FreeWorldContainers(); }

  TMap* AddMap(uint16_t id, const std::string& name, uint16_t width, uint16_t height) {
    auto map = std::make_unique<TMap>();
    map->ID = id;
    map->Name = name;
    map->Width = width;
    map->Height = height;
    TMap* raw = map.get();
    MapList->Add(std::move(map));
    return raw;
  }

  TItemData* AddItemData(const std::string& key, const std::string& name, uint8_t item_type,
                         uint8_t equip_part) {
    auto data = std::make_unique<TItemData>();
    data->MetaKey = key;
    data->Name = name;
    data->ItemType = item_type;
    data->EquipPart = equip_part;
    TItemData* raw = data.get();
    ItemDB->Add(std::move(data));
    return raw;
  }

  // A logged-in character standing on the start map at (x, y).
  TChara* Chara(const std::string& name, uint16_t x, uint16_t y, TMap* map = nullptr) {
    auto* tc = new TChara();
    tc->FName = name;
    CharaList->Add(tc);
    conns_.push_back(std::make_unique<RecordingConnection>());
    tc->Context.Reset(conns_.back().get());
    tc->Login = TLoginState::kInWorld;
    tc->Map = map != nullptr ? map : start_;
    tc->Point = TMapPoint{x, y};
    EXPECT_TRUE(tc->Map->AddChara(tc));
    return tc;
  }

  static RecordingConnection& Rec(const TChara* tc) {
    return *static_cast<RecordingConnection*>(tc->Conn());
  }

  std::vector<std::unique_ptr<RecordingConnection>> conns_;  // the characters' connections
  TMap* start_ = nullptr;
  TItemData* potion_ = nullptr;
  TItemData* sword_ = nullptr;
  TItemData* axe_ = nullptr;
  TItemData* money_[5] = {};
};

}  // namespace vornhal::test
