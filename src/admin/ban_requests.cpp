#include "admin/operations.h"
#include "login/bans.h"
#include "platform/format.h"
#include "platform/log.h"
#include "platform/world_lock.h"
#include "world/world.h"

namespace vornhal::admin {

bool ParseBanRequest(const TJson& body, bool with_time, TBanRequest* ban, std::string* error) {
  auto kind = body.find("kind");
  if (kind == body.end() || !kind->is_string() ||
      (*kind != "ip" && *kind != "address" && *kind != "name")) {
    *error = "\"kind\" must be \"ip\" or \"name\"";
    return false;
  }
  ban->address = *kind != "name";
  auto target = body.find("target");
  if (target == body.end() || !target->is_string() || target->get<std::string>().empty()) {
    *error = "\"target\" must be a non-empty string";
    return false;
  }
  ban->target = target->get<std::string>();
  if (!with_time) return true;
  if (auto minutes = body.find("minutes"); minutes != body.end() && !minutes->is_null()) {
    if (!minutes->is_number_integer() || minutes->get<int64_t>() < 0 ||
        minutes->get<int64_t>() > 100000000) {
      *error = "\"minutes\" must be an integer from 0 (no end) to 100000000";
      return false;
    }
    ban->minutes = static_cast<int>(minutes->get<int64_t>());
  }
  if (auto reason = body.find("reason"); reason != body.end() && !reason->is_null()) {
    if (!reason->is_string()) {
      *error = "\"reason\" must be a string";
      return false;
    }
    ban->reason = reason->get<std::string>();
  }
  return true;
}

bool UnknownBanName(const TWorld& world, const TBanRequest& ban) {
  if (ban.address) return false;
  TWorldGuard lock;
  TChara* tc = nullptr;
  return !world.CharaList.TryGetValue(ban.target, tc);
}

std::string DescribeBan(const TBanRequest& ban, bool add) {
  const char* kind = ban.address ? "ip" : "name";
  if (!add) return Format("BAN解除: %s \"%s\"", kind, EscapeLogText(ban.target, 64));
  return Format("BAN: %s \"%s\" %d分 理由: %s", kind, EscapeLogText(ban.target, 64), ban.minutes,
                EscapeLogText(ban.reason, 200));
}

std::string AddBanNow(TWorld& world, const TBanRequest& ban) {
  return AddBan(world, ban.address ? TBanKind::Address : TBanKind::Name, ban.target, ban.minutes, ban.reason);
}

bool RemoveBanNow(TWorld& world, const TBanRequest& ban) {
  return RemoveBan(world, ban.address ? TBanKind::Address : TBanKind::Name, ban.target);
}

}  // namespace vornhal::admin
