#include "login/bans.h"

#include <ctime>
#include <vector>

#include "net/server.h"
#include "platform/log.h"
#include "platform/world_lock.h"
#include "world/chara.h"
#include "world/world.h"

namespace vornhal {

std::string AddBan(TWorld& world, TBanKind kind, const std::string& target, int minutes, const std::string& reason) {
  TBan ban;
  ban.kind = kind;
  ban.target = target;
  if (kind == TBanKind::Address) {
    if (!ParseBanAddress(target, ban.network, ban.mask)) return "アドレスが不正です: " + target;
  } else if (!IsBannableName(target)) {
    return "名前が不正です: " + target;
  }
  if (minutes < 0) return "期間が不正です";
  if (minutes > 0) {
    // The file holds minutes: the end is rounded up to the next whole minute.
    std::time_t end = std::time(nullptr) + static_cast<std::time_t>(minutes) * 60;
    ban.until = (end + 59) / 60 * 60;
  }
  ban.reason = reason;
  std::string error = AppendBanLine(ban);
  if (!error.empty()) return error;
  LogFmt("利用停止を追加しました: %s", EscapeLogText(BanLine(ban), 400));
  TWorldGuard guard;
  ApplyBansToWorld(world);
  return {};
}

bool RemoveBan(TWorld& world, TBanKind kind, const std::string& target) {
  int count = 0;
  std::string error = RemoveBanLines(kind, target, count);
  if (!error.empty()) {
    LogFmt("利用停止を解除できません: %s", error);
    return false;
  }
  if (count == 0) return false;
  LogFmt("利用停止を解除しました: %s %s", kind == TBanKind::Address ? "ip" : "name",
         EscapeLogText(target, 300));
  TWorldGuard guard;
  ApplyBansToWorld(world);
  return true;
}

void ApplyBansToWorld(TWorld& world) {
  TakeBansChanged();
  std::shared_ptr<const TBanList> bans = CurrentBans();
  if (bans->Bans().empty()) return;
  const std::time_t now = std::time(nullptr);
  // Closing runs each connection's own disconnect handling later, which saves the character.
  for (TChara* tc : world.CharaList) {
    if (!tc->LoggedIn() || tc->Conn() == nullptr || !tc->Conn()->Connected()) continue;
    if (const TBan* ban = bans->FindName(tc->FName, now)) {
      LogFmt("利用停止のためキャラクター \"%s\" を切断します (%s)", EscapeLogText(tc->FName, 300),
             EscapeLogText(ban->reason, 200));
      tc->Conn()->Close();
    }
  }
  for (TServer* server : {MultiServer, ZoneServer}) {
    if (server == nullptr) continue;
    std::vector<TConnection*> banned;
    server->ForEachConnection([&](TConnection& conn) {
      if (conn.Connected() && bans->FindAddress(conn.PeerIP(), now) != nullptr) banned.push_back(&conn);
    });
    for (TConnection* conn : banned) {
      LogFmt("[%s] 利用停止のためアドレス %s の接続を切断します", server->Name(), conn->PeerIP());
      conn->Close();
    }
  }
}

}  // namespace vornhal
