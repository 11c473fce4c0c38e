// Mob definitions, the mob database and mobs.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "world/map_object.h"

namespace vornhal {

struct TMobData {
  std::string Name;
  uint16_t GraphicID = 0;
  TAsColor Color;
  uint16_t Speed = 0;
  uint8_t Level = 0;
  uint32_t MaxHP = 0, MaxMP = 0, MaxSP = 0;
  uint16_t DAM = 0, HIT = 0, MDAM = 0, MHIT = 0;
  uint8_t SAR = 0, AAR = 0;
  uint8_t STR = 0, INT = 0, WIS = 0, CON = 0, DEX = 0;
  int8_t AC = 0, MC = 0;
  bool IsActive = false;
  bool IsMove = false;
};

class TMobDB {
 public:
  // Appends and indexes by lower-cased name; DuplicateKeyError names a taken name.
  int Add(std::unique_ptr<TMobData> tmd);
  void Delete(int index);
  bool TryGetValue(std::string_view mob_name, TMobData*& value) const;
  int Count() const { return static_cast<int>(FItems.size()); }
  TMobData* operator[](int index) const { return FItems.at(static_cast<size_t>(index)).get(); }
  void Clear() {
    FMobNameDict.clear();
    FItems.clear();
  }

 private:
  std::vector<std::unique_ptr<TMobData>> FItems;
  std::unordered_map<std::string, TMobData*> FMobNameDict;
};

class TMob : public TActionObject {
 public:
  // Creates the mob (next mob id) and summons it; the creator registers it with RegistMob.
  TMob(TMap* tm, TMobData* tmd, bool free_on_die, uint16_t x, uint16_t y, int32_t range,
       uint32_t interval);

  std::string FName;
  TMapPoint SummonPoint;
  uint16_t SummonRange = 0;
  uint32_t SummonInterval = 0;
  bool FreeOnDie = false;
  bool IsActive = false;
  bool IsMove = false;
  TMobData* Data = nullptr;

  void Summon();

  TAsColor Color() const override { return Data->Color; }
  std::string Name() const override { return FName.empty() ? Data->Name : FName; }
  void SetName(const std::string& name) { FName = name; }
  uint8_t ObjectKind() const override { return kKindMob; }
  uint16_t Speed() const override { return Data->Speed; }
  uint16_t Tile() const override { return Data->GraphicID; }

  void IncExp(uint32_t) override {}
  void IncGlod(uint32_t) override {}
  void Revive() override;
  void Die() override;
};

}  // namespace vornhal
