// A small in-memory world for packet, combat and mob tests: a fresh world with a 100 x 100
// map with id 10055; characters come from AddPlayingChara.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "support/recording_connection.h"
#include "support/test_world.h"
#include "world/world.h"
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

class WorldTest : public FreshWorld {
 protected:
  void SetUp() override {
    FreshWorld::SetUp();
    town_ = World.AddMap(10055, "Town", 100, 100);
  }

  TMap* town_ = nullptr;
};

}  // namespace vornhal::test
