#include "net/packet.h"

namespace vornhal {

bool ServerIdWithoutSeed(uint8_t id) {
  using S = TServerPacketId;
  return id == IdByte(S::kVersionResult) || id == IdByte(S::kServerInfo) ||
         id == IdByte(S::kGreeting);
}

bool ClientIdWithoutSeed(uint8_t id) {
  static_assert(IdByte(TMultiClientPacketId::kRuleCheck) == IdByte(TZoneClientPacketId::kZoneLogin));
  return id == IdByte(TMultiClientPacketId::kVersion) ||
         id == IdByte(TZoneClientPacketId::kServerInfoRequest) ||
         id == IdByte(TZoneClientPacketId::kZoneLogin) || id == IdByte(TServerPacketId::kGreeting);
}

void Scramble(uint8_t* payload, size_t size, uint8_t seed) {
  constexpr size_t k = PacketKey.size();
  uint8_t pass = 0;
  for (size_t i = 0; i < size; ++i) {
    uint8_t b = payload[i] ^ seed ^ static_cast<uint8_t>(PacketKey[i % k]);
    b = (pass == seed) ? static_cast<uint8_t>(~b) : static_cast<uint8_t>(b ^ pass);
    payload[i] = b;
    if ((i + 1) % k == 0) ++pass;
  }
}

void TPacket::Create(TServerPacketId id) {
  const uint8_t packet_id = IdByte(id);
  FBuffer = TWireWriter();
  FIsEncoded = false;
  FBuffer.Data().reserve(64);
  FBuffer.U8(0xAA).U16(0).U8(packet_id);
  if (!ServerIdWithoutSeed(packet_id)) FBuffer.U8(0);
}

TWireWriter& TPacket::Out() {
  if (FIsEncoded) throw PacketError("これ以上書き込めません");
  return FBuffer;
}

void TPacket::WriteBuffer(const void* data, int count) {
  if (count <= 0) return;
  Out().Bytes(data, static_cast<size_t>(count));
}

void TPacket::WriteByte(uint8_t value) { Out().U8(value); }
void TPacket::WriteWord(uint16_t value) { Out().U16(value); }
void TPacket::WriteLong(uint32_t value) { Out().U32(value); }
void TPacket::WriteInt64(uint64_t value) { Out().U64(value); }
void TPacket::WriteColor(const TAsColor& value) { Out().Color(value); }
void TPacket::WriteShortStr(std::string_view value) { Out().Str8(value); }
void TPacket::WriteLongStr(std::string_view value) { Out().Str16(value); }

void TPacket::WriteKeyValue(std::string_view key, std::string_view value) {
  WriteShortStr(key);
  WriteShortStr(value);
}

void TPacket::Encode() {
  if (FIsEncoded) return;
  std::vector<uint8_t>& frame = FBuffer.Data();
  if (frame.size() < 4) throw PacketError("packet was never created");
  size_t body = frame.size() - 3;
  if (body > 65535) {
    throw PacketError("packet body of " + std::to_string(body) + " bytes exceeds the frame limit");
  }
  FBuffer.SetU16(1, static_cast<uint16_t>(body));
  if (!ServerIdWithoutSeed(frame[3])) {
    frame[4] = 0;
    Scramble(frame.data() + 5, frame.size() - 5, 0);
  }
  FIsEncoded = true;
}

const std::vector<uint8_t>& TPacket::Frame() {
  Encode();
  return FBuffer.Data();
}

void TPacket::SendTo(TConnection* context) {
  if (context == nullptr || !context->Connected()) return;
  Encode();
  context->Write(FBuffer.Data().data(), FBuffer.Size());
}

void TPacket::SendTo(TConnection* context1, TConnection* context2) {
  SendTo(context1);
  SendTo(context2);
}

}  // namespace vornhal
