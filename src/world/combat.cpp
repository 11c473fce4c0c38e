// Combat operations shared by characters and mobs.
#include <cmath>

#include "platform/random.h"
#include "world/map.h"
#include "world/map_object.h"
#include "world/packets.h"

namespace vornhal {

namespace {

void SendToArea(TPacket&& p, const TActionObject& centre) {
  if (centre.Map) p.SendToBlock(&centre, true);
}

}  // namespace

uint8_t TActionObject::GetDir(const TMapPoint& target_point) const {
  const int dx = int{target_point.X} - int{Point.X};
  const int dy = int{target_point.Y} - int{Point.Y};
  if (dx == 0) {
    if (dy == 0) return Dir;
    return dy < 0 ? 0 : 2;
  }
  if (dy == 0) return dx > 0 ? 1 : 3;
  if (dx > 0) return dy < 0 ? 4 : 5;
  return dy > 0 ? 6 : 7;
}

long double TActionObject::GetAttackDirRate(const TActionObject& target) const {
  if (target.Dir == (Dir ^ 2)) return 1.0L;   // face to face
  if (target.Dir == Dir) return 1.35L;        // from behind
  return 1.1L;                                // from the side
}

uint32_t TActionObject::GetNormalDamage(const TActionObject& target) const {
  const int64_t p = int64_t{STR} * 2 * (int64_t{target.AC} + 100);
  const long double d = GetAttackDirRate(target) * (static_cast<long double>(p) / 200.0L + 2.0L);
  // An armour class below -100 makes the product negative; that is no damage, not a wrap.
  const long double rounded = std::roundl(d);
  if (rounded <= 0.0L) return 0;
  return static_cast<uint32_t>(rounded);
}

void TActionObject::AttackTo(TActionObject* target) {
  const bool player_versus_player =
      target && ObjectKind() == kKindChara && target->ObjectKind() == kKindChara;
  const bool pvp_allowed = Map && (Map->Flag1 & 2);
  if (!target || (player_versus_player && !pvp_allowed) || IsDead || target->IsDead) {
    SendToArea(SMotionPacket(*this, 4, 80), *this);
    return;
  }
  if (Random(100) == 0) {
    SendToArea(SAttackPacket(*this, *target, 0, 0), *this);
    return;
  }
  target->Dir = static_cast<uint8_t>(Dir ^ 2);
  SendToArea(SDirectionPacket(*target), *target);
  target->DecHP(1);
  SendToArea(SAttackPacket(*this, *target, 69, 1), *this);
  if (target->IsDead) {
    IncGlod(20);
    IncExp(100);
    target->Die();
  }
}

}  // namespace vornhal
