#include "net/admission.h"

namespace vornhal {

namespace {
constexpr auto kRefusalLogInterval = std::chrono::minutes(1);
}  // namespace

TAdmission& TAdmission::Get() {
  static TAdmission admission;
  return admission;
}

TAdmission::Verdict TAdmission::Admit(const std::string& address, bool trusted,
                                      int per_address_cap, int total_cap) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (total_cap > 0 && total_ >= total_cap) return Verdict::kTooManyInTotal;
  if (!trusted && per_address_cap > 0) {
    auto it = per_address_.find(address);
    if (it != per_address_.end() && it->second >= per_address_cap) {
      return Verdict::kTooManyFromAddress;
    }
  }
  ++per_address_[address];
  ++total_;
  return Verdict::kAdmitted;
}

void TAdmission::Release(const std::string& address) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = per_address_.find(address);
  if (it == per_address_.end()) return;
  if (--it->second <= 0) per_address_.erase(it);
  --total_;
}

bool TAdmission::ShouldLogRefusal(const std::string& address, Clock::time_point now) {
  std::lock_guard<std::mutex> lock(mutex_);
  // Entries older than the interval say nothing any more; dropping them keeps the map as small
  // as the set of addresses refused within the last minute.
  for (auto it = last_logged_.begin(); it != last_logged_.end();) {
    if (now - it->second >= kRefusalLogInterval) {
      it = last_logged_.erase(it);
    } else {
      ++it;
    }
  }
  auto [it, inserted] = last_logged_.emplace(address, now);
  return inserted;
}

int TAdmission::Total() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return total_;
}

int TAdmission::FromAddress(const std::string& address) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = per_address_.find(address);
  return it == per_address_.end() ? 0 : it->second;
}

}  // namespace vornhal
