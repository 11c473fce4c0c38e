// The mob database and mobs: creation, placement near the summon point, revival and death.
#include "world/mob.h"

#include <algorithm>

#include "platform/clock.h"
#include "platform/random.h"
#include "platform/text.h"
#include "world/map.h"
#include "world/packets.h"
#include "world/world.h"

namespace vornhal {

int TMobDB::Add(std::unique_ptr<TMobData> tmd) {
  const std::string key = LowerAscii(tmd->Name);
  if (FMobNameDict.count(key)) {
    throw DuplicateKeyError("mob name \"" + tmd->Name + "\" is already listed");
  }
  FMobNameDict.emplace(key, tmd.get());
  FItems.push_back(std::move(tmd));
  return static_cast<int>(FItems.size()) - 1;
}

void TMobDB::Delete(int index) {
  TMobData* data = FItems.at(static_cast<size_t>(index)).get();
  auto it = FMobNameDict.find(LowerAscii(data->Name));
  if (it != FMobNameDict.end() && it->second == data) FMobNameDict.erase(it);
  FItems.erase(FItems.begin() + index);
}

bool TMobDB::TryGetValue(std::string_view mob_name, TMobData*& value) const {
  auto it = FMobNameDict.find(LowerAscii(mob_name));
  if (it == FMobNameDict.end()) return false;
  value = it->second;
  return true;
}

TMob::TMob(TMap* tm, TMobData* tmd, bool free_on_die, uint16_t x, uint16_t y, int32_t range,
           uint32_t interval) {
  Level = 1;
  ObjectID = tm->World.NextMobID++;
  FreeOnDie = free_on_die;
  SummonPoint = TMapPoint{x, y};
  DeadTime = 0;
  if (free_on_die) {
    SummonRange = 1;
    SummonInterval = 0xFFFFFFFF;
    IsActive = true;
    IsMove = true;
  } else {
    // A negative range would wrap into a huge placement square; it means "no spread".
    SummonRange = static_cast<uint16_t>(std::clamp<int32_t>(range, 0, 65535));
    SummonInterval = interval;
    IsActive = tmd->IsActive;
    IsMove = tmd->IsMove;
  }
  Map = tm;
  Data = tmd;
  Level = tmd->Level;
  HP = MaxHP = tmd->MaxHP;
  MP = MaxMP = tmd->MaxMP;
  SP = MaxSP = tmd->MaxSP;
  DAM = tmd->DAM;
  HIT = tmd->HIT;
  SAR = tmd->SAR;
  AAR = tmd->AAR;
  STR = tmd->STR;
  INT = tmd->INT;
  WIS = tmd->WIS;
  CON = tmd->CON;
  DEX = tmd->DEX;
  AC = tmd->AC;
  MC = tmd->MC;
  IsDead = true;
  Summon();
}

void TMob::Summon() {
  Revive();
  const int32_t range = SummonRange;
  if (range > 0 && Map) {
    TMapPoint p = SummonPoint;
    for (int attempt = 0; attempt < 100; ++attempt) {
      p.X = static_cast<uint16_t>(SummonPoint.X + (Random(2 * range) - range));
      p.Y = static_cast<uint16_t>(SummonPoint.Y + (Random(2 * range) - range));
      if (Map->CanMove(p.X, p.Y)) break;
    }
    Point = p;
  } else {
    Point = SummonPoint;
  }
  if (Map && !Map->CList.empty()) {
    std::vector<const TMapObject*> self{this};
    SMapObjectsPacket(self).SendToBlock(this, true);
  }
}

void TMob::Revive() {
  TActionObject::Revive();
  CalcStatus();
}

void TMob::Die() {
  DeadTime = TickCount();
  if (Map) SDiePacket(*this).SendToBlock(this, true);
  if (FreeOnDie && Map) Map->DeleteMob(this);
}

}  // namespace vornhal
