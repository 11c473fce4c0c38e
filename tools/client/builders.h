// Builders for every packet a game client sends, to the Multi server and to the Zone server.
// Each returns the id and the payload in clear; Connection::Send frames and scrambles it.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "client/wire.h"
#include "net/types.h"

namespace vornhal::client {

using Variables = std::vector<std::pair<std::string, std::string>>;

// ---- Multi server ----
OutPacket CVersionPacket(uint16_t version);
OutPacket CCreateAccountPacket(std::string_view name, std::string_view password,
                               std::string_view real_name, std::string_view mail);
OutPacket CLoginPacket(std::string_view name, std::string_view password, bool force);
OutPacket CAppearancePacket(uint8_t sex, uint8_t hair_type, TAsColor hair_color);
// Kind 2 carries one ignored byte and a key; other kinds carry nothing more.
OutPacket CTempDataPacket(uint8_t kind, std::string_view key = {});
OutPacket CRuleCheckPacket();
OutPacket CChangePasswordPacket(std::string_view name, std::string_view old_password,
                                std::string_view new_password);
OutPacket CRuleRequestPacket();
// Kind 0 carries one more (ignored) byte.
OutPacket CServerListPacket(uint8_t kind);
OutPacket CWebRequestPacket(uint8_t kind);
// Kind 0 names a script; other kinds (3: the whole list) carry nothing more.
OutPacket CScriptRequestPacket(uint8_t kind, std::string_view script_name = {});

// ---- Zone server ----
OutPacket CPickItemPacket(uint32_t object_id);
OutPacket CDropItemPacket(uint8_t kind, uint8_t slot, uint8_t count);
OutPacket CDropGlodPacket(uint32_t amount);
OutPacket CServerInfoRequestPacket();
OutPacket CChatPacket(uint8_t chat_type, std::string_view text);
OutPacket CZoneLoginPacket(std::string_view name);
OutPacket CDirectionPacket(uint8_t dir);
OutPacket CAttackPacket(uint32_t target_id);
OutPacket CWhisperPacket(std::string_view target, std::string_view text);

// The extra fields of CUsePacket; which of them are written depends on the type:
// 1 text; 2 value; 3 four words; 4 three words; 6 and 9 two words; 7 one word;
// 8 slot_type and slot2; 0, 5 and 10..255 nothing. Missing words are written as 0.
struct UseExtra {
  std::string text;
  uint32_t value = 0;
  std::vector<uint16_t> words;
  uint8_t slot_type = 0;
  uint8_t slot2 = 0;
};
OutPacket CUsePacket(uint8_t category, uint8_t slot, uint8_t inven_type, uint8_t type,
                     const UseExtra& extra = {});
// Equips or uses the item of an inventory slot (type 5, category 1, inventory type 0).
OutPacket CUseItemPacket(uint8_t slot);

OutPacket CMotionPacket(uint8_t kind, uint8_t value);
OutPacket CUnequipPacket(uint8_t equip_slot);
// Type 1 carries value1 and value2; other types carry nothing more.
OutPacket CItemShopPacket(uint8_t type, uint32_t value1 = 0, uint32_t value2 = 0);

// The fields of CChangeSlotPacket; written by type: 0 and 1 category, slot1, slot2;
// 2 category, slot1, elem_alloc; 7 weapon_alloc; 8 category, slot1, slot2, number; others none.
struct ChangeSlotFields {
  uint8_t category = 1;
  uint8_t slot1 = 0;
  uint8_t slot2 = 0;
  uint8_t number = 0;
  uint32_t elem_alloc = 0;
  uint8_t weapon_alloc = 0;
};
OutPacket CChangeSlotPacket(uint8_t type, const ChangeSlotFields& fields = {});
// Inventory shortcuts: type 0 (exchange) and type 8 (merge) with category 1.
OutPacket CExchangeSlotsPacket(uint8_t slot1, uint8_t slot2);
OutPacket CMergeSlotsPacket(uint8_t src_slot, uint8_t dest_slot, uint8_t number);

OutPacket CMovePacket(uint8_t dir, uint8_t seq);
OutPacket CSignalRequestPacket();
OutPacket CBattleMatchListPacket();
OutPacket CObjectInfoRequestPacket(uint8_t type, uint32_t id, uint16_t flags = 0);
OutPacket CHPInfoRequestPacket(uint32_t object_id);
OutPacket CStatUpPacket(uint8_t code);
OutPacket CPathMovePacket(TMapPoint point, uint8_t dir, const std::vector<uint8_t>& steps,
                          TMapPoint next, uint8_t next_dir);
OutPacket CIgnoredPacket();
// Code 1: a script reports variables.
OutPacket CScriptVariablesPacket(std::string_view script_name, uint32_t object_id,
                                 const Variables& variables);
// Code 4: a script ended.
OutPacket CScriptEndPacket(std::string_view script_name, uint32_t object_id);
// Any other code: the code byte alone.
OutPacket CScriptCodePacket(uint8_t code);
OutPacket CWebBoardPacket(uint8_t type);
// Types 1, 2 and 4 carry the index; other types carry nothing more.
OutPacket CBulletinBoardPacket(uint8_t type, uint8_t index = 0);

}  // namespace vornhal::client
