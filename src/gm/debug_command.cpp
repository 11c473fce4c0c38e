// The GM command interpreter. A command runs for a character whose AdminLv reaches the
// command's level ([GMCommands], else GMLevel); every command that runs is logged (who, where,
// the whole line), and so is every line refused for want of level.
#include "gm/debug_command.h"

#include <algorithm>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "admin/metrics.h"
#include "data/database.h"
#include "gm/chat_limit.h"
#include "net/packet.h"
#include "net/server.h"
#include "platform/format.h"
#include "platform/log.h"
#include "platform/settings.h"
#include "platform/text.h"
#include "world/world.h"
#include "world/packets.h"

namespace vornhal {

namespace {

constexpr uint8_t kSystemMessage = 3;

const char* const kHelpLines[] = {
    "【接続人数表示】@count",
    "【現在地表示】@where",
    "【髪色変更】@haircolor [R] [G] [B]",
    "【アイテム入手】@item [MetaKey]",
    "【お金入手】@glod [Amount]",
    "【マップ移動】@goto [MapID] [X] [Y]",
    "【マップ内移動】@move [X] [Y]",
    "【GMシャウト】@shout [Message]",
    "【NPC再読み込み】@reload",
};

// One command's execution context: the caller, its character and the parsed line.
struct Command {
  TConnection& context;
  TChara* tc;
  const TArgs& args;
  TWorld& World;  // the caller's

