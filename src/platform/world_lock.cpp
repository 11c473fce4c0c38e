#include "platform/world_lock.h"

#include <mutex>

namespace vornhal {
namespace {
std::mutex& WorldMutex() {
  static std::mutex m;
  return m;
}
}  // namespace

void TVornhal::Enter() { WorldMutex().lock(); }
void TVornhal::Leave() { WorldMutex().unlock(); }

}  // namespace vornhal
