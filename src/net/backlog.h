// The bytes queued for sending across all connections, with a bound: past it, the connections
// holding the largest backlogs are closed first, until what they hold brings the total back
// under the bound. One stalled crowd can then never take the server's memory.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace vornhal {

// A connection as the backlog bound sees it.
class TBacklogHolder {
 public:
  virtual ~TBacklogHolder() = default;
  // Bytes queued and not yet sent.
  virtual size_t Backlog() = 0;
  // False once closing; such a holder is not chosen again.
  virtual bool Open() const = 0;
  // Closes at once, dropping the queue, with a log line naming the limit.
  virtual void CloseForBacklog(uint64_t limit) = 0;
};

class TBacklogBound {
 public:
  static TBacklogBound& Get();

  void Register(TBacklogHolder* holder);
  void Unregister(TBacklogHolder* holder);

  // Queued bytes came and went; both are cheap and may be called under a holder's own lock.
  void Add(size_t bytes) { total_.fetch_add(bytes, std::memory_order_relaxed); }
  void Sub(size_t bytes) { total_.fetch_sub(bytes, std::memory_order_relaxed); }
  uint64_t Total() const { return total_.load(std::memory_order_relaxed); }

  // Closes the largest backlogs while the total exceeds limit (0: no bound). Call without any
  // holder's lock. Returns how many were closed.
  int Enforce(uint64_t limit);

 private:
  std::atomic<uint64_t> total_{0};
  std::mutex mutex_;
  std::vector<TBacklogHolder*> holders_;
};

}  // namespace vornhal
