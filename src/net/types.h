// Value records shared by the wire format and the world model.
#pragma once
#include <cstdint>

namespace vornhal {

struct TMapPoint {
  uint16_t X = 0;
  uint16_t Y = 0;
  bool operator==(const TMapPoint&) const = default;
};

struct TAsColor {
  uint8_t R = 0;
  uint8_t G = 0;
  uint8_t B = 0;
  bool operator==(const TAsColor&) const = default;
  // From a 0xRRGGBB value; bits 24-31 are ignored.
  static TAsColor CreateFromValue(uint32_t value) {
    return TAsColor{static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 8),
                    static_cast<uint8_t>(value)};
  }
  uint32_t ToValue() const { return (uint32_t{R} << 16) | (uint32_t{G} << 8) | B; }
};

}  // namespace vornhal
