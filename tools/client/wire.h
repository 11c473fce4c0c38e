// The client's view of the wire: frames and scrambling with the key the server handed over.
#pragma once
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "net/packet_ids.h"
#include "net/types.h"
#include "net/wire.h"

namespace vornhal::client {

inline constexpr std::string_view kDefaultKey = "Hq7!mZ2#vR";

// Raised for malformed frames and payloads; reads past the end of a payload raise its
// ReadPastEndError.
using ProtocolError = WireError;

// One frame as received: packet id and unscrambled payload (without marker, length, seed).
struct Frame {
  TServerPacketId id{};
  std::vector<uint8_t> payload;
};

// One client packet ready to be framed: id and payload in clear.
struct OutPacket {
  uint8_t id = 0;
  std::vector<uint8_t> payload;
};

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

// Payloads are read and written with TWireReader and TWireWriter (net/wire.h).

// Dotted text of an address carried as a u32 whose big-endian bytes are the octets reversed.
std::string ReversedAddressToText(uint32_t value);

}  // namespace vornhal::client
