#include "cli/rate_summary.h"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "core/timing.h"

namespace ferrotick::cli {

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

std::string SummaryTable(const std::vector<SummaryRow>& rows) {
  std::size_t nameWidth = 3;
  for (const SummaryRow& row : rows) {
    nameWidth = std::max(nameWidth, row.run.size());
  }
  const int width = static_cast<int>(nameWidth);
  std::string table =
      Format("%-*s %6s %12s %11s %10s %10s %7s\n", width, "run", "passes",
             "median MiB/s", "MB/s", "min MiB/s", "max MiB/s", "spread");
  for (const SummaryRow& row : rows) {
    const RateSummary& s = row.summary;
    if (s.passes == 0) {
      table += Format("%-*s %6d %12s %11s %10s %10s %7s\n", width,
                      row.run.c_str(), 0, "-", "-", "-", "-", "-");
      continue;
    }
    const std::string spread =
        s.spread ? Format("%.1f%%", *s.spread * 100) : std::string("-");
    // Decimal MB/s beside the median, as fio and other disk tools show it.
    table += Format("%-*s %6d %12.1f %11.1f %10.1f %10.1f %7s\n", width,
                    row.run.c_str(), s.passes, s.median, s.median * 1.048576,
                    s.min, s.max, spread.c_str());
  }
  return table;
}

}  // namespace ferrotick::cli
