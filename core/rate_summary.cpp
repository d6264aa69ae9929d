#include "core/rate_summary.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace ferrotick {

RateSummary Summarize(std::vector<double> rates) {
  RateSummary summary;
  summary.passes = static_cast<int>(rates.size());
  if (rates.empty()) return summary;
  std::sort(rates.begin(), rates.end());
  const std::size_t n = rates.size();
  summary.min = rates.front();
  summary.max = rates.back();
  summary.median = n % 2 ? rates[n / 2] : (rates[n / 2 - 1] + rates[n / 2]) / 2;
  const double mean = std::accumulate(rates.begin(), rates.end(), 0.0) / n;
  if (n >= 2 && mean > 0) {
    double squares = 0;
    for (double rate : rates) squares += (rate - mean) * (rate - mean);
    summary.spread = std::sqrt(squares / static_cast<double>(n - 1)) / mean;
  }
  return summary;
}

}  // namespace ferrotick
