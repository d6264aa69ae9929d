#include "core/timing.h"

#include <locale.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <limits>

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

int LengthInMB(std::uint64_t bytes) {
  const std::uint64_t mb = bytes / static_cast<std::uint64_t>(kBytesPerMB);
  constexpr auto kMax =
      static_cast<std::uint64_t>(std::numeric_limits<int>::max());
  return static_cast<int>(mb > kMax ? kMax : mb);
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
  // One pass for the lines the runs make; a longer text takes two.
  char small[256];
  const int size = std::vsnprintf(small, sizeof small, format, args);
  va_end(args);
  std::string text;
  if (size > 0 && static_cast<std::size_t>(size) < sizeof small) {
    text.assign(small, static_cast<std::size_t>(size));
  } else if (size > 0) {
    text.resize(static_cast<std::size_t>(size));
    std::vsnprintf(text.data(), text.size() + 1, format, again);
  }
  va_end(again);
  return text;
}

}  // namespace ferrotick
