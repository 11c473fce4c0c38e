// The id bytes the packet names stand for: every client in the field depends on them, so
// a renumbered name is a broken wire even when every other test (which uses the names) passes.
#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <utility>
#include <vector>

#include "net/packet.h"

namespace vornhal {
namespace {

template <typename Id>
void ExpectBytes(const std::vector<std::pair<Id, int>>& table) {
  std::set<int> seen;
  for (const auto& [id, byte] : table) {
    EXPECT_EQ(IdByte(id), byte);
    EXPECT_TRUE(seen.insert(byte).second) << "id " << byte << " named twice";
  }
}

TEST(PacketIds, MultiClientIdsKeepTheirBytes) {
  using M = TMultiClientPacketId;
  ExpectBytes<M>({{M::kVersion, 0},        {M::kCreateAccount, 2}, {M::kLogin, 3},
                  {M::kAppearance, 4},     {M::kTempData, 15},     {M::kRuleCheck, 16},
                  {M::kChangePassword, 38}, {M::kRuleRequest, 75}, {M::kServerList, 87},
                  {M::kWebRequest, 104},   {M::kScript, 108}});
}

TEST(PacketIds, ZoneClientIdsKeepTheirBytes) {
  using Z = TZoneClientPacketId;
  ExpectBytes<Z>({{Z::kPickItem, 7},          {Z::kDropItem, 8},        {Z::kDropGlod, 9},
                  {Z::kServerInfoRequest, 11}, {Z::kChat, 14},           {Z::kZoneLogin, 16},
                  {Z::kDirection, 17},        {Z::kAttack, 19},         {Z::kWhisper, 25},
                  {Z::kUse, 28},              {Z::kMotion, 29},         {Z::kUnequip, 31},
                  {Z::kItemShop, 45},         {Z::kChangeSlot, 48},     {Z::kMove, 51},
                  {Z::kSignalRequest, 53},    {Z::kBattleMatchList, 61}, {Z::kObjectInfoRequest, 67},
                  {Z::kHPInfoRequest, 68},    {Z::kStatUp, 71},         {Z::kPathMove, 84},
                  {Z::kIgnored, 101},         {Z::kScript, 108},        {Z::kWebBoard, 114},
                  {Z::kBulletinBoard, 124}});
}

TEST(PacketIds, ServerIdsKeepTheirBytes) {
  using S = TServerPacketId;
  ExpectBytes<S>({{S::kVersionResult, 0}, {S::kResult, 2},         {S::kServerInfo, 3},
                  {S::kPlayerPosition, 4}, {S::kPlayerInfo, 5},    {S::kCharaMove, 6},
                  {S::kMapObjects, 7},    {S::kStatus, 8},         {S::kMessage, 10},
                  {S::kMoveAck, 11},      {S::kMobMove, 12},       {S::kChat, 13},
                  {S::kRemoveObject, 14}, {S::kInventoryItem, 15}, {S::kInventoryClear, 16},
                  {S::kDirection, 17},    {S::kAttack, 19},        {S::kSignal, 20},
                  {S::kMapInfo, 21},      {S::kTempData, 24},      {S::kSound, 25},
                  {S::kMotion, 26},       {S::kWeather, 31},       {S::kEnterSetup, 32},
                  {S::kShopList, 33},     {S::kLevelUp, 39},       {S::kEffect, 41},
                  {S::kShopWindow, 47},   {S::kCharaAppear, 51},   {S::kEquipItem, 55},
                  {S::kEquipClear, 56},   {S::kHPInfo, 60},        {S::kScript, 68},
                  {S::kEnterEnd, 73},     {S::kServerList, 86},    {S::kDie, 95},
                  {S::kRule, 96},         {S::kSkill, 98},         {S::kPathMove, 100},
                  {S::kWeb, 104},         {S::kEnterValues, 115},  {S::kGreeting, 126}});
}

TEST(PacketIds, OnlyTheExemptIdsTravelWithoutSeed) {
  std::vector<int> server, client;
  for (int id = 0; id < 256; ++id) {
    if (ServerIdWithoutSeed(static_cast<uint8_t>(id))) server.push_back(id);
    if (ClientIdWithoutSeed(static_cast<uint8_t>(id))) client.push_back(id);
  }
  EXPECT_EQ(server, (std::vector<int>{0, 3, 126}));
  EXPECT_EQ(client, (std::vector<int>{0, 11, 16, 126}));
}

TEST(PacketIds, PrintAsTheirNumber) {
  std::ostringstream out;
  out << TServerPacketId::kGreeting << ' ' << TZoneClientPacketId::kMove << ' '
      << TMultiClientPacketId::kVersion;
  EXPECT_EQ(out.str(), "126 51 0");
}

}  // namespace
}  // namespace vornhal
