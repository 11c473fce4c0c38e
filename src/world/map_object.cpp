// The neighbourhood test and the action-object life cycle.
#include "world/map_object.h"

#include <cstdlib>

#include "platform/clock.h"

namespace vornhal {

bool TMapObject::IsNear(const TMapObject& target, int32_t range) const {
  // Differences of the unsigned coordinates taken as signed 32-bit values.
  const int32_t dx = static_cast<int32_t>(Point.X) - static_cast<int32_t>(target.Point.X);
  const int32_t dy = static_cast<int32_t>(Point.Y) - static_cast<int32_t>(target.Point.Y);
  return std::abs(dx) <= range && std::abs(dy) <= range;
}

uint8_t TActionObject::HPPercent() const {
  if (MaxHP == 0) return 0;  // a definition with no hit points must not divide by zero
  const long double percent =
      static_cast<long double>(HP) / static_cast<long double>(MaxHP) * 100.0L;
  const uint64_t truncated = static_cast<uint64_t>(percent);
  // More hit points than the maximum (a stored anomaly) shows as 255 rather than wrapping.
  return static_cast<uint8_t>(truncated > 255 ? 255 : truncated);
}

void TActionObject::DecHP(uint32_t value) {
  if (value < HP) {
    HP -= value;
  } else {
    HP = 0;
    IsDead = true;
  }
  CalcStatus();
}

void TActionObject::Revive() {
  HP = MaxHP;
  MP = MaxMP;
  SP = MaxSP;
  CalcStatus();
  IsDead = false;
}

void TActionObject::Die() { DeadTime = TickCount(); }

}  // namespace vornhal
