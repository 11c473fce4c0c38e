// Open connections per client address and in total, across both listening servers, and the
// decision whether one more may stay.
#pragma once
#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <unordered_map>

namespace vornhal {

class TAdmission {
 public:
  using Clock = std::chrono::steady_clock;
  enum class Verdict { kAdmitted, kTooManyFromAddress, kTooManyInTotal };

  static TAdmission& Get();

  // Counts the connection in when it fits under both caps (0: no cap). A trusted address is
  // under no per-address cap, but counts towards the total.
  Verdict Admit(const std::string& address, bool trusted, int per_address_cap, int total_cap);
  // The counted connection from address has ended.
  void Release(const std::string& address);

  // True at most once a minute per address: whether a refusal should be logged now.
  bool ShouldLogRefusal(const std::string& address, Clock::time_point now = Clock::now());

  int Total() const;
  int FromAddress(const std::string& address) const;

 private:
  mutable std::mutex mutex_;
  std::unordered_map<std::string, int> per_address_;
  int total_ = 0;
  std::map<std::string, Clock::time_point> last_logged_;
};

}  // namespace vornhal
