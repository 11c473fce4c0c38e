#include "data/zlib_data.h"

#include <zlib.h>

#include <algorithm>
#include <stdexcept>

namespace vornhal {

TZLibData MakeZLibData(std::string_view bytes) {
  TZLibData data;
  data.CRC32 = Crc32(bytes);
  data.CompressedData = ZCompress(bytes);
  data.Size = static_cast<int32_t>(data.CompressedData.size());
  return data;
}

std::string ZCompress(std::string_view bytes) {
  uLongf bound = compressBound(static_cast<uLong>(bytes.size()));
  std::string out(bound, '\0');
  int rc = compress2(reinterpret_cast<Bytef*>(out.data()), &bound,
                     reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uLong>(bytes.size()),
                     Z_DEFAULT_COMPRESSION);
  if (rc != Z_OK) throw std::runtime_error("zlib compression failed (" + std::to_string(rc) + ")");
  out.resize(bound);
  return out;
}

std::string ZDecompress(std::string_view compressed) {
  z_stream zs{};
  if (inflateInit(&zs) != Z_OK) throw std::runtime_error("zlib inflateInit failed");
  std::string out;
  out.resize(compressed.size() * 4 + 256);
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data()));
  size_t in_left = compressed.size();
  size_t produced = 0;
  int rc = Z_OK;
  for (;;) {
    // avail_in/avail_out are 32-bit: feed and drain in chunks so any size works.
    if (zs.avail_in == 0 && in_left > 0) {
      uInt chunk = static_cast<uInt>(std::min<size_t>(in_left, 1u << 30));
      zs.avail_in = chunk;
      in_left -= chunk;
    }
    if (produced == out.size()) out.resize(out.size() * 2);
    size_t room = std::min<size_t>(out.size() - produced, 1u << 30);
    zs.next_out = reinterpret_cast<Bytef*>(out.data() + produced);
    zs.avail_out = static_cast<uInt>(room);
    rc = inflate(&zs, Z_NO_FLUSH);
    produced += room - zs.avail_out;
    if (rc == Z_STREAM_END) break;
    if (rc == Z_BUF_ERROR && zs.avail_in == 0 && in_left == 0) break;  // input ended early
    if (rc != Z_OK && rc != Z_BUF_ERROR) break;
  }
  inflateEnd(&zs);
  if (rc != Z_STREAM_END) {
    throw std::runtime_error(rc == Z_BUF_ERROR || rc == Z_OK ? "zlib stream is truncated"
                                                             : "zlib stream is corrupt");
  }
  out.resize(produced);
  return out;
}

uint32_t Crc32(std::string_view bytes) {
  uLong crc = crc32(0L, Z_NULL, 0);
  const Bytef* p = reinterpret_cast<const Bytef*>(bytes.data());
  size_t left = bytes.size();
  while (left > 0) {
    uInt chunk = static_cast<uInt>(std::min<size_t>(left, 1u << 30));
    crc = crc32(crc, p, chunk);
    p += chunk;
    left -= chunk;
  }
  return static_cast<uint32_t>(crc);
}

}  // namespace vornhal
