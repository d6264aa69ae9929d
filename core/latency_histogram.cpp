#include "core/latency_histogram.h"

#include <cmath>

namespace ferrotick {

void LatencyHistogram::Clear() {
  m_counts.fill(0);
  m_count = 0;
  m_sumNs = 0;
}

double LatencyHistogram::MeanNs() const {
  return m_count ? static_cast<double>(m_sumNs) / static_cast<double>(m_count)
                 : 0;
}

std::uint64_t LatencyHistogram::BucketStart(int bucket) {
  if (bucket < kSub) return static_cast<std::uint64_t>(bucket);
  const int shift = bucket / kSub - 1;
  return static_cast<std::uint64_t>(kSub + bucket % kSub) << shift;
}

std::uint64_t LatencyHistogram::BucketWidth(int bucket) {
  return bucket < kSub ? 1 : std::uint64_t{1} << (bucket / kSub - 1);
}

double LatencyHistogram::PercentileNs(double share) const {
  if (m_count == 0) return 0;
  // The rank of the sample asked for, from 1, as a sorted list gives it.
  const double exact = std::ceil(share * static_cast<double>(m_count));
  const std::uint64_t rank = exact < 1 ? 1 : static_cast<std::uint64_t>(exact);
  std::uint64_t seen = 0;
  for (int bucket = 0; bucket < kBuckets; ++bucket) {
    seen += m_counts[bucket];
    if (seen >= rank) {
      return static_cast<double>(BucketStart(bucket)) +
             static_cast<double>(BucketWidth(bucket) - 1) / 2;
    }
  }
  return 0;
}

}  // namespace ferrotick
