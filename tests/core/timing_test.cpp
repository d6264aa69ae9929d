#include "core/timing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <thread>

#include "core/log_lines.h"
#include "core/settings.h"
#include "tests/support/fake_view.h"
#include "tests/support/german_locale.h"

namespace ferrotick {
namespace {

TEST(Timing, ClockIsMonotonicWallTimeInSecondsFinerThanAMillisecond) {
  // CPU time would not advance while this thread sleeps; a wrong unit would
  // be off by a factor of a thousand or more from the standard clock.
  const auto steadyStart = std::chrono::steady_clock::now();
  const ClockValue start = ReadClock();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  const double slept = SecondsSince(start);
  const std::chrono::duration<double> steady =
      std::chrono::steady_clock::now() - steadyStart;
  EXPECT_GE(slept, 0.049);
  EXPECT_LE(slept, steady.count() * 1.01);
  // Two readings a few microseconds apart must differ: a millisecond
  // clock would usually show no time at all. The smallest step of several
  // tries, since a busy machine may pause this thread between two readings.
  double step = 1.0;
  for (int attempt = 0; attempt < 20; ++attempt) {
    const ClockValue a = ReadClock();
    ClockValue b = a;
    for (int i = 0; i < 1000 && b == a; ++i) b = ReadClock();
    ASSERT_GT(b, a);
    step = std::min(step, SecondsBetween(a, b));
  }
  EXPECT_LT(step, 0.001);
}

TEST(Timing, WritesPerMBTruncates) {
  EXPECT_EQ(WritesPerMB(1), 1024);
  EXPECT_EQ(WritesPerMB(3), 341);
  EXPECT_EQ(WritesPerMB(128), 8);
  EXPECT_EQ(WritesPerMB(1000), 1);
  EXPECT_EQ(WritesPerMB(1024), 1);
}

TEST(Timing, ProgressPointsEvery128MB) {
  EXPECT_FALSE(IsWriteProgressPoint(0));
  EXPECT_FALSE(IsWriteProgressPoint(127));
  EXPECT_TRUE(IsWriteProgressPoint(128));
  EXPECT_FALSE(IsWriteProgressPoint(129));
  EXPECT_TRUE(IsWriteProgressPoint(384));
  EXPECT_FALSE(IsReadProgressPoint(0));
  EXPECT_TRUE(IsReadProgressPoint(256));
}

TEST(Timing, RatesNeverPrintNan) {
  EXPECT_EQ(WrotePassLine(0, 0.0), "Wrote 0MB: 0.000MBs");
  EXPECT_EQ(ReadPassLine(0, 0.0), "Read 0MB: 0.000 MBs");
  EXPECT_EQ(InitDoneLine(0, 0.0), "Init Done: 0.000MBs");
  EXPECT_EQ(InitDoneLine(0, -0.0), "Init Done: 0.000MBs");
  // More than 0 MB in no measurable time is timed as one microsecond.
  EXPECT_EQ(WrotePassLine(1, 0.0), "Wrote 1MB: 1000000.000MBs");
  EXPECT_EQ(ReadPassLine(2, std::nan("")), "Read 2MB: 2000000.000 MBs");
  for (double seconds : {0.0, -1.0, 1e-12, std::nan("")}) {
    EXPECT_TRUE(std::isfinite(Rate(5, seconds)));
  }
}

void ExpectLineFormatsByteForByte() {
  EXPECT_EQ(InitProgressLine(128, 2.0, 129), "  Init... 64.000 MBs [128/129]");
  EXPECT_EQ(InitDoneLine(32, 0.5), "Init Done: 64.000MBs");
  EXPECT_EQ(WriteProgressLine(256, 4.0, 300),
            "  Write... 64.000 MBs [256/300]");
  EXPECT_EQ(WrotePassLine(32, 0.25), "Wrote 32MB: 128.000MBs");
  EXPECT_EQ(ReadProgressLine(128, 0.5), "  Reading: 256.000 MBs");
  EXPECT_EQ(ReadPassLine(3, 1.5), "Read 3MB: 2.000 MBs");
  EXPECT_EQ(ReadPassLine(2, 3.0), "Read 2MB: 0.667 MBs");  // rounded
}

TEST(Timing, LineFormatsByteForByte) { ExpectLineFormatsByteForByte(); }

TEST(Timing, LinesKeepTheirDotUnderAGermanLocale) {
  testing::TempDir dir;
  const std::string why = testing::PrepareGermanLocale(dir.path());
  if (!why.empty()) GTEST_SKIP() << why;
  // As a window toolkit does at its start.
  ASSERT_NE(std::setlocale(LC_ALL, testing::kGermanLocale), nullptr);
  char host[16];
  std::snprintf(host, sizeof host, "%.3f", 1.5);
  ExpectLineFormatsByteForByte();
  // The host's own formatting is left as it was.
  char after[16];
  std::snprintf(after, sizeof after, "%.3f", 1.5);
  std::setlocale(LC_ALL, "C");
  EXPECT_STREQ(host, "1,500");
  EXPECT_STREQ(after, "1,500");
}

TEST(Settings, ParseIntegerAcceptsDigitsBlanksAndOneSign) {
  EXPECT_EQ(ParseInteger("32"), 32);
  EXPECT_EQ(ParseInteger("  128\t"), 128);
  EXPECT_EQ(ParseInteger("+7"), 7);
  EXPECT_EQ(ParseInteger("-7"), -7);
  EXPECT_EQ(ParseInteger("007"), 7);
  EXPECT_EQ(ParseInteger("-9223372036854775808"), INT64_MIN);
  EXPECT_EQ(ParseInteger("9223372036854775807"), INT64_MAX);
  for (const char* bad : {"", " ", "+", "-", "1 2", "12a", "0x10", "1.0", "--1",
                          "+-1", "9223372036854775808", "-9223372036854775809",
                          "99999999999999999999999", "\xef\xbc\x91"}) {
    EXPECT_FALSE(ParseInteger(bad).has_value()) << '"' << bad << '"';
  }
}

TEST(Settings, FileSizeIsCheckedBeforeBufferSize) {
  SettingsReading r = ReadSettings("0", "");
  EXPECT_EQ(r.failed, SettingField::kFileSize);
  EXPECT_EQ(r.message, "Please enter an integer between 1 and 8192.");
  r = ReadSettings("32", "");
  EXPECT_EQ(r.failed, SettingField::kBufferSize);
  EXPECT_EQ(r.message, "Please enter an integer.");
  r = ReadSettings("abc", "0");
  EXPECT_EQ(r.failed, SettingField::kFileSize);
  EXPECT_EQ(r.message, "Please enter an integer.");
  r = ReadSettings("8192", "1025");
  EXPECT_EQ(r.failed, SettingField::kBufferSize);
  EXPECT_EQ(r.message, "Please enter an integer between 1 and 1024.");
  r = ReadSettings("4294967297", "1");  // would wrap to 1 in 32 bits
  EXPECT_EQ(r.failed, SettingField::kFileSize);
}

TEST(Settings, GoodReadingStoresBothValues) {
  SettingsReading r = ReadSettings(" 8192 ", "+1");
  EXPECT_EQ(r.failed, SettingField::kNone);
  EXPECT_EQ(r.fileSizeMB, 8192);
  EXPECT_EQ(r.bufferKB, 1);
  r = ReadSettings("1", "1024");
  EXPECT_EQ(r.failed, SettingField::kNone);
  EXPECT_EQ(r.bufferKB, 1024);
}

}  // namespace
}  // namespace ferrotick

