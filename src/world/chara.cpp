// Player characters: defaults, status, experience, money, picking up and dropping, portals,
// death and revival; and the character list with its name dictionary.
#include "world/chara.h"

#include <algorithm>
#include <stdexcept>

#include "platform/format.h"
#include "platform/text.h"
#include "world/exp_table.h"
#include "world/map.h"
#include "world/npc.h"
#include "world/packets.h"
#include "world/world.h"

namespace vornhal {

namespace {

constexpr uint16_t kEffectLevelUp = 1009;
constexpr uint16_t kStatusMoney = 0x10;
constexpr uint16_t kStatusPoints = 0x20;
constexpr uint16_t kStatusAll = 0x70;

TMap* StartMap(const TWorld& world) {
  TMap* map = world.MapList.FindMap(kStartMapID);
  if (map == nullptr) {
    throw std::runtime_error("map " + std::to_string(kStartMapID) +
                             " is missing from the map list; characters start on it");
  }
  return map;
}

// Number of characters (code points) of a UTF-8 text.
size_t CharacterCount(std::string_view text) {
  return static_cast<size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

}  // namespace

TChara::TChara(TWorld& world)
    : World(world),
      FEquipments(std::make_unique<TEquipments>(this)),
      FInventory(std::make_unique<TInventory>(this)) {
  Map = StartMap(world);
  ObjectID = world.NextCharaID++;
  Level = 1;
  HP = MaxHP = 16;
  MP = MaxMP = 15;
  SP = MaxSP = 28;
  EP = MaxEP = 10;
  BP = MaxBP = 0;
  STR = INT = WIS = CON = DEX = 3;
  AC = MC = 100;
  MaxWeight = 78;
  Point = NextPoint = TMapPoint{17, 35};
  Dir = NextDir = 2;
  FSpeed = 80;
}

namespace {

void Unlist(const TChara* tc) {
  auto& dead = tc->World.DeadCharas;
  auto it = std::find(dead.begin(), dead.end(), tc);
  if (it != dead.end()) dead.erase(it);
}

}  // namespace

TChara::~TChara() { Unlist(this); }

void TChara::Tell(const std::string& text) const {
  SendSystemMessage(Conn(), 3, text, false);
}

// --- appearance ---

uint16_t TChara::WeaponType() const {
  const TEquipmentSlot* slot = Equipments().GetSlot(18, 1);
  return slot != nullptr && slot->Item() != nullptr ? slot->Item()->Data()->EquipTile : 0;
}
TAsColor TChara::WeaponColor() const {
  const TEquipmentSlot* slot = Equipments().GetSlot(18, 1);
  return slot != nullptr && slot->Item() != nullptr ? slot->Item()->Data()->Color : TAsColor{};
}
uint16_t TChara::WearType() const {
  const TEquipmentSlot* slot = Equipments().GetSlot(20, 2);
  return slot != nullptr && slot->Item() != nullptr ? slot->Item()->Data()->EquipTile : 0;
}
TAsColor TChara::WearColor() const {
  const TEquipmentSlot* slot = Equipments().GetSlot(20, 2);
  return slot != nullptr && slot->Item() != nullptr ? slot->Item()->Data()->Color : TAsColor{};
}
uint16_t TChara::ShieldType() const {
  const TEquipmentSlot* slot = Equipments().GetSlot(19, 3);
  return slot != nullptr && slot->Item() != nullptr ? slot->Item()->Data()->EquipTile : 0;
}
TAsColor TChara::ShieldColor() const {
  const TEquipmentSlot* slot = Equipments().GetSlot(19, 3);
  return slot != nullptr && slot->Item() != nullptr ? slot->Item()->Data()->Color : TAsColor{};
}
uint16_t TChara::HeadType() const {
  const TEquipmentSlot* slot = Equipments().GetSlot(17, 4);
  return slot != nullptr && slot->Item() != nullptr ? slot->Item()->Data()->EquipTile : HairType;
}
TAsColor TChara::HeadColor() const {
  const TEquipmentSlot* slot = Equipments().GetSlot(17, 4);
  return slot != nullptr && slot->Item() != nullptr ? slot->Item()->Data()->Color : HairColor;
}

// --- status and life cycle ---

void TChara::CalcStatus() {
  // Job and level outside the table never index it; an entry of 0 gives 0.
  const int row = std::min<int>(Job, 7);
  const int column = std::clamp<int>(Level - 1, 0, 98);
  const uint32_t next = ExpTable[row][column];
  if (next == 0) {
    ExpPercent = 0;
  } else {
    const long double percent =
        static_cast<long double>(Exp) / static_cast<long double>(next) * 100.0L;
    const uint64_t truncated = static_cast<uint64_t>(percent);
    ExpPercent = static_cast<uint16_t>(std::min<uint64_t>(truncated, 65535));
  }
  FamePercent = 0;
  TendPercent = 0;
  BeliefPercent = 0;
  MaxWeight = static_cast<uint16_t>(Level * 2 + STR * 2 + 70);
}

void TChara::DecHP(uint32_t value) {
  TActionObject::DecHP(value);
  auto& dead = World.DeadCharas;
  if (IsDead && std::find(dead.begin(), dead.end(), this) == dead.end()) dead.push_back(this);
  SStatusPacket(*this, kStatusPoints).SendTo(Conn());
}

void TChara::IncExp(uint32_t value) {
  Exp += value;
  CalcStatus();
  SStatusPacket(*this, kStatusMoney).SendTo(Conn());
  Tell(Format("経験値が %u 上がりました", value));
  while (Level < 99) {
    const int row = std::min<int>(Job, 7);
    const uint32_t threshold = ExpTable[row][std::clamp<int>(Level - 1, 0, 98)];
    // An entry of 0 must not raise every character to 99.
    if (threshold == 0 || threshold > Exp) break;
    ++Level;
    if (StatPoint < 255) ++StatPoint;
    CalcStatus();
    Tell("レベルが上がりました");
    SEffectPacket(*this, kEffectLevelUp, 0).SendToBlock(this, true);
    SStatusPacket(*this, kStatusAll).SendTo(Conn());
    SLevelUpPacket().SendTo(Conn());
  }
}

void TChara::IncGlod(uint32_t value) {
  if (value == 0) return;
  // Money at or above the cap (a stored anomaly) is neither raised nor cut.
  if (Glod < kMaxGlod) {
    Glod = value > kMaxGlod - Glod ? kMaxGlod : Glod + value;
  }
  if (LoggedIn()) {
    SStatusPacket(*this, kStatusMoney).SendTo(Conn());
    Tell(Format("%uグロッドを手に入れました", value));
  }
}

void TChara::Revive() {
  TActionObject::Revive();
  Unlist(this);
  CalcStatus();
  Mode = 0;
  if (LoggedIn()) {
    SCharaAppearPacket(*this).SendToBlock(this, true);
    SStatusPacket(*this, kStatusPoints).SendTo(Conn());
  }
}

void TChara::Die() {
  TActionObject::Die();
  Mode |= 4;
  SCharaAppearPacket(*this).SendToBlock(this, true);
}

// --- money and items on the ground ---

void TChara::DropGlod(uint32_t value) {
  // One item holds at most 65535; Glod goes down by exactly what is put on the ground.
  const uint32_t amount = std::min({value, Glod, static_cast<uint32_t>(kMaxItemCount)});
  if (amount == 0 || Map == nullptr) return;
  const char* key = amount <= 500 ? "money1" : amount <= 5000 ? "money2" : amount <= 100000 ? "money3" : "money4";
  TItemData* data = World.ItemDB.Find(key);
  if (data == nullptr) return;
  auto dropped = std::make_unique<TDroppedItem>(
      World, std::make_unique<TItem>(data, static_cast<int>(amount)), Point.X, Point.Y);
  if (!Map->AddItem(dropped.get())) return;  // nowhere to lie: the money stays with the character
  TDroppedItem* on_ground = dropped.release();  // the map owns it now
  Glod -= amount;
  if (LoggedIn()) {
    SMapObjectsPacket(std::vector<const TMapObject*>{on_ground}).SendToBlock(this, true);
    SStatusPacket(*this, kStatusMoney).SendTo(Conn());
  }
}

void TChara::PickItem(uint32_t object_id) {
  if (Map == nullptr) return;
  TDroppedItem* dropped = Map->GetItem(object_id, Point);
  if (dropped == nullptr || dropped->Item() == nullptr) return;
  TItem* item = dropped->Item();

  if (item->Data()->IsMoney()) {
    if (Glod >= kMaxGlod) {
      Tell("所持金が最大です");
      return;
    }
    const uint32_t gain = std::min<uint32_t>(item->Count(), kMaxGlod - Glod);
    Glod += gain;
    item->SetCount(static_cast<int>(item->Count() - gain));
    SStatusPacket(*this, kStatusMoney).SendTo(Conn());
    Tell(Format("%uグロッドを手に入れました", gain));
    if (item->Count() > 0) {
      SMapObjectsPacket(std::vector<const TMapObject*>{dropped}).SendToBlock(this, true);
    } else {
      Map->DeleteItem(dropped);
      SRemoveObjectPacket(*dropped).SendToBlock(this, true);
      delete dropped;
    }
    return;
  }

  const uint16_t before = item->Count();
  if (!Inventory().HasPlace(item->Data(), before)) return;
  if (Inventory().Add(dropped->FItem, true) != -1) {
    // The inventory holds the instance now (or merged it and destroyed it).
    Map->DeleteItem(dropped);
    SRemoveObjectPacket(*dropped).SendToBlock(this, true);
    dropped->FItem.reset();
    delete dropped;
  } else if (dropped->Item() != nullptr && dropped->Item()->Count() != before) {
    SMapObjectsPacket(std::vector<const TMapObject*>{dropped}).SendToBlock(this, true);
  }
}

TPortal* TChara::IsInPortal() const {
  if (Map == nullptr) return nullptr;
  const int bx = Point.X / 4, by = Point.Y / 4;
  for (int i = bx - 1; i <= bx + 1; ++i) {
    for (int j = by - 1; j <= by + 1; ++j) {
      const TMapBlock* block = Map->Block(i, j);
      if (block == nullptr || block->PortalCount() == 0) continue;
      for (TMapObject* obj : block->MapObjects) {
        if (obj->ObjectKind() != kKindPortal) continue;
        auto* portal = static_cast<TPortal*>(obj);
        if (portal->SrcMinPoint.X <= Point.X && Point.X <= portal->SrcMaxPoint.X &&
            portal->SrcMinPoint.Y <= Point.Y && Point.Y <= portal->SrcMaxPoint.Y) {
          return portal;
        }
      }
    }
  }
  return nullptr;
}

// --- the character list ---

int TCharaList::Add(TChara* tc) {
  const std::string key = LowerAscii(tc->FName);
  if (FNameDict.count(key) != 0) {
    throw DuplicateKeyError("character name \"" + tc->FName + "\" is already listed");
  }
  TChara* listed = nullptr;
  if (FItems.TryGetValue(tc->ObjectID, listed)) {
    throw DuplicateKeyError("character id " + std::to_string(tc->ObjectID) + " (\"" + tc->FName +
                            "\") is already listed");
  }
  FNameDict.emplace(key, tc);
  try {
    return FItems.Add(tc);
  } catch (...) {
    FNameDict.erase(key);
    throw;
  }
}

void TCharaList::Unname(const TChara* tc) {
  auto it = FNameDict.find(LowerAscii(tc->FName));
  if (it != FNameDict.end() && it->second == tc) FNameDict.erase(it);
}

int TCharaList::Remove(TChara* tc) {
  const int index = FItems.IndexOf(tc);
  if (index < 0) return -1;
  Unname(tc);
  FItems.Delete(index);
  return index;
}

TChara* TCharaList::Extract(TChara* tc) {
  if (FItems.IndexOf(tc) < 0) return nullptr;
  Unname(tc);
  return FItems.Extract(tc);
}

void TCharaList::DeleteByID(uint32_t object_id) {
  TChara* tc = nullptr;
  if (FItems.TryGetValue(object_id, tc)) Remove(tc);
}

void TCharaList::Clear() {
  FNameDict.clear();
  FItems.Clear();
}

bool TCharaList::TryGetValue(std::string_view chara_name, TChara*& chara) const {
  auto it = FNameDict.find(LowerAscii(chara_name));
  if (it == FNameDict.end()) return false;
  chara = it->second;
  return true;
}

bool TCharaList::CreateChara(const std::string& chara_name, const std::string& password,
                             TChara*& chara) {
  if (chara_name.empty() || password.empty()) return false;
  if (CharacterCount(chara_name) == 2 && chara_name[0] == '!') return false;
  TChara* existing = nullptr;
  if (TryGetValue(chara_name, existing)) return false;
  auto tc = std::make_unique<TChara>(FWorld);
  tc->FName = chara_name;
  tc->Pass = password;
  try {
    Add(tc.get());
  } catch (const DuplicateKeyError&) {
    return false;  // the new character is destroyed with tc
  }
  chara = tc.release();
  return true;
}

}  // namespace vornhal
