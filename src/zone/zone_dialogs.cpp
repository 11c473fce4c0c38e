// Zone handlers for NPC dialogs, the market test dialog, boards, queries and small actions.
#include <optional>
#include <stdexcept>
#include <string>

#include "data/common.h"
#include "platform/log.h"
#include "world/world.h"
#include "world/npc.h"
#include "world/packets.h"
#include "zone/zone.h"

namespace vornhal {

namespace {

// Client text in log lines is cut to these lengths: one packet never floods the log.
constexpr size_t kMaxLoggedText = 256;
constexpr size_t kMaxLoggedVariables = 1024;

const char kMarketScript[] = "nMiAllMarket01";
const char kGuideScript[] = "VornhalTest";

TKeyValueList NpcDialogVariables(const TNpc& npc) {
  return {
      {"UCOLOR", "16711935"},
      {"MNAME", npc.FName},
      {"UBAL", "0"},
      {"UAGOLD", "99998000"},
      {"UABAL", "100000000"},
      {"TILE", std::to_string(npc.GraphicID)},
      {"UGOLD", "2000"},
  };
}

TKeyValueList MarketDialogVariables(const TChara& tc) {
  return {
      {"UCOLOR", "16711935"},   {"MNAME", "マリ"},         {"UBAL", "0"},
      {"UAGOLD", "99998000"},   {"UABAL", "100000000"},   {"TILE", "16478"},
      {"UGOLD", std::to_string(tc.Glod)},
      {"EMPTYSLOT", "10"},      {"EMPTYWEIGHT", "64"},    {"ITEMCOUNT", "1"},
      {"TYPE", "BUY"},
      {"T0", "32769"},          {"N0", "木刀"},            {"L0", "1"},
      {"P0", "10"},             {"G0", "男女共用"},        {"C0", "戦盗魔聖吟騎"},
      {"W0", "1"},              {"K0", "stick1"},          {"R0", "2"},
      {"O0", "16711935"},       {"E0", "0"},               {"PVPPOINT0", "0"},
      {"EVENTPOINT0", "0"},     {"GUILDPOINT0", "0"},      {"U0", "1"},
  };
}

// The first name a dialog packet for `script_name` needs that ScriptCRCs lacks.
std::optional<std::string> MissingScript(const std::string& script_name) {
  if (ScriptCRCs.find(script_name) == ScriptCRCs.end()) return script_name;
  for (const char* name : kDialogNames) {
    if (ScriptCRCs.find(name) == ScriptCRCs.end()) return std::string(name);
  }
  return std::nullopt;
}

}  // namespace

void TZoneSession::ObjectInfo(TConnection& context) {
  TChara& tc = RequireChara();
  unsigned type = ReadByte();
  uint32_t id = ReadLong();
  unsigned flags = ReadWord();
  LogFmt("CObjectInfoRequestPacket: type %u id %u flags %u", type, id, flags);
  if (type != 1) return;
  TNpc* npc = nullptr;
  if (!World.NpcList.TryGetValue(id, npc)) return;
  if (npc->ScriptName.empty()) {
    SEffectPacket(*npc, 238, 100).SendToBlock(&tc, true);
    return;
  }
  if (auto missing = MissingScript(npc->ScriptName)) {
    LogFmt("[%s] スクリプト \"%s\" がないため、会話を開けません", ServerName(),
               EscapeLogText(*missing, kMaxLoggedText));
    return;
  }
  SScriptDialogPacket(npc->ScriptName, id, ScriptCRCs, NpcDialogVariables(*npc)).SendTo(&context);
}

void TZoneSession::ScriptReply(TConnection& context) {
  TChara& tc = RequireChara();
  unsigned code = ReadByte();
  LogFmt("CScriptPacket: code %u", code);
  if (code == 1) {
    std::string script_name = ReadShortStr();
    LogFmt("scriptName: %s", EscapeLogText(script_name, kMaxLoggedText));
    uint32_t object_id = ReadLong();
    uint16_t count = ReadWord();
    TKeyValueList variables;
    variables.reserve(count);
    // All variables go into one log line, however many the packet carries.
    std::string logged;
    for (uint16_t i = 0; i < count; ++i) {
      std::string name = ReadShortStr();
      std::string value = ReadShortStr();
      if (logged.size() <= kMaxLoggedVariables) {
        if (!logged.empty()) logged += ", ";
        logged += name + "=" + value;
      }
      variables.emplace_back(std::move(name), std::move(value));
    }
    if (count > 0) {
      LogFmt("  %s", EscapeLogText(logged, kMaxLoggedVariables));
    }
    if (script_name != kMarketScript) return;
    if (variables.size() == 1 && variables[0].first == "TYPE" && variables[0].second == "BUY") {
      if (auto missing = MissingScript(script_name)) {
        LogFmt("[%s] スクリプト \"%s\" がないため、会話を開けません", ServerName(),
               EscapeLogText(*missing, kMaxLoggedText));
        return;
      }
      // Built before anything is sent, so a failure sends neither packet.
      TPacket dialog =
          SScriptDialogPacket(script_name, object_id, ScriptCRCs, MarketDialogVariables(tc));
      SScriptEndPacket(script_name, object_id).SendTo(&context);
      dialog.SendTo(&context);
    } else if (variables.size() == 2 && variables[0].first == "I" && variables[1].first == "U") {
      TItemData* stick = World.ItemDB.Find("stick1");
      if (stick != nullptr) tc.Inventory().Add(stick, 1, true);
    }
  } else if (code == 4) {
    ReadShortStr();
    uint32_t object_id = ReadLong();
    TNpc* npc = nullptr;
    if (!World.NpcList.TryGetValue(object_id, npc) || npc->ScriptName.empty()) return;
    SScriptEndPacket(npc->ScriptName, object_id).SendTo(&context);
    if (npc->ScriptName == kGuideScript) {
      TMap* map = World.MapList.FindMap(1);
      if (map == nullptr || !map->InGrid(65, 50)) {
        throw std::runtime_error("MapID 1 のマップに (65, 50) がありません");
      }
      ChangeMap(&tc, map, 65, 50);
    }
  }
}

void TZoneSession::BulletinBoard() {
  int type = ReadByte();
  if (type == 1 || type == 2 || type == 4) {
    int index = ReadByte();
    LogFmt("CBulletinBoardPacket type %d index %d", type, index);
  } else {
    LogFmt("CBulletinBoardPacket type %d", type);
  }
}

void TZoneSession::HPInfo(TConnection& context) {
  uint32_t id = ReadLong();
  if (id < kFirstCharaID) {
    SHPInfoPacket(id, nullptr).SendTo(&context);
    return;
  }
  TChara* target = nullptr;
  if (World.CharaList.TryGetValue(id, target)) SHPInfoPacket(id, target).SendTo(&context);
}

void TZoneSession::Attack() {
  TChara& tc = RequireChara();
  uint32_t id = ReadLong();
  if (id == 0) {
    tc.AttackTo(nullptr);
  } else if (id < kFirstCharaID) {
    TMob* mob = nullptr;
    if (tc.Map != nullptr && tc.Map->MList.TryGetValue(id, mob)) tc.AttackTo(mob);
  } else {
    TChara* target = nullptr;
    // Only a character in the world can be hit; an offline one is not there to be attacked.
    if (World.CharaList.TryGetValue(id, target) && target->InWorld() && target->Map != nullptr) {
      tc.AttackTo(target);
    }
  }
}

void TZoneSession::Motion() {
  TChara& tc = RequireChara();
  uint8_t kind = ReadByte();
  uint8_t value = ReadByte();
  ReadLong();
  if (kind == 0) {
    SMotionPacket(tc, value, 100).SendToBlock(&tc, true);
  } else if (kind == 1) {
    SEffectPacket(tc, static_cast<uint16_t>(235 + value), 100).SendToBlock(&tc, true);
    SSoundPacket(57).SendToBlock(&tc, true);
  }
}

void TZoneSession::StatUp(TConnection& context) {
  TChara& tc = RequireChara();
  uint8_t code = ReadByte();
  if (tc.StatPoint == 0) return;
  uint8_t* stat = nullptr;
  switch (code) {
    case 1: stat = &tc.STR; break;
    case 2: stat = &tc.DEX; break;
    case 4: stat = &tc.INT; break;
    case 8: stat = &tc.WIS; break;
    case 16: stat = &tc.CON; break;
    default: return;  // no such statistic: the point is kept
  }
  if (*stat == 255) return;
  ++*stat;
  --tc.StatPoint;
  SStatusPacket(tc, 0x0060).SendTo(&context);
}

}  // namespace vornhal
