// The wire codec: frames (0xAA, u16 big-endian body length, body), the per-packet scrambling
// and the outgoing packet builder TPacket.
#pragma once
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "net/connection.h"
#include "net/packet_ids.h"
#include "net/types.h"
#include "net/wire.h"

namespace vornhal {

class TActionObject;
class TMapBlock;
class TServer;
class TChara;

// The scrambling key handed to every client, and its length (the scrambling's modulus).
inline constexpr std::string_view PacketKey = "Hq7!mZ2#vR";
inline constexpr int PacketKeyLength = static_cast<int>(PacketKey.size());

// Ids whose payload travels without seed byte and unscrambled. Server to client: the version
// result, the server info and the greeting. Client to server: the version, the server info
// request, the rule check and zone login (both id 16), and the greeting's id.
bool ServerIdWithoutSeed(uint8_t id);
bool ClientIdWithoutSeed(uint8_t id);

// Scrambles (or unscrambles: the operation is its own inverse) a payload in place.
void Scramble(uint8_t* payload, size_t size, uint8_t seed);

// Raised by a write to a packet that has already been encoded, and by other codec misuse.
class PacketError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TPacket {
 public:
  TPacket() = default;
  explicit TPacket(TServerPacketId packet_id) { Create(packet_id); }

  // Starts a new packet: marker, length placeholder, id and (unless exempt) a seed byte 0.
  void Create(TServerPacketId packet_id);

  void WriteByte(uint8_t value);
  void WriteWord(uint16_t value);
  void WriteLong(uint32_t value);
  void WriteInt64(uint64_t value);
  void WriteColor(const TAsColor& value);
  // str8 / str16: the UTF-8 text is converted to code page 932, then cut to 255 / 65535 bytes.
  void WriteShortStr(std::string_view value);
  void WriteLongStr(std::string_view value);
  void WriteKeyValue(std::string_view key, std::string_view value);
  // Raw bytes; a count of 0 or less appends nothing and never fails.
  void WriteBuffer(const void* data, int count);

  // Sends to one connection; skipped when it is null or not connected. The first send that
  // reaches a connected receiver encodes the packet; later sends write the same bytes.
  void SendTo(TConnection* context);
  void SendTo(const TContextPtr& context) { SendTo(context.get()); }
  void SendTo(TConnection* context1, TConnection* context2);
  void SendTo(const TContextPtr& c1, const TContextPtr& c2) { SendTo(c1.get(), c2.get()); }

  // Group sends (defined with the world model, which owns the blocks and characters).
  // The area of tao: every character in the 5 x 5 blocks around it, tao itself only if ToSelf.
  void SendToBlock(const TActionObject* tao, bool ToSelf);
  // Every character of one block, in list order; a null block sends nothing.
  void SendToOneBlock(const TMapBlock* block);
  // Every logged-in character of the server except tc1 (null leaves nobody out).
  void SendToServer(TServer* server, const TChara* tc1);

  TServerPacketId PacketID() const {
    return static_cast<TServerPacketId>(FBuffer.Size() > 3 ? FBuffer.Data()[3] : 0);
  }
  bool IsEncoded() const { return FIsEncoded; }
  const std::vector<uint8_t>& Buffer() const { return FBuffer.Data(); }
  // Encodes if needed and returns the frame (for tests and for raw sends).
  const std::vector<uint8_t>& Frame();

 private:
  void Encode();
  // The writer of the payload; raises PacketError once the packet is encoded.
  TWireWriter& Out();

  TWireWriter FBuffer;
  bool FIsEncoded = false;
};

}  // namespace vornhal
