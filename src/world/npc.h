// NPCs, portals and items lying on the ground.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "world/item.h"
#include "world/map_object.h"

namespace vornhal {

class TWorld;

class TNpc : public TMapObject {
 public:
  explicit TNpc(TWorld& world);  // takes the world's next NPC id; GraphicID 16425

  std::string FName;
  std::string ScriptName;
  uint16_t MapID = 0;
  uint16_t GraphicID = 16425;

  TAsColor Color() const override { return TAsColor{255, 0, 255}; }
  std::string Name() const override { return FName; }
  uint8_t ObjectKind() const override { return kKindNpc; }
  uint16_t Tile() const override { return GraphicID; }
};

class TPortal : public TMapObject {
 public:
  TPortal() { ObjectID = 0; }

  TMap* SrcMap = nullptr;
  TMapPoint SrcMinPoint;
  TMapPoint SrcMaxPoint;
  TMap* DestMap = nullptr;
  TMapPoint DestPoint;
  uint8_t DestDir = 0;  // declared; the arrival direction is Dir

  TAsColor Color() const override { return TAsColor{255, 255, 255}; }
  std::string Name() const override;  // destination map's name followed by "へ"
  uint8_t ObjectKind() const override { return kKindPortal; }
  uint16_t Tile() const override { return 0; }
};

class TDroppedItem : public TMapObject {
 public:
  // Takes the world's next dropped-item id.
  TDroppedItem(TWorld& world, std::unique_ptr<TItem> item, uint16_t x, uint16_t y);

  TItem* Item() const { return FItem.get(); }
  // Hands the item over (to an inventory); the dropped item then holds none.
  std::unique_ptr<TItem> DetachItem() { return std::move(FItem); }

  TAsColor Color() const override;
  std::string Name() const override;
  uint8_t ObjectKind() const override { return kKindDroppedItem; }
  uint16_t Tile() const override;

  std::unique_ptr<TItem> FItem;
};

}  // namespace vornhal
