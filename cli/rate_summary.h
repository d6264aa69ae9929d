// The figures a measurement reports for each run: how many passes, their
// median, fastest and slowest rates, and how far they spread.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace ferrotick::cli {

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

// One row of the summary table for each named run, columns aligned.
struct SummaryRow {
  std::string run;
  RateSummary summary;
};
std::string SummaryTable(const std::vector<SummaryRow>& rows);

}  // namespace ferrotick::cli