  void ReplyMessage(std::string_view text) const {
    SendSystemMessage(&context, kSystemMessage, text, false);
  }
  void ReplyError(std::string_view text) const {
    ReplyMessage(std::string("[エラー] ") + std::string(text));
  }
  void ToArea(TPacket&& packet) const { packet.SendToBlock(tc, true); }
  void ToCaller(TPacket&& packet) const { packet.SendTo(&context); }
  void ToEveryone(TPacket&& packet) const {
    if (ZoneServer != nullptr) packet.SendToServer(ZoneServer, nullptr);
  }
};

int ZoneUserCount() { return ZoneServer != nullptr ? ZoneServer->UserCount() : 0; }

// Visits the blocks of the 5 x 5 neighbourhood of a cell that lie in the grid, column by column.
void ForEachNearBlock(const TMap& map, const TMapPoint& point,
                      const std::function<void(TMapBlock&)>& fn) {
  int bx = point.X / 4;
  int by = point.Y / 4;
  for (int c = bx - 2; c <= bx + 2; ++c) {
    for (int r = by - 2; r <= by + 2; ++r) {
      if (TMapBlock* block = map.Block(c, r)) fn(*block);
    }
  }
}

// A destination a GM command may put a character on: walkable and inside the block grid, so
// the map's block lookups stay within their array.
bool CanPlace(const TMap& map, uint16_t x, uint16_t y) { return map.InGrid(x, y) && map.CanMove(x, y); }

void DoHelp(const Command& cmd) {
  for (const char* line : kHelpLines) cmd.ReplyMessage(line);
}

void DoCount(const Command& cmd) { cmd.ReplyMessage(Format("現在の接続人数 [%d人]", ZoneUserCount())); }

void DoWhere(const Command& cmd) {
  const TMap* map = cmd.tc->Map;
  if (map == nullptr) return;
  cmd.ReplyMessage(Format("[%d] %s (%d, %d)", map->ID, map->Name, cmd.tc->Point.X, cmd.tc->Point.Y));
}

void DoHairColor(const Command& cmd) {
  if (cmd.args.Count() != 3) {
    cmd.ReplyError("引数の数が不正です");
    return;
  }
  auto component = [&](int i) {
    return static_cast<uint8_t>(std::clamp(cmd.args.GetValueAsInt(i, 255), 0, 255));
  };
  cmd.tc->HairColor = TAsColor{component(0), component(1), component(2)};
  cmd.ToArea(SCharaAppearPacket(*cmd.tc));
  cmd.ReplyMessage("HairColorを変更しました");
}

void DoGoto(const Command& cmd) {
  int32_t map_id = 0, x = 0, y = 0;
  if (!cmd.args.TryGetValue(0, map_id)) return;
  TMap* map = cmd.World.MapList.FindMap(static_cast<uint16_t>(map_id));
  if (map == nullptr) {
    cmd.ReplyError("存在しないMapIDです");
    return;
  }
  if (!cmd.args.TryGetValue(1, x) || !cmd.args.TryGetValue(2, y)) return;
  auto ux = static_cast<uint16_t>(x);
  auto uy = static_cast<uint16_t>(y);
  if (!CanPlace(*map, ux, uy)) {
    cmd.ReplyError("移動できない座標です");
    return;
  }
  ChangeMap(cmd.tc, map, ux, uy);
}

void DoMove(const Command& cmd) {
  int32_t x = 0, y = 0;
  if (!cmd.args.TryGetValue(0, x) || !cmd.args.TryGetValue(1, y)) return;
  TMap* map = cmd.tc->Map;
  if (map == nullptr) return;
  auto ux = static_cast<uint16_t>(x);
  auto uy = static_cast<uint16_t>(y);
  if (!CanPlace(*map, ux, uy)) {
    cmd.ReplyError("移動できない座標です");
    return;
  }
  map->MoveChara(cmd.tc, ux, uy);
}

void DoShout(const Command& cmd) {
  std::string text;
  if (!cmd.args.TryGetValue(0, text) || text.empty()) return;
  if (!TakeChatLine(*cmd.tc, &cmd.context)) return;
  cmd.ToEveryone(SChatPacket(1, *cmd.tc, text));
}

void DoSay(const Command& cmd) {
  int32_t type = 0;
  std::string text;
  if (!cmd.args.TryGetValue(0, type) || !cmd.args.TryGetValue(1, text)) return;
  if (!TakeChatLine(*cmd.tc, &cmd.context)) return;
  cmd.ToEveryone(SChatPacket(static_cast<uint8_t>(type & 0xFF), *cmd.tc, text));
}

void DoRevive(const Command& cmd) { cmd.tc->Revive(); }

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void DoPacket(const Command& cmd) {
  std::string hex;
  if (!cmd.args.TryGetValue(0, hex)) return;
  if (hex.size() % 2 != 0) {
    cmd.ReplyError("引数が不正です");
    return;
  }
  if (hex.empty()) throw std::invalid_argument("@packet: the argument is empty");
  // Convert every pair before building, so a bad pair sends nothing.
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i < hex.size(); i += 2) {
    int hi = HexValue(hex[i]);
    int lo = HexValue(hex[i + 1]);
    if (hi < 0 || lo < 0) {
      throw std::invalid_argument("@packet: '" + hex.substr(i, 2) + "' is not a hexadecimal byte");
    }
    bytes.push_back(static_cast<uint8_t>(hi * 16 + lo));
  }
  TPacket packet(static_cast<TServerPacketId>(bytes[0]));  // whatever id the command names
  for (size_t i = 1; i < bytes.size(); ++i) packet.WriteByte(bytes[i]);
  cmd.ToCaller(std::move(packet));
}

void DoSummon(const Command& cmd) {
  std::string name = cmd.args.GetValueAsStr(0, "ビートミー");
  TMobData* data = nullptr;
  TMap* map = cmd.tc->Map;
  if (map == nullptr || !cmd.World.MobDB.TryGetValue(name, data)) return;
  if (!map->MobRoom()) {
    cmd.ReplyError("このマップにはこれ以上モンスターを呼び出せません");
    return;
  }
  auto mob = std::make_unique<TMob>(map, data, true, cmd.tc->Point.X, cmd.tc->Point.Y, 0, 0);
  TPacket appear = SMapObjectsPacket(std::vector<const TMapObject*>{mob.get()});
  map->RegistMob(mob.release());
  cmd.ToArea(std::move(appear));
}

void DoMoveMob(const Command& cmd) {
  TMap* map = cmd.tc->Map;
  TMob* mob = nullptr;
  if (map == nullptr || !map->MList.TryGetValue(cmd.World.NextMobID - 1, mob)) return;
  TMapPoint target{static_cast<uint16_t>(cmd.tc->Point.X + 1),
                   static_cast<uint16_t>(cmd.tc->Point.Y + 1)};
  // Outside the block grid no block could list the mob, so it stays where it is.
  if (!map->InGrid(target.X, target.Y)) return;
  mob->Dir = mob->GetDir(target);
  // A mob that is listed in its block moves through the map so the block lists follow it; a
  // mob that no block lists (a summoned mob after its death) must not be put back into one.
  TMapBlock* block = map->BlockAt(mob->Point.X, mob->Point.Y);
  TMapObject* listed = nullptr;
  if (block != nullptr && block->MapObjects.TryGetValue(mob->ObjectID, listed) && listed == mob) {
    map->MoveMob(mob, target.X, target.Y);
  } else {
    mob->Point = target;
  }
  cmd.ToArea(SMobMovePacket(*mob));
}

void DoItem(const Command& cmd) {
  std::string key;
  if (!cmd.args.TryGetValue(0, key)) return;
  std::string lower = LowerAscii(key);
  if (lower == "money1" || lower == "money2" || lower == "money3" || lower == "money4") return;
  TItemData* data = cmd.World.ItemDB.Find(lower);
  if (data == nullptr) {
    cmd.ReplyError(Format("存在しないMetaKeyです (%s)", key));
    return;
  }
  TInventory& inventory = cmd.tc->Inventory();
  if (!inventory.HasPlace(data, 1)) {
    cmd.ReplyError("インベントリに空きがありません");
    return;
  }
  if (inventory.Add(data, 1, true) == -1) cmd.ReplyError("アイテム入手エラー");
}

void DoRemoveItem(const Command& cmd) {
  int32_t slot = 0;
  if (!cmd.args.TryGetValue(0, slot) || slot < 1 || slot > kInventorySlots) return;
  cmd.ToCaller(SInventoryClearPacket(slot));
}

void DoGlod(const Command& cmd) {
  uint32_t amount = 0;
  if (!cmd.args.TryGetValue(0, amount)) return;
  cmd.tc->IncGlod(amount);  // IncGlod keeps Glod within its cap
}

bool IsNpcOrPortal(const TMapObject* obj) {
  return obj->ObjectKind() == kKindNpc || obj->ObjectKind() == kKindPortal;
}

void DoReload(const Command& cmd) {
  if (ZoneUserCount() != 1) {
    cmd.ReplyError("他にログインしているプレイヤーがいる時は使用できません");
    return;
  }
  TMap* home = cmd.tc->Map;
  if (home == nullptr) return;
  const TMapPoint centre = cmd.tc->Point;

  // 1. The caller forgets the NPCs and portals around it.
  ForEachNearBlock(*home, centre, [&](TMapBlock& block) {
    for (TMapObject* obj : block.MapObjects) {
      if (IsNpcOrPortal(obj)) cmd.ToCaller(SRemoveObjectPacket(*obj));
    }
  });

  // 2. Every loaded map lets go of its NPCs and portals (the lists own them, not the blocks).
  for (const auto& map : cmd.World.MapList) map->RemoveNpcsAndPortals();

  // 3-5. Fresh NPCs and portals from the data files, NPC ids starting over.
  cmd.World.NpcList.Clear();
  cmd.World.PortalList.Clear();
  cmd.World.NextNpcID = kFirstNpcID;
  LoadNpcData(cmd.World);
  LoadPortalData(cmd.World);

  // 6-7. Back into the maps that already have blocks; the others get them when they load.
  for (TNpc* npc : cmd.World.NpcList) {
    TMap* map = cmd.World.MapList.FindMap(npc->MapID);
    if (map != nullptr && map->Loaded()) map->AddNpc(npc);
  }
  for (const auto& portal : cmd.World.PortalList) {
    if (portal->SrcMap != nullptr && portal->SrcMap->Loaded()) portal->SrcMap->AddPortal(portal.get());
  }

  // 8. The caller sees the new NPCs and portals around it.
  constexpr uint16_t kNpcAndPortal = (1u << kKindNpc) | (1u << kKindPortal);
  ForEachNearBlock(*home, centre, [&](TMapBlock& block) {
    if (block.MapObjects.Count() > 0) cmd.ToCaller(SMapObjectsPacket(block, kNpcAndPortal));
  });
}

void DoDropTest(const Command& cmd) {
  TItemData* data = cmd.World.ItemDB.Find("helixir");
  TMap* map = cmd.tc->Map;
  if (data == nullptr || map == nullptr) return;
  constexpr int kCount = 50;
  if (map->ItemRoom(cmd.tc->Point) < kCount) {
    cmd.ReplyError("ここにはこれ以上アイテムを置けません");
    return;
  }
  for (int i = 0; i < kCount; ++i) {
    auto dropped = std::make_unique<TDroppedItem>(cmd.World, std::make_unique<TItem>(data, 20),
                                                  cmd.tc->Point.X, cmd.tc->Point.Y);
    TPacket appear = SMapObjectsPacket(std::vector<const TMapObject*>{dropped.get()});
    if (!map->AddItem(dropped.get())) return;
    dropped.release();  // the map's blocks hold it until somebody picks it up
    cmd.ToArea(std::move(appear));
  }
}

void DoEffect(const Command& cmd) {
  int32_t number = 0;
  if (!cmd.args.TryGetValue(0, number)) return;
  cmd.ToArea(SEffectPacket(static_cast<uint16_t>(cmd.tc->Point.X + 2), cmd.tc->Point.Y,
                           static_cast<uint16_t>(number)));
}

void DoPortal(const Command& cmd) {
  int32_t number = 118;
  if (!cmd.args.TryGetValue(0, number)) number = 118;
  auto effect = static_cast<uint16_t>(number);
  TMap* map = cmd.tc->Map;
  if (map == nullptr) return;
  ForEachNearBlock(*map, cmd.tc->Point, [&](TMapBlock& block) {
    for (TMapObject* obj : block.MapObjects) {
      if (obj->ObjectKind() != kKindPortal) continue;
      const auto* portal = static_cast<const TPortal*>(obj);
      for (int y = portal->SrcMinPoint.Y; y <= portal->SrcMaxPoint.Y; ++y) {
        for (int x = portal->SrcMinPoint.X; x <= portal->SrcMaxPoint.X; ++x) {
          cmd.ToArea(SEffectPacket(static_cast<uint16_t>(x), static_cast<uint16_t>(y), effect));
        }
      }
    }
  });
}

void DoBrowser(const Command& cmd) { cmd.ToCaller(SWebPacket(4, "test.html", true)); }

void DoShop(const Command& cmd) { cmd.ToCaller(SShopWindowPacket()); }

struct CommandEntry {
  const char* name;
  void (*run)(const Command&);
};

// Tested in this order; the first name that matches runs.
const CommandEntry kCommands[] = {
    {"help", DoHelp},         {"count", DoCount},       {"where", DoWhere},
    {"haircolor", DoHairColor}, {"goto", DoGoto},       {"move", DoMove},
    {"shout", DoShout},       {"say", DoSay},           {"revive", DoRevive},
    {"packet", DoPacket},     {"summon", DoSummon},     {"movemob", DoMoveMob},
    {"item", DoItem},         {"removeitem", DoRemoveItem}, {"glod", DoGlod},
    {"reload", DoReload},     {"droptest", DoDropTest}, {"effect", DoEffect},
    {"portal", DoPortal},     {"browser", DoBrowser},   {"shop", DoShop},
};

}  // namespace

