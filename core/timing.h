// Clock, MB units, progress cadence and rates shared by the three runs.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace ferrotick {

// Monotonic wall-clock reading in nanoseconds.
using ClockValue = std::int64_t;
ClockValue ReadClock();
// Lets a test drive the clock; nullptr restores the monotonic clock.
using ClockSource = ClockValue (*)();
void SetClockForTest(ClockSource source);
double SecondsBetween(ClockValue start, ClockValue now);
double SecondsSince(ClockValue start);

// A pass that moved data in less time than the clock resolves is timed as
// this much, so its rate is a finite lower bound rather than inf or nan.
inline constexpr double kMinSeconds = 1e-6;

inline constexpr std::int64_t kBytesPerMB = 1048576;
// Decimal MB (1,000,000 bytes) in a MiB: MiB/s times this is MB/s.
inline constexpr double kDecimalMBPerMiB = 1.048576;
inline constexpr int kProgressEveryMB = 128;

// W: writes of Buffer Size KB that make one MB of a write-based run.
inline int WritesPerMB(int bufferKB) { return 1024 / bufferKB; }
// The write-based runs report after MB index i when this holds.
inline bool IsWriteProgressPoint(int i) {
  return i >= 1 && i % kProgressEveryMB == 0;
}
// The read run reports when its MB counter becomes a multiple of 128.
inline bool IsReadProgressPoint(int m) {
  return m >= 1 && m % kProgressEveryMB == 0;
}
// A file's length in whole MB, as Use Existing sets File Size; at most
// INT_MAX.
int LengthInMB(std::uint64_t bytes);
// MB per second; 0 MB is 0.0 whatever the time.
double Rate(double mb, double seconds);

// printf-style line building, always in the C locale: the lines are fixed
// texts that files and scripts parse, whatever the host's locale.
std::string Format(const char* format, ...)
    __attribute__((format(printf, 1, 2)));

}  // namespace ferrotick
