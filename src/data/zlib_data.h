// A block compressed in the zlib format at the default level, with the CRC-32 of its
// uncompressed bytes.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace vornhal {

struct TZLibData {
  std::string CompressedData;
  int32_t Size = 0;
  uint32_t CRC32 = 0;
};

TZLibData MakeZLibData(std::string_view bytes);
std::string ZCompress(std::string_view bytes);
// Throws std::runtime_error on a stream that is not valid zlib data.
std::string ZDecompress(std::string_view compressed);
uint32_t Crc32(std::string_view bytes);

}  // namespace vornhal
