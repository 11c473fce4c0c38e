// Item definitions and instances, the inventory and the equipment, with their packets.
#include "world/item.h"

#include <algorithm>

#include "platform/format.h"
#include "platform/text.h"
#include "world/chara.h"
#include "world/map.h"
#include "world/npc.h"
#include "world/packets.h"

namespace vornhal {

namespace {

constexpr const char* kGotItemMessage = "%s を %d 個入手しました";
constexpr const char* kInventoryFullMessage = "インベントリに空きがありません";

void SendMessageTo(const TChara* owner, const std::string& text) {
  SendSystemMessage(owner->Conn(), 3, text, false);
}

int ClampCount(int count) { return std::clamp(count, 0, kMaxItemCount); }

}  // namespace

// --- definitions ---

bool TItemData::IsMoney() const {
  const std::string key = LowerAscii(MetaKey);
  return key == "money1" || key == "money2" || key == "money3" || key == "money4";
}

bool TItemDB::Add(std::unique_ptr<TItemData> data) {
  std::string key = LowerAscii(data->MetaKey);
  return FItems.emplace(std::move(key), std::move(data)).second;
}

TItemData* TItemDB::Find(std::string_view meta_key) const {
  auto it = FItems.find(LowerAscii(meta_key));
  return it == FItems.end() ? nullptr : it->second.get();
}

bool TItemDB::TryGetValue(std::string_view meta_key, TItemData*& value) const {
  TItemData* found = Find(meta_key);
  if (found == nullptr) return false;
  value = found;
  return true;
}

// --- instances ---

TItem::TItem(TItemData* data, int count) : FData(data), FCount(static_cast<uint16_t>(ClampCount(count))) {}

void TItem::SetCount(int count) { FCount = static_cast<uint16_t>(ClampCount(count)); }

// --- inventory ---

int TInventory::IndexOfSlot(int slot_index) const {
  for (size_t i = 0; i < FItems.size(); ++i) {
    if (FItems[i]->FSlotIndex == slot_index) return static_cast<int>(i);
  }
  return -1;
}

int TInventory::LowestFreeSlot() const {
  for (int n = 1; n <= kInventorySlots; ++n) {
    if (IsEmptySlot(n)) return n;
  }
  return -1;
}

bool TInventory::OwnerLoggedIn() const { return FOwner != nullptr && FOwner->LoggedIn(); }

void TInventory::SendSlot(const TInventorySlot& slot) const {
  if (slot.Item() == nullptr) return;
  SInventoryItemPacket(slot.FSlotIndex, *slot.Item()).SendTo(FOwner->Conn());
}

void TInventory::SendClear(int slot_index) const {
  SInventoryClearPacket(slot_index).SendTo(FOwner->Conn());
}

bool TInventory::HasPlace(const TItemData* data, int count) const {
  if (data->IsStackable()) {
    for (const auto& slot : FItems) {
      if (slot->Item() == nullptr || slot->Item()->Data() != data) continue;
      const int have = slot->Item()->Count();
      if (count + have <= kMaxStack) return true;
      count -= std::max(0, kMaxStack - have);
    }
  }
  return LowestFreeSlot() > 0;
}

int TInventory::Add(TItemData* data, int count, bool send_msg) {
  // Nothing to add: a count below 1 would otherwise shrink a stack or open an empty slot.
  if (data == nullptr || count < 1) return -1;
  if (!data->IsStackable()) count = 1;
  int rest = count;
  const bool logged_in = OwnerLoggedIn();
  if (data->IsStackable()) {
    for (size_t i = 0; i < FItems.size(); ++i) {
      TInventorySlot& slot = *FItems[i];
      if (slot.Item() == nullptr || slot.Item()->Data() != data) continue;
      const int have = slot.Item()->Count();
      if (have + rest <= kMaxStack) {
        slot.Item()->SetCount(have + rest);
        if (logged_in) {
          SendSlot(slot);
          if (send_msg) SendMessageTo(FOwner, Format(kGotItemMessage, data->Name, count));
        }
        return static_cast<int>(i);
      }
      // A stack above 99 (restored or opened with a larger count) is left as it is rather
      // than cut down to 99.
      if (have < kMaxStack) {
        rest -= kMaxStack - have;
        slot.Item()->SetCount(kMaxStack);
      }
      if (logged_in) SendSlot(slot);
    }
  }
  const int free_slot = LowestFreeSlot();
  if (free_slot < 0) return -1;
  // One instance holds at most 65535; what does not fit is not created (and not reported).
  const int placed = std::min(rest, kMaxItemCount);
  const int position = Insert(free_slot, std::make_unique<TItem>(data, placed));
  if (logged_in) {
    SendSlot(*FItems[static_cast<size_t>(position)]);
    if (send_msg) SendMessageTo(FOwner, Format(kGotItemMessage, data->Name, count - (rest - placed)));
  }
  return position;
}

int TInventory::Add(std::unique_ptr<TItem>& item, bool send_msg) {
  if (!item) return -1;
  TItemData* data = item->Data();
  const bool logged_in = OwnerLoggedIn();
  if (data->IsStackable()) {
    for (size_t i = 0; i < FItems.size(); ++i) {
      TInventorySlot& slot = *FItems[i];
      if (slot.Item() == nullptr || slot.Item()->Data() != data) continue;
      const int have = slot.Item()->Count();
      if (have >= kMaxStack) continue;
      const int moved = std::min<int>(kMaxStack - have, item->Count());
      slot.Item()->SetCount(have + moved);
      item->SetCount(item->Count() - moved);
      if (logged_in) SendSlot(slot);
      if (item->Count() == 0) {
        item.reset();
        return static_cast<int>(i);
      }
    }
  }
  const int free_slot = LowestFreeSlot();
  if (free_slot < 0) return -1;
  const int placed = item->Count();
  const int position = Insert(free_slot, std::move(item));
  if (logged_in) {
    SendSlot(*FItems[static_cast<size_t>(position)]);
    if (send_msg) SendMessageTo(FOwner, Format(kGotItemMessage, data->Name, placed));
  }
  return position;
}

int TInventory::Insert(int slot_index, std::unique_ptr<TItem> item) {
  const int position = IndexOfSlot(slot_index);
  if (position >= 0) {
    FItems[static_cast<size_t>(position)]->SetItem(std::move(item));
    return position;
  }
  FItems.push_back(std::make_unique<TInventorySlot>(slot_index, std::move(item)));
  return static_cast<int>(FItems.size()) - 1;
}

void TInventory::Exchange(int slot_index1, int slot_index2) {
  const int p1 = IndexOfSlot(slot_index1);
  const int p2 = IndexOfSlot(slot_index2);
  const bool logged_in = OwnerLoggedIn();
  if (p1 >= 0 && p2 >= 0) {
    TInventorySlot& s1 = *FItems[static_cast<size_t>(p1)];
    TInventorySlot& s2 = *FItems[static_cast<size_t>(p2)];
    if (s1.Item() != nullptr && s2.Item() != nullptr && s1.Item()->Data() == s2.Item()->Data() &&
        s1.Item()->Data()->IsStackable() && s2.Item()->Count() < kMaxStack) {
      Merge(slot_index1, s1.Item()->Count(), slot_index2);
      return;
    }
    s1.FSlotIndex = slot_index2;
    s2.FSlotIndex = slot_index1;
    if (logged_in) {
      SendSlot(s2);  // now numbered slot_index1
      SendSlot(s1);  // now numbered slot_index2
    }
  } else if (p1 >= 0) {
    TInventorySlot& s1 = *FItems[static_cast<size_t>(p1)];
    s1.FSlotIndex = slot_index2;
    if (logged_in) {
      SendClear(slot_index1);
      SendSlot(s1);
    }
  } else if (p2 >= 0) {
    TInventorySlot& s2 = *FItems[static_cast<size_t>(p2)];
    s2.FSlotIndex = slot_index1;
    if (logged_in) {
      SendSlot(s2);
      SendClear(slot_index2);
    }
  }
}

void TInventory::Merge(int src_slot_index, int src_count, int dest_slot_index) {
  if (src_count < 1 || src_count > kMaxStack - 1) return;
  const int ps = IndexOfSlot(src_slot_index);
  const int pd = IndexOfSlot(dest_slot_index);
  if (ps < 0 || pd < 0) return;
  TInventorySlot& src = *FItems[static_cast<size_t>(ps)];
  TInventorySlot& dest = *FItems[static_cast<size_t>(pd)];
  if (src.Item() == nullptr || dest.Item() == nullptr) return;
  if (src.Item()->Data() != dest.Item()->Data() || !src.Item()->Data()->IsStackable()) return;
  src_count = std::min<int>(src_count, src.Item()->Count());
  const int n = std::max(0, std::min(kMaxStack - dest.Item()->Count(), src_count));
  dest.Item()->SetCount(dest.Item()->Count() + n);
  src.Item()->SetCount(src.Item()->Count() - n);
  if (OwnerLoggedIn()) {
    SendSlot(dest);
    if (src.Item()->Count() > 0) {
      SendSlot(src);
    } else {
      SendClear(src.FSlotIndex);
    }
  }
  if (src.Item()->Count() == 0) FItems.erase(FItems.begin() + ps);
}

void TInventory::Remove(int slot_index, int count) {
  const int position = IndexOfSlot(slot_index);
  if (position < 0 || count <= 0) return;
  TInventorySlot& slot = *FItems[static_cast<size_t>(position)];
  if (slot.Item() != nullptr && slot.Item()->Data()->IsStackable() && count < slot.Item()->Count()) {
    slot.Item()->SetCount(slot.Item()->Count() - count);
    if (OwnerLoggedIn()) SendSlot(slot);
    return;
  }
  FItems.erase(FItems.begin() + position);
  if (OwnerLoggedIn()) SendClear(slot_index);
}

void TInventory::Drop(int slot_index, int count) {
  const int position = IndexOfSlot(slot_index);
  if (position < 0 || count <= 0 || FOwner == nullptr || FOwner->Map == nullptr) return;
  TInventorySlot& slot = *FItems[static_cast<size_t>(position)];
  if (slot.Item() == nullptr) return;
  TMap* map = FOwner->Map;
  const TMapPoint at = FOwner->Point;
  TItemData* data = slot.Item()->Data();

  if (data->IsStackable() && count < slot.Item()->Count()) {
    auto dropped = std::make_unique<TDroppedItem>(map->World, std::make_unique<TItem>(data, count), at.X, at.Y);
    // Off the grid (or on a map without blocks) nothing can lie on the ground: keep the items.
    if (!map->AddItem(dropped.get())) return;
    TDroppedItem* on_ground = dropped.release();  // the map owns it now
    slot.Item()->SetCount(slot.Item()->Count() - count);
    SMapObjectsPacket(std::vector<const TMapObject*>{on_ground}).SendToBlock(FOwner, true);
    if (OwnerLoggedIn()) SendSlot(slot);
    return;
  }

  auto dropped = std::make_unique<TDroppedItem>(map->World, std::move(slot.FItem), at.X, at.Y);
  if (!map->AddItem(dropped.get())) {
    slot.FItem = dropped->DetachItem();
    return;
  }
  TDroppedItem* on_ground = dropped.release();
  FItems.erase(FItems.begin() + position);  // the slot's item now lies on the ground
  SMapObjectsPacket(std::vector<const TMapObject*>{on_ground}).SendToBlock(FOwner, true);
  if (OwnerLoggedIn()) SendClear(slot_index);
}

void TInventory::Use(int slot_index) {
  const int position = IndexOfSlot(slot_index);
  if (position < 0 || FOwner == nullptr) return;
  // Slots are held by pointer, so the slot survives any growth of FItems during the equip.
  TInventorySlot* slot = FItems[static_cast<size_t>(position)].get();
  if (slot->Item() == nullptr || !slot->Item()->Data()->IsEquipable()) return;
  const int part = slot->Item()->Data()->EquipPart;
  if (FOwner->Equipments().Add(part, slot->FItem) == -1) return;
  // The equipment took the item; the slot goes without it.
  const int now = IndexOfSlot(slot_index);
  if (now >= 0 && FItems[static_cast<size_t>(now)].get() == slot) {
    FItems.erase(FItems.begin() + now);
  }
  if (OwnerLoggedIn()) SendClear(slot_index);
}

// --- equipment ---

int TEquipments::IndexOfSlot(int slot_index) const {
  for (size_t i = 0; i < FItems.size(); ++i) {
    if (FItems[i]->FSlotIndex == slot_index) return static_cast<int>(i);
  }
  return -1;
}

int TEquipments::Add(int slot_index, std::unique_ptr<TItem>& item) {
  if (!item) return -1;
  if (!TryRemove(slot_index)) return -1;
  FItems.push_back(std::make_unique<TEquipmentSlot>(slot_index, std::move(item)));
  const int position = static_cast<int>(FItems.size()) - 1;
  if (FOwner != nullptr && FOwner->LoggedIn()) {
    SEquipItemPacket(slot_index, *FItems.back()->Item()).SendTo(FOwner->Conn());
    SCharaAppearPacket(*FOwner).SendToBlock(FOwner, true);
  }
  return position;
}

bool TEquipments::TryRemove(int slot_index) {
  const int position = IndexOfSlot(slot_index);
  if (position < 0) return true;
  TEquipmentSlot* slot = FItems[static_cast<size_t>(position)].get();
  const bool logged_in = FOwner != nullptr && FOwner->LoggedIn();
  if (FOwner == nullptr || FOwner->Inventory().Add(slot->FItem, true) == -1) {
    if (logged_in) SendMessageTo(FOwner, kInventoryFullMessage);
    return false;
  }
  FItems.erase(FItems.begin() + position);  // its item now belongs to the inventory
  if (logged_in) {
    SEquipClearPacket(slot_index).SendTo(FOwner->Conn());
    SCharaAppearPacket(*FOwner).SendToBlock(FOwner, true);
  }
  return true;
}

TEquipmentSlot* TEquipments::GetSlot(int choice1, int choice2) const {
  int position = IndexOfSlot(choice1);
  if (position < 0) position = IndexOfSlot(choice2);
  return position < 0 ? nullptr : FItems[static_cast<size_t>(position)].get();
}

}  // namespace vornhal
