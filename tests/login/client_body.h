// Client frame bodies as a game client writes them, fed straight into a session, and a reader
// for the payloads the server answers with.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "net/packet.h"
#include "net/session.h"
#include "net/wire.h"
#include "platform/text.h"
#include "support/captured_log.h"
#include "support/recording_connection.h"

namespace vornhal::test {

// A client body: id, seed byte (unless the id travels without one) and the scrambled payload.
class Body {
 public:
  explicit Body(TMultiClientPacketId id) : id_(IdByte(id)) {}
  explicit Body(TZoneClientPacketId id) : id_(IdByte(id)) {}
  Body& U8(uint8_t v) { payload_.U8(v); return *this; }
  Body& U16(uint16_t v) { payload_.U16(v); return *this; }
  Body& U32(uint32_t v) { payload_.U32(v); return *this; }
  Body& Color(uint8_t r, uint8_t g, uint8_t b) { return U8(r).U8(g).U8(b); }
  Body& Str(std::string_view utf8) { payload_.Str8(utf8); return *this; }
  std::vector<uint8_t> Encode(uint8_t seed = 0x5A) const {
    std::vector<uint8_t> out{id_};
    std::vector<uint8_t> p = payload_.Data();
    if (!ClientIdWithoutSeed(id_)) {
      out.push_back(seed);
      Scramble(p.data(), p.size(), seed);
    }
    out.insert(out.end(), p.begin(), p.end());
    return out;
  }

 private:
  uint8_t id_;
  TWireWriter payload_;
};

// Loads the body into the session and runs its handler, as the connection's reader does.
inline void Feed(TSession& session, TConnection& conn, const Body& body) {
  std::vector<uint8_t> bytes = body.Encode();
  uint8_t id = session.LoadBody(bytes.data(), bytes.size());
  session.ParsePacket(conn, id);
}

// Holds the payload a Reader reads.
struct ReaderBytes {
  std::vector<uint8_t> bytes;
};

// Reads a server payload it keeps, field by field; every read checks the bounds.
class Reader : private ReaderBytes, public TWireReader {
 public:
  explicit Reader(std::vector<uint8_t> payload)
      : ReaderBytes{std::move(payload)}, TWireReader(ReaderBytes::bytes) {}
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;
  std::string Raw(size_t n) {
    std::vector<uint8_t> b = Bytes(n);
    return std::string(b.begin(), b.end());
  }
};

// The payload of a freshly built packet, as a client reads it.
inline std::vector<uint8_t> PayloadOf(TPacket packet) { return Unscrambled(packet).payload; }

}  // namespace vornhal::test
