#include "support/test_world.h"

#include "data/common.h"
#include "data/database.h"
#include "net/wire.h"
#include "platform/settings.h"
#include "world/map_object.h"

namespace vornhal::test {

void ResetProcessState() {
  ResetSettingsToDefaults();
  ClearDataBlocks();
  DataDir.clear();
}

TMap* TTestWorld::AddMap(uint16_t id, const std::string& name, uint16_t width, uint16_t height) {
  auto map = std::make_unique<TMap>(*this);
  map->ID = id;
  map->Name = name;
  map->Width = width;
  map->Height = height;
  TMap* raw = map.get();
  MapList.Add(std::move(map));
  return raw;
}

TItemData* TTestWorld::AddItemData(const std::string& key, const std::string& name, uint8_t item_type,
                       uint8_t equip_part) {
  auto data = std::make_unique<TItemData>();
  data->MetaKey = key;
  data->Name = name;
  data->ItemType = item_type;
  data->EquipPart = equip_part;
  TItemData* raw = data.get();
  ItemDB.Add(std::move(data));
  return raw;
}

TNpc* TTestWorld::AddNpc(const std::string& name, const std::string& script, uint16_t map_id, TMapPoint at,
             uint16_t graphic) {
  auto* npc = new TNpc(*this);
  npc->FName = name;
  npc->ScriptName = script;
  npc->MapID = map_id;
  npc->Point = at;
  npc->GraphicID = graphic;
  NpcList.Add(npc);
  return npc;
}

TPortal* TTestWorld::AddPortal(TMap* from, TMapPoint at, TMap* to, TMapPoint dest, uint8_t dir) {
  auto portal = std::make_unique<TPortal>();
  portal->SrcMap = from;
  portal->Point = at;
  portal->SrcMinPoint = TMapPoint{static_cast<uint16_t>(at.X - 1), static_cast<uint16_t>(at.Y - 1)};
  portal->SrcMaxPoint = TMapPoint{static_cast<uint16_t>(at.X + 1), static_cast<uint16_t>(at.Y + 1)};
  portal->DestMap = to;
  portal->DestPoint = dest;
  portal->Dir = dir;
  TPortal* raw = portal.get();
  PortalList.Add(std::move(portal));
  return raw;
}

TChara* TTestWorld::AddChara(const std::string& name, TMapPoint at) {
  auto* tc = new TChara(*this);
  tc->FName = name;
  tc->Point = at;
  CharaList.Add(tc);
  return tc;
}

TChara* TTestWorld::AddPlayingChara(const std::string& name, TMap* map, uint16_t x, uint16_t y,
                        const std::string& ip) {
  TChara* tc = AddChara(name, TMapPoint{x, y});
  FConnections.push_back(std::make_unique<RecordingConnection>(ip));
  tc->Context.Reset(FConnections.back().get());
  tc->Login = TLoginState::kInWorld;
  tc->Map = map;
  EXPECT_TRUE(map->AddChara(tc)) << name;
  return tc;
}

RecordingConnection& Rec(const TChara* tc) {
  return *static_cast<RecordingConnection*>(tc->Conn());
}

TownAndField TTestWorld::BuildTownAndField() {
  TownAndField w;
  w.town = AddMap(10055, "town", 40, 40);
  w.field = AddMap(1, "field", 100, 80);
  w.portal = AddPortal(w.town, TMapPoint{21, 21}, w.field, TMapPoint{30, 30}, 2);
  MapList.MapSort();
  return w;
}

std::string MessageText(const Frame& f) {
  if (f.id != TServerPacketId::kMessage || f.payload.empty()) return std::string();
  TWireReader r(f.payload);
  try {
    r.Skip(f.payload[0] == 3 ? 2 : 1);  // type 3 has one more byte before the text
    return r.Str16();
  } catch (const ReadPastEndError&) {
    return std::string();
  }
}

std::vector<std::string> Messages(const RecordingConnection& conn) {
  std::vector<std::string> out;
  for (const Frame& f : conn.Frames()) {
    if (f.id == TServerPacketId::kMessage) out.push_back(MessageText(f));
  }
  return out;
}

}  // namespace vornhal::test
