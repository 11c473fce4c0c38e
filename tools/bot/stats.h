// Latency percentiles over every sample of a run (a sorted vector, nearest-rank method).
#pragma once
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

namespace vornhal::bot {

struct Percentiles {
  size_t count = 0;
  double p50 = 0, p99 = 0, p999 = 0, max = 0;
};

// The value at rank ceil(q * n) of the sorted samples (1-based), so p99 of 100 samples is the
// 99th smallest and a single slow sample among 1,000 shows in p99.9. Sorts the samples.
inline double NearestRank(const std::vector<double>& sorted, double q) {
  if (sorted.empty()) return 0;
  double r = std::ceil(q * static_cast<double>(sorted.size()));
  size_t rank = r < 1 ? 1 : static_cast<size_t>(r);
  if (rank > sorted.size()) rank = sorted.size();
  return sorted[rank - 1];
}

inline Percentiles ComputePercentiles(std::vector<double>& samples) {
  Percentiles p;
  p.count = samples.size();
  if (samples.empty()) return p;
  std::sort(samples.begin(), samples.end());
  p.p50 = NearestRank(samples, 0.50);
  p.p99 = NearestRank(samples, 0.99);
  p.p999 = NearestRank(samples, 0.999);
  p.max = samples.back();
  return p;
}

}  // namespace vornhal::bot
