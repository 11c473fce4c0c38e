// Item definitions, item instances, the inventory of numbered slots and the equipment.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "net/types.h"

namespace vornhal {

class TChara;

struct TItemData {
  std::string MetaKey;
  std::string Name;
  uint8_t ColorType = 0;
  uint8_t ItemType = 0;
  uint8_t ActionType = 0;
  uint16_t IconTile = 0;
  TAsColor Color;
  bool IsEnchantable = false;
  uint8_t EquipPart = 0;
  uint16_t EquipTile = 0;
  uint16_t DropTile = 0;

  bool IsStackable() const { return ItemType == 0; }
  bool IsEquipable() const { return EquipPart != 0; }
  bool IsConsumable() const { return EquipPart == 0 && ActionType == 5; }
  bool IsMoney() const;  // MetaKey is money1..money4, letter case ignored
};

// Dictionary from the lower-cased MetaKey to its definition; owns the definitions.
class TItemDB {
 public:
  // Adds under the lower-cased key; returns false (and keeps the first) when it exists.
  bool Add(std::unique_ptr<TItemData> data);
  // Looks the key up lower-cased.
  TItemData* Find(std::string_view meta_key) const;
  bool TryGetValue(std::string_view meta_key, TItemData*& value) const;
  int Count() const { return static_cast<int>(FItems.size()); }
  void Clear() { FItems.clear(); }

 private:
  std::unordered_map<std::string, std::unique_ptr<TItemData>> FItems;
};

// The largest count one item instance can hold.
inline constexpr int kMaxItemCount = 65535;
inline constexpr int kMaxStack = 99;
inline constexpr int kInventorySlots = 64;

class TItem {
 public:
  // The count is clamped to 0..65535.
  TItem(TItemData* data, int count);
  TItemData* Data() const { return FData; }
  uint16_t Count() const { return FCount; }
  void SetCount(int count);

  TItemData* FData;
  uint16_t FCount;
};

// An occupied inventory or equipment slot; owns its item.
struct TItemSlot {
  TItemSlot(int slot_index, std::unique_ptr<TItem> item)
      : FSlotIndex(slot_index), FItem(std::move(item)) {}
  int SlotIndex() const { return FSlotIndex; }
  TItem* Item() const { return FItem.get(); }
  void SetItem(std::unique_ptr<TItem> item) { FItem = std::move(item); }

  int FSlotIndex;
  std::unique_ptr<TItem> FItem;
};
using TInventorySlot = TItemSlot;
using TEquipmentSlot = TItemSlot;

class TInventory {
 public:
  explicit TInventory(TChara* owner) : FOwner(owner) {}

  int Count() const { return static_cast<int>(FItems.size()); }
  TInventorySlot* GetItem(int index) const { return FItems.at(static_cast<size_t>(index)).get(); }
  int IndexOfSlot(int slot_index) const;
  bool IsEmptySlot(int slot_index) const { return IndexOfSlot(slot_index) < 0; }
  bool HasPlace(const TItemData* data, int count) const;

  // Returns the list position of the slot that received the items, or -1.
  int Add(TItemData* data, int count, bool send_msg);
  // Takes over `item` when it returns a position; on -1 the caller keeps what is left of it.
  int Add(std::unique_ptr<TItem>& item, bool send_msg);
  int Insert(int slot_index, std::unique_ptr<TItem> item);
  void Exchange(int slot_index1, int slot_index2);
  void Merge(int src_slot_index, int src_count, int dest_slot_index);
  void Remove(int slot_index, int count);
  void Drop(int slot_index, int count);
  void Use(int slot_index);

  TChara* FOwner;
  std::vector<std::unique_ptr<TInventorySlot>> FItems;

 private:
  int LowestFreeSlot() const;  // 1..64, or -1
  void SendSlot(const TInventorySlot& slot) const;
  void SendClear(int slot_index) const;
  bool OwnerLoggedIn() const;
};

class TEquipments {
 public:
  explicit TEquipments(TChara* owner) : FOwner(owner) {}

  int Count() const { return static_cast<int>(FItems.size()); }
  TEquipmentSlot* GetItem(int index) const { return FItems.at(static_cast<size_t>(index)).get(); }
  int IndexOfSlot(int slot_index) const;
  // Takes over `item` when it returns a position; on -1 the caller keeps it.
  int Add(int slot_index, std::unique_ptr<TItem>& item);
  bool TryRemove(int slot_index);
  TEquipmentSlot* GetSlot(int choice1, int choice2) const;

  TChara* FOwner;
  std::vector<std::unique_ptr<TEquipmentSlot>> FItems;
};

}  // namespace vornhal
