#include "net/backlog.h"

#include <algorithm>
#include <utility>

namespace vornhal {

TBacklogBound& TBacklogBound::Get() {
  static TBacklogBound bound;
  return bound;
}

void TBacklogBound::Register(TBacklogHolder* holder) {
  std::lock_guard<std::mutex> lock(mutex_);
  holders_.push_back(holder);
}

void TBacklogBound::Unregister(TBacklogHolder* holder) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = std::find(holders_.begin(), holders_.end(), holder);
  if (it == holders_.end()) return;
  *it = holders_.back();
  holders_.pop_back();
}

int TBacklogBound::Enforce(uint64_t limit) {
  if (limit == 0 || Total() <= limit) return 0;
  std::lock_guard<std::mutex> lock(mutex_);
  // Connections already closing still count until their queues are dropped: only what the open
  // ones hold can be won back by closing.
  uint64_t total = Total();
  if (total <= limit) return 0;
  std::vector<std::pair<size_t, TBacklogHolder*>> open;
  uint64_t closing = 0;
  for (TBacklogHolder* h : holders_) {
    size_t backlog = h->Backlog();
    if (h->Open()) {
      if (backlog > 0) open.emplace_back(backlog, h);
    } else {
      closing += backlog;
    }
  }
  uint64_t excess = total - limit;
  if (closing >= excess) return 0;  // what is already being closed brings it back
  excess -= closing;
  std::sort(open.begin(), open.end(),
            [](const auto& a, const auto& b) { return a.first > b.first; });
  int closed = 0;
  for (auto& [backlog, h] : open) {
    h->CloseForBacklog(limit);
    ++closed;
    if (backlog >= excess) break;
    excess -= backlog;
  }
  return closed;
}

}  // namespace vornhal
