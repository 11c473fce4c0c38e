// Counters, gauges and histograms for the operator's monitoring, and their text in the
// Prometheus exposition format. Every counting call is cheap and thread-safe, so the network
// layer, the login server and the GM commands count with one line each.
#pragma once
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace vornhal::metrics {

// One packet handed to a session of the named server ("Multi", "Zone").
void CountPacketReceived(std::string_view server);
// Bytes the named server's connections have written to their sockets.
void CountBytesSent(std::string_view server, size_t bytes);
// One login answer on the Multi server, by result ("ok", "no_such_name", ...).
void CountLogin(std::string_view result);
// One GM command line run.
void CountGMCommand();
// Durations in seconds.
void ObserveTick(double seconds);
void ObserveSave(double seconds);
void ObserveSaveLock(double seconds);

// A histogram's state: counts per upper bound (not cumulative), then everything above.
struct THistogramData {
  std::vector<double> bounds;
  std::vector<uint64_t> counts;  // bounds.size() + 1 entries, the last one for +Inf
  double sum = 0;
  uint64_t count = 0;
};

struct TCounterData {
  std::map<std::string, uint64_t> packets_received;  // by server
  std::map<std::string, uint64_t> bytes_sent;        // by server
  std::map<std::string, uint64_t> logins;            // by result
  uint64_t gm_commands = 0;
  THistogramData tick;
  THistogramData save;
  THistogramData save_lock;
};
TCounterData ReadCounters();

// For tests: everything back to zero.
void ResetCounters();

// A writer of the text exposition format: each family is announced once with HELP and TYPE,
// label values are escaped, numbers are written so a strict parser reads them back exactly.
class TMetricsText {
 public:
  using TLabels = std::vector<std::pair<std::string, std::string>>;

  // Starts a family; type is "counter", "gauge" or "histogram".
  void Family(std::string_view name, std::string_view type, std::string_view help);
  void Sample(std::string_view name, const TLabels& labels, double value);
  void Sample(std::string_view name, double value) { Sample(name, {}, value); }
  // A whole histogram family: buckets with "le", then _sum and _count.
  void Histogram(std::string_view name, std::string_view help, const THistogramData& data);

  const std::string& Text() const { return text_; }

  static std::string Number(double value);
  static std::string EscapeLabel(std::string_view value);
  static std::string EscapeHelp(std::string_view value);

 private:
  std::string text_;
};

}  // namespace vornhal::metrics
