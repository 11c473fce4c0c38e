#include "net/wire.h"

#include <cstring>

#include "platform/text.h"

namespace vornhal {

void TWireReader::Need(size_t count) const {
  if (count > FSize - FPos) {
    throw ReadPastEndError("read of " + std::to_string(count) + " bytes at position " +
                           std::to_string(FPos) + " beyond a body of " + std::to_string(FSize) +
                           " bytes");
  }
}

uint8_t TWireReader::U8() {
  Need(1);
  return FData[FPos++];
}

uint64_t TWireReader::Big(size_t count) {
  Need(count);
  uint64_t v = 0;
  for (size_t i = 0; i < count; ++i) v = (v << 8) | FData[FPos + i];
  FPos += count;
  return v;
}

uint16_t TWireReader::U16() { return static_cast<uint16_t>(Big(2)); }
uint32_t TWireReader::U24() { return static_cast<uint32_t>(Big(3)); }
uint32_t TWireReader::U32() { return static_cast<uint32_t>(Big(4)); }
uint64_t TWireReader::U64() { return Big(8); }

TAsColor TWireReader::Color() {
  Need(3);
  TAsColor c{FData[FPos], FData[FPos + 1], FData[FPos + 2]};
  FPos += 3;
  return c;
}

std::string TWireReader::RawStr8() {
  const uint8_t n = U8();
  Need(n);
  std::string s(reinterpret_cast<const char*>(FData + FPos), n);
  FPos += n;
  return s;
}

std::string TWireReader::Str8() { return FromCP932(RawStr8()); }

std::string TWireReader::Str16() {
  const uint16_t n = U16();
  Need(n);
  std::string s(reinterpret_cast<const char*>(FData + FPos), n);
  FPos += n;
  return FromCP932(s);
}

std::vector<uint8_t> TWireReader::Bytes(size_t count) {
  Need(count);
  std::vector<uint8_t> v(FData + FPos, FData + FPos + count);
  FPos += count;
  return v;
}

void TWireReader::Bytes(void* out, size_t count) {
  Need(count);
  if (count > 0) std::memcpy(out, FData + FPos, count);
  FPos += count;
}

std::vector<uint8_t> TWireReader::Rest() { return Bytes(Remaining()); }

void TWireReader::Skip(size_t count) {
  Need(count);
  FPos += count;
}

void TWireReader::ExpectEnd(const char* what) const {
  if (!AtEnd()) {
    throw WireError(std::string(what) + ": " + std::to_string(Remaining()) +
                    " unexpected bytes after offset " + std::to_string(FPos));
  }
}

TWireWriter& TWireWriter::U8(uint8_t value) {
  FData.push_back(value);
  return *this;
}

TWireWriter& TWireWriter::Big(uint64_t value, size_t count) {
  for (size_t i = count; i-- > 0;) FData.push_back(static_cast<uint8_t>(value >> (8 * i)));
  return *this;
}

TWireWriter& TWireWriter::U16(uint16_t value) { return Big(value, 2); }
TWireWriter& TWireWriter::U32(uint32_t value) { return Big(value, 4); }
TWireWriter& TWireWriter::U64(uint64_t value) { return Big(value, 8); }

TWireWriter& TWireWriter::Color(const TAsColor& value) {
  FData.push_back(value.R);
  FData.push_back(value.G);
  FData.push_back(value.B);
  return *this;
}

TWireWriter& TWireWriter::RawStr8(std::string_view bytes) {
  if (bytes.size() > 255) bytes = bytes.substr(0, 255);
  U8(static_cast<uint8_t>(bytes.size()));
  return Bytes(bytes.data(), bytes.size());
}

TWireWriter& TWireWriter::Str8(std::string_view utf8) { return RawStr8(ToCP932(utf8)); }

TWireWriter& TWireWriter::Str16(std::string_view utf8) {
  std::string s = ToCP932(utf8);
  if (s.size() > 65535) s.resize(65535);
  U16(static_cast<uint16_t>(s.size()));
  return Bytes(s.data(), s.size());
}

TWireWriter& TWireWriter::Bytes(const void* data, size_t count) {
  if (count == 0) return *this;
  const auto* p = static_cast<const uint8_t*>(data);
  FData.insert(FData.end(), p, p + count);
  return *this;
}

void TWireWriter::SetU16(size_t at, uint16_t value) {
  if (at >= FData.size() || FData.size() - at < 2) {
    throw std::out_of_range("two bytes at " + std::to_string(at) + " of " +
                            std::to_string(FData.size()) + " written");
  }
  FData[at] = static_cast<uint8_t>(value >> 8);
  FData[at + 1] = static_cast<uint8_t>(value);
}

}  // namespace vornhal
