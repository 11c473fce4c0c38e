// The experience table: ExpTable[job][level - 1] is the total experience at which a character
// of that job leaves `level`. It is a constant, computed before the program starts.
#pragma once
#include <array>
#include <cstdint>

namespace vornhal {

extern const std::array<std::array<uint32_t, 99>, 8> ExpTable;
// Logs the start-up line that tells the operator the table is ready.
void AnnounceExpTable();

}  // namespace vornhal
