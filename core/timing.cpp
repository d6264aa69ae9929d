#include "core/timing.h"

#include <locale.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <ctime>

namespace ferrotick {

namespace {

ClockValue MonotonicClock() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<ClockValue>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

std::atomic<ClockSource> g_clock{MonotonicClock};

// Switches the calling thread to the C locale for its lifetime; a host that
// set a locale with a decimal comma (as a window toolkit does) keeps it.
class CLocaleScope {
 public:
  CLocaleScope() {
    static const locale_t c = newlocale(LC_ALL_MASK, "C", locale_t{});
    if (c) m_previous = uselocale(c);
  }
  ~CLocaleScope() {
    if (m_previous) uselocale(m_previous);
  }
  CLocaleScope(const CLocaleScope&) = delete;
  CLocaleScope& operator=(const CLocaleScope&) = delete;

 private:
  locale_t m_previous{};
};

}  // namespace

ClockValue ReadClock() { return g_clock.load(std::memory_order_relaxed)(); }

void SetClockForTest(ClockSource source) {
  g_clock.store(source ? source : MonotonicClock);
}

double SecondsBetween(ClockValue start, ClockValue now) {
  return static_cast<double>(now - start) * 1e-9;
}

double SecondsSince(ClockValue start) {
  return SecondsBetween(start, ReadClock());
}

double Rate(double mb, double seconds) {
  if (!(mb > 0)) return 0.0;
  if (!(seconds >= kMinSeconds)) seconds = kMinSeconds;
  return mb / seconds;
}

std::string Format(const char* format, ...) {
  const CLocaleScope locale;
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int size = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string text;
  if (size > 0) {
    text.resize(static_cast<std::size_t>(size));
    std::vsnprintf(text.data(), text.size() + 1, format, again);
  }
  va_end(again);
  return text;
}

std::string InitProgressLine(int i, double seconds, int fileSizeMB) {
  return Format("  Init... %.3f MBs [%d/%d]", Rate(i, seconds), i, fileSizeMB);
}

std::string InitDoneLine(int fileSizeMB, double seconds) {
  return Format("Init Done: %.3fMBs", Rate(fileSizeMB, seconds));
}

std::string WriteProgressLine(int i, double seconds, int fileSizeMB) {
  return Format("  Write... %.3f MBs [%d/%d]", Rate(i, seconds), i, fileSizeMB);
}

std::string WrotePassLine(int n, double seconds) {
  return Format("Wrote %dMB: %.3fMBs", n, Rate(n, seconds));
}

std::string ReadProgressLine(int m, double seconds) {
  return Format("  Reading: %.3f MBs", Rate(m, seconds));
}

std::string ReadPassLine(int m, double seconds) {
  return Format("Read %dMB: %.3f MBs", m, Rate(m, seconds));
}

}  // namespace ferrotick
