// Builders of the packets only the Multi server sends, and of SServerInfoPacket.
#include <algorithm>

#include "data/common.h"
#include "login/multi.h"
#include "platform/text.h"

namespace vornhal {

TPacket SGreetingPacket() {
  TPacket p(TServerPacketId::kGreeting);
  p.WriteByte(27);
  static const char kText[] = "CONNECTED SERVER\n";
  p.WriteBuffer(kText, static_cast<int>(sizeof(kText) - 1));
  return p;
}

TPacket SVersionResultPacket(uint8_t kind, std::string_view peer_ip) {
  TPacket p(TServerPacketId::kVersionResult);
  p.WriteByte(kind);
  switch (kind) {
    case 0:
      p.WriteLong(ServerListFor(peer_ip).CRC32);
      p.WriteByte(2);
      p.WriteShortStr(PacketKey);
      break;
    case 1:
      p.WriteShortStr("");
      p.WriteByte(0);
      p.WriteByte(0);
      break;
    default:
      p.WriteWord(kLowestClientVersion);
      p.WriteByte(0);
      break;
  }
  p.WriteByte(1);
  p.WriteShortStr(ServerAddressFor(peer_ip));
  return p;
}

TPacket SResultPacket(uint8_t code, std::string_view text) {
  TPacket p(TServerPacketId::kResult);
  p.WriteByte(code);
  p.WriteShortStr(text);
  return p;
}

TPacket SServerInfoPacket(std::string_view address, uint16_t port,
                          std::optional<std::string_view> name) {
  TPacket p(TServerPacketId::kServerInfo);
  p.WriteLong(IPToAddr(address));
  p.WriteWord(port);
  int rest = PacketKeyLength + 3;
  if (name) {
    size_t name_bytes = std::min<size_t>(ToCP932(*name).size(), 255);
    rest = PacketKeyLength + static_cast<int>(name_bytes) + 4;
  }
  p.WriteByte(static_cast<uint8_t>(rest & 0xFF));
  p.WriteByte(2);
  p.WriteShortStr(PacketKey);
  if (name) p.WriteShortStr(*name);
  p.WriteByte(0);
  return p;
}

TPacket STempDataPacket(uint8_t kind, std::string_view key) {
  TPacket p(TServerPacketId::kTempData);
  p.WriteByte(kind);
  p.WriteByte(1);
  if (kind == 0) {
    p.WriteBuffer(TempList.data(), static_cast<int>(TempList.size()));
    return p;
  }
  p.WriteShortStr(key);
  std::string k(key);
  auto crc = TempCRCs.find(k);
  auto file = TempFiles.find(k);
  if (crc != TempCRCs.end() && file != TempFiles.end()) {
    p.WriteLong(crc->second);
    size_t n = std::min<size_t>(file->second.size(), 65535);
    p.WriteWord(static_cast<uint16_t>(n));
    p.WriteBuffer(file->second.data(), static_cast<int>(n));
  } else {
    p.WriteLong(0);
    p.WriteWord(0);
  }
  return p;
}

TPacket SServerListPacket(const TZLibData& list) {
  TPacket p(TServerPacketId::kServerList);
  p.WriteWord(static_cast<uint16_t>(list.Size));
  p.WriteBuffer(list.CompressedData.data(),
                std::min(list.Size, static_cast<int32_t>(list.CompressedData.size())));
  return p;
}

TPacket SRulePacket(uint8_t kind) {
  TPacket p(TServerPacketId::kRule);
  p.WriteByte(kind);
  if (kind == 0) {
    p.WriteLong(RuleData.CRC32);
  } else {
    p.WriteWord(static_cast<uint16_t>(RuleData.Size));
    p.WriteBuffer(RuleData.CompressedData.data(),
                  std::min(RuleData.Size, static_cast<int32_t>(RuleData.CompressedData.size())));
  }
  return p;
}

}  // namespace vornhal