#include "tests/support/fake_view.h"

namespace ferrotick {
namespace {

// The tests lean on this matcher; it must reject what it should.
TEST(TestHarness, MatchesFormatOnlyMatchesWholeLines) {
  using testing::MatchesFormat;
  EXPECT_TRUE(MatchesFormat("Wrote 32MB: 12.345MBs", "Wrote %dMB: %.3fMBs"));
  EXPECT_FALSE(MatchesFormat("Wrote 32MB: 12.34MBs", "Wrote %dMB: %.3fMBs"));
  EXPECT_FALSE(MatchesFormat("Wrote MB: 1.000MBs", "Wrote %dMB: %.3fMBs"));
  EXPECT_FALSE(MatchesFormat("Wrote 1MB: 1.000MBs!", "Wrote %dMB: %.3fMBs"));
  EXPECT_TRUE(MatchesFormat("/a b/c Closed.", "%s Closed."));
  EXPECT_TRUE(MatchesFormat(" Closed.", "%s Closed."));
  EXPECT_FALSE(MatchesFormat("/a Closed", "%s Closed."));
  EXPECT_TRUE(MatchesFormat("  Init... 1.500 MBs [128/-1]",
                            "  Init... %.3f MBs [%d/%d]"));
}

}  // namespace
}  // namespace ferrotick
