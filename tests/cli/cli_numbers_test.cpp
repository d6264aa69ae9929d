// The program's numbers where they are easy to get wrong: an MB that is
// not a MiB, a German locale, a block device.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tests/cli/child_process.h"
#include "tests/cli/json_value.h"
#include "tests/core/fake_view.h"
#include "tests/core/german_locale.h"
#include "tests/core/loop_device.h"

namespace ferrotick::testing {
namespace {

constexpr char kNote[] =
    "ferrotick-cli: note: --buffer 513 does not divide 1024, so an MB in the "
    "lines below is 1 write of 513 KB (525312 bytes), not 1048576 bytes\n";

TEST(CliNumbers, AnMBThatIsNotAMiBIsSaidOnceAndTheJsonHasMiBs) {
  TempDir dir;
  const std::string path = dir.File("odd.tmp");
  const ChildResult create =
      RunCli({"create", path, "--size", "3", "--buffer", "513"});
  EXPECT_EQ(create.exitCode, 0);
  EXPECT_EQ(create.err, kNote);
  const ChildResult write = RunCli(
      {"write", path, "--passes", "2", "--buffer", "513", "--no-progress"});
  EXPECT_EQ(write.exitCode, 0);
  EXPECT_EQ(write.err, kNote);
  // A buffer that divides 1024, and a read, whose MB is always a MiB.
  EXPECT_EQ(RunCli({"write", path, "--buffer", "512"}).err, "");
  EXPECT_EQ(RunCli({"read", path, "--buffer", "513"}).err, "");

  const ChildResult json =
      RunCli({"create", path, "--size", "4", "--buffer", "513", "--json"});
  EXPECT_EQ(json.err, "");
  const auto passes = ParseJsonLines(json.out);
  ASSERT_TRUE(passes && passes->size() == 1) << json.out;
  const JsonValue* pass = &passes->front();
  EXPECT_EQ((*pass)["bytes"].Number(), 4.0 * 513 * 1024);
  const double mib =
      (*pass)["bytes"].Number() / 1048576.0 / (*pass)["seconds"].Number();
  EXPECT_NEAR((*pass)["mib_per_s"].Number(), mib, mib * 1e-3 + 0.001);
  EXPECT_NEAR((*pass)["mb_per_s"].Number(), mib * 1024 / 513,
              mib * 2e-3 + 0.001);
}

TEST(CliNumbers, RatesKeepTheirDotUnderAGermanLocale) {
  TempDir dir;
  const std::string why = PrepareGermanLocale(dir.path());
  if (!why.empty()) GTEST_SKIP() << why;
  ::setenv("LC_ALL", kGermanLocale, 1);
  const std::string path = dir.File("german.tmp");
  const ChildResult create = RunCli({"create", path, "--size", "1"});
  const ChildResult json = RunCli({"read", path, "--json"});
  ::unsetenv("LC_ALL");
  EXPECT_EQ(create.exitCode, 0);
  const std::vector<std::string> lines = SplitLines(create.out);
  ASSERT_EQ(lines.size(), 4u) << create.out;
  EXPECT_TRUE(MatchesFormat(lines[2], "Init Done: %.3fMBs")) << lines[2];
  EXPECT_EQ(json.exitCode, 0);
  // A decimal comma would not be JSON.
  const auto passes = ParseJsonLines(json.out);
  ASSERT_TRUE(passes && passes->size() == 1) << json.out;
  EXPECT_GT(passes->front()["mib_per_s"].Number(), 0);
}

TEST(CliNumbers, ReadsABlockDeviceWhole) {
  TempDir dir;
  const std::string backing = dir.File("disk.img");
  MakeFile(backing, 5 * 1048576 / 2);
  LoopDevice loop(backing);
  if (!loop.ok()) GTEST_SKIP() << loop.error();
  const ChildResult read =
      RunCli({"read", loop.path(), "--passes", "2", "--json"});
  EXPECT_EQ(read.exitCode, 0) << read.err;
  const auto passes = ParseJsonLines(read.out);
  ASSERT_TRUE(passes);
  ASSERT_EQ(passes->size(), 2u);
  for (const JsonValue& pass : *passes) {
    EXPECT_EQ(pass["bytes"].Number(), 5.0 * 1048576 / 2);
  }
}

}  // namespace
}  // namespace ferrotick::testing
