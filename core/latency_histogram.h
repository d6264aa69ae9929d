// Latencies of single transfers, kept as counts in buckets rather than
// every sample: adding one is a few instructions and no allocation, so the
// loop that times the transfers stays as fast as one that does not. Each
// power of two is split into 64 buckets, so a percentile is within 1/64
// (1.6%) of the exact one, as fio's are.
#pragma once

#include <array>
#include <cstdint>

namespace ferrotick {

class LatencyHistogram {
 public:
  void Add(std::uint64_t ns) {
    ++m_counts[Bucket(ns)];
    ++m_count;
    m_sumNs += ns;
  }
  void Clear();

  std::uint64_t Count() const { return m_count; }
  double MeanNs() const;
  // The latency that `share` (0 to 1) of the transfers did not exceed: the
  // middle of the bucket where that rank falls. 0 when empty.
  double PercentileNs(double share) const;

  static constexpr int kSubBits = 6;
  static constexpr int kSub = 1 << kSubBits;
  // 64 exact buckets below 64 ns, then 64 per power of two up to 2^64.
  static constexpr int kBuckets = kSub * (64 - kSubBits + 1);

  static int Bucket(std::uint64_t ns) {
    if (ns < kSub) return static_cast<int>(ns);
    const int msb = 63 - __builtin_clzll(ns);
    const int shift = msb - kSubBits;
    return (shift + 1) * kSub + static_cast<int>((ns >> shift) & (kSub - 1));
  }
  // The lowest latency a bucket holds, and how many nanoseconds it spans.
  static std::uint64_t BucketStart(int bucket);
  static std::uint64_t BucketWidth(int bucket);

 private:
  std::array<std::uint64_t, kBuckets> m_counts{};
  std::uint64_t m_count = 0;
  std::uint64_t m_sumNs = 0;
};

}  // namespace ferrotick
