// The input format of the packet-handler targets: a sequence of records, each
//   u8 selector (the low bits pick the session, the whole byte is the seed), u8 packet id,
//   u8 payload length n, n payload bytes (in clear; scrambled here as a client would).
// A record cut short by the end of the input delivers what it has.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "fuzz_support.h"

namespace vornhal::fuzz {

inline void ForEachRecord(const uint8_t* data, size_t size,
                          const std::function<void(uint8_t selector, const std::vector<uint8_t>& body)>& fn) {
  size_t i = 0;
  while (i + 2 <= size) {
    uint8_t selector = data[i];
    uint8_t id = data[i + 1];
    size_t n = i + 2 < size ? data[i + 2] : 0;
    size_t start = i + 3;
    if (start > size) start = size;
    if (start + n > size) n = size - start;
    fn(selector, ClientBody(id, data + start, n, selector));
    i = start + n;
  }
}

}  // namespace vornhal::fuzz
