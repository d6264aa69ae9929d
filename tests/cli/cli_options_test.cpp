#include "cli/cli_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ferrotick::cli {
namespace {

CliOptions Parsed(const std::vector<std::string>& args) {
  const ParseOutcome outcome = ParseCommandLine(args);
  EXPECT_FALSE(outcome.error) << outcome.error->message;
  return outcome.options.value_or(CliOptions{});
}

std::string ErrorOf(const std::vector<std::string>& args) {
  const ParseOutcome outcome = ParseCommandLine(args);
  EXPECT_FALSE(outcome.options);
  return outcome.error ? outcome.error->message : "<no error>";
}

TEST(CliOptions, DefaultsAreTheDialogs) {
  const CliOptions create = Parsed({"create", "f.tmp"});
  EXPECT_EQ(create.command, Command::kCreate);
  EXPECT_EQ(create.path, "f.tmp");
  EXPECT_EQ(create.fileSizeMB, 32);
  EXPECT_EQ(create.bufferKB, 128);
  EXPECT_FALSE(create.json);
  EXPECT_FALSE(create.run.sync || create.run.direct || create.run.dropCache);
  EXPECT_FALSE(create.force);

  // Write takes File Size from the file unless told otherwise.
  const CliOptions write = Parsed({"write", "f.tmp"});
  EXPECT_FALSE(write.fileSizeMB);
  EXPECT_EQ(write.bufferKB, 128);
  EXPECT_EQ(write.passes, 1);

  const CliOptions read = Parsed({"read", "f.tmp"});
  EXPECT_EQ(read.command, Command::kRead);
  EXPECT_EQ(read.passes, 1);

  // A measurement of the disk, not the cache, unless told otherwise.
  const CliOptions measure = Parsed({"measure", "/mnt/disk"});
  EXPECT_EQ(measure.command, Command::kMeasure);
  EXPECT_EQ(measure.fileSizeMB, 1024);
  EXPECT_EQ(measure.bufferKB, 1024);
  EXPECT_EQ(measure.passes, 5);
  EXPECT_FALSE(measure.quiet || measure.json || measure.run.direct);
  const CliOptions small =
      Parsed({"measure", "d", "--size", "8", "--buffer", "64", "--passes", "2",
              "--quiet", "--direct", "--json"});
  EXPECT_EQ(small.fileSizeMB, 8);
  EXPECT_EQ(small.bufferKB, 64);
  EXPECT_EQ(small.passes, 2);
  EXPECT_TRUE(small.quiet && small.run.direct && small.json);
  // It picks its own ways of reaching the device.
  EXPECT_EQ(ErrorOf({"measure", "d", "--sync"}),
            "--sync does not apply to measure");
  EXPECT_EQ(ErrorOf({"measure", "d", "--drop-cache"}),
            "--drop-cache does not apply to measure");
  EXPECT_EQ(ErrorOf({"read", "f", "--quiet"}),
            "--quiet does not apply to read");
}

TEST(CliOptions, ValuesInEitherSpellingAndAnyOrder) {
  const CliOptions write =
      Parsed({"--buffer=1024", "write", "--size", "8192", "f.tmp", "--passes",
              "3", "--sync", "--direct", "--json"});
  EXPECT_EQ(write.command, Command::kWrite);
  EXPECT_EQ(write.path, "f.tmp");
  EXPECT_EQ(write.bufferKB, 1024);
  EXPECT_EQ(write.fileSizeMB, 8192);
  EXPECT_EQ(write.passes, 3);
  EXPECT_TRUE(write.run.sync);
  EXPECT_TRUE(write.run.direct);
  EXPECT_TRUE(write.json);
  // The pass limit is the runner's to set, per command.
  EXPECT_EQ(write.run.passLimit, 0);

  EXPECT_TRUE(
      Parsed({"read", "f", "--drop-cache", "--buffer", "1"}).run.dropCache);
  EXPECT_EQ(Parsed({"create", "f", "--size", "1"}).fileSizeMB, 1);
  EXPECT_TRUE(Parsed({"create", "--force", "f"}).force);
  // After "--" a leading dash is part of a path.
  EXPECT_EQ(Parsed({"create", "--", "-odd.tmp"}).path, "-odd.tmp");
  // Given twice, the last one counts.
  EXPECT_FALSE(Parsed({"read", "f", "--progress", "--no-progress"}).progress);
  EXPECT_EQ(Parsed({"read", "f", "--buffer", "2", "--buffer", "4"}).bufferKB,
            4);
}

TEST(CliOptions, BadValuesNameTheirRange) {
  struct Case {
    std::vector<std::string> args;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {{"create", "f", "--size", "0"},
       "--size must be an integer between 1 and 8192, not '0'"},
      {{"create", "f", "--size", "8193"},
       "--size must be an integer between 1 and 8192, not '8193'"},
      {{"write", "f", "--size=abc"},
       "--size must be an integer between 1 and 8192, not 'abc'"},
      {{"create", "f", "--buffer", "1025"},
       "--buffer must be an integer between 1 and 1024, not '1025'"},
      {{"read", "f", "--buffer", "-1"},
       "--buffer must be an integer between 1 and 1024, not '-1'"},
      {{"read", "f", "--buffer", "99999999999999999999"},
       "--buffer must be an integer between 1 and 1024, not "
       "'99999999999999999999'"},
      {{"write", "f", "--passes", "0"},
       "--passes must be an integer between 1 and 1000000, not '0'"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ErrorOf(c.args), c.expected);
  }
}

TEST(CliOptions, MalformedCommandLines) {
  EXPECT_EQ(ErrorOf({}),
            "missing command: create, write, read or measure (see "
            "'ferrotick-cli --help')");
  EXPECT_EQ(ErrorOf({"erase", "f"}),
            "unknown command 'erase': use create, write, read or measure "
            "(see 'ferrotick-cli --help')");
  EXPECT_EQ(ErrorOf({"create"}),
            "create needs a PATH (see 'ferrotick-cli --help')");
  EXPECT_EQ(ErrorOf({"create", ""}), "PATH must not be empty");
  EXPECT_EQ(ErrorOf({"read", "a", "b"}),
            "unexpected argument 'b' (see 'ferrotick-cli --help')");
  EXPECT_EQ(ErrorOf({"write", "f", "--size"}),
            "--size needs a value (see 'ferrotick-cli --help')");
  EXPECT_EQ(ErrorOf({"write", "f", "--fast"}),
            "unknown option '--fast' (see 'ferrotick-cli --help')");
  EXPECT_EQ(ErrorOf({"write", "f", "--sync=yes"}), "--sync takes no value");
  // A dash word before "--" is never a PATH, a number neither.
  EXPECT_EQ(ErrorOf({"create", "-5"}),
            "unknown option '-5' (see 'ferrotick-cli --help')");
  EXPECT_EQ(ErrorOf({"create", "--", "a", "b"}),
            "unexpected argument 'b' (see 'ferrotick-cli --help')");
  EXPECT_EQ(ErrorOf({"read", "f", "--buffer", "0", "--buffer", "4"}),
            "--buffer must be an integer between 1 and 1024, not '0'");
  // Each option belongs to the runs it makes sense for.
  EXPECT_EQ(ErrorOf({"read", "f", "--size", "4"}),
            "--size does not apply to read");
  EXPECT_EQ(ErrorOf({"create", "f", "--passes", "2"}),
            "--passes does not apply to create");
  EXPECT_EQ(ErrorOf({"write", "f", "--drop-cache"}),
            "--drop-cache does not apply to write");
  EXPECT_EQ(ErrorOf({"read", "f", "--sync"}), "--sync does not apply to read");
  EXPECT_EQ(ErrorOf({"write", "f", "--force"}),
            "--force does not apply to write");
}

TEST(CliOptions, JsonFlagShapesTheErrorEvenWhenParsingFails) {
  const ParseOutcome outcome =
      ParseCommandLine({"create", "f", "--buffer", "0", "--json"});
  ASSERT_TRUE(outcome.error);
  EXPECT_TRUE(outcome.error->json);
  EXPECT_FALSE(ParseCommandLine({"create", "f", "--buffer", "0"}).error->json);
  // A "--json" that is a path after "--" is no flag.
  EXPECT_FALSE(ParseCommandLine({"create", "--", "--json", "x"}).error->json);
}

TEST(CliOptions, HelpAndVersionWinOverEverythingElse) {
  EXPECT_EQ(Parsed({"create", "--size", "0", "--help"}).command,
            Command::kHelp);
  EXPECT_EQ(Parsed({"-h"}).command, Command::kHelp);
  EXPECT_EQ(Parsed({"--version"}).command, Command::kVersion);
  EXPECT_EQ(VersionText(), "ferrotick-cli 1.0.0.1\n");
  EXPECT_EQ(HelpText().rfind("Usage: ferrotick-cli measure FOLDER", 0), 0u);
  EXPECT_NE(HelpText().find("ferrotick-cli create PATH"), std::string::npos);
  EXPECT_NE(HelpText().find("  --force "), std::string::npos);
}

}  // namespace
}  // namespace ferrotick::cli
