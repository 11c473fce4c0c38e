// The world packet builders and the shared send operations (surroundings, removal, map change,
// system messages).
#include "world/packets.h"

#include <stdexcept>

#include "net/server.h"
#include "platform/random.h"
#include "world/npc.h"

namespace vornhal {

const char* const kDialogNames[20] = {
    "MultiHelpDialog",     "HelpDialog",           "QuestSelDialog",       "MerchantSellDialog",
    "MerchantIdentifyDialog", "QuestDialog2",      "ItemsDialog",          "MerchantBankWIDialog",
    "QuestDialog",         "MerchantBankDIDialog", "MerchantBuyDialog",    "BarberShopDialog",
    "MerchantBankWGDialog", "MerchantRepairDialog", "MerchantDialog",      "MerchantBankDialog",
    "PassWordDialog",      "QuestSelDialog2",      "MerchantBankDGDialog", "Merchant",
};

namespace {

// A count or index that must fit into its field; anything else would produce a packet the
// client misreads, so it is refused.
void RequireFits(size_t value, size_t limit, const char* what) {
  if (value > limit) {
    throw std::length_error(std::string(what) + " " + std::to_string(value) +
                            " does not fit its field (at most " + std::to_string(limit) + ")");
  }
}

uint8_t SlotByte(int slot_index) {
  if (slot_index < 0 || slot_index > 255) {
    throw std::out_of_range("slot index " + std::to_string(slot_index) +
                            " does not fit its byte field");
  }
  return static_cast<uint8_t>(slot_index);
}

// The look block of the character packets (21 bytes), without the trailing zero byte.
void WriteLook(TPacket& p, const TChara& tc) {
  p.WriteWord(tc.WearType());
  p.WriteWord(tc.HeadType());
  p.WriteColor(tc.HeadColor());
  p.WriteWord(tc.WeaponType());
  p.WriteColor(tc.WeaponColor());
  p.WriteWord(tc.ShieldType());
  p.WriteColor(tc.ShieldColor());
  p.WriteColor(tc.WearColor());
}

void WriteMapObject(TPacket& p, const TMapObject& obj) {
  const uint8_t kind = obj.ObjectKind();
  p.WriteWord(obj.Point.X);
  p.WriteWord(obj.Point.Y);
  p.WriteByte(kind);
  p.WriteLong(obj.ObjectID);
  if (kind == kKindNpc || kind == kKindMob) p.WriteShortStr("");
  p.WriteWord(obj.Tile());
  switch (kind) {
    case kKindNpc:
    case kKindMob:
      p.WriteWord(0);
      p.WriteByte(0);
      p.WriteColor(obj.Color());
      p.WriteByte(obj.Dir);
      p.WriteByte(obj.HPPercent());
      p.WriteWord(obj.Speed());
      p.WriteLong(0);
      if (kind == kKindMob) {
        for (int i = 0; i < 6; ++i) p.WriteByte(0);
      }
      p.WriteShortStr(obj.Name());
      break;
    case kKindDroppedItem: {
      const auto* item = dynamic_cast<const TDroppedItem*>(&obj);
      const TItem* held = item ? item->Item() : nullptr;
      const uint8_t color_type = (held && held->Data()) ? held->Data()->ColorType : 0;
      p.WriteWord(color_type);
      p.WriteColor(obj.Color());
      p.WriteShortStr(obj.Name());
      p.WriteLong(0);
      break;
    }
    case kKindPortal: {
      const auto* portal = dynamic_cast<const TPortal*>(&obj);
      p.WriteShortStr((portal && portal->DestMap) ? portal->DestMap->Name : std::string());
      break;
    }
    default:
      break;  // characters travel in SCharaAppearPacket and have no tail here
  }
}

// Sends to the area of obj (itself included when it is a character there); an object that
// stands on no map has no area.
void SendToArea(TPacket& p, const TActionObject* obj, bool to_self) {
  if (obj && obj->Map) p.SendToBlock(obj, to_self);
}

}  // namespace

// --- objects, movement and appearance ---

TPacket SPlayerPositionPacket(const TChara& tc) {
  TPacket p(TServerPacketId::kPlayerPosition);
  p.WriteWord(tc.Point.X);
  p.WriteWord(tc.Point.Y);
  p.WriteWord(8);
  p.WriteWord(9);
  return p;
}

TPacket SPlayerInfoPacket(const TChara& tc) {
  TPacket p(TServerPacketId::kPlayerInfo);
  p.WriteLong(tc.ObjectID);
  p.WriteByte(tc.Sex);
  p.WriteByte(tc.Job);
  p.WriteByte(tc.Mark);
  p.WriteLong(tc.Mode);
  p.WriteLong(0);
  p.WriteByte(0);
  p.WriteWord(0);
  p.WriteWord(0);
  if (tc.Mode & 0x00000800) {
    p.WriteByte(0);
    p.WriteWord(0);
    p.WriteByte(0);
    p.WriteByte(0);
    p.WriteByte(0);
    return p;
  }
  WriteLook(p, tc);
  p.WriteByte(0);
  p.WriteByte(63);
  p.WriteByte(tc.Dir);
  return p;
}

TPacket SCharaMovePacket(const TChara& tc) {
  TPacket p(TServerPacketId::kCharaMove);
  p.WriteLong(tc.ObjectID);
  p.WriteWord(tc.Point.X);
  p.WriteWord(tc.Point.Y);
  return p;
}

TPacket SMapObjectsPacket(const std::vector<const TMapObject*>& objects) {
  RequireFits(objects.size(), 65535, "map object count");
  TPacket p(TServerPacketId::kMapObjects);
  p.WriteWord(static_cast<uint16_t>(objects.size()));
  for (const TMapObject* obj : objects) WriteMapObject(p, *obj);
  return p;
}

namespace {

std::vector<const TMapObject*> BlockObjects(const TMapBlock& block, uint16_t kind_mask) {
  std::vector<const TMapObject*> objects;
  objects.reserve(static_cast<size_t>(block.MapObjects.Count()));
  for (const TMapObject* obj : block.MapObjects) {
    const uint8_t kind = obj->ObjectKind();
    if (kind < 16 && (kind_mask & (1u << kind))) objects.push_back(obj);
  }
  return objects;
}

}  // namespace

TPacket SMapObjectsPacket(const TMapBlock& block, uint16_t kind_mask) {
  return SMapObjectsPacket(BlockObjects(block, kind_mask));
}

std::vector<TPacket> SMapObjectsPackets(const std::vector<const TMapObject*>& objects) {
  // Each object's record is measured on its own, then the records are cut into runs whose
  // count word and records fit one frame body.
  constexpr size_t kBodyLimit = 65535;
  TPacket empty(TServerPacketId::kMapObjects);
  const size_t header = empty.Buffer().size();  // marker, length, id and seed byte
  const size_t body_base = header - 3 + 2;      // id, seed and the count word
  std::vector<size_t> sizes;
  sizes.reserve(objects.size());
  for (const TMapObject* obj : objects) {
    TPacket one(TServerPacketId::kMapObjects);
    WriteMapObject(one, *obj);
    sizes.push_back(one.Buffer().size() - header);
  }
  std::vector<TPacket> packets;
  size_t first = 0;
  do {
    size_t body = body_base;
    size_t last = first;
    while (last < objects.size() && last - first < 65535 && body + sizes[last] <= kBodyLimit) {
      body += sizes[last];
      ++last;
    }
    if (last == first && last < objects.size()) {
      throw std::length_error("one map object does not fit a frame");
    }
    TPacket p(TServerPacketId::kMapObjects);
    p.WriteWord(static_cast<uint16_t>(last - first));
    for (size_t i = first; i < last; ++i) WriteMapObject(p, *objects[i]);
    packets.push_back(std::move(p));
    first = last;
  } while (first < objects.size());
  return packets;
}

std::vector<TPacket> SMapObjectsPackets(const TMapBlock& block, uint16_t kind_mask) {
  return SMapObjectsPackets(BlockObjects(block, kind_mask));
}

TPacket SMoveAckPacket(const TChara& tc, uint8_t sequence) {
  TPacket p(TServerPacketId::kMoveAck);
  p.WriteWord(tc.Point.X);
  p.WriteWord(tc.Point.Y);
  p.WriteByte(static_cast<uint8_t>(sequence + 128));
  return p;
}

TPacket SMobMovePacket(const TMob& mob) {
  TPacket p(TServerPacketId::kMobMove);
  p.WriteLong(mob.ObjectID);
  p.WriteWord(mob.Point.X);
  p.WriteWord(mob.Point.Y);
  p.WriteByte(mob.Dir);
  p.WriteByte(0);
  return p;
}

TPacket SRemoveObjectPacket(const TMapObject& obj) {
  TPacket p(TServerPacketId::kRemoveObject);
  p.WriteLong(obj.ObjectID);
  return p;
}

TPacket SDirectionPacket(const TMapObject& obj) {
  TPacket p(TServerPacketId::kDirection);
  p.WriteLong(obj.ObjectID);
  p.WriteByte(obj.Dir);
  return p;
}

TPacket SAttackPacket(const TActionObject& attacker, const TActionObject& target, uint16_t flags,
                      uint32_t damage) {
  TPacket p(TServerPacketId::kAttack);
  p.WriteLong(attacker.ObjectID);
  p.WriteLong(target.ObjectID);
  p.WriteByte(4);
  p.WriteWord(0);
  p.WriteWord(70);
  p.WriteByte(0);
  p.WriteByte(0);
  p.WriteWord(flags);
  if (flags & 0x0001) {
    p.WriteByte(0);
    p.WriteWord(159);
    p.WriteWord(70);
    p.WriteWord(1);
    p.WriteByte(0);
    p.WriteByte(target.HPPercent());
    p.WriteLong(damage);
    p.WriteLong(target.MaxHP);
    p.WriteByte(0);
  }
  return p;
}

TPacket SMapInfoPacket(const TMap& map) {
  TPacket p(TServerPacketId::kMapInfo);
  p.WriteWord(map.ID);
  p.WriteWord(0);
  p.WriteWord(0);
  p.WriteByte(map.Flag1);
  p.WriteByte(map.Flag2);
  p.WriteShortStr(map.Name);
  return p;
}

TPacket SSoundPacket(const TMap& map) {
  TPacket p(TServerPacketId::kSound);
  p.WriteByte(1);
  p.WriteByte(0);
  p.WriteWord(map.BGM);
  return p;
}

TPacket SSoundPacket(uint16_t sound_number) {
  TPacket p(TServerPacketId::kSound);
  p.WriteByte(0);
  p.WriteWord(sound_number);
  return p;
}

TPacket SMotionPacket(const TMapObject& obj, uint8_t motion, uint16_t value) {
  TPacket p(TServerPacketId::kMotion);
  p.WriteLong(obj.ObjectID);
  p.WriteByte(motion);
  p.WriteWord(value);
  p.WriteByte(0);
  return p;
}

TPacket SWeatherPacket(const TMap& map) {
  TPacket p(TServerPacketId::kWeather);
  p.WriteByte(1);
  p.WriteByte(map.Weather);
  return p;
}

TPacket SEffectPacket(const TMapObject& obj, uint16_t effect, uint16_t value) {
  TPacket p(TServerPacketId::kEffect);
  p.WriteByte(0);
  p.WriteLong(obj.ObjectID);
  p.WriteLong(0);
  p.WriteWord(effect);
  p.WriteWord(value);
  p.WriteByte(0);
  return p;
}

TPacket SEffectPacket(uint16_t x, uint16_t y, uint16_t effect) {
  TPacket p(TServerPacketId::kEffect);
  p.WriteByte(0);
  p.WriteWord(x);
  p.WriteWord(y);
  p.WriteLong(0);
  p.WriteWord(effect);
  p.WriteWord(0);
  p.WriteByte(1);
  return p;
}

TPacket SCharaAppearPacket(const TChara& tc) {
  TPacket p(TServerPacketId::kCharaAppear);
  p.WriteWord(tc.Point.X);
  p.WriteWord(tc.Point.Y);
  p.WriteByte(tc.Dir);
  p.WriteLong(tc.ObjectID);
  p.WriteByte(tc.Sex);
  p.WriteByte(tc.Job);
  p.WriteByte(tc.Mark);
  p.WriteLong(tc.Mode);
  p.WriteLong(0);
  p.WriteByte(0);
  p.WriteWord(0);
  p.WriteWord(0);
  if (!(tc.Mode & 0x00000800)) WriteLook(p, tc);
  p.WriteByte(0);
  if (tc.Mode & 0x00000001) p.WriteColor(TAsColor{});
  if (tc.Mode & 0x00000010) p.WriteWord(0);
  if (tc.Mode & 0x00000002) p.WriteByte(0);
  p.WriteByte(0);
  p.WriteByte(7);
  p.WriteShortStr(tc.FName);
  p.WriteByte(0);
  p.WriteWord(0);
  if (tc.Mode & 0x00002000) {
    p.WriteByte(0);
    p.WriteShortStr("");
  }
  if (tc.Mode & 0x40000000) {
    p.WriteByte(0);
    p.WriteLongStr("");
  }
  p.WriteByte(3);
  p.WriteWord(0);
  p.WriteWord(tc.FSpeed);
  p.WriteByte(0);
  p.WriteByte(100);
  p.WriteByte(0);
  p.WriteWord(0);
  p.WriteByte(0);
  p.WriteShortStr("");
  p.WriteByte(0);
  p.WriteByte(0);
  return p;
}

TPacket SHPInfoPacket(uint32_t object_id, const TChara* tc) {
  TPacket p(TServerPacketId::kHPInfo);
  if (tc) {
    p.WriteLong(tc->ObjectID);
    p.WriteByte(1);
    p.WriteByte(0);
    p.WriteByte(tc->HPPercent());
    p.WriteByte(6);
  } else {
    p.WriteLong(object_id);
    p.WriteByte(0);
    p.WriteByte(0);
    p.WriteByte(100);
  }
  p.WriteByte(0);
  return p;
}

TPacket SDiePacket(const TMapObject& obj) {
  TPacket p(TServerPacketId::kDie);
  p.WriteLong(obj.ObjectID);
  return p;
}

TPacket SPathMovePacket(const TChara& tc, const std::vector<uint8_t>& steps) {
  RequireFits(steps.size(), 255, "path step count");
  TPacket p(TServerPacketId::kPathMove);
  p.WriteLong(tc.ObjectID);
  p.WriteWord(tc.Point.X);
  p.WriteWord(tc.Point.Y);
  p.WriteByte(tc.Dir);
  p.WriteByte(static_cast<uint8_t>(steps.size()));
  p.WriteBuffer(steps.data(), static_cast<int>(steps.size()));
  p.WriteWord(tc.NextPoint.X);
  p.WriteWord(tc.NextPoint.Y);
  p.WriteByte(tc.NextDir);
  return p;
}

// --- status, items, messages and dialogs ---

TPacket SStatusPacket(const TChara& tc, uint16_t sections) {
  TPacket p(TServerPacketId::kStatus);
  p.WriteByte(0);
  p.WriteWord(sections);
  if (sections & 0x0040) {
    p.WriteByte(0);
    p.WriteByte(tc.Level);
    p.WriteLong(tc.MaxHP);
    p.WriteLong(tc.MaxMP);
    p.WriteLong(tc.MaxSP);
    p.WriteLong(tc.MaxEP);
    p.WriteLong(tc.MaxBP);
    p.WriteWord(60);
    p.WriteWord(70);
    p.WriteWord(tc.DAM);
    p.WriteWord(tc.HIT);
    p.WriteWord(tc.MDAM);
    p.WriteWord(tc.MHIT);
    p.WriteWord(tc.SAR);
    p.WriteWord(tc.AAR);
    p.WriteWord(tc.Weight);
    p.WriteWord(tc.MaxWeight);
    p.WriteWord(tc.STR);
    p.WriteWord(tc.INT);
    p.WriteWord(tc.WIS);
    p.WriteWord(tc.CON);
    p.WriteWord(tc.DEX);
    p.WriteByte(tc.FameLv);
    p.WriteInt64(tc.FameExp);
    p.WriteByte(tc.TendLv);
    p.WriteLong(tc.TendExp);
    p.WriteByte(tc.BeliefLv);
    p.WriteLong(tc.BeliefExp);
    p.WriteByte(tc.BPUpDown);
    p.WriteByte(tc.INTUpDown);
    p.WriteByte(tc.HPUpDown);
    p.WriteByte(tc.StatPoint);
    p.WriteByte(0);
    // Signed values keep their sign when widened: -3 goes out as 0xFFFD.
    p.WriteWord(static_cast<uint16_t>(static_cast<int16_t>(tc.AC)));
    p.WriteWord(static_cast<uint16_t>(static_cast<int16_t>(tc.MC)));
    p.WriteWord(1000);
    p.WriteByte(0);
    p.WriteByte(0);
    p.WriteByte(0);
    p.WriteByte(1);
    p.WriteByte(0);
  }
  if (sections & 0x0020) {
    p.WriteLong(tc.HP);
    p.WriteLong(tc.MP);
    p.WriteLong(tc.SP);
    p.WriteLong(tc.EP);
    p.WriteLong(tc.BP);
    p.WriteLong(300);
  }
  if (sections & 0x0010) {
    p.WriteInt64(tc.Exp);
    p.WriteWord(tc.ExpPercent);
    p.WriteWord(tc.FamePercent);
    p.WriteWord(tc.TendPercent);
    p.WriteWord(tc.BeliefPercent);
    p.WriteLong(tc.Glod);
    p.WriteLong(0);
    p.WriteLong(0);
    p.WriteLong(0);
  }
  if (sections & 0x0008) {
    p.WriteByte(10);
    p.WriteByte(20);
    p.WriteByte(30);
    p.WriteByte(40);
    p.WriteByte(50);
    p.WriteShortStr("");
    p.WriteByte(60);
  }
  if (sections & 0x0200) p.WriteWord(0);
  return p;
}

TPacket SMessagePacket(uint8_t type, std::string_view text) {
  TPacket p(TServerPacketId::kMessage);
  p.WriteByte(type);
  if (type == 3) p.WriteByte(0);
  p.WriteLongStr(text);
  return p;
}

TPacket SChatPacket(uint8_t chat_type, const TChara& speaker, std::string_view text) {
  static constexpr uint8_t kChatColors[17][3] = {
      {255, 255, 255}, {154, 181, 96},  {255, 255, 255}, {255, 255, 255}, {255, 255, 255},
      {255, 255, 255}, {255, 243, 140}, {255, 243, 140}, {0, 0, 0},       {0, 0, 0},
      {0, 0, 0},       {0, 0, 0},       {255, 255, 255}, {255, 255, 255}, {255, 255, 255},
      {255, 255, 255}, {255, 255, 255},
  };
  const uint8_t type = chat_type > 16 ? 16 : chat_type;
  const std::string name = speaker.Name();
  std::string line;
  if (type == 0 || type == 3) {
    line = name + ": " + std::string(text);
  } else if (type == 1) {
    line = "[" + name + "]: " + std::string(text);
  } else if (type >= 13) {
    line = name + ":\t" + std::string(text);
  } else {
    line = std::string(text);
  }
  TPacket p(TServerPacketId::kChat);
  p.WriteByte(type);
  p.WriteLong(speaker.ObjectID);
  p.WriteBuffer(kChatColors[type], 3);
  p.WriteShortStr(line);
  if (type == 4) {
    p.WriteShortStr("アイエエエ");
    p.WriteLong(12);
  } else if (type == 5) {
    p.WriteShortStr("サヨナラ！");
  } else if (type >= 13) {
    p.WriteLong(200);
  }
  return p;
}

TPacket SInventoryItemPacket(int slot_index, const TItem& item) {
  const uint8_t slot = SlotByte(slot_index);
  const TItemData& data = *item.Data();
  TPacket p(TServerPacketId::kInventoryItem);
  p.WriteByte(1);
  p.WriteByte(slot);
  p.WriteWord(data.IconTile);
  p.WriteColor(data.Color);
  p.WriteByte(data.ColorType);
  p.WriteByte(data.ActionType);
  p.WriteByte(0);
  p.WriteShortStr("0");
  p.WriteShortStr(data.Name);
  p.WriteShortStr(data.MetaKey);
  p.WriteByte(1);
  p.WriteByte(0);
  p.WriteLong(0);
  p.WriteByte(0);
  p.WriteLong(0);
  p.WriteByte(data.ItemType);
  if (data.ItemType == 0) {
    p.WriteWord(0);
    p.WriteWord(item.Count());
  } else if (data.ItemType == 1) {
    p.WriteByte(0);
    p.WriteByte(1);
    p.WriteLong(100);
  }
  p.WriteByte(0);
  p.WriteByte(0);
  return p;
}

TPacket SInventoryClearPacket(int slot_index) {
  const uint8_t slot = SlotByte(slot_index);
  TPacket p(TServerPacketId::kInventoryClear);
  p.WriteByte(1);
  p.WriteByte(slot);
  p.WriteByte(0);
  return p;
}

TPacket SSignalPacket(uint8_t kind) {
  TPacket p(TServerPacketId::kSignal);
  p.WriteByte(kind);
  if (kind == 2) {
    p.WriteByte(0);
    p.WriteByte(0);
  }
  return p;
}

TPacket SEnterSetupPacket() {
  TPacket p(TServerPacketId::kEnterSetup);
  p.WriteByte(0);
  p.WriteByte(20);
  return p;
}

TPacket SShopListPacket() {
  TPacket p(TServerPacketId::kShopList);
  p.WriteByte(0);
  p.WriteByte(1);
  p.WriteLong(0);
  p.WriteLong(0);
  p.WriteWord(32769);
  p.WriteColor(TAsColor{128, 128, 255});
  p.WriteShortStr("stick1");
  p.WriteByte(0);
  p.WriteLong(0);
  p.WriteWord(32769);
  p.WriteByte(0);
  return p;
}

TPacket SLevelUpPacket() {
  TPacket p(TServerPacketId::kLevelUp);
  p.WriteByte(0);
  p.WriteWord(10);
  p.WriteByte(0);
  return p;
}

TPacket SShopWindowPacket() {
  TPacket p(TServerPacketId::kShopWindow);
  p.WriteByte(4);
  p.WriteByte(0);
  p.WriteLong(0);
  p.WriteByte(0);
  p.WriteWord(1);
  p.WriteByte(0);
  p.WriteLong(0);
  p.WriteLongStr("ほげほげ");
  p.WriteWord(4);
  p.WriteShortStr("BBB4");
  p.WriteWord(1);
  p.WriteWord(1);
  p.WriteLong(100);
  p.WriteShortStr("木刀4");
  p.WriteShortStr("すごい木刀");
  return p;
}

TPacket SEquipItemPacket(int slot_index, const TItem& item) {
  const uint8_t slot = SlotByte(slot_index);
  const TItemData& data = *item.Data();
  TPacket p(TServerPacketId::kEquipItem);
  p.WriteByte(slot);
  p.WriteWord(data.IconTile);
  p.WriteColor(data.Color);
  p.WriteByte(data.ColorType);
  p.WriteShortStr(data.Name);
  p.WriteShortStr(data.MetaKey);
  p.WriteByte(1);
  p.WriteByte(0);
  p.WriteByte(1);
  p.WriteLong(100);
  p.WriteLong(0);
  p.WriteByte(0);
  p.WriteLong(0);
  p.WriteByte(0);
  p.WriteByte(0);
  p.WriteByte(0);
  return p;
}

TPacket SEquipClearPacket(int slot_index) {
  const uint8_t slot = SlotByte(slot_index);
  TPacket p(TServerPacketId::kEquipClear);
  p.WriteByte(slot);
  p.WriteByte(0);
  return p;
}

TPacket SScriptDialogPacket(const std::string& script_name, uint32_t object_id,
                            const TCRCMap& crcs, const TKeyValueList& variables) {
  auto crc_of = [&crcs](const std::string& name) {
    auto it = crcs.find(name);
    if (it == crcs.end()) throw std::runtime_error("script \"" + name + "\" has no CRC-32");
    return it->second;
  };
  // Every lookup happens before the first write, so a missing script yields no packet at all.
  const uint32_t script_crc = crc_of(script_name);
  uint32_t dialog_crcs[20];
  for (int i = 0; i < 20; ++i) dialog_crcs[i] = crc_of(kDialogNames[i]);
  RequireFits(variables.size(), 65535, "script variable count");

  TPacket p(TServerPacketId::kScript);
  p.WriteByte(1);
  p.WriteByte(0);
  p.WriteShortStr(script_name);
  p.WriteLong(object_id);
  p.WriteLong(script_crc);
  p.WriteByte(20);
  for (int i = 0; i < 20; ++i) {
    p.WriteShortStr(kDialogNames[i]);
    p.WriteLong(dialog_crcs[i]);
  }
  p.WriteWord(static_cast<uint16_t>(variables.size()));
  for (const auto& [name, value] : variables) p.WriteKeyValue(name, value);
  return p;
}

TPacket SScriptEndPacket(const std::string& script_name, uint32_t object_id) {
  TPacket p(TServerPacketId::kScript);
  p.WriteByte(1);
  p.WriteByte(2);
  p.WriteShortStr(script_name);
  p.WriteLong(object_id);
  return p;
}

TPacket SScriptDataPacket(const std::string& script_name, const std::string* data) {
  if (data) RequireFits(data->size(), 65535, "script data size");
  TPacket p(TServerPacketId::kScript);
  p.WriteByte(1);
  p.WriteByte(1);
  p.WriteShortStr(script_name);
  if (data) {
    p.WriteWord(static_cast<uint16_t>(data->size()));
    p.WriteBuffer(data->data(), static_cast<int>(data->size()));
  } else {
    p.WriteWord(0);
  }
  return p;
}

TPacket SScriptListPacket(const std::string& script_list) {
  TPacket p(TServerPacketId::kScript);
  p.WriteByte(1);
  p.WriteByte(4);
  p.WriteBuffer(script_list.data(), static_cast<int>(script_list.size()));
  return p;
}

TPacket SEnterEndPacket() { return TPacket(TServerPacketId::kEnterEnd); }

TPacket SSkillPacket(uint8_t kind, int n) {
  TPacket p(TServerPacketId::kSkill);
  if (kind == 1) {
    if (n < 0 || n > 255) throw std::out_of_range("skill number " + std::to_string(n));
    const std::string name = "ストライク" + std::to_string(n);
    p.WriteByte(1);
    p.WriteByte(0);
    p.WriteByte(static_cast<uint8_t>(n));
    p.WriteByte(0);
    p.WriteWord(100);
    p.WriteLong(80);
    p.WriteByte(1);
    p.WriteWord(static_cast<uint16_t>(n));
    p.WriteByte(0);
    p.WriteByte(0);
    p.WriteByte(5);
    p.WriteShortStr(name);
    p.WriteShortStr(name);
    p.WriteShortStr(":");
    p.WriteShortStr("aDullAttack");
    p.WriteByte(1);
    p.WriteWord(200);
    p.WriteByte(99);
    p.WriteShortStr("クラス名");
    p.WriteByte(1);
    for (uint8_t b : {9, 10, 11, 12}) p.WriteByte(b);
    return p;
  }
  if (kind != 6) throw std::invalid_argument("skill record kind " + std::to_string(kind));
  static const char* const kNames[4] = {"ウォーベア", "エルフレンジャー", "シルフ", "サキュバス"};
  if (n < 0 || n > 3) throw std::out_of_range("skill record " + std::to_string(n) + " of kind 6");
  p.WriteByte(6);
  p.WriteByte(0);
  p.WriteByte(static_cast<uint8_t>(n + 1));
  p.WriteByte(0);
  p.WriteWord(100);
  p.WriteLong(80);
  p.WriteByte(0);
  p.WriteWord(static_cast<uint16_t>(n + 9));
  p.WriteByte(0);
  p.WriteByte(0);
  p.WriteByte(0);
  p.WriteShortStr(kNames[n]);
  p.WriteShortStr("せつめい");
  p.WriteShortStr("あいうえお");
  p.WriteShortStr("sSuccubus");
  p.WriteByte(1);
  p.WriteWord(200);
  p.WriteByte(99);
  p.WriteShortStr("sSuccubus");
  p.WriteByte(1);
  for (uint8_t b : {9, 10, 11, 12}) p.WriteByte(b);
  p.WriteByte(5);
  p.WriteInt64(2);
  p.WriteInt64(3);
  p.WriteWord(4);
  for (uint8_t b : {5, 6, 7}) p.WriteByte(b);
  p.WriteWord(8);
  p.WriteByte(1);
  p.WriteShortStr("aSwing");
  p.WriteLong(1);
  p.WriteByte(1);
  p.WriteShortStr("aSwing");
  p.WriteLong(2);
  p.WriteByte(4);
  for (uint16_t i = 1; i <= 4; ++i) {
    const int grade = Random(4);
    p.WriteWord(i);
    p.WriteByte(static_cast<uint8_t>(grade));
    p.WriteShortStr("あいうえお");
    p.WriteShortStr("かきくけこ");
    p.WriteByte(static_cast<uint8_t>(i));
    p.WriteWord(static_cast<uint16_t>((grade + 1) * 100));
    p.WriteLong(8);
    for (uint8_t b : {123, 59, 82}) p.WriteByte(b);
    p.WriteShortStr("aStrongAttack");
    p.WriteWord(321);
  }
  return p;
}

TPacket SWebPacket(uint8_t kind, std::string_view text, bool with_flag) {
  TPacket p(TServerPacketId::kWeb);
  p.WriteByte(kind);
  p.WriteShortStr(text);
  if (with_flag) p.WriteByte(1);
  return p;
}

TPacket SEnterValuesPacket(uint8_t flags) {
  TPacket p(TServerPacketId::kEnterValues);
  p.WriteByte(flags);
  for (uint8_t bit : {0x01, 0x02, 0x04, 0x08}) {
    if (flags & bit) p.WriteLong(0);
  }
  return p;
}

// --- shared operations ---

TSurroundings BuildSurroundings(const TChara& tc, const TMap& map, TMapPoint at) {
  TSurroundings out;
  const int bx = at.X / 4;
  const int by = at.Y / 4;
  for (int c = bx - 2; c <= bx + 2; ++c) {
    if (c < 0 || c >= map.BlockWidth) continue;
    for (int r = by - 2; r <= by + 2; ++r) {
      if (r < 0 || r >= map.BlockHeight) continue;
      const TMapBlock* block = map.Block(c, r);
      if (!block) continue;
      for (const TChara* other : block->CList) {
        if (other->ObjectID == tc.ObjectID) continue;
        out.to_self.push_back(SCharaAppearPacket(*other));
      }
      if (block->MapObjects.Count() > 0) {
        std::vector<const TMapObject*> objects(block->MapObjects.begin(),
                                               block->MapObjects.end());
        for (TPacket& p : SMapObjectsPackets(objects)) out.to_self.push_back(std::move(p));
      }
    }
  }
  return out;
}

void SendSurroundings(TChara* tc, TSurroundings& around) {
  TPacket appear = SCharaAppearPacket(*tc);
  appear.SendToBlock(tc, true);
  TConnection* conn = tc->Conn();
  for (TPacket& p : around.to_self) p.SendTo(conn);
}

void SendSurroundings(TChara* tc) {
  if (!tc || !tc->Map) return;
  TSurroundings around = BuildSurroundings(*tc, *tc->Map, tc->Point);
  SendSurroundings(tc, around);
}

void SendObjectRemoval(TActionObject* obj) {
  if (!obj) return;
  TPacket p = SRemoveObjectPacket(*obj);
  SendToArea(p, obj, false);
}

void ChangeMap(TChara* tc, TMap* map, uint16_t x, uint16_t y) {
  // What can fail is done first: the destination's blocks and the view around the new place.
  // Only then does the character leave its old place, so a failure leaves it where it was.
  map->Load();
  TSurroundings around = BuildSurroundings(*tc, *map, TMapPoint{x, y});
  map->ReserveChara(x, y);

  SendObjectRemoval(tc);
  if (tc->Map) tc->Map->DeleteChara(tc);
  tc->Map = map;
  tc->Point = TMapPoint{x, y};
  map->AddChara(tc);

  TConnection* conn = tc->Conn();
  SMapInfoPacket(*map).SendTo(conn);
  SSoundPacket(*map).SendTo(conn);
  SPlayerPositionPacket(*tc).SendTo(conn);
  SWeatherPacket(*map).SendTo(conn);
  SCharaAppearPacket(*tc).SendTo(conn);
  SendSurroundings(tc, around);
}

void SendSystemMessage(TConnection* context, uint8_t type, std::string_view text, bool to_everyone) {
  TPacket p = SMessagePacket(type, text);
  if (to_everyone) {
    if (ZoneServer) p.SendToServer(ZoneServer, nullptr);
  } else {
    p.SendTo(context);
  }
}

}  // namespace vornhal
