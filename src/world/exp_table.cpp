// The experience table, computed once before the program starts, in x87 extended precision.
#include "world/exp_table.h"

#include "platform/log.h"

namespace vornhal {

namespace {

// The factors as 64-bit-mantissa values nearest their decimals; each product is rounded to
// 64 bits, so 1440 x 1.05 truncates to 1511, one below the decimal product.
constexpr long double kJobFactor[8] = {1.0L, 1.05L, 0.95L, 1.15L, 1.0L, 1.1L, 1.25L, 1.3L};

uint32_t LevelBase(uint32_t level) {
  uint32_t k = 6;
  if (level <= 50) {
    k = 1;
  } else if (level <= 70) {
    k = 2;
  } else if (level <= 79) {
    k = 3;
  } else if (level <= 85) {
    k = 4;
  } else if (level <= 89) {
    k = 5;
  }
  return 30u * level * (level + 1) * (k * level + 1);
}

std::array<std::array<uint32_t, 99>, 8> ComputeExpTable() {
  static_assert(sizeof(long double) > sizeof(double), "the table needs extended precision");
  std::array<std::array<uint32_t, 99>, 8> table{};
  for (uint32_t level = 2; level <= 100; ++level) {
    const uint32_t base = LevelBase(level);
    for (size_t row = 0; row < 8; ++row) {
      const long double product = static_cast<long double>(base) * kJobFactor[row];
      table[row][level - 2] = static_cast<uint32_t>(product);
    }
  }
  return table;
}

}  // namespace

const std::array<std::array<uint32_t, 99>, 8> ExpTable = ComputeExpTable();

void AnnounceExpTable() { Log("経験値テーブルを初期化しました"); }

}  // namespace vornhal
