// The program's numbers where they are easy to get wrong: an MB that is
// not a MiB, a German locale, a block device.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tests/cli/cli_support.h"
#include "tests/support/child_process.h"
#include "tests/support/fake_view.h"
#include "tests/support/german_locale.h"
#include "tests/support/loop_device.h"

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

  const ChildResult json = RunCli(
      {"create", path, "--size", "4", "--buffer", "513", "--json", "--force"});
  EXPECT_EQ(json.err, "");
  const std::vector<Json> passes = JsonLines(json.out);
  ASSERT_EQ(passes.size(), 1u) << json.out;
  const Json* pass = &passes.front();
  EXPECT_EQ((*pass)["bytes"].get<double>(), 4.0 * 513 * 1024);
  const double mib = (*pass)["bytes"].get<double>() / 1048576.0 /
                     (*pass)["seconds"].get<double>();
  EXPECT_NEAR((*pass)["mib_per_s"].get<double>(), mib, mib * 1e-3 + 0.001);
  EXPECT_NEAR((*pass)["mb_per_s"].get<double>(), mib * 1024 / 513,
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
  const std::vector<Json> passes = JsonLines(json.out);
  ASSERT_EQ(passes.size(), 1u) << json.out;
  EXPECT_GT(passes.front()["mib_per_s"].get<double>(), 0);
}

TEST(CliNumbers, ReadsABlockDeviceWhole) {
  TempDir dir;
  const std::string backing = dir.File("disk.img");
  MakeFile(backing, 5 * 1048576 / 2);
  LoopDevice loop(backing);
  if (!loop.Missing().empty()) GTEST_SKIP() << loop.Missing();
  const ChildResult read =
      RunCli({"read", loop.Path(), "--passes", "2", "--json"});
  EXPECT_EQ(read.exitCode, 0) << read.err;
  const std::vector<Json> passes = JsonLines(read.out);
  ASSERT_EQ(passes.size(), 2u);
  for (const Json& pass : passes) {
    EXPECT_EQ(pass["bytes"].get<double>(), 5.0 * 1048576 / 2);
  }
}

}  // namespace
}  // namespace ferrotick::testing
