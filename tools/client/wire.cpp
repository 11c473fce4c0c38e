#include "client/wire.h"

#include "net/packet.h"

namespace vornhal::client {

void ScrambleWithKey(uint8_t* payload, size_t size, uint8_t seed, std::string_view key) {
  const size_t k = key.empty() ? 1 : key.size();
  uint8_t pass = 0;
  for (size_t i = 0; i < size; ++i) {
    const uint8_t kc = key.empty() ? 0 : static_cast<uint8_t>(key[i % k]);
    uint8_t b = payload[i] ^ seed ^ kc;
    b = (pass == seed) ? static_cast<uint8_t>(~b) : static_cast<uint8_t>(b ^ pass);
    payload[i] = b;
    if ((i + 1) % k == 0) ++pass;
  }
}

std::vector<uint8_t> EncodeClientFrame(const OutPacket& packet, uint8_t seed, std::string_view key) {
  const bool seeded = !ClientIdWithoutSeed(packet.id);
  const size_t body = 1 + (seeded ? 1 : 0) + packet.payload.size();
  if (body > 0xFFFF) throw ProtocolError("client packet body too long to frame");
  TWireWriter frame;
  frame.Data().reserve(3 + body);
  frame.U8(0xAA).U16(static_cast<uint16_t>(body)).U8(packet.id);
  if (seeded) frame.U8(seed);
  const size_t start = frame.Size();
  frame.Bytes(packet.payload);
  if (seeded) ScrambleWithKey(frame.Data().data() + start, packet.payload.size(), seed, key);
  return frame.Data();
}

Frame DecodeServerBody(const uint8_t* body, size_t size, std::string_view key) {
  if (size == 0) throw ProtocolError("empty frame body");
  Frame f;
  f.id = static_cast<TServerPacketId>(body[0]);
  if (ServerIdWithoutSeed(body[0])) {
    f.payload.assign(body + 1, body + size);
  } else if (size >= 2) {
    f.payload.assign(body + 2, body + size);
    ScrambleWithKey(f.payload.data(), f.payload.size(), body[1], key);
  }
  return f;
}

std::vector<Frame> TakeServerFrames(std::vector<uint8_t>& bytes, std::string_view key) {
  std::vector<Frame> out;
  size_t i = 0;
  while (i < bytes.size()) {
    if (bytes[i] != 0xAA) {
      throw ProtocolError("byte " + std::to_string(bytes[i]) + " where a frame marker was expected");
    }
    if (i + 3 > bytes.size()) break;
    const size_t len = TWireReader(bytes.data() + i + 1, 2).U16();
    if (i + 3 + len > bytes.size()) break;
    out.push_back(DecodeServerBody(bytes.data() + i + 3, len, key));
    i += 3 + len;
  }
  bytes.erase(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(i));
  return out;
}

std::string ReversedAddressToText(uint32_t value) {
  // Big-endian bytes are d, c, b, a for the address a.b.c.d.
  return std::to_string(value & 0xFF) + "." + std::to_string((value >> 8) & 0xFF) + "." +
         std::to_string((value >> 16) & 0xFF) + "." + std::to_string(value >> 24);
}

}  // namespace vornhal::client
