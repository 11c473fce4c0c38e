// Parsers for the server packets a client reads. Each takes an unscrambled payload, checks
// its bounds, and (where the layout is fully known) that nothing is left over.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "client/wire.h"
#include "net/types.h"

namespace vornhal::client {

// Server packet ids, Multi and Zone.
using server_id = TServerPacketId;

// ---- Multi server ----
struct Greeting {
  uint8_t lead = 0;   // 27
  std::string text;   // "CONNECTED SERVER\n"
};
Greeting ParseGreeting(const Frame& f);

struct VersionResult {
  uint8_t kind = 0;              // 0 accepted, 2 too old
  uint32_t list_checksum = 0;    // kind 0
  std::string key;               // kind 0
  uint16_t required_version = 0; // kind 2
  std::string address;           // every kind
};
VersionResult ParseVersionResult(const Frame& f);

struct Result {
  uint8_t code = 0;
  std::string text;
};
Result ParseResult(const Frame& f);

struct ServerInfo {
  std::string address;  // dotted text
  uint32_t raw_address = 0;
  uint16_t port = 0;
  uint8_t rest_length = 0;
  std::string key;
  std::optional<std::string> name;  // only in the login answer
};
ServerInfo ParseServerInfo(const Frame& f);

struct ServerListEntry {
  uint8_t index = 0;
  std::string address;
  uint16_t port = 0;
  std::string caption;
  std::string server_id;
  std::string date;
};
struct ServerList {
  uint16_t size = 0;
  std::vector<uint8_t> compressed;
  std::vector<uint8_t> raw;  // decompressed
  uint32_t crc32 = 0;        // of the decompressed bytes
  std::vector<ServerListEntry> entries;
};
ServerList ParseServerList(const Frame& f);

struct Rule {
  uint8_t kind = 0;
  uint32_t crc32 = 0;               // kind 0
  std::vector<uint8_t> compressed;  // kind 1
};
Rule ParseRule(const Frame& f);

struct TempData {
  uint8_t kind = 0;
  std::vector<uint8_t> list;  // kind 0: the raw list bytes
  std::string key;            // kind 1
  uint32_t checksum = 0;
  std::vector<uint8_t> bytes;
};
TempData ParseTempData(const Frame& f);

struct ScriptPacket {
  uint8_t code = 0;
  std::string name;                                        // codes 0, 1, 2
  uint32_t object_id = 0;                                  // codes 0, 2
  uint32_t crc = 0;                                        // code 0
  std::vector<std::pair<std::string, uint32_t>> dialogs;   // code 0
  std::vector<std::pair<std::string, std::string>> vars;   // code 0
  std::vector<uint8_t> data;                               // code 1 stored bytes, code 4 list
};
ScriptPacket ParseScript(const Frame& f);

struct Web {
  uint8_t kind = 0;
  std::string text;
  std::optional<uint8_t> flag;  // the trailing byte of kind 4
};
Web ParseWeb(const Frame& f);

// ---- Zone server ----
struct Message {
  uint8_t type = 0;
  std::string text;
};
Message ParseMessage(const Frame& f);

struct Chat {
  uint8_t type = 0;
  uint32_t speaker_id = 0;
  TAsColor color;
  std::string line;
  std::optional<std::string> trailer_text;
  std::optional<uint32_t> trailer_value;
};
Chat ParseChat(const Frame& f);

struct CharaAppear {
  uint16_t x = 0, y = 0;
  uint8_t dir = 0;
  uint32_t id = 0;
  uint8_t sex = 0, job = 0, mark = 0;
  uint32_t mode = 0;
  bool has_look = false;
  uint16_t wear_type = 0, head_type = 0, weapon_type = 0, shield_type = 0;
  TAsColor head_color, weapon_color, shield_color, wear_color;
  std::string name;
  uint16_t speed = 0;
};
CharaAppear ParseCharaAppear(const Frame& f);

struct PlayerInfo {
  uint32_t id = 0;
  uint8_t sex = 0, job = 0, mark = 0;
  uint32_t mode = 0;
  std::optional<uint8_t> dir;  // absent when the look block is replaced
};
PlayerInfo ParsePlayerInfo(const Frame& f);

struct CharaMove {
  uint32_t id = 0;
  uint16_t x = 0, y = 0;
};
CharaMove ParseCharaMove(const Frame& f);

struct MoveAck {
  uint16_t x = 0, y = 0;
  uint8_t seq = 0;
};
MoveAck ParseMoveAck(const Frame& f);

uint32_t ParseRemoveObject(const Frame& f);

struct MapObject {
  uint16_t x = 0, y = 0;
  uint8_t kind = 0;
  uint32_t id = 0;
  uint16_t tile = 0;
  TAsColor color;
  uint8_t dir = 0;
  uint8_t hp_percent = 0;
  uint16_t speed = 0;
  uint16_t color_type = 0;  // dropped items
  std::string name;         // NPC, mob, item; for a portal its destination map's name
};
std::vector<MapObject> ParseMapObjects(const Frame& f);

struct Direction {
  uint32_t id = 0;
  uint8_t dir = 0;
};
Direction ParseDirection(const Frame& f);

struct PlayerPosition {
  uint16_t x = 0, y = 0;
};
PlayerPosition ParsePlayerPosition(const Frame& f);

struct MapInfo {
  uint16_t id = 0;
  uint8_t flag1 = 0, flag2 = 0;
  std::string name;
};
MapInfo ParseMapInfo(const Frame& f);

struct Status {
  uint8_t sub_kind = 0;
  uint16_t sections = 0;
  // 0x0040
  uint8_t level = 0;
  uint32_t max_hp = 0, max_mp = 0, max_sp = 0, max_ep = 0, max_bp = 0;
  uint16_t dam = 0, hit = 0, mdam = 0, mhit = 0, sar = 0, aar = 0, weight = 0, max_weight = 0;
  uint16_t str = 0, int_ = 0, wis = 0, con = 0, dex = 0;
  uint8_t stat_point = 0;
  uint16_t ac = 0, mc = 0;
  // 0x0020
  uint32_t hp = 0, mp = 0, sp = 0, ep = 0, bp = 0;
  // 0x0010
  uint64_t exp = 0;
  uint16_t exp_percent = 0;
  uint32_t glod = 0;
};
Status ParseStatus(const Frame& f);

struct InventoryItem {
  uint8_t slot = 0;
  uint16_t icon = 0;
  TAsColor color;
  uint8_t color_type = 0, action_type = 0;
  std::string name;
  std::string key;
  uint8_t item_type = 0;
  uint16_t count = 0;  // item type 0 only
};
InventoryItem ParseInventoryItem(const Frame& f);

uint8_t ParseInventoryClear(const Frame& f);  // the slot

struct EquipItem {
  uint8_t slot = 0;
  uint16_t icon = 0;
  TAsColor color;
  uint8_t color_type = 0;
  std::string name;
  std::string key;
};
EquipItem ParseEquipItem(const Frame& f);

struct Effect {
  bool at_position = false;
  uint32_t object_id = 0;  // object form
  uint16_t x = 0, y = 0;   // position form
  uint16_t effect = 0;
  uint16_t value = 0;
};
Effect ParseEffect(const Frame& f);

struct Attack {
  uint32_t attacker = 0;
  uint32_t target = 0;
  uint16_t flags = 0;
  bool hit = false;
  uint8_t target_hp_percent = 0;
  uint32_t damage = 0;
  uint32_t target_max_hp = 0;
};
Attack ParseAttack(const Frame& f);

struct HPInfo {
  uint32_t id = 0;
  uint8_t kind = 0;
  uint8_t percent = 0;
};
HPInfo ParseHPInfo(const Frame& f);

struct Motion {
  uint32_t id = 0;
  uint8_t motion = 0;
  uint16_t value = 0;
};
Motion ParseMotion(const Frame& f);

struct Skill {
  uint8_t kind = 0;
  uint8_t number = 0;
};
Skill ParseSkill(const Frame& f);  // reads only the leading fields

}  // namespace vornhal::client
