// Zone handlers for items, slots and the shop. The inventory and equipment operations do the
// work and send every resulting packet; variants the server does not implement are only
// logged with their values.
#include "platform/log.h"
#include "world/chara.h"
#include "world/packets.h"
#include "zone/zone.h"

namespace vornhal {

void TZoneSession::DropItem() {
  TChara& tc = RequireChara();
  ReadByte();
  uint8_t kind = ReadByte();
  uint8_t slot = ReadByte();
  uint8_t count = ReadByte();
  if (kind == 0) {
    tc.Inventory().Drop(slot, count);
  } else if (kind == 1) {
    tc.Inventory().Remove(slot, count);
  }
}

void TZoneSession::UseItem() {
  TChara& tc = RequireChara();
  unsigned category = ReadByte();
  unsigned slot = ReadByte();
  unsigned inven_type = ReadByte();
  unsigned type = ReadByte();
  const char* const head = "CUsePacket: category %u slot %u invenType %u type %u, ";
  auto log = [&](const std::string& tail, auto... values) {
    LogFmt(std::string(head) + tail, category, slot, inven_type, type, values...);
  };
  switch (type) {
    case 1: {
      std::string text = ReadShortStr();
      log("%s", EscapeLogText(text, 256));
      break;
    }
    case 2: {
      uint32_t value = ReadLong();
      log("%u", value);
      break;
    }
    case 3: {
      uint16_t a = ReadWord(), b = ReadWord(), c = ReadWord(), d = ReadWord();
      log("%u, %u, %u, %u", a, b, c, d);
      break;
    }
    case 4: {
      uint16_t a = ReadWord(), b = ReadWord(), c = ReadWord();
      log("%u, %u, %u", a, b, c);
      break;
    }
    case 5:
      if (category == 1 && inven_type == 0) tc.Inventory().Use(static_cast<int>(slot));
      break;
    case 6:
    case 9: {
      uint16_t a = ReadWord(), b = ReadWord();
      log("%u, %u", a, b);
      break;
    }
    case 7: {
      uint16_t a = ReadWord();
      log("%u", a);
      break;
    }
    case 8: {
      unsigned slot_type = ReadByte();
      unsigned target_slot = ReadByte();
      log("slotType %u slot %u", slot_type, target_slot);
      break;
    }
    default:  // 0 and 10 to 255: nothing follows, nothing is done
      break;
  }
}

void TZoneSession::Unequip() {
  TChara& tc = RequireChara();
  uint8_t slot = ReadByte();
  ReadByte();
  ReadByte();
  ReadByte();
  tc.Equipments().TryRemove(slot);
}

void TZoneSession::ItemShop(TConnection& context) {
  unsigned type = ReadByte();
  if (type == 1) {
    uint32_t value1 = ReadLong();
    uint32_t value2 = ReadLong();
    LogFmt("CItemShopPacket: type %u value1 %u value2 %u", type, value1, value2);
    return;
  }
  LogFmt("CItemShopPacket: type %u", type);
  if (type == 2) SShopListPacket().SendTo(&context);
}

void TZoneSession::ChangeSlot() {
  TChara& tc = RequireChara();
  unsigned type = ReadByte();
  switch (type) {
    case 0:
    case 1: {
      unsigned category = ReadByte();
      unsigned slot1 = ReadByte();
      unsigned slot2 = ReadByte();
      if (type == 0 && category == 1) {
        tc.Inventory().Exchange(static_cast<int>(slot1), static_cast<int>(slot2));
      } else {
        LogFmt("CChangeSlotPacket: type %u category %u, slot1 %u, slot2 %u", type, category,
               slot1, slot2);
      }
      break;
    }
    case 2: {
      unsigned category = ReadByte();
      unsigned slot = ReadByte();
      uint32_t elem_alloc = ReadLong();
      LogFmt("CChangeSlotPacket: type %u category %u, slot %u, elemAlloc %u", type, category,
             slot, elem_alloc);
      break;
    }
    case 7:
      LogFmt("CChangeSlotPacket: type %u WeaponAlloc %u", type, ReadByte());
      break;
    case 8: {
      unsigned category = ReadByte();
      unsigned slot1 = ReadByte();
      unsigned slot2 = ReadByte();
      unsigned number = ReadByte();
      if (category == 1) {
        tc.Inventory().Merge(static_cast<int>(slot1), static_cast<int>(number),
                             static_cast<int>(slot2));
      } else {
        LogFmt("CChangeSlotPacket: type %u category %u, slot1 %u, slot2 %u, number %u", type,
               category, slot1, slot2, number);
      }
      break;
    }
    default:
      LogFmt("CChangeSlotPacket: type %u", type);
      break;
  }
}

}  // namespace vornhal
