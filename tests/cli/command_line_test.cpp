// The command line as ferrotick-cli reads it: each command's defaults and
// options, and a clear complaint with status 2 for anything else.
#include "cli/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/version.h"

namespace ferrotick::cli {
namespace {

CliOptions Parsed(const std::vector<std::string>& args) {
  const ParsedCommandLine parsed = ParseCommandLine(args);
  EXPECT_TRUE(parsed.options) << parsed.err;
  return parsed.options.value_or(CliOptions{});
}

std::string ErrorOf(const std::vector<std::string>& args) {
  const ParsedCommandLine parsed = ParseCommandLine(args);
  EXPECT_FALSE(parsed.options);
  EXPECT_EQ(parsed.exitCode, 2);
  EXPECT_EQ(parsed.out, "");
  return parsed.err;
}

TEST(CommandLine, EachCommandHasItsOwnDefaults) {
  const CliOptions create = Parsed({"create", "f.tmp"});
  EXPECT_EQ(create.command, Command::kCreate);
  EXPECT_EQ(create.path, "f.tmp");
  EXPECT_EQ(create.fileSizeMB, 32);
  EXPECT_EQ(create.bufferKB, 128);
  EXPECT_EQ(create.run.pattern, DataPattern::kLetters);
  EXPECT_FALSE(create.json || create.force || create.run.sync ||
               create.run.direct || create.run.dropCache);
  EXPECT_TRUE(create.progress);
  // Write takes File Size from the file unless told otherwise.
  const CliOptions write = Parsed({"write", "f.tmp"});
  EXPECT_FALSE(write.fileSizeMB);
  EXPECT_EQ(write.passes, 1);
  // A measurement of the disk, not the cache, unless told otherwise.
  const CliOptions measure = Parsed({"measure", "/mnt/disk"});
  EXPECT_EQ(measure.command, Command::kMeasure);
  EXPECT_EQ(measure.fileSizeMB, 1024);
  EXPECT_EQ(measure.bufferKB, 1024);
  EXPECT_EQ(measure.passes, 5);
  const CliOptions small =
      Parsed({"measure", "d", "--size", "8", "--buffer", "64", "--passes", "2",
              "--quiet", "--direct", "--json", "--no-progress"});
  EXPECT_EQ(small.fileSizeMB, 8);
  EXPECT_EQ(small.bufferKB, 64);
  EXPECT_EQ(small.passes, 2);
  EXPECT_TRUE(small.quiet && small.run.direct && small.json);
  EXPECT_FALSE(small.progress);
}

TEST(CommandLine, OptionsInEitherSpellingAnyOrderTheLastOneCounting) {
  const CliOptions write =
      Parsed({"write", "--buffer=1024", "--size", "8192", "f.tmp", "--passes",
              "3", "--sync", "--direct", "--json", "--pattern", "random"});
  EXPECT_EQ(write.path, "f.tmp");
  EXPECT_EQ(write.bufferKB, 1024);
  EXPECT_EQ(write.fileSizeMB, 8192);
  EXPECT_EQ(write.passes, 3);
  EXPECT_TRUE(write.run.sync && write.run.direct && write.json);
  EXPECT_EQ(write.run.pattern, DataPattern::kRandom);
  // The pass limit is the run's to set, per command.
  EXPECT_EQ(write.run.passLimit, 0);
  EXPECT_TRUE(Parsed({"read", "f", "--drop-cache"}).run.dropCache);
  EXPECT_TRUE(Parsed({"create", "--force", "f"}).force);
  EXPECT_EQ(Parsed({"create", "--", "-odd.tmp"}).path, "-odd.tmp");
  EXPECT_EQ(Parsed({"read", "f", "--buffer", "2", "--buffer", "4"}).bufferKB,
            4);
}

TEST(CommandLine, BadLinesNameWhatIsWrong) {
  struct Case {
    std::vector<std::string> args;
    std::string says;
  };
  const std::vector<Case> cases = {
      {{"create", "f", "--size", "0"},
       "--size: Value 0 not in range 1 to 8192"},
      {{"write", "f", "--size=abc"}, "--size"},
      {{"read", "f", "--buffer", "1025"}, "not in range 1 to 1024"},
      {{"read", "f", "--buffer", "99999999999999999999"}, "--buffer"},
      {{"write", "f", "--passes", "0"}, "not in range 1 to 1000000"},
      {{"create", "f", "--pattern", "zeros"}, "--pattern"},
      {{}, "A subcommand is required"},
      {{"erase", "f"}, "unknown command 'erase'"},
      {{"create"}, "PATH is required"},
      {{"create", ""}, "must not be empty"},
      {{"read", "a", "b"}, "not expected: b"},
      {{"write", "f", "--fast"}, "not expected: --fast"},
      // Each option belongs to the commands it makes sense for.
      {{"read", "f", "--size", "4"}, "--size"},
      {{"create", "f", "--passes", "2"}, "--passes"},
      {{"write", "f", "--drop-cache"}, "--drop-cache"},
      {{"read", "f", "--sync"}, "--sync"},
      {{"measure", "d", "--sync"}, "--sync"},
      {{"write", "f", "--force"}, "--force"},
  };
  for (const Case& c : cases) {
    const std::string err = ErrorOf(c.args);
    EXPECT_EQ(err.rfind("ferrotick-cli: ", 0), 0u) << err;
    EXPECT_NE(err.find(c.says), std::string::npos) << err;
    EXPECT_EQ(err.find('\n'), std::string::npos) << err;
  }
  // With --json, the complaint is a JSON object; after "--" it is a path.
  EXPECT_EQ(ErrorOf({"create", "f", "--buffer", "0", "--json"})
                .rfind("{\"error\":", 0),
            0u);
  EXPECT_EQ(ErrorOf({"create", "--", "--json", "x"}).rfind("ferrotick-cli:", 0),
            0u);
}

TEST(CommandLine, HelpAndVersionPrintAndSucceed) {
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"--help"}, {"-h"}, {"create", "--help"}}) {
    const ParsedCommandLine help = ParseCommandLine(args);
    EXPECT_FALSE(help.options);
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("Usage: ferrotick-cli"), std::string::npos);
  }
  // The terms a reader of the figures needs are defined.
  const std::string help = ParseCommandLine({"--help"}).out;
  EXPECT_NE(help.find("Spread: the sample coefficient of variation"),
            std::string::npos);
  EXPECT_NE(help.find("1,048,576 bytes"), std::string::npos);
  EXPECT_NE(help.find("Exit status"), std::string::npos);
  EXPECT_NE(ParseCommandLine({"create", "-h"}).out.find("--force"),
            std::string::npos);
  EXPECT_EQ(ParseCommandLine({"--version"}).out,
            std::string("ferrotick-cli ") + kVersion + "\n");
}

}  // namespace
}  // namespace ferrotick::cli
