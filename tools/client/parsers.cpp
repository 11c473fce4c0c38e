#include "client/parsers.h"

#include <zlib.h>

#include "platform/text.h"

namespace vornhal::client {

namespace {

void ExpectId(const Frame& f, TServerPacketId id, const char* what) {
  if (f.id != id) {
    throw ProtocolError(std::string(what) + ": frame id " + std::to_string(IdByte(f.id)) +
                        ", expected " + std::to_string(IdByte(id)));
  }
}

void ExpectValue(uint32_t got, uint32_t want, const char* what) {
  if (got != want) {
    throw ProtocolError(std::string(what) + ": " + std::to_string(got) + ", expected " + std::to_string(want));
  }
}

}  // namespace

Greeting ParseGreeting(const Frame& f) {
  ExpectId(f, server_id::kGreeting, "greeting");
  TWireReader r(f.payload);
  Greeting g;
  g.lead = r.U8();
  const auto rest = r.Rest();
  g.text.assign(rest.begin(), rest.end());
  return g;
}

VersionResult ParseVersionResult(const Frame& f) {
  ExpectId(f, server_id::kVersionResult, "SVersionResultPacket");
  TWireReader r(f.payload);
  VersionResult v;
  v.kind = r.U8();
  if (v.kind == 0) {
    v.list_checksum = r.U32();
    ExpectValue(r.U8(), 2, "SVersionResultPacket key marker");
    v.key = r.Str8();
  } else if (v.kind == 1) {
    r.Str8();
    r.U8();
    r.U8();
  } else if (v.kind == 2) {
    v.required_version = r.U16();
    r.U8();
  } else {
    throw ProtocolError("SVersionResultPacket kind " + std::to_string(v.kind));
  }
  ExpectValue(r.U8(), 1, "SVersionResultPacket address marker");
  v.address = r.Str8();
  r.ExpectEnd("SVersionResultPacket");
  return v;
}

Result ParseResult(const Frame& f) {
  ExpectId(f, server_id::kResult, "SResultPacket");
  TWireReader r(f.payload);
  Result res;
  res.code = r.U8();
  res.text = r.Str8();
  r.ExpectEnd("SResultPacket");
  return res;
}

ServerInfo ParseServerInfo(const Frame& f) {
  ExpectId(f, server_id::kServerInfo, "SServerInfoPacket");
  TWireReader r(f.payload);
  ServerInfo s;
  s.raw_address = r.U32();
  s.address = ReversedAddressToText(s.raw_address);
  s.port = r.U16();
  s.rest_length = r.U8();
  const size_t rest_start = r.Position();
  ExpectValue(r.U8(), 2, "SServerInfoPacket key marker");
  s.key = r.Str8();
  if (r.Remaining() > 1) s.name = r.Str8();
  ExpectValue(r.U8(), 0, "SServerInfoPacket end byte");
  r.ExpectEnd("SServerInfoPacket");
  ExpectValue(s.rest_length, static_cast<uint8_t>(r.Position() - rest_start), "SServerInfoPacket rest length");
  return s;
}

ServerList ParseServerList(const Frame& f) {
  ExpectId(f, server_id::kServerList, "SServerListPacket");
  TWireReader r(f.payload);
  ServerList l;
  l.size = r.U16();
  l.compressed = r.Bytes(l.size);
  r.ExpectEnd("SServerListPacket");
  // The list is small; grow the output buffer until it fits.
  for (uLongf cap = 256; cap <= (1u << 20); cap *= 4) {
    std::vector<uint8_t> out(cap);
    uLongf len = cap;
    int rc = uncompress(out.data(), &len, l.compressed.data(), l.compressed.size());
    if (rc == Z_OK) {
      out.resize(len);
      l.raw = std::move(out);
      break;
    }
    if (rc != Z_BUF_ERROR) throw ProtocolError("SServerListPacket: not a zlib stream");
  }
  l.crc32 = static_cast<uint32_t>(crc32(0L, l.raw.data(), static_cast<uInt>(l.raw.size())));
  TWireReader e(l.raw);
  const uint8_t count = e.U8();
  for (uint8_t i = 0; i < count; ++i) {
    ServerListEntry entry;
    entry.index = e.U8();
    entry.address = ReversedAddressToText(e.U32());
    entry.port = e.U16();
    ExpectValue(e.U8(), entry.index, "server list entry index again");
    e.U8();
    entry.caption = e.Str8();
    entry.server_id = e.Str8();
    entry.date = e.Str8();
    l.entries.push_back(std::move(entry));
  }
  e.ExpectEnd("server list");
  return l;
}

Rule ParseRule(const Frame& f) {
  ExpectId(f, server_id::kRule, "SRulePacket");
  TWireReader r(f.payload);
  Rule rule;
  rule.kind = r.U8();
  if (rule.kind == 0) {
    rule.crc32 = r.U32();
  } else if (rule.kind == 1) {
    const uint16_t size = r.U16();
    rule.compressed = r.Bytes(size);
  }
  r.ExpectEnd("SRulePacket");
  return rule;
}

TempData ParseTempData(const Frame& f) {
  ExpectId(f, server_id::kTempData, "STempDataPacket");
  TWireReader r(f.payload);
  TempData t;
  t.kind = r.U8();
  ExpectValue(r.U8(), 1, "STempDataPacket second byte");
  if (t.kind == 0) {
    t.list = r.Rest();
  } else if (t.kind == 1) {
    t.key = r.Str8();
    t.checksum = r.U32();
    const uint16_t n = r.U16();
    t.bytes = r.Bytes(n);
  }
  r.ExpectEnd("STempDataPacket");
  return t;
}

ScriptPacket ParseScript(const Frame& f) {
  ExpectId(f, server_id::kScript, "SScriptPacket");
  TWireReader r(f.payload);
  ScriptPacket s;
  ExpectValue(r.U8(), 1, "SScriptPacket first byte");
  s.code = r.U8();
  switch (s.code) {
    case 0: {
      s.name = r.Str8();
      s.object_id = r.U32();
      s.crc = r.U32();
      const uint8_t dialogs = r.U8();
      for (uint8_t i = 0; i < dialogs; ++i) {
        std::string name = r.Str8();
        s.dialogs.emplace_back(std::move(name), r.U32());
      }
      const uint16_t vars = r.U16();
      for (uint16_t i = 0; i < vars; ++i) {
        std::string name = r.Str8();
        s.vars.emplace_back(std::move(name), r.Str8());
      }
      break;
    }
    case 1: {
      s.name = r.Str8();
      const uint16_t n = r.U16();
      s.data = r.Bytes(n);
      break;
    }
    case 2:
      s.name = r.Str8();
      s.object_id = r.U32();
      break;
    case 4:
      s.data = r.Rest();
      break;
    default:
      throw ProtocolError("SScriptPacket code " + std::to_string(s.code));
  }
  r.ExpectEnd("SScriptPacket");
  return s;
}

Web ParseWeb(const Frame& f) {
  ExpectId(f, server_id::kWeb, "SWebPacket");
  TWireReader r(f.payload);
  Web w;
  w.kind = r.U8();
  w.text = r.Str8();
  if (r.Remaining() == 1) w.flag = r.U8();
  r.ExpectEnd("SWebPacket");
  return w;
}

Message ParseMessage(const Frame& f) {
  ExpectId(f, server_id::kMessage, "SMessagePacket");
  TWireReader r(f.payload);
  Message m;
  m.type = r.U8();
  if (m.type == 3) ExpectValue(r.U8(), 0, "SMessagePacket reserved byte");
  m.text = r.Str16();
  r.ExpectEnd("SMessagePacket");
  return m;
}

Chat ParseChat(const Frame& f) {
  ExpectId(f, server_id::kChat, "SChatPacket");
  TWireReader r(f.payload);
  Chat c;
  c.type = r.U8();
  c.speaker_id = r.U32();
  c.color = r.Color();
  c.line = r.Str8();
  if (c.type == 4) {
    c.trailer_text = r.Str8();
    c.trailer_value = r.U32();
  } else if (c.type == 5) {
    c.trailer_text = r.Str8();
  } else if (c.type >= 13) {
    c.trailer_value = r.U32();
  }
  r.ExpectEnd("SChatPacket");
  return c;
}

CharaAppear ParseCharaAppear(const Frame& f) {
  ExpectId(f, server_id::kCharaAppear, "SCharaAppearPacket");
  TWireReader r(f.payload);
  CharaAppear a;
  a.x = r.U16();
  a.y = r.U16();
  a.dir = r.U8();
  a.id = r.U32();
  a.sex = r.U8();
  a.job = r.U8();
  a.mark = r.U8();
  a.mode = r.U32();
  r.Skip(4 + 1 + 2 + 2);
  if ((a.mode & 0x800) == 0) {
    a.has_look = true;
    a.wear_type = r.U16();
    a.head_type = r.U16();
    a.head_color = r.Color();
    a.weapon_type = r.U16();
    a.weapon_color = r.Color();
    a.shield_type = r.U16();
    a.shield_color = r.Color();
    a.wear_color = r.Color();
    r.U8();
  } else {
    r.U8();
  }
  if (a.mode & 0x1) r.Skip(3);
  if (a.mode & 0x10) r.Skip(2);
  if (a.mode & 0x2) r.Skip(1);
  r.U8();
  ExpectValue(r.U8(), 7, "SCharaAppearPacket constant before the name");
  a.name = r.Str8();
  r.Skip(1 + 2);
  if (a.mode & 0x2000) {
    r.U8();
    r.Str8();
  }
  if (a.mode & 0x40000000) {
    r.U8();
    r.Str16();
  }
  ExpectValue(r.U8(), 3, "SCharaAppearPacket constant before the speed");
  r.Skip(2);
  a.speed = r.U16();
  r.U8();
  ExpectValue(r.U8(), 100, "SCharaAppearPacket constant after the speed");
  r.Skip(1 + 2 + 1);
  r.Str8();
  r.Skip(2);
  r.ExpectEnd("SCharaAppearPacket");
  return a;
}

PlayerInfo ParsePlayerInfo(const Frame& f) {
  ExpectId(f, server_id::kPlayerInfo, "SPlayerInfoPacket");
  TWireReader r(f.payload);
  PlayerInfo p;
  p.id = r.U32();
  p.sex = r.U8();
  p.job = r.U8();
  p.mark = r.U8();
  p.mode = r.U32();
  r.Skip(4 + 1 + 2 + 2);
  if ((p.mode & 0x800) == 0) {
    r.Skip(2 + 2 + 3 + 2 + 3 + 2 + 3 + 3 + 1);
    ExpectValue(r.U8(), 63, "SPlayerInfoPacket constant");
    p.dir = r.U8();
  } else {
    r.Skip(6);
  }
  r.ExpectEnd("SPlayerInfoPacket");
  return p;
}

CharaMove ParseCharaMove(const Frame& f) {
  ExpectId(f, server_id::kCharaMove, "SCharaMovePacket");
  TWireReader r(f.payload);
  CharaMove m;
  m.id = r.U32();
  m.x = r.U16();
  m.y = r.U16();
  r.ExpectEnd("SCharaMovePacket");
  return m;
}

MoveAck ParseMoveAck(const Frame& f) {
  ExpectId(f, server_id::kMoveAck, "SMoveAckPacket");
  TWireReader r(f.payload);
  MoveAck m;
  m.x = r.U16();
  m.y = r.U16();
  m.seq = r.U8();
  r.ExpectEnd("SMoveAckPacket");
  return m;
}

uint32_t ParseRemoveObject(const Frame& f) {
  ExpectId(f, server_id::kRemoveObject, "SRemoveObjectPacket");
  TWireReader r(f.payload);
  uint32_t id = r.U32();
  r.ExpectEnd("SRemoveObjectPacket");
  return id;
}

std::vector<MapObject> ParseMapObjects(const Frame& f) {
  ExpectId(f, server_id::kMapObjects, "SMapObjectsPacket");
  TWireReader r(f.payload);
  const uint16_t count = r.U16();
  std::vector<MapObject> out;
  for (uint16_t i = 0; i < count; ++i) {
    MapObject o;
    o.x = r.U16();
    o.y = r.U16();
    o.kind = r.U8();
    o.id = r.U32();
    if (o.kind == 1 || o.kind == 2) r.Str8();
    o.tile = r.U16();
    switch (o.kind) {
      case 1:
      case 2:
        r.Skip(2 + 1);
        o.color = r.Color();
        o.dir = r.U8();
        o.hp_percent = r.U8();
        o.speed = r.U16();
        r.Skip(4);
        if (o.kind == 2) r.Skip(6);
        o.name = r.Str8();
        break;
      case 3:
        o.color_type = r.U16();
        o.color = r.Color();
        o.name = r.Str8();
        r.Skip(4);
        break;
      case 13:
        o.name = r.Str8();
        break;
      case 0:
        break;
      default:
        throw ProtocolError("SMapObjectsPacket: object kind " + std::to_string(o.kind));
    }
    out.push_back(std::move(o));
  }
  r.ExpectEnd("SMapObjectsPacket");
  return out;
}

Direction ParseDirection(const Frame& f) {
  ExpectId(f, server_id::kDirection, "SDirectionPacket");
  TWireReader r(f.payload);
  Direction d;
  d.id = r.U32();
  d.dir = r.U8();
  r.ExpectEnd("SDirectionPacket");
  return d;
}

PlayerPosition ParsePlayerPosition(const Frame& f) {
  ExpectId(f, server_id::kPlayerPosition, "SPlayerPositionPacket");
  TWireReader r(f.payload);
  PlayerPosition p;
  p.x = r.U16();
  p.y = r.U16();
  ExpectValue(r.U16(), 8, "SPlayerPositionPacket constant");
  ExpectValue(r.U16(), 9, "SPlayerPositionPacket constant");
  r.ExpectEnd("SPlayerPositionPacket");
  return p;
}

MapInfo ParseMapInfo(const Frame& f) {
  ExpectId(f, server_id::kMapInfo, "SMapInfoPacket");
  TWireReader r(f.payload);
  MapInfo m;
  m.id = r.U16();
  r.Skip(4);
  m.flag1 = r.U8();
  m.flag2 = r.U8();
  m.name = r.Str8();
  r.ExpectEnd("SMapInfoPacket");
  return m;
}

Status ParseStatus(const Frame& f) {
  ExpectId(f, server_id::kStatus, "SStatusPacket");
  TWireReader r(f.payload);
  Status s;
  s.sub_kind = r.U8();
  s.sections = r.U16();
  if (s.sections & 0x0040) {
    r.U8();
    s.level = r.U8();
    s.max_hp = r.U32();
    s.max_mp = r.U32();
    s.max_sp = r.U32();
    s.max_ep = r.U32();
    s.max_bp = r.U32();
    ExpectValue(r.U16(), 60, "SStatusPacket constant 60");
    ExpectValue(r.U16(), 70, "SStatusPacket constant 70");
    s.dam = r.U16();
    s.hit = r.U16();
    s.mdam = r.U16();
    s.mhit = r.U16();
    s.sar = r.U16();
    s.aar = r.U16();
    s.weight = r.U16();
    s.max_weight = r.U16();
    s.str = r.U16();
    s.int_ = r.U16();
    s.wis = r.U16();
    s.con = r.U16();
    s.dex = r.U16();
    r.U8();   // fame level
    r.U64();  // fame experience
    r.U8();   // tend level
    r.U32();
    r.U8();   // belief level
    r.U32();
    r.Skip(3);  // BP, INT and HP up/down
    s.stat_point = r.U8();
    r.U8();
    s.ac = r.U16();
    s.mc = r.U16();
    ExpectValue(r.U16(), 1000, "SStatusPacket constant 1000");
    r.Skip(3);
    ExpectValue(r.U8(), 1, "SStatusPacket constant 1");
    r.U8();
  }
  if (s.sections & 0x0020) {
    s.hp = r.U32();
    s.mp = r.U32();
    s.sp = r.U32();
    s.ep = r.U32();
    s.bp = r.U32();
    ExpectValue(r.U32(), 300, "SStatusPacket constant 300");
  }
  if (s.sections & 0x0010) {
    s.exp = r.U64();
    s.exp_percent = r.U16();
    r.Skip(6);
    s.glod = r.U32();
    r.Skip(12);
  }
  if (s.sections & 0x0008) {
    for (uint32_t v : {10u, 20u, 30u, 40u, 50u}) ExpectValue(r.U8(), v, "SStatusPacket fixed block");
    r.Str8();
    ExpectValue(r.U8(), 60, "SStatusPacket fixed block");
  }
  if (s.sections & 0x0200) r.U16();
  r.ExpectEnd("SStatusPacket");
  return s;
}

InventoryItem ParseInventoryItem(const Frame& f) {
  ExpectId(f, server_id::kInventoryItem, "SInventoryItemPacket");
  TWireReader r(f.payload);
  InventoryItem it;
  ExpectValue(r.U8(), 1, "SInventoryItemPacket first byte");
  it.slot = r.U8();
  it.icon = r.U16();
  it.color = r.Color();
  it.color_type = r.U8();
  it.action_type = r.U8();
  r.U8();
  r.Str8();
  it.name = r.Str8();
  it.key = r.Str8();
  r.Skip(1 + 1 + 4 + 1 + 4);
  it.item_type = r.U8();
  if (it.item_type == 0) {
    r.U16();
    it.count = r.U16();
  } else if (it.item_type == 1) {
    r.Skip(1 + 1 + 4);
  }
  r.Skip(2);
  r.ExpectEnd("SInventoryItemPacket");
  return it;
}

uint8_t ParseInventoryClear(const Frame& f) {
  ExpectId(f, server_id::kInventoryClear, "SInventoryClearPacket");
  TWireReader r(f.payload);
  ExpectValue(r.U8(), 1, "SInventoryClearPacket first byte");
  const uint8_t slot = r.U8();
  r.U8();
  r.ExpectEnd("SInventoryClearPacket");
  return slot;
}

EquipItem ParseEquipItem(const Frame& f) {
  ExpectId(f, server_id::kEquipItem, "SEquipItemPacket");
  TWireReader r(f.payload);
  EquipItem e;
  e.slot = r.U8();
  e.icon = r.U16();
  e.color = r.Color();
  e.color_type = r.U8();
  e.name = r.Str8();
  e.key = r.Str8();
  r.Skip(1 + 1 + 1 + 4 + 4 + 1 + 4 + 1 + 1 + 1);
  r.ExpectEnd("SEquipItemPacket");
  return e;
}

Effect ParseEffect(const Frame& f) {
  ExpectId(f, server_id::kEffect, "SEffectPacket");
  if (f.payload.empty()) throw ProtocolError("SEffectPacket: empty payload");
  TWireReader r(f.payload);
  Effect e;
  e.at_position = f.payload.back() == 1;
  r.U8();
  if (e.at_position) {
    e.x = r.U16();
    e.y = r.U16();
  } else {
    e.object_id = r.U32();
  }
  r.U32();
  e.effect = r.U16();
  e.value = r.U16();
  r.U8();
  r.ExpectEnd("SEffectPacket");
  return e;
}

Attack ParseAttack(const Frame& f) {
  ExpectId(f, server_id::kAttack, "SAttackPacket");
  TWireReader r(f.payload);
  Attack a;
  a.attacker = r.U32();
  a.target = r.U32();
  ExpectValue(r.U8(), 4, "SAttackPacket constant 4");
  r.U16();
  ExpectValue(r.U16(), 70, "SAttackPacket constant 70");
  r.Skip(2);
  a.flags = r.U16();
  a.hit = (a.flags & 1) != 0;
  if (a.hit) {
    r.U8();
    r.Skip(6);
    r.U8();
    a.target_hp_percent = r.U8();
    a.damage = r.U32();
    a.target_max_hp = r.U32();
    r.U8();
  }
  r.ExpectEnd("SAttackPacket");
  return a;
}

HPInfo ParseHPInfo(const Frame& f) {
  ExpectId(f, server_id::kHPInfo, "SHPInfoPacket");
  TWireReader r(f.payload);
  HPInfo h;
  h.id = r.U32();
  h.kind = r.U8();
  r.U8();
  h.percent = r.U8();
  if (h.kind == 1) ExpectValue(r.U8(), 6, "SHPInfoPacket constant 6");
  r.U8();
  r.ExpectEnd("SHPInfoPacket");
  return h;
}

Motion ParseMotion(const Frame& f) {
  ExpectId(f, server_id::kMotion, "SMotionPacket");
  TWireReader r(f.payload);
  Motion m;
  m.id = r.U32();
  m.motion = r.U8();
  m.value = r.U16();
  r.U8();
  r.ExpectEnd("SMotionPacket");
  return m;
}

Skill ParseSkill(const Frame& f) {
  ExpectId(f, server_id::kSkill, "SSkillPacket");
  TWireReader r(f.payload);
  Skill s;
  s.kind = r.U8();
  r.U8();
  s.number = r.U8();
  return s;
}

}  // namespace vornhal::client
