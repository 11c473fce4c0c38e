// The client's view of the wire: frames, scrambling with the key the server handed over, and
// bounds-checked readers and writers for payload fields.
#pragma once
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "net/types.h"

namespace vornhal::client {

inline constexpr std::string_view kDefaultKey = "Hq7!mZ2#vR";

// Raised for malformed frames and payloads, and for reads past the end of a payload.
class ProtocolError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One frame as received: packet id and unscrambled payload (without marker, length, seed).
struct Frame {
  uint8_t id = 0;
  std::vector<uint8_t> payload;
};

// One client packet ready to be framed: id and payload in clear.
struct OutPacket {
  uint8_t id = 0;
  std::vector<uint8_t> payload;
};

// Ids that go without seed byte, by direction.
bool ServerToClientWithoutSeed(uint8_t id);  // 0, 3, 126
bool ClientToServerWithoutSeed(uint8_t id);  // 0, 11, 16, 126

// Scrambles or unscrambles (the operation is its own inverse) with the given key.
void ScrambleWithKey(uint8_t* payload, size_t size, uint8_t seed, std::string_view key);

// A whole client frame: marker, length, id, seed (unless exempt) and scrambled payload.
std::vector<uint8_t> EncodeClientFrame(const OutPacket& packet, uint8_t seed,
                                       std::string_view key = kDefaultKey);

// Decodes one server body (id, seed byte if any, payload).
Frame DecodeServerBody(const uint8_t* body, size_t size, std::string_view key = kDefaultKey);

// Cuts complete server frames off the front of a byte buffer; leaves a partial frame in place.
// Throws ProtocolError on a byte that is not the 0xAA marker or an empty body.
std::vector<Frame> TakeServerFrames(std::vector<uint8_t>& bytes, std::string_view key = kDefaultKey);

// Payload reader over an unscrambled payload; every read checks the bounds.
class PayloadReader {
 public:
  explicit PayloadReader(const std::vector<uint8_t>& data) : data_(data.data()), size_(data.size()) {}
  PayloadReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  uint8_t U8();
  uint16_t U16();
  uint32_t U24();  // as 0xRRGGBB
  uint32_t U32();
  uint64_t U64();
  TAsColor Color();
  std::string Str8();   // code page 932 on the wire, UTF-8 returned
  std::string Str16();
  std::string RawStr8();  // the bytes as they are, not converted
  std::vector<uint8_t> Bytes(size_t count);
  std::vector<uint8_t> Rest();
  void Skip(size_t count);

  size_t Position() const { return pos_; }
  size_t Remaining() const { return size_ - pos_; }
  bool AtEnd() const { return pos_ == size_; }
  // Throws unless every byte was read: parsers use it to catch layouts that drifted.
  void ExpectEnd(const char* what) const;

 private:
  void Need(size_t count) const;
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

// Payload writer; texts are UTF-8 in and code page 932 on the wire, cut to 255 / 65535 bytes.
class PayloadWriter {
 public:
  PayloadWriter& U8(uint8_t v);
  PayloadWriter& U16(uint16_t v);
  PayloadWriter& U32(uint32_t v);
  PayloadWriter& U64(uint64_t v);
  PayloadWriter& Color(const TAsColor& c);
  PayloadWriter& Str8(std::string_view utf8);
  PayloadWriter& Str16(std::string_view utf8);
  PayloadWriter& RawStr8(std::string_view bytes);  // no conversion
  PayloadWriter& Bytes(const std::vector<uint8_t>& bytes);

  const std::vector<uint8_t>& Data() const { return data_; }
  OutPacket Build(uint8_t id) const { return OutPacket{id, data_}; }

 private:
  std::vector<uint8_t> data_;
};

// Dotted text of an address carried as a u32 whose big-endian bytes are the octets reversed.
std::string ReversedAddressToText(uint32_t value);

}  // namespace vornhal::client
