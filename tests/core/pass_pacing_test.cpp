// Paced passes: a quick run is held to about 50 passes a second, the pause
// is not timed as part of a pass, and a stop or the program's end cuts a
// pause short.
#include "core/pass_pacing.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <future>

#include "core/reader.h"
#include "core/write_run.h"
#include "tests/core/fake_view.h"
#include "tests/core/run_listener.h"

namespace ferrotick {
namespace {

using Clock = std::chrono::steady_clock;
using testing::Bench;
using testing::MakeFile;
using testing::TempDir;
using testing::TestListener;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// A bench on an empty file: every pass moves nothing and takes microseconds.
struct EmptyFileBench {
  EmptyFileBench() {
    MakeFile(path, 0);
    bench.state.m_pListener = &listener;
    bench.state.m_strPath.Set(path);
    bench.state.m_nFileSizeMB = 0;
  }
  int Passes(const char* run) {
    int n = 0;
    for (const PassRecord& record : listener.Passes()) {
      n += std::strcmp(record.run, run) == 0;
    }
    return n;
  }

  TempDir dir;
  const std::string path = dir.File("empty.tmp");
  TestListener listener;
  Bench bench;
};

TEST(PassPacing, HoldsAQuickRunToAbout50PassesASecond) {
  EmptyFileBench b;
  ASSERT_EQ(b.bench.state.m_options.minPassPeriod, kMinPassPeriod);
  const Clock::time_point start = Clock::now();
  OnWrite(b.bench.state);
  OnRead(b.bench.state);
  b.bench.DrainUntil([] { return false; }, std::chrono::seconds(2));
  const int writes = b.Passes("write");
  const int reads = b.Passes("read");
  // Each pass but the last began a whole period after the one before.
  const double ceiling =
      SecondsSince(start) * 1000 / kMinPassPeriod.count() + 1;
  OnWrite(b.bench.state);
  OnRead(b.bench.state);
  ASSERT_TRUE(b.bench.WaitIdle());
  EXPECT_LE(writes, ceiling);
  EXPECT_LE(reads, ceiling);
  EXPECT_GE(writes, 2);  // paced, not stuck
  EXPECT_GE(reads, 2);
}

TEST(PassPacing, ThePauseIsNotTimedAsPartOfThePass) {
  constexpr auto kPeriod = std::chrono::milliseconds(300);
  for (bool write : {true, false}) {
    EmptyFileBench b;
    b.bench.state.m_options.minPassPeriod = kPeriod;
    b.bench.state.m_options.passLimit = 3;
    const Clock::time_point start = Clock::now();
    if (write) {
      OnWrite(b.bench.state);
      ASSERT_TRUE(b.bench.WaitForLine("WriteThread Done."));
    } else {
      OnRead(b.bench.state);
      ASSERT_TRUE(b.bench.DrainUntil([&] { return b.Passes("read") == 3; }));
    }
    // The first two passes were each followed by a pause; the last, which
    // ended the run, was not.
    EXPECT_GE(SecondsSince(start), 2 * 0.3);
    const std::vector<PassRecord> passes = b.listener.Passes();
    ASSERT_EQ(passes.size(), 3u);
    for (const PassRecord& pass : passes) EXPECT_LT(pass.seconds, 0.3);
    if (!write) OnRead(b.bench.state);
    ASSERT_TRUE(b.bench.WaitIdle());
  }
}

TEST(PassPacing, AStopOrTheProgramsEndCutsAPauseShort) {
  // Pauses far longer than any test: only a wake-up can end them.
  constexpr auto kHour = std::chrono::hours(1);
  {
    EmptyFileBench b;
    b.bench.state.m_options.minPassPeriod = kHour;
    OnWrite(b.bench.state);
    ASSERT_TRUE(b.bench.WaitForLine("Wrote 0MB: 0.000MBs"));
    OnWrite(b.bench.state);
    ASSERT_TRUE(b.bench.WaitForLine("WriteThread Done."));
    EXPECT_EQ(b.Passes("write"), 1);
  }
  {
    EmptyFileBench b;
    b.bench.state.m_options.minPassPeriod = kHour;
    OnRead(b.bench.state);
    ASSERT_TRUE(b.bench.DrainUntil([&] { return b.Passes("read") == 1; }));
    // Stop waits at most a second, then gives the thread up.
    b.bench.state.m_pReader->Stop();
    EXPECT_FALSE(b.bench.state.m_pReader->Abandoned());
    b.bench.state.m_pReader.reset();
  }
  {
    EmptyFileBench b;
    b.bench.state.m_options.minPassPeriod = kHour;
    OnWrite(b.bench.state);
    OnRead(b.bench.state);
    ASSERT_TRUE(b.bench.DrainUntil(
        [&] { return b.Passes("write") == 1 && b.Passes("read") == 1; }));
    auto shutdown =
        std::async(std::launch::async, [&] { b.bench.state.Shutdown(); });
    EXPECT_EQ(shutdown.wait_for(std::chrono::seconds(30)),
              std::future_status::ready);
  }
}

}  // namespace
}  // namespace ferrotick
