#include "net/packet.h"

#include "platform/text.h"

namespace vornhal {

const std::string PacketKey = "Hq7!mZ2#vR";
int PacketKeyLength = static_cast<int>(PacketKey.size());

bool ServerIdWithoutSeed(uint8_t id) { return id == 0 || id == 3 || id == 126; }
bool ClientIdWithoutSeed(uint8_t id) { return id == 0 || id == 11 || id == 16 || id == 126; }

void Scramble(uint8_t* payload, size_t size, uint8_t seed) {
  const size_t k = PacketKeyLength > 0 ? static_cast<size_t>(PacketKeyLength) : 1;
  uint8_t pass = 0;
  for (size_t i = 0; i < size; ++i) {
    uint8_t b = payload[i] ^ seed ^ static_cast<uint8_t>(PacketKey[i % k]);
    b = (pass == seed) ? static_cast<uint8_t>(~b) : static_cast<uint8_t>(b ^ pass);
    payload[i] = b;
    if ((i + 1) % k == 0) ++pass;
  }
}

void TPacket::Create(uint8_t packet_id) {
  FBuffer.clear();
  FIsEncoded = false;
  FBuffer.reserve(64);
  FBuffer.push_back(0xAA);
  FBuffer.push_back(0);
  FBuffer.push_back(0);
  FBuffer.push_back(packet_id);
  if (!ServerIdWithoutSeed(packet_id)) FBuffer.push_back(0);
}

void TPacket::WriteBuffer(const void* data, int count) {
  if (count <= 0) return;
  if (FIsEncoded) throw PacketError("これ以上書き込めません");
  const auto* p = static_cast<const uint8_t*>(data);
  FBuffer.insert(FBuffer.end(), p, p + count);
}

void TPacket::WriteByte(uint8_t value) { WriteBuffer(&value, 1); }

void TPacket::WriteWord(uint16_t value) {
  uint8_t b[2] = {static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
  WriteBuffer(b, 2);
}

void TPacket::WriteLong(uint32_t value) {
  uint8_t b[4] = {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
                  static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
  WriteBuffer(b, 4);
}

void TPacket::WriteInt64(uint64_t value) {
  uint8_t b[8];
  for (int i = 0; i < 8; ++i) b[i] = static_cast<uint8_t>(value >> (56 - 8 * i));
  WriteBuffer(b, 8);
}

void TPacket::WriteColor(const TAsColor& value) {
  uint8_t b[3] = {value.R, value.G, value.B};
  WriteBuffer(b, 3);
}

void TPacket::WriteShortStr(std::string_view value) {
  std::string s = ToCP932(value);
  if (s.size() > 255) s.resize(255);
  WriteByte(static_cast<uint8_t>(s.size()));
  WriteBuffer(s.data(), static_cast<int>(s.size()));
}

void TPacket::WriteLongStr(std::string_view value) {
  std::string s = ToCP932(value);
  if (s.size() > 65535) s.resize(65535);
  WriteWord(static_cast<uint16_t>(s.size()));
  WriteBuffer(s.data(), static_cast<int>(s.size()));
}

void TPacket::WriteKeyValue(std::string_view key, std::string_view value) {
  WriteShortStr(key);
  WriteShortStr(value);
}

void TPacket::Encode() {
  if (FIsEncoded) return;
  if (FBuffer.size() < 4) throw PacketError("packet was never created");
  size_t body = FBuffer.size() - 3;
  if (body > 65535) {
    throw PacketError("packet body of " + std::to_string(body) + " bytes exceeds the frame limit");
  }
  FBuffer[1] = static_cast<uint8_t>(body >> 8);
  FBuffer[2] = static_cast<uint8_t>(body);
  if (!ServerIdWithoutSeed(FBuffer[3])) {
    FBuffer[4] = 0;
    Scramble(FBuffer.data() + 5, FBuffer.size() - 5, 0);
  }
  FIsEncoded = true;
}

const std::vector<uint8_t>& TPacket::Frame() {
  Encode();
  return FBuffer;
}

void TPacket::SendTo(TConnection* context) {
  if (context == nullptr || !context->Connected()) return;
  Encode();
  context->Write(FBuffer.data(), FBuffer.size());
}

void TPacket::SendTo(TConnection* context1, TConnection* context2) {
  SendTo(context1);
  SendTo(context2);
}

void StreamWriteByte(std::string& stream, uint8_t value) { stream.push_back(static_cast<char>(value)); }

void StreamWriteWord(std::string& stream, uint16_t value) {
  stream.push_back(static_cast<char>(value >> 8));
  stream.push_back(static_cast<char>(value));
}

void StreamWriteLong(std::string& stream, uint32_t value) {
  for (int i = 0; i < 4; ++i) stream.push_back(static_cast<char>(value >> (24 - 8 * i)));
}

void StreamWriteShortStr(std::string& stream, std::string_view value) {
  std::string s = ToCP932(value);
  if (s.size() > 255) s.resize(255);
  StreamWriteByte(stream, static_cast<uint8_t>(s.size()));
  stream.append(s);
}

}  // namespace vornhal
