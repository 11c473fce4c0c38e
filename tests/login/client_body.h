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
#include "platform/text.h"
#include "support/recording_connection.h"

namespace vornhal::test {

// A client body: id, seed byte (unless the id travels without one) and the scrambled payload.
class Body {
 public:
  explicit Body(uint8_t id) : id_(id) {}
  Body& U8(uint8_t v) { payload_.push_back(v); return *this; }
  Body& U16(uint16_t v) { U8(static_cast<uint8_t>(v >> 8)); return U8(static_cast<uint8_t>(v)); }
  Body& U32(uint32_t v) { U16(static_cast<uint16_t>(v >> 16)); return U16(static_cast<uint16_t>(v)); }
  Body& Color(uint8_t r, uint8_t g, uint8_t b) { return U8(r).U8(g).U8(b); }
  Body& Str(std::string_view utf8) {
    std::string s = ToCP932(utf8);
    U8(static_cast<uint8_t>(s.size()));
    payload_.insert(payload_.end(), s.begin(), s.end());
    return *this;
  }
  std::vector<uint8_t> Encode(uint8_t seed = 0x5A) const {
    std::vector<uint8_t> out{id_};
    if (ClientIdWithoutSeed(id_)) {
      out.insert(out.end(), payload_.begin(), payload_.end());
      return out;
    }
    out.push_back(seed);
    std::vector<uint8_t> p = payload_;
    Scramble(p.data(), p.size(), seed);
    out.insert(out.end(), p.begin(), p.end());
    return out;
  }

 private:
  uint8_t id_;
  std::vector<uint8_t> payload_;
};

// Loads the body into the session and runs its handler, as the connection's reader does.
inline void Feed(TSession& session, TConnection& conn, const Body& body) {
  std::vector<uint8_t> bytes = body.Encode();
  uint8_t id = session.LoadBody(bytes.data(), bytes.size());
  session.ParsePacket(conn, id);
}

// Reads a server payload field by field; every read checks the bounds.
class Reader {
 public:
  explicit Reader(std::vector<uint8_t> payload) : p_(std::move(payload)) {}
  uint8_t U8() { Need(1); return p_[pos_++]; }
  uint16_t U16() { uint16_t hi = U8(); return static_cast<uint16_t>((hi << 8) | U8()); }
  uint32_t U32() { uint32_t hi = U16(); return (hi << 16) | U16(); }
  std::string Raw(size_t n) {
    Need(n);
    std::string s(p_.begin() + static_cast<long>(pos_), p_.begin() + static_cast<long>(pos_ + n));
    pos_ += n;
    return s;
  }
  std::string Str() { return FromCP932(Raw(U8())); }
  std::string LongStr() { return FromCP932(Raw(U16())); }
  bool AtEnd() const { return pos_ == p_.size(); }
  size_t Left() const { return p_.size() - pos_; }

 private:
  void Need(size_t n) const {
    if (pos_ + n > p_.size()) throw std::out_of_range("payload too short");
  }
  std::vector<uint8_t> p_;
  size_t pos_ = 0;
};

// The payload of a freshly built packet, as a client reads it.
inline std::vector<uint8_t> PayloadOf(TPacket packet) { return Unscrambled(packet).payload; }

// Runs fn with standard output captured and returns what it printed.
template <typename Fn>
std::string CapturedLog(Fn&& fn) {
  ::testing::internal::CaptureStdout();
  try {
    fn();
  } catch (...) {
    ::testing::internal::GetCapturedStdout();
    throw;
  }
  return ::testing::internal::GetCapturedStdout();
}

}  // namespace vornhal::test
