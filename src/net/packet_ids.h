// The packet ids of the wire, one enumeration per direction and server. A packet's name here is
// the name of its builder without the C/S prefix and the Packet suffix (SMessagePacket is
// TServerPacketId::kMessage); the value is the id byte on the wire.
#pragma once
#include <cstdint>
#include <ostream>
#include <type_traits>

namespace vornhal {

// Client to Multi server.
enum class TMultiClientPacketId : uint8_t {
  kVersion = 0,
  kCreateAccount = 2,
  kLogin = 3,
  kAppearance = 4,
  kTempData = 15,
  kRuleCheck = 16,
  kChangePassword = 38,
  kRuleRequest = 75,
  kServerList = 87,
  kWebRequest = 104,
  kScript = 108,
};

// Client to Zone server.
enum class TZoneClientPacketId : uint8_t {
  kPickItem = 7,
  kDropItem = 8,
  kDropGlod = 9,
  kServerInfoRequest = 11,
  kChat = 14,
  kZoneLogin = 16,
  kDirection = 17,
  kAttack = 19,
  kWhisper = 25,
  kUse = 28,
  kMotion = 29,
  kUnequip = 31,
  kItemShop = 45,
  kChangeSlot = 48,
  kMove = 51,
  kSignalRequest = 53,
  kBattleMatchList = 61,
  kObjectInfoRequest = 67,
  kHPInfoRequest = 68,
  kStatUp = 71,
  kPathMove = 84,
  kIgnored = 101,
  kScript = 108,
  kWebBoard = 114,
  kBulletinBoard = 124,
};

// Server to client, from both servers (kServerInfo, kScript and kWeb are sent by both).
enum class TServerPacketId : uint8_t {
  kVersionResult = 0,
  kResult = 2,
  kServerInfo = 3,
  kPlayerPosition = 4,
  kPlayerInfo = 5,
  kCharaMove = 6,
  kMapObjects = 7,
  kStatus = 8,
  kMessage = 10,
  kMoveAck = 11,
  kMobMove = 12,
  kChat = 13,
  kRemoveObject = 14,
  kInventoryItem = 15,
  kInventoryClear = 16,
  kDirection = 17,
  kAttack = 19,
  kSignal = 20,
  kMapInfo = 21,
  kTempData = 24,
  kSound = 25,
  kMotion = 26,
  kWeather = 31,
  kEnterSetup = 32,
  kShopList = 33,
  kLevelUp = 39,
  kEffect = 41,
  kShopWindow = 47,
  kCharaAppear = 51,
  kEquipItem = 55,
  kEquipClear = 56,
  kHPInfo = 60,
  kScript = 68,
  kEnterEnd = 73,
  kServerList = 86,
  kDie = 95,
  kRule = 96,
  kSkill = 98,
  kPathMove = 100,
  kWeb = 104,
  kEnterValues = 115,
  kGreeting = 126,
};

template <typename Id>
concept PacketIdEnum = std::is_same_v<Id, TMultiClientPacketId> ||
                       std::is_same_v<Id, TZoneClientPacketId> ||
                       std::is_same_v<Id, TServerPacketId>;

// The id byte on the wire.
template <PacketIdEnum Id>
constexpr uint8_t IdByte(Id id) {
  return static_cast<uint8_t>(id);
}

// Test failures and logs show an id as its number.
template <PacketIdEnum Id>
std::ostream& operator<<(std::ostream& out, Id id) {
  return out << static_cast<int>(IdByte(id));
}

}  // namespace vornhal
