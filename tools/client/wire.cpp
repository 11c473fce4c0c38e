#include "client/wire.h"

#include "platform/text.h"

namespace vornhal::client {

bool ServerToClientWithoutSeed(uint8_t id) { return id == 0 || id == 3 || id == 126; }
bool ClientToServerWithoutSeed(uint8_t id) { return id == 0 || id == 11 || id == 16 || id == 126; }

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
  const bool seeded = !ClientToServerWithoutSeed(packet.id);
  const size_t body = 1 + (seeded ? 1 : 0) + packet.payload.size();
  if (body > 0xFFFF) throw ProtocolError("client packet body too long to frame");
  std::vector<uint8_t> frame;
  frame.reserve(3 + body);
  frame.push_back(0xAA);
  frame.push_back(static_cast<uint8_t>(body >> 8));
  frame.push_back(static_cast<uint8_t>(body));
  frame.push_back(packet.id);
  if (seeded) frame.push_back(seed);
  const size_t start = frame.size();
  frame.insert(frame.end(), packet.payload.begin(), packet.payload.end());
  if (seeded) ScrambleWithKey(frame.data() + start, packet.payload.size(), seed, key);
  return frame;
}

Frame DecodeServerBody(const uint8_t* body, size_t size, std::string_view key) {
  if (size == 0) throw ProtocolError("empty frame body");
  Frame f;
  f.id = body[0];
  if (ServerToClientWithoutSeed(f.id)) {
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
    const size_t len = (size_t{bytes[i + 1]} << 8) | bytes[i + 2];
    if (i + 3 + len > bytes.size()) break;
    out.push_back(DecodeServerBody(bytes.data() + i + 3, len, key));
    i += 3 + len;
  }
  bytes.erase(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(i));
  return out;
}

void PayloadReader::Need(size_t count) const {
  if (count > size_ - pos_) {
    throw ProtocolError("read of " + std::to_string(count) + " bytes at offset " +
                        std::to_string(pos_) + " of a " + std::to_string(size_) + "-byte payload");
  }
}

uint8_t PayloadReader::U8() {
  Need(1);
  return data_[pos_++];
}

uint16_t PayloadReader::U16() {
  Need(2);
  uint16_t v = static_cast<uint16_t>((data_[pos_] << 8) | data_[pos_ + 1]);
  pos_ += 2;
  return v;
}

uint32_t PayloadReader::U24() {
  Need(3);
  uint32_t v = (uint32_t{data_[pos_]} << 16) | (uint32_t{data_[pos_ + 1]} << 8) | data_[pos_ + 2];
  pos_ += 3;
  return v;
}

uint32_t PayloadReader::U32() {
  Need(4);
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v = (v << 8) | data_[pos_ + i];
  pos_ += 4;
  return v;
}

uint64_t PayloadReader::U64() {
  Need(8);
  uint64_t v = 0;
  for (int i = 0; i < 8; ++i) v = (v << 8) | data_[pos_ + i];
  pos_ += 8;
  return v;
}

TAsColor PayloadReader::Color() {
  Need(3);
  TAsColor c{data_[pos_], data_[pos_ + 1], data_[pos_ + 2]};
  pos_ += 3;
  return c;
}

std::string PayloadReader::RawStr8() {
  const uint8_t n = U8();
  Need(n);
  std::string s(reinterpret_cast<const char*>(data_ + pos_), n);
  pos_ += n;
  return s;
}

std::string PayloadReader::Str8() { return FromCP932(RawStr8()); }

std::string PayloadReader::Str16() {
  const uint16_t n = U16();
  Need(n);
  std::string s(reinterpret_cast<const char*>(data_ + pos_), n);
  pos_ += n;
  return FromCP932(s);
}

std::vector<uint8_t> PayloadReader::Bytes(size_t count) {
  Need(count);
  std::vector<uint8_t> v(data_ + pos_, data_ + pos_ + count);
  pos_ += count;
  return v;
}

std::vector<uint8_t> PayloadReader::Rest() { return Bytes(Remaining()); }

void PayloadReader::Skip(size_t count) {
  Need(count);
  pos_ += count;
}

void PayloadReader::ExpectEnd(const char* what) const {
  if (!AtEnd()) {
    throw ProtocolError(std::string(what) + ": " + std::to_string(Remaining()) +
                        " unexpected bytes after offset " + std::to_string(pos_));
  }
}

PayloadWriter& PayloadWriter::U8(uint8_t v) {
  data_.push_back(v);
  return *this;
}

PayloadWriter& PayloadWriter::U16(uint16_t v) {
  data_.push_back(static_cast<uint8_t>(v >> 8));
  data_.push_back(static_cast<uint8_t>(v));
  return *this;
}

PayloadWriter& PayloadWriter::U32(uint32_t v) {
  for (int i = 3; i >= 0; --i) data_.push_back(static_cast<uint8_t>(v >> (8 * i)));
  return *this;
}

PayloadWriter& PayloadWriter::U64(uint64_t v) {
  for (int i = 7; i >= 0; --i) data_.push_back(static_cast<uint8_t>(v >> (8 * i)));
  return *this;
}

PayloadWriter& PayloadWriter::Color(const TAsColor& c) {
  data_.push_back(c.R);
  data_.push_back(c.G);
  data_.push_back(c.B);
  return *this;
}

PayloadWriter& PayloadWriter::RawStr8(std::string_view bytes) {
  if (bytes.size() > 255) bytes = bytes.substr(0, 255);
  data_.push_back(static_cast<uint8_t>(bytes.size()));
  data_.insert(data_.end(), bytes.begin(), bytes.end());
  return *this;
}

PayloadWriter& PayloadWriter::Str8(std::string_view utf8) { return RawStr8(ToCP932(utf8)); }

PayloadWriter& PayloadWriter::Str16(std::string_view utf8) {
  std::string s = ToCP932(utf8);
  if (s.size() > 65535) s.resize(65535);
  U16(static_cast<uint16_t>(s.size()));
  data_.insert(data_.end(), s.begin(), s.end());
  return *this;
}

PayloadWriter& PayloadWriter::Bytes(const std::vector<uint8_t>& bytes) {
  data_.insert(data_.end(), bytes.begin(), bytes.end());
  return *this;
}

std::string ReversedAddressToText(uint32_t value) {
  // Big-endian bytes are d, c, b, a for the address a.b.c.d.
  return std::to_string(value & 0xFF) + "." + std::to_string((value >> 8) & 0xFF) + "." +
         std::to_string((value >> 16) & 0xFF) + "." + std::to_string(value >> 24);
}

}  // namespace vornhal::client
