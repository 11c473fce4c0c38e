#include "admin/metrics.h"

#include <array>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace vornhal::metrics {

namespace {

// The two servers every process has are counted without a lock; other names (tests) go to
// a map under a mutex.
struct TServerCounter {
  std::array<std::atomic<uint64_t>, 2> known{};
  std::mutex mutex;
  std::map<std::string, uint64_t> other;

  void Add(std::string_view server, uint64_t n) {
    if (server == "Multi") {
      known[0].fetch_add(n, std::memory_order_relaxed);
    } else if (server == "Zone") {
      known[1].fetch_add(n, std::memory_order_relaxed);
    } else {
      std::lock_guard<std::mutex> lock(mutex);
      other[std::string(server)] += n;
    }
  }
  std::map<std::string, uint64_t> Read() {
    std::map<std::string, uint64_t> out;
    {
      std::lock_guard<std::mutex> lock(mutex);
      out = other;
    }
    out["Multi"] = known[0].load(std::memory_order_relaxed);
    out["Zone"] = known[1].load(std::memory_order_relaxed);
    return out;
  }
  void Reset() {
    for (auto& k : known) k = 0;
    std::lock_guard<std::mutex> lock(mutex);
    other.clear();
  }
};

class THistogram {
 public:
  explicit THistogram(std::vector<double> bounds) { Clear(std::move(bounds)); }
  void Observe(double v) {
    if (!std::isfinite(v) || v < 0) v = 0;
    std::lock_guard<std::mutex> lock(mutex_);
    size_t i = 0;
    while (i < data_.bounds.size() && v > data_.bounds[i]) ++i;
    ++data_.counts[i];
    data_.sum += v;
    ++data_.count;
  }
  THistogramData Read() {
    std::lock_guard<std::mutex> lock(mutex_);
    return data_;
  }
  void Reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    Clear(data_.bounds);
  }

 private:
  void Clear(std::vector<double> bounds) {
    data_ = THistogramData{};
    data_.counts.assign(bounds.size() + 1, 0);
    data_.bounds = std::move(bounds);
  }
  std::mutex mutex_;
  THistogramData data_;
};

// Ticks are meant to take well under their 30 ms period; saves take from a millisecond to
// seconds with many characters.
const std::vector<double> kTickBounds = {0.001, 0.002, 0.005, 0.01, 0.02, 0.03, 0.05, 0.1, 0.25, 0.5, 1};
const std::vector<double> kSaveBounds = {0.001, 0.005, 0.01, 0.05, 0.1, 0.25, 0.5, 1, 2.5, 5, 10, 30};

struct TRegistry {
  TServerCounter packets_received;
  TServerCounter bytes_sent;
  std::mutex logins_mutex;
  std::map<std::string, uint64_t> logins;
  std::atomic<uint64_t> gm_commands{0};
  THistogram tick{kTickBounds};
  THistogram save{kSaveBounds};
  THistogram save_lock{kTickBounds};
};

TRegistry& Registry() {
  static TRegistry* registry = new TRegistry();  // never destroyed: counted into until exit
  return *registry;
}

}  // namespace

void CountPacketReceived(std::string_view server) { Registry().packets_received.Add(server, 1); }
void CountBytesSent(std::string_view server, size_t bytes) { Registry().bytes_sent.Add(server, bytes); }
void CountLogin(std::string_view result) {
  TRegistry& r = Registry();
  std::lock_guard<std::mutex> lock(r.logins_mutex);
  ++r.logins[std::string(result)];
}
void CountGMCommand() { Registry().gm_commands.fetch_add(1, std::memory_order_relaxed); }
void ObserveTick(double seconds) { Registry().tick.Observe(seconds); }
void ObserveSave(double seconds) { Registry().save.Observe(seconds); }
void ObserveSaveLock(double seconds) { Registry().save_lock.Observe(seconds); }

TCounterData ReadCounters() {
  TRegistry& r = Registry();
  TCounterData d;
  d.packets_received = r.packets_received.Read();
  d.bytes_sent = r.bytes_sent.Read();
  {
    std::lock_guard<std::mutex> lock(r.logins_mutex);
    d.logins = r.logins;
  }
  d.gm_commands = r.gm_commands.load(std::memory_order_relaxed);
  d.tick = r.tick.Read();
  d.save = r.save.Read();
  d.save_lock = r.save_lock.Read();
  return d;
}

void ResetCounters() {
  TRegistry& r = Registry();
  r.packets_received.Reset();
  r.bytes_sent.Reset();
  {
    std::lock_guard<std::mutex> lock(r.logins_mutex);
    r.logins.clear();
  }
  r.gm_commands = 0;
  r.tick.Reset();
  r.save.Reset();
  r.save_lock.Reset();
}

std::string TMetricsText::Number(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "+Inf" : "-Inf";
  if (value == std::floor(value) && std::fabs(value) < 1e15) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.0f", value);
    return buf;
  }
  // The shortest of 15 or 17 significant digits that reads back as the same number.
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.15g", value);
  if (std::strtod(buf, nullptr) != value) std::snprintf(buf, sizeof buf, "%.17g", value);
  return buf;
}

std::string TMetricsText::EscapeLabel(std::string_view value) {
  std::string out;
  for (char c : value) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '"') {
      out += "\\\"";
    } else if (c == '\n') {
      out += "\\n";
    } else {
      out += c;
    }
  }
  return out;
}

std::string TMetricsText::EscapeHelp(std::string_view value) {
  std::string out;
  for (char c : value) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\n') {
      out += "\\n";
    } else {
      out += c;
    }
  }
  return out;
}

void TMetricsText::Family(std::string_view name, std::string_view type, std::string_view help) {
  text_ += "# HELP ";
  text_ += name;
  text_ += ' ';
  text_ += EscapeHelp(help);
  text_ += "\n# TYPE ";
  text_ += name;
  text_ += ' ';
  text_ += type;
  text_ += '\n';
}

void TMetricsText::Sample(std::string_view name, const TLabels& labels, double value) {
  text_ += name;
  if (!labels.empty()) {
    text_ += '{';
    for (size_t i = 0; i < labels.size(); ++i) {
      if (i > 0) text_ += ',';
      text_ += labels[i].first;
      text_ += "=\"";
      text_ += EscapeLabel(labels[i].second);
      text_ += '"';
    }
    text_ += '}';
  }
  text_ += ' ';
  text_ += Number(value);
  text_ += '\n';
}

void TMetricsText::Histogram(std::string_view name, std::string_view help,
                             const THistogramData& data) {
  Family(name, "histogram", help);
  const std::string bucket = std::string(name) + "_bucket";
  uint64_t cumulative = 0;
  for (size_t i = 0; i < data.bounds.size(); ++i) {
    cumulative += data.counts[i];
    Sample(bucket, {{"le", Number(data.bounds[i])}}, static_cast<double>(cumulative));
  }
  Sample(bucket, {{"le", "+Inf"}}, static_cast<double>(data.count));
  Sample(std::string(name) + "_sum", data.sum);
  Sample(std::string(name) + "_count", static_cast<double>(data.count));
}

}  // namespace vornhal::metrics
