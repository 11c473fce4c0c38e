// NPCs, portals and dropped items.
#include "world/npc.h"

#include "platform/format.h"
#include "world/map.h"
#include "world/world.h"

namespace vornhal {

TNpc::TNpc(TWorld& world) { ObjectID = world.NextNpcID++; }

std::string TPortal::Name() const {
  return (DestMap != nullptr ? DestMap->Name : std::string()) + "へ";
}

TDroppedItem::TDroppedItem(TWorld& world, std::unique_ptr<TItem> item, uint16_t x, uint16_t y)
    : FItem(std::move(item)) {
  ObjectID = world.NextItemID++;
  Point = TMapPoint{x, y};
}

TAsColor TDroppedItem::Color() const {
  return FItem && FItem->Data() != nullptr ? FItem->Data()->Color : TAsColor{};
}

std::string TDroppedItem::Name() const {
  if (!FItem || FItem->Data() == nullptr) return std::string();
  const TItemData& data = *FItem->Data();
  const unsigned count = FItem->Count();
  if (data.IsMoney()) return Format("%u グロッド", count);
  if (count < 2) return data.Name;
  return data.Name + Format(" %u個", count);
}

uint16_t TDroppedItem::Tile() const {
  if (!FItem || FItem->Data() == nullptr) return 0x8000;
  return static_cast<uint16_t>(FItem->Data()->DropTile + 0x8000u);
}

}  // namespace vornhal
