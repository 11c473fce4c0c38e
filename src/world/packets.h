// Builders of the world packets (one per packet) and the shared send operations. A builder
// fills a TPacket; the caller picks the receivers (SendTo, SendToBlock, SendToOneBlock,
// SendToServer).
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "net/packet.h"
#include "world/chara.h"
#include "world/map.h"
#include "world/mob.h"

namespace vornhal {

using TKeyValueList = std::vector<std::pair<std::string, std::string>>;
using TCRCMap = std::unordered_map<std::string, uint32_t>;

// The 20 client dialog names, in the order they are always sent.
extern const char* const kDialogNames[20];

// --- objects, movement and appearance ---
TPacket SPlayerPositionPacket(const TChara& tc);                      // 4
TPacket SPlayerInfoPacket(const TChara& tc);                          // 5
TPacket SCharaMovePacket(const TChara& tc);                           // 6
TPacket SMapObjectsPacket(const std::vector<const TMapObject*>& objects);  // 7
// 7, from the objects of one block whose kind bit (1 << kind, kinds 0..15) is in kind_mask.
TPacket SMapObjectsPacket(const TMapBlock& block, uint16_t kind_mask = 0xFFFF);
// 7, split over as many packets as the frame limit needs (at least one, also for no object).
std::vector<TPacket> SMapObjectsPackets(const std::vector<const TMapObject*>& objects);
std::vector<TPacket> SMapObjectsPackets(const TMapBlock& block, uint16_t kind_mask = 0xFFFF);
TPacket SMoveAckPacket(const TChara& tc, uint8_t sequence);           // 11
TPacket SMobMovePacket(const TMob& mob);                              // 12
TPacket SRemoveObjectPacket(const TMapObject& obj);                   // 14
TPacket SDirectionPacket(const TMapObject& obj);                      // 17
// 19; flags 0 (miss, no hit block) or 69 (hit block with damage).
TPacket SAttackPacket(const TActionObject& attacker, const TActionObject& target, uint16_t flags,
                      uint32_t damage);
TPacket SMapInfoPacket(const TMap& map);                              // 21
TPacket SSoundPacket(const TMap& map);                                // 25 kind 1 (music)
TPacket SSoundPacket(uint16_t sound_number);                          // 25 kind 0 (effect)
TPacket SMotionPacket(const TMapObject& obj, uint8_t motion, uint16_t value);  // 26
TPacket SWeatherPacket(const TMap& map);                              // 31
TPacket SEffectPacket(const TMapObject& obj, uint16_t effect, uint16_t value);  // 41 object form
TPacket SEffectPacket(uint16_t x, uint16_t y, uint16_t effect);       // 41 position form
TPacket SCharaAppearPacket(const TChara& tc);                         // 51
TPacket SHPInfoPacket(uint32_t object_id, const TChara* tc);          // 60 (tc null: kind 0)
TPacket SDiePacket(const TMapObject& obj);                            // 95
TPacket SPathMovePacket(const TChara& tc, const std::vector<uint8_t>& steps);  // 100

// --- status, items, messages and dialogs ---
TPacket SStatusPacket(const TChara& tc, uint16_t sections);           // 8
TPacket SMessagePacket(uint8_t type, std::string_view text);          // 10
TPacket SChatPacket(uint8_t chat_type, const TChara& speaker, std::string_view text);  // 13
TPacket SInventoryItemPacket(int slot_index, const TItem& item);      // 15
TPacket SInventoryClearPacket(int slot_index);                        // 16
TPacket SSignalPacket(uint8_t kind);                                  // 20 kinds 1 and 2
TPacket SEnterSetupPacket();                                          // 32
TPacket SShopListPacket();                                            // 33
TPacket SLevelUpPacket();                                             // 39
TPacket SShopWindowPacket();                                          // 47
TPacket SEquipItemPacket(int slot_index, const TItem& item);          // 55
TPacket SEquipClearPacket(int slot_index);                            // 56
// 68 code 0: raises an error naming the script when crcs lacks the script or a dialog name.
TPacket SScriptDialogPacket(const std::string& script_name, uint32_t object_id,
                            const TCRCMap& crcs, const TKeyValueList& variables);
TPacket SScriptEndPacket(const std::string& script_name, uint32_t object_id);  // 68 code 2
// 68 code 1: the stored script bytes, or u16 0 when `data` is null.
TPacket SScriptDataPacket(const std::string& script_name, const std::string* data);
TPacket SScriptListPacket(const std::string& script_list);           // 68 code 4
TPacket SEnterEndPacket();                                            // 73
TPacket SSkillPacket(uint8_t kind, int n);                            // 98 kinds 1 and 6
// 104: kind and text; with_flag adds the trailing u8 1 of the browser page form.
TPacket SWebPacket(uint8_t kind, std::string_view text, bool with_flag = false);
TPacket SEnterValuesPacket(uint8_t flags);                            // 115

// --- shared operations (world lock held) ---
// What a character sees around a place: the other characters' appearance and the map objects
// of the 5 x 5 blocks, built before the character is listed there.
struct TSurroundings {
  std::vector<TPacket> to_self;
};
TSurroundings BuildSurroundings(const TChara& tc, const TMap& map, TMapPoint at);
// Sends tc's appearance to its area and the built view to tc.
void SendSurroundings(TChara* tc, TSurroundings& around);
void SendSurroundings(TChara* tc);
void SendObjectRemoval(TActionObject* obj);  // to the area of obj (its Map and Point), without obj
void ChangeMap(TChara* tc, TMap* map, uint16_t x, uint16_t y);
// Type-3 system messages: to everyone logged in on the Zone server, or to one connection.
void SendSystemMessage(TConnection* context, uint8_t type, std::string_view text, bool to_everyone);

}  // namespace vornhal
