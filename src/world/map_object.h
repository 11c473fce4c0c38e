// Map objects: everything that stands on a map, their polymorphic queries, the action objects
// (characters and mobs) with their life cycle, object ids and the id-indexed object list.
#pragma once
#include <cstdint>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

#include "net/types.h"

namespace vornhal {

class TMap;

// Direction codes: 0 north, 1 east, 2 south, 3 west, 4 NE, 5 SE, 6 SW, 7 NW; opposite = d ^ 2.
inline constexpr int8_t kDirDX[8] = {0, 1, 0, -1, 1, 1, -1, -1};
inline constexpr int8_t kDirDY[8] = {-1, 0, 1, 0, -1, 1, 1, -1};

// Object kinds as written into packets.
enum : uint8_t {
  kKindChara = 0,
  kKindNpc = 1,
  kKindMob = 2,
  kKindDroppedItem = 3,
  kKindPortal = 13,
};

// The first ids the world's counters hand out. Only characters have ids at or above
// kFirstCharaID.
inline constexpr uint32_t kFirstNpcID = 50000;
inline constexpr uint32_t kFirstMobID = 5000000;
inline constexpr uint32_t kFirstItemID = 10000000;
inline constexpr uint32_t kFirstCharaID = 0x3000000;

// Raised when an id or name is already present in a list or dictionary.
class DuplicateKeyError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TMapObject {
 public:
  virtual ~TMapObject() = default;

  uint32_t ObjectID = 0;
  TMapPoint Point;
  uint8_t Dir = 0;

  // Virtual queries in slot order.
  virtual TAsColor Color() const = 0;
  virtual uint8_t HPPercent() const { return 100; }
  virtual std::string Name() const = 0;
  virtual uint8_t ObjectKind() const = 0;
  virtual uint16_t Speed() const { return 80; }
  virtual uint16_t Tile() const = 0;

  // Square neighbourhood test; the maps of the two objects are not compared.
  bool IsNear(const TMapObject& target, int32_t range) const;
};

class TActionObject : public TMapObject {
 public:
  TActionObject() = default;

  uint8_t Level = 1;
  uint32_t HP = 0, MP = 0, SP = 0;
  uint32_t MaxHP = 0, MaxMP = 0, MaxSP = 0;
  uint16_t DAM = 0, HIT = 0, MDAM = 0, MHIT = 0;
  uint8_t SAR = 0, AAR = 0;
  uint8_t STR = 0, INT = 0, WIS = 0, CON = 0, DEX = 0;
  int8_t AC = 0, MC = 0;
  TMapPoint NextPoint;
  uint8_t NextDir = 0;
  TMap* Map = nullptr;  // not owned
  bool IsDead = false;
  uint32_t DeadTime = 0;
  TActionObject* ATarget = nullptr;

  // HP in percent, truncated; 0 when MaxHP is 0.
  uint8_t HPPercent() const override;

  // Virtual operations, slots 6 to 11.
  virtual void DecHP(uint32_t value);
  virtual void IncExp(uint32_t value) = 0;
  virtual void IncGlod(uint32_t value) = 0;
  virtual void Revive();
  virtual void Die();
  virtual void CalcStatus() {}

  // Combat.
  uint8_t GetDir(const TMapPoint& target_point) const;
  long double GetAttackDirRate(const TActionObject& target) const;
  uint32_t GetNormalDamage(const TActionObject& target) const;
  void AttackTo(TActionObject* target);
};

// An ordered object list with an id dictionary. Portals (kind 13, id 0) are members of the
// list but never of the dictionary. An owning list deletes members it removes.
template <typename T>
class TMapObjectList {
 public:
  explicit TMapObjectList(bool owns_objects) : FOwnsObjects(owns_objects) {}
  ~TMapObjectList() { Clear(); }
  TMapObjectList(const TMapObjectList&) = delete;
  TMapObjectList& operator=(const TMapObjectList&) = delete;

  int Count() const { return static_cast<int>(FItems.size()); }
  T* operator[](int index) const { return FItems.at(static_cast<size_t>(index)); }
  auto begin() const { return FItems.begin(); }
  auto end() const { return FItems.end(); }
  bool OwnsObjects() const { return FOwnsObjects; }

  // Appends; raises DuplicateKeyError (and does not append) when the id is already listed.
  int Add(T* item) {
    if (item->ObjectKind() != kKindPortal) {
      auto [it, inserted] = FIDDict.emplace(item->ObjectID, item);
      if (!inserted) {
        throw DuplicateKeyError("object id " + std::to_string(item->ObjectID) +
                                " is already listed");
      }
    }
    FItems.push_back(item);
    return static_cast<int>(FItems.size()) - 1;
  }
  // Removes the first occurrence (deleting it when owning); returns its former index or -1.
  int Remove(T* item) {
    for (size_t i = 0; i < FItems.size(); ++i) {
      if (FItems[i] == item) {
        Delete(static_cast<int>(i));
        return static_cast<int>(i);
      }
    }
    return -1;
  }
  // Removes the member at index (deleting it when owning).
  void Delete(int index) {
    T* item = FItems.at(static_cast<size_t>(index));
    FItems.erase(FItems.begin() + index);
    Unindex(item);
    if (FOwnsObjects) delete item;
  }
  // Removes without deleting and hands the member back.
  T* Extract(T* item) {
    for (size_t i = 0; i < FItems.size(); ++i) {
      if (FItems[i] == item) {
        FItems.erase(FItems.begin() + static_cast<std::ptrdiff_t>(i));
        Unindex(item);
        return item;
      }
    }
    return nullptr;
  }
  void Clear() {
    std::vector<T*> items;
    items.swap(FItems);
    FIDDict.clear();
    if (FOwnsObjects) {
      for (T* item : items) delete item;
    }
  }
  void DeleteByID(uint32_t object_id) {
    auto it = FIDDict.find(object_id);
    if (it == FIDDict.end()) return;
    Remove(it->second);
    FIDDict.erase(object_id);
  }
  bool TryGetValue(uint32_t object_id, T*& value) const {
    auto it = FIDDict.find(object_id);
    if (it == FIDDict.end()) return false;
    value = it->second;
    return true;
  }
  int IndexOf(const T* item) const {
    for (size_t i = 0; i < FItems.size(); ++i) {
      if (FItems[i] == item) return static_cast<int>(i);
    }
    return -1;
  }

 protected:
  void Unindex(T* item) {
    if (item->ObjectKind() != kKindPortal) {
      auto it = FIDDict.find(item->ObjectID);
      if (it != FIDDict.end() && it->second == item) FIDDict.erase(it);
    }
  }

  bool FOwnsObjects;
  std::vector<T*> FItems;
  std::unordered_map<uint32_t, T*> FIDDict;
};

}  // namespace vornhal
