// The Zone server and its session: dispatch, entering the world, moving, talking, leaving.
#include "zone/zone.h"

#include <algorithm>
#include <ctime>
#include <exception>
#include <stdexcept>
#include <vector>

#include "data/chara_store.h"
#include "gm/chat_limit.h"
#include "gm/debug_command.h"
#include "login/multi.h"
#include "platform/ban_list.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "platform/world_lock.h"
#include "world/world.h"
#include "world/npc.h"
#include "world/packets.h"

namespace vornhal {

std::unique_ptr<TSession> TZoneServer::CreateSession() {
  return std::make_unique<TZoneSession>(this, World);
}

void TZoneServer::DoDisconnect(TConnection& context) {
  {
    TWorldGuard guard;
    if (auto* session = dynamic_cast<TZoneSession*>(context.Data.get())) {
      try {
        session->Logout(context);
      } catch (const std::exception& e) {
        LogFmt("[%s] Error: %s", Name(), EscapeLogText(e.what()));
      }
    }
  }
  // The save writer writes the file while this connection's end goes on; a failed save keeps
  // the old file, and the writer's log line names the character.
  TServer::DoDisconnect(context);
}

bool ReviveDue(const TChara& tc, uint32_t tick) {
  // Elapsed works modulo 2^32, so a death shortly before the clock wraps is not revived early.
  return tc.LoggedIn() && tc.IsDead && Elapsed(tc.DeadTime, tick) > kReviveDelay;
}

void TZoneServer::Process(uint32_t tick) {
  TServer::Process(tick);
  // Only the dead are looked at: with nobody dead a tick costs one test of an empty list.
  const std::vector<TChara*>& dead = World.DeadCharas;
  if (dead.empty()) return;
  std::vector<TChara*> due;
  for (TChara* tc : dead) {
    if (ReviveDue(*tc, tick)) due.push_back(tc);
  }
  // Revive takes the character off the list, so it runs after the walk.
  for (TChara* tc : due) tc->Revive();
}

std::string TZoneSession::ServerName() const {
  return Server() != nullptr ? Server()->Name() : std::string("Zone");
}

TChara& TZoneSession::RequireChara() const {
  TChara* tc = Chara();
  if (tc == nullptr) throw std::runtime_error("キャラクターがログインしていません");
  return *tc;
}

void TZoneSession::ParsePacket(TConnection& context, uint8_t packet_id) {
  using enum TZoneClientPacketId;
  switch (static_cast<TZoneClientPacketId>(packet_id)) {
    case kPickItem: {
      TChara& tc = RequireChara();
      tc.PickItem(ReadLong());
      break;
    }
    case kDropItem:
      DropItem();
      break;
    case kDropGlod: {
      TChara& tc = RequireChara();
      tc.DropGlod(ReadLong());
      break;
    }
    case kServerInfoRequest:
      SServerInfoPacket(ServerAddressFor(context.PeerIP()), MultiServerPort()).SendTo(&context);
      break;
    case kChat:
      Chat(context);
      break;
    case kZoneLogin:
      ZoneLogin(context);
      break;
    case kDirection:
      Turn();
      break;
    case kAttack:
      Attack();
      break;
    case kWhisper:
      Whisper(context);
      break;
    case kUse:
      UseItem();
      break;
    case kMotion:
      Motion();
      break;
    case kUnequip:
      Unequip();
      break;
    case kItemShop:
      ItemShop(context);
      break;
    case kChangeSlot:
      ChangeSlot();
      break;
    case kMove:
      Step(context);
      break;
    case kSignalRequest:
      ReadLong();
      SSignalPacket(2).SendTo(&context);
      break;
    case kBattleMatchList:
      SMessagePacket(8, "今はバトルマッチリストが見られません。").SendTo(&context);
      break;
    case kObjectInfoRequest:
      ObjectInfo(context);
      break;
    case kHPInfoRequest:
      HPInfo(context);
      break;
    case kStatUp:
      StatUp(context);
      break;
    case kPathMove:
      PathMove();
      break;
    case kIgnored:
      ReadByte();
      ReadByte();
      break;
    case kScript:
      ScriptReply(context);
      break;
    case kWebBoard:
      LogFmt("CWebBoardPacket: type %u", ReadByte());
      break;
    case kBulletinBoard:
      BulletinBoard();
      break;
    default:
      break;
  }
}

void TZoneSession::ZoneLogin(TConnection& context) {
  ReadByte();
  ReadShortStr();
  std::string name = ReadShortStr();
  TChara* tc = nullptr;
  if (!World.CharaList.TryGetValue(name, tc)) return;
  const std::string ip = context.PeerIP();
  auto refuse = [&](const char* reason) {
    LogFmt("[%s] キャラクター \"%s\" (%s) のゾーンログインを拒否しました: %s", ServerName(),
           EscapeLogText(tc->FName), ip, reason);
  };
  if (Chara() != nullptr) {
    refuse("この接続は既にキャラクターを使っています");
    return;
  }
  if (CurrentBans()->FindName(tc->FName, std::time(nullptr)) != nullptr) {
    refuse("利用停止中です");
    return;
  }
  if (!World.ZoneTickets.Consume(tc->FName, ip, TickCount())) {
    refuse("ログインサーバーでの認証がありません");
    return;
  }
  TConnection* other = tc->Conn();
  // A character logged in on the Multi server only is handed over by that connection.
  if (tc->InWorld() && other != nullptr && other != &context) {
    if (other->Connected()) {
      refuse("既に別の接続でゲーム中です");
      return;
    }
    // That connection is closing and its disconnect handling has not run yet: take the
    // character out of the world now, so it is never listed twice; that handling then finds
    // no character.
    if (tc->Map != nullptr) tc->Map->DeleteChara(tc);
    SendObjectRemoval(tc);
    if (other->Data != nullptr) other->Data->SetChara(nullptr);
    tc->Login = TLoginState::kOffline;
    tc->Context.Reset();
  }
  TMap* map = tc->Map;
  if (map == nullptr || !map->InGrid(tc->Point.X, tc->Point.Y)) {
    refuse("位置がマップの外です");
    return;
  }

  // Everything that can fail is built before the character is listed anywhere: a failure
  // leaves it out of the world, as it was.
  map->Load();
  std::vector<TPacket> entering;
  for (int n = 1; n <= 10; ++n) entering.push_back(SSkillPacket(1, n));
  for (int n = 0; n <= 3; ++n) entering.push_back(SSkillPacket(6, n));
  const TEquipments& equipments = tc->Equipments();
  for (int i = 0; i < equipments.Count(); ++i) {
    const TEquipmentSlot* slot = equipments.GetItem(i);
    if (slot->Item() != nullptr) entering.push_back(SEquipItemPacket(slot->SlotIndex(), *slot->Item()));
  }
  entering.push_back(SStatusPacket(*tc, 0x0278));
  entering.push_back(SEnterValuesPacket(15));
  const TInventory& inventory = tc->Inventory();
  for (int i = 0; i < inventory.Count(); ++i) {
    const TInventorySlot* slot = inventory.GetItem(i);
    if (slot->Item() != nullptr) {
      entering.push_back(SInventoryItemPacket(slot->SlotIndex(), *slot->Item()));
    }
  }
  entering.push_back(SEnterSetupPacket());
  entering.push_back(SPlayerInfoPacket(*tc));
  entering.push_back(SMapInfoPacket(*map));
  entering.push_back(SSoundPacket(*map));
  entering.push_back(SSignalPacket(1));
  entering.push_back(SPlayerPositionPacket(*tc));
  entering.push_back(SWeatherPacket(*map));
  entering.push_back(SStatusPacket(*tc, 0x0060));
  entering.push_back(SCharaAppearPacket(*tc));
  entering.push_back(SEnterEndPacket());
  entering.push_back(SMessagePacket(3, Format("[%s %s]", "Vornhal", "Ver.0.2.5")));
  TSurroundings around = BuildSurroundings(*tc, *map, tc->Point);
  TPacket welcome = SMessagePacket(3, Format("[%s]さんがログインしました", tc->FName));

  if (!map->AddChara(tc)) {
    refuse("位置がマップの外です");
    return;
  }
  tc->Context.Reset(&context);
  SetChara(tc);
  tc->Login = TLoginState::kInWorld;

  for (TPacket& p : entering) p.SendTo(&context);
  SendSurroundings(tc, around);
  if (ZoneServer) welcome.SendToServer(ZoneServer, nullptr);
  LogFmt("[Zone] キャラクター \"%s\" がログイン", EscapeLogText(tc->FName));
}

std::shared_future<std::string> TZoneSession::Logout(TConnection& context) {
  TChara* tc = Chara();
  if (tc == nullptr) return {};
  SetChara(nullptr);
  tc->Login = TLoginState::kOffline;
  if (tc->Map != nullptr) tc->Map->DeleteChara(tc);
  SendObjectRemoval(tc);
  SendSystemMessage(&context, 3, Format("[%s]さんがログアウトしました", tc->FName), true);
  tc->ATarget = nullptr;
  if (tc->IsDead) tc->Revive();
  // The connection goes away after this; nothing may keep naming it.
  if (tc->Conn() == &context) tc->Context.Reset();
  return QueueSaveChara(tc, [server = ServerName(), name = tc->FName](const std::string& error) {
    LogFmt("[%s] キャラクター \"%s\" を保存できませんでした: %s", server, EscapeLogText(name, 300),
           error);
  });
}

void TZoneSession::Step(TConnection& context) {
  TChara& tc = RequireChara();
  uint8_t dir = ReadByte();
  uint8_t sequence = ReadByte();
  ReadByte();
  if (dir <= 7 && tc.Map != nullptr) {
    int x = tc.Point.X + kDirDX[dir];
    int y = tc.Point.Y + kDirDY[dir];
    // A cell outside the block grid (off the map's edge) moves nothing.
    if (x >= 0 && y >= 0 && x <= 0xFFFF && y <= 0xFFFF && tc.Map->InGrid(x, y)) {
      tc.Map->MoveChara(&tc, static_cast<uint16_t>(x), static_cast<uint16_t>(y));
    }
  }
  SMoveAckPacket(tc, sequence).SendTo(&context);
  SCharaMovePacket(tc).SendToBlock(&tc, false);
  TPortal* portal = tc.IsInPortal();
  if (portal != nullptr && portal->DestMap != nullptr) {
    // A destination outside the destination map's grid could not be listed there.
    if (!portal->DestMap->InGrid(portal->DestPoint.X, portal->DestPoint.Y)) {
      LogFmt("[%s] ポータルの移動先 (%d, %d) がマップ %d の外です", ServerName(),
             portal->DestPoint.X, portal->DestPoint.Y, portal->DestMap->ID);
      return;
    }
    tc.Dir = portal->Dir;
    ChangeMap(&tc, portal->DestMap, portal->DestPoint.X, portal->DestPoint.Y);
  }
}

void TZoneSession::Turn() {
  TChara& tc = RequireChara();
  uint8_t dir = ReadByte();
  if (dir > 7) return;
  tc.Dir = dir;
  SDirectionPacket(tc).SendToBlock(&tc, false);
}

void TZoneSession::PathMove() {
  TChara& tc = RequireChara();
  // The whole report is read before anything changes, so a short body changes nothing.
  uint16_t x = ReadWord();
  uint16_t y = ReadWord();
  uint8_t dir = ReadByte();
  uint8_t count = ReadByte();
  std::vector<uint8_t> steps(count);
  if (count > 0) ReadBuffer(steps.data(), count);
  uint16_t next_x = ReadWord();
  uint16_t next_y = ReadWord();
  uint8_t next_dir = ReadByte();

  // The path report itself carries the movement to the others, so no view packets are
  // exchanged here; a position outside the grid moves nothing.
  if (tc.Map != nullptr) tc.Map->MoveCharaSilently(&tc, x, y);
  tc.Dir = dir;
  tc.NextPoint = TMapPoint{next_x, next_y};
  tc.NextDir = next_dir;
  SPathMovePacket(tc, steps).SendToBlock(&tc, false);
}

void TZoneSession::Chat(TConnection& context) {
  TChara& tc = RequireChara();
  uint8_t chat_type = ReadByte();
  std::string text = ReadShortStr();
  if (text.empty()) return;
  if (text[0] == '@') {
    if (text.size() >= 2) DoDebugCommand(*this, context, &tc, text.substr(1));
    return;
  }
  if (!TakeChatLine(tc, &context)) return;
  SChatPacket(chat_type, tc, text).SendToBlock(&tc, true);
}

void TZoneSession::Whisper(TConnection& context) {
  TChara& tc = RequireChara();
  ReadByte();
  std::string target_name = ReadShortStr();
  std::string text = ReadShortStr();
  if (target_name == "!!" || target_name == "!1" || target_name == "!2") return;
  if (!TakeChatLine(tc, &context)) return;
  TChara* target = nullptr;
  if (!World.CharaList.TryGetValue(target_name, target)) {
    SMessagePacket(0, Format("存在しないキャラクターです (%s)", text)).SendTo(&context);
    return;
  }
  // A character logged in on the Multi server only is not in the world yet.
  TConnection* target_conn = target->Conn();
  if (!target->InWorld() || target_conn == nullptr) {
    SMessagePacket(0, Format("ログインしていないキャラクターです (%s)", text)).SendTo(&context);
    return;
  }
  SMessagePacket(0, Format("%s> %s", tc.FName, text)).SendTo(&context, target_conn);
}

}  // namespace vornhal
