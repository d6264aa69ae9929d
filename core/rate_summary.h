// The figures a measurement reports for a set of rates: how many, their
// median, slowest and fastest, and how far they spread.
#pragma once

#include <optional>
#include <vector>

namespace ferrotick {

struct RateSummary {
  int passes = 0;
  double median = 0;
  double min = 0;
  double max = 0;
  // Coefficient of variation: sample standard deviation over the mean.
  // Unknown for fewer than two passes, or when the mean is 0.
  std::optional<double> spread;
};

RateSummary Summarize(std::vector<double> rates);

}  // namespace ferrotick