int32_t RequiredGMLevel(const TWorldSettings& settings, const std::string& command) {
  auto it = settings.GMCommandLevels.find(command);
  return it != settings.GMCommandLevels.end() ? it->second : settings.GMLevel;
}

void DoDebugCommand(TSession& session, TConnection& context, TChara* tc, const std::string& text) {
  (void)session;
  if (tc == nullptr) return;
  TArgs args(text);
  const int32_t required = RequiredGMLevel(tc->World.Settings, args.FCommand);
  if (tc->AdminLv < required) {
    // Below the level: nothing runs and nothing is sent, but the operator sees the attempt.
    LogFmt("[GM] キャラクター \"%s\" (AdminLv %d) のコマンドを拒否しました (必要なレベル %d): @%s",
           EscapeLogText(tc->FName, 300), int{tc->AdminLv}, required, EscapeLogText(text, 600));
    return;
  }
  const Command cmd{context, tc, args, tc->World};
  for (const CommandEntry& entry : kCommands) {
    if (args.FCommand == entry.name) {
      LogFmt("[GM] キャラクター \"%s\" (マップ %d, %d, %d) が実行: @%s",
             EscapeLogText(tc->FName, 300), tc->Map != nullptr ? int{tc->Map->ID} : 0,
             int{tc->Point.X}, int{tc->Point.Y}, EscapeLogText(text, 600));
      metrics::CountGMCommand();
      entry.run(cmd);
      return;
    }
  }
}

}  // namespace vornhal
