// Player characters and the character list.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "net/connection.h"
#include "world/item.h"
#include "world/map_object.h"

namespace vornhal {

class TPortal;

inline constexpr uint32_t kMaxGlod = 500000000;
// The map every new character starts on.
inline constexpr uint16_t kStartMapID = 10055;

// Where a character is logged in: nowhere, on the Multi server only (from its login there to
// its entry into the world), or in the world on the Zone server.
enum class TLoginState : uint8_t { kOffline, kOnMulti, kInWorld };

class TWorld;

class TChara : public TActionObject {
 public:
  // Defaults of a new character of that world, with the world's next character id; Map is
  // the world's map 10055 (throws when it is missing).
  explicit TChara(TWorld& world);
  ~TChara() override;

  TWorld& World;

  std::string FName;
  std::unique_ptr<TEquipments> FEquipments;
  std::unique_ptr<TInventory> FInventory;
  uint16_t FSpeed = 80;
  TLoginState Login = TLoginState::kOffline;
  std::string IP;
  // The connection this character is attached to; null once that connection has ended.
  TConnectionRef Context;
  std::string Pass;
  std::string MailAddr;
  std::string RealName;
  uint8_t AdminLv = 0;
  uint8_t Sex = 0;
  uint8_t Job = 0;
  uint8_t Mark = 0;
  uint8_t HairType = 0;
  TAsColor HairColor;
  uint32_t Mode = 0;
  uint32_t Exp = 0;
  uint16_t ExpPercent = 0;
  uint16_t FamePercent = 0;
  uint16_t TendPercent = 0;
  uint16_t BeliefPercent = 0;
  uint32_t Glod = 0;
  uint32_t EP = 0, MaxEP = 0, BP = 0, MaxBP = 0;
  uint16_t Weight = 0;
  uint16_t MaxWeight = 0;
  uint8_t FameLv = 0;
  uint32_t FameExp = 0;
  uint8_t TendLv = 0;
  uint32_t TendExp = 0;
  uint8_t BeliefLv = 0;
  uint32_t BeliefExp = 0;
  uint8_t BPUpDown = 0, INTUpDown = 0, HPUpDown = 0;
  uint8_t StatPoint = 0;

  TEquipments& Equipments() const { return *FEquipments; }
  TInventory& Inventory() const { return *FInventory; }

  // Map-object queries.
  TAsColor Color() const override { return HairColor; }
  std::string Name() const override { return FName; }
  uint8_t ObjectKind() const override { return kKindChara; }
  uint16_t Speed() const override { return FSpeed; }
  uint16_t Tile() const override { return HairType; }

  // Appearance from the equipment.
  uint16_t WeaponType() const;
  TAsColor WeaponColor() const;
  uint16_t WearType() const;
  TAsColor WearColor() const;
  uint16_t ShieldType() const;
  TAsColor ShieldColor() const;
  uint16_t HeadType() const;
  TAsColor HeadColor() const;

  void CalcStatus() override;
  void DecHP(uint32_t value) override;
  void IncExp(uint32_t value) override;
  void IncGlod(uint32_t value) override;
  void Revive() override;
  void Die() override;

  // Puts at most 65535 (one item's count) on the ground per call; Glod goes down by exactly
  // what lies there.
  void DropGlod(uint32_t value);
  void PickItem(uint32_t object_id);
  TPortal* IsInPortal() const;

  // Logged in on either server.
  bool LoggedIn() const { return Login != TLoginState::kOffline; }
  // Entered the world on the Zone server: listed on its map, seen by others.
  bool InWorld() const { return Login == TLoginState::kInWorld; }

  // The connection to send to, or null while not attached.
  TConnection* Conn() const { return Context.Get(); }

 private:
  // A type-3 system message to this character's connection.
  void Tell(const std::string& text) const;
};

// The character list. It owns its characters and finds them by id and by name (A-Z in either
// case); its only changing operations are these, and each keeps both look-ups in step with the
// list.
class TCharaList {
 public:
  // The character list of that world (new characters are made for it).
  explicit TCharaList(TWorld& world) : FWorld(world), FItems(true) {}
  ~TCharaList() { Clear(); }
  TCharaList(const TCharaList&) = delete;
  TCharaList& operator=(const TCharaList&) = delete;

  int Count() const { return FItems.Count(); }
  auto begin() const { return FItems.begin(); }
  auto end() const { return FItems.end(); }
  bool TryGetValue(std::string_view chara_name, TChara*& chara) const;
  bool TryGetValue(uint32_t object_id, TChara*& chara) const {
    return FItems.TryGetValue(object_id, chara);
  }

  // Adds tc, which the list then owns; DuplicateKeyError naming a taken id or name (nothing
  // is added then, and the caller keeps tc).
  int Add(TChara* tc);
  // Takes tc out and destroys it; returns its former index or -1 when it was not listed.
  int Remove(TChara* tc);
  // Takes tc out and hands it back to the caller; null when it was not listed.
  TChara* Extract(TChara* tc);
  void DeleteByID(uint32_t object_id);
  void Clear();
  // A new character with that name and password, listed; false (nothing listed) for a name
  // that is empty, taken or "!" and one more character, or an empty password.
  bool CreateChara(const std::string& chara_name, const std::string& password, TChara*& chara);

 private:
  void Unname(const TChara* tc);

  TWorld& FWorld;
  TMapObjectList<TChara> FItems;
  std::unordered_map<std::string, TChara*> FNameDict;
};

}  // namespace vornhal
