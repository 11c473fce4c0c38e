// A small in-memory world for packet, combat and mob tests: the containers, a 100 x 100 map
// with id 10055 and characters attached to recording connections.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "support/recording_connection.h"
#include "world/globals.h"
#include "world/map.h"
#include "world/packets.h"

namespace vornhal::test {

using Bytes = std::vector<uint8_t>;

inline Bytes B(std::initializer_list<int> values) {
  Bytes out;
  for (int v : values) out.push_back(static_cast<uint8_t>(v));
  return out;
}

inline Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// A str8 of plain ASCII text, for expected byte lists.
inline Bytes Str8(const std::string& ascii) {
  Bytes out;
  out.reserve(ascii.size() + 1);
  out.push_back(static_cast<uint8_t>(ascii.size()));
  for (char c : ascii) out.push_back(static_cast<uint8_t>(c));
  return out;
}

class WorldTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CreateWorldContainers();
    ResetObjectIDs();
    town_ = AddMap(10055, "Town", 100, 100);
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

  // A logged-in character on `map` at (x, y), attached to a fresh recording connection.
  TChara* AddChara(const std::string& name, TMap* map, uint16_t x, uint16_t y) {
    auto* tc = new TChara();
    tc->FName = name;
    CharaList->Add(tc);
    conns_.push_back(std::make_unique<RecordingConnection>());
    tc->Context.Reset(conns_.back().get());
    tc->Login = TLoginState::kInWorld;
    tc->Map = map;
    tc->Point = TMapPoint{x, y};
    map->AddChara(tc);
    return tc;
  }

  static RecordingConnection& Rec(const TChara* tc) {
    return *static_cast<RecordingConnection*>(tc->Conn());
  }

  std::vector<std::unique_ptr<RecordingConnection>> conns_;  // the characters' connections
  TMap* town_ = nullptr;
};

}  // namespace vornhal::test
