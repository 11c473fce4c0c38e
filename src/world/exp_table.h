// The experience table: ExpTable[job][level - 1] is the total experience at which a character
// of that job leaves `level`.
#pragma once
#include <cstdint>

namespace vornhal {

extern uint32_t ExpTable[8][99];
void InitExpTable();  // computes the table and logs its line

}  // namespace vornhal
