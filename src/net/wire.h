// Big-endian fields on the wire and in data blocks: a bounds-checked reader over a byte span and
// a writer appending to a byte vector. Texts are code page 932 on the wire and UTF-8 in the
// program; str8 / str16 carry a u8 / u16 byte count before the bytes.
#pragma once
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "net/types.h"

namespace vornhal {

// A malformed frame or payload.
class WireError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Raised by a read beyond the end of the bytes; a packet handler's dispatch reports it as a
// parse error of that packet.
class ReadPastEndError : public WireError {
 public:
  using WireError::WireError;
};

class TWireReader {
 public:
  TWireReader() = default;
  TWireReader(const uint8_t* data, size_t size) : FData(data), FSize(size) {}
  explicit TWireReader(const std::vector<uint8_t>& data) : TWireReader(data.data(), data.size()) {}
  explicit TWireReader(std::string_view data)
      : TWireReader(reinterpret_cast<const uint8_t*>(data.data()), data.size()) {}

  uint8_t U8();
  uint16_t U16();
  uint32_t U24();  // as 0xRRGGBB
  uint32_t U32();
  uint64_t U64();
  TAsColor Color();
  std::string Str8();     // converted to UTF-8
  std::string Str16();    // converted to UTF-8
  std::string RawStr8();  // the bytes as they are
  std::vector<uint8_t> Bytes(size_t count);
  void Bytes(void* out, size_t count);
  std::vector<uint8_t> Rest();
  void Skip(size_t count);

  size_t Position() const { return FPos; }
  size_t Size() const { return FSize; }
  size_t Remaining() const { return FSize - FPos; }
  bool AtEnd() const { return FPos == FSize; }
  // Raises WireError unless every byte was read (what names the layout in the message).
  void ExpectEnd(const char* what) const;

 private:
  void Need(size_t count) const;
  uint64_t Big(size_t count);  // count bytes, most significant first

  const uint8_t* FData = nullptr;
  size_t FSize = 0;
  size_t FPos = 0;
};

class TWireWriter {
 public:
  TWireWriter& U8(uint8_t value);
  TWireWriter& U16(uint16_t value);
  TWireWriter& U32(uint32_t value);
  TWireWriter& U64(uint64_t value);
  TWireWriter& Color(const TAsColor& value);
  // UTF-8 in, code page 932 out, cut to 255 / 65535 bytes.
  TWireWriter& Str8(std::string_view utf8);
  TWireWriter& Str16(std::string_view utf8);
  TWireWriter& RawStr8(std::string_view bytes);  // no conversion; cut to 255 bytes
  TWireWriter& Bytes(const void* data, size_t count);
  TWireWriter& Bytes(const std::vector<uint8_t>& bytes) { return Bytes(bytes.data(), bytes.size()); }
  // Overwrites two bytes already written (a count known only at the end).
  void SetU16(size_t at, uint16_t value);

  size_t Size() const { return FData.size(); }
  const std::vector<uint8_t>& Data() const { return FData; }
  std::vector<uint8_t>& Data() { return FData; }
  std::string Text() const { return std::string(FData.begin(), FData.end()); }

 private:
  TWireWriter& Big(uint64_t value, size_t count);  // the low count bytes, most significant first

  std::vector<uint8_t> FData;
};

}  // namespace vornhal
