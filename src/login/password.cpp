#include "login/password.h"

#include <sodium.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "login/multi.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "platform/settings.h"

namespace vornhal {

namespace {

void InitSodium() {
  static const bool ready = sodium_init() >= 0;
  if (!ready) throw std::runtime_error("libsodium could not be initialised");
}

unsigned long long Passes() { return static_cast<unsigned long long>(PasswordHashPasses); }
size_t MemoryBytes() { return static_cast<size_t>(PasswordHashMemoryKiB) * 1024; }

class TPasswordWorkers {
 public:
  static TPasswordWorkers& Get() {
    static TPasswordWorkers workers;
    return workers;
  }
  ~TPasswordWorkers() { Stop(); }

  void Start() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!threads_.empty()) return;
    stop_ = false;
    // Hashing is meant to be slow: leave a core to the world's tick where there are few.
    unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    unsigned count = std::clamp(cores / 2, 1u, 4u);
    for (unsigned i = 0; i < count; ++i) threads_.emplace_back([this] { Loop(); });
  }

  void Stop() {
    std::vector<std::thread> threads;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
      threads.swap(threads_);
    }
    cv_.notify_all();
    for (std::thread& t : threads) t.join();
  }

  void Run(std::function<void()> job) {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      if (!threads_.empty() && !stop_) {
        ++pending_;
        jobs_.push_back(std::move(job));
        lock.unlock();
        cv_.notify_one();
        return;
      }
    }
    job();
    ++done_;
  }

  int Pending() const { return pending_.load(); }
  uint64_t Done() const { return done_.load(); }

 private:
  void Loop() {
    // A niceness above the process's keeps the tick thread first in line for a core.
    int tid = static_cast<int>(::syscall(SYS_gettid));
    errno = 0;
    int nice = ::getpriority(PRIO_PROCESS, static_cast<id_t>(tid));
    if (errno == 0) ::setpriority(PRIO_PROCESS, static_cast<id_t>(tid), std::min(nice + 5, 19));
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      cv_.wait(lock, [this] { return stop_ || !jobs_.empty(); });
      if (jobs_.empty()) return;  // stopping, and nothing left to do
      std::function<void()> job = std::move(jobs_.front());
      jobs_.pop_front();
      lock.unlock();
      try {
        job();
      } catch (const std::exception& e) {
        LogFmt("パスワード処理でエラーが発生しました: %s", e.what());
      }
      ++done_;
      --pending_;
      lock.lock();
    }
  }

  std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<std::function<void()>> jobs_;
  std::vector<std::thread> threads_;
  bool stop_ = false;
  std::atomic<int> pending_{0};
  std::atomic<uint64_t> done_{0};
};

}  // namespace

bool IsArgon2idString(std::string_view stored) { return stored.rfind("$argon2id$", 0) == 0; }

std::string HashPassword(std::string_view password) {
  if (PasswordHash == "sha1") return PasswordDigest(password);
  InitSodium();
  char out[crypto_pwhash_STRBYTES];
  if (crypto_pwhash_str_alg(out, password.data(), password.size(), Passes(), MemoryBytes(),
                            crypto_pwhash_ALG_ARGON2ID13) != 0) {
    return {};
  }
  return std::string(out);
}

bool VerifyPassword(std::string_view password, const std::string& stored) {
  if (stored.rfind("$argon2", 0) == 0) {
    InitSodium();
    return crypto_pwhash_str_verify(stored.c_str(), password.data(), password.size()) == 0;
  }
  return SameDigest(PasswordDigest(password), stored);
}

bool PasswordNeedsRehash(const std::string& stored) {
  if (PasswordHash == "sha1") return false;  // never downgrade; digests stay digests
  if (!IsArgon2idString(stored)) return true;
  InitSodium();
  return crypto_pwhash_str_needs_rehash(stored.c_str(), Passes(), MemoryBytes()) != 0;
}

void StartPasswordWorkers() { TPasswordWorkers::Get().Start(); }
void StopPasswordWorkers() { TPasswordWorkers::Get().Stop(); }
void RunPasswordJob(std::function<void()> job) { TPasswordWorkers::Get().Run(std::move(job)); }
int PendingPasswordJobs() { return TPasswordWorkers::Get().Pending(); }

void TPasswordBurstMonitor::OnTick(uint32_t tick) {
  // A tick is late by the time its start lies past the end of the previous tick's period.
  uint32_t late = 0;
  if (FHaveLast && Elapsed(FLastTick, tick) > 30) late = Elapsed(FLastTick, tick) - 30;
  FLastTick = tick;
  FHaveLast = true;
  const uint32_t second = tick / 1000;
  TSecond& slot = FSeconds[second % 16];
  if (slot.second != second) slot = TSecond{second, 0};
  slot.max_late = std::max(slot.max_late, late);
  TPasswordWorkers& workers = TPasswordWorkers::Get();
  const int pending = workers.Pending();
  if (!FActive) {
    if (pending == 0) return;
    FActive = true;
    FStart = tick;
    FDoneAtStart = workers.Done();
    FMaxLate = late;
    FBaseline = 0;
    for (const TSecond& s : FSeconds) {
      if (s.second < second && second - s.second <= kBaselineSeconds) FBaseline = std::max(FBaseline, s.max_late);
    }
    return;
  }
  FMaxLate = std::max(FMaxLate, late);
  if (pending > 0) return;
  FActive = false;
  uint64_t jobs = workers.Done() - FDoneAtStart;
  if (jobs < static_cast<uint64_t>(kBurstReportJobs)) return;
  uint32_t ms = std::max<uint32_t>(1, Elapsed(FStart, tick));
  LogFmt("パスワード処理: %d 件 %u ms (毎秒 %d 件, %s), ティックの遅れ 最大 %u ms (直前 %u 秒は最大 %u ms)",
         static_cast<int>(jobs), ms, static_cast<int>(jobs * 1000 / ms), PasswordHash, FMaxLate,
         kBaselineSeconds, FBaseline);
}

}  // namespace vornhal
