#include "cli/json_lines.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/cli/json_value.h"

namespace ferrotick::cli {
namespace {

using ferrotick::testing::ParseJson;

// What a reader of the JSON gets back for `text`.
std::string RoundTrip(const std::string& text) {
  const auto value = ParseJson(JsonString(text));
  EXPECT_TRUE(value) << JsonString(text);
  return value ? value->String() : "<invalid>";
}

TEST(JsonLines, StringsSurviveEscaping) {
  EXPECT_EQ(JsonString("plain"), "\"plain\"");
  EXPECT_EQ(RoundTrip("a \"quoted\" \\ path"), "a \"quoted\" \\ path");
  EXPECT_EQ(RoundTrip("tab\tnew\nline\rbell\x07"
                      "del\x7f"),
            "tab\tnew\nline\rbell\x07"
            "del\x7f");
  EXPECT_EQ(RoundTrip(std::string("nul\0byte", 8)),
            std::string("nul\0byte", 8));
  // Valid UTF-8 passes through unchanged.
  EXPECT_EQ(RoundTrip("caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x92\xbe"),
            "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x92\xbe");
}

TEST(JsonLines, BytesThatAreNotUtf8BecomeReplacementCharacters) {
  const std::string replacement = "\xef\xbf\xbd";
  // A lone continuation byte, a truncated sequence, an overlong form and
  // a surrogate: each is one or more bytes a path may hold on Linux.
  EXPECT_EQ(RoundTrip("a\x80z"), "a" + replacement + "z");
  EXPECT_EQ(RoundTrip("a\xe2\x82"), "a" + replacement + replacement);
  EXPECT_EQ(RoundTrip("\xc0\xaf"), replacement + replacement);
  EXPECT_EQ(RoundTrip("\xed\xa0\x80"), replacement + replacement + replacement);
  EXPECT_EQ(RoundTrip("\xf5\x80\x80\x80").substr(0, 3), replacement);
}

TEST(JsonLines, PassObjectCarriesTheRecord) {
  RunOptions options;
  options.sync = true;
  options.dropCache = true;
  const PassRecord record{"write", 3, 256, 268435456, 0.5, 512.0, 1024};
  const auto value = ParseJson(PassJson(record, options, "/tmp/x \"y\".tmp"));
  ASSERT_TRUE(value);
  const auto& pass = *value;
  EXPECT_EQ(pass["run"].String(), "write");
  EXPECT_EQ(pass["pass"].Number(), 3);
  EXPECT_EQ(pass["mb"].Number(), 256);
  EXPECT_EQ(pass["bytes"].Number(), 268435456);
  EXPECT_DOUBLE_EQ(pass["seconds"].Number(), 0.5);
  EXPECT_DOUBLE_EQ(pass["mb_per_s"].Number(), 512.0);
  EXPECT_DOUBLE_EQ(pass["bytes_per_s"].Number(), 536870912.0);
  EXPECT_EQ(pass["buffer_kb"].Number(), 1024);
  EXPECT_TRUE(pass["options"]["sync"].Bool());
  EXPECT_FALSE(pass["options"]["direct"].Bool());
  EXPECT_TRUE(pass["options"]["drop_cache"].Bool());
  EXPECT_EQ(pass["path"].String(), "/tmp/x \"y\".tmp");
}

TEST(JsonLines, MibPerSecondComesFromTheBytes) {
  // --buffer 513: 64 "MB" of one 513 KB write each are 32.06 MiB.
  const auto pass = ParseJson(
      PassJson(PassRecord{"create", 1, 64, 64ull * 513 * 1024, 2.0, 32.0, 513},
               {}, "p"));
  ASSERT_TRUE(pass);
  EXPECT_DOUBLE_EQ((*pass)["mb_per_s"].Number(), 32.0);
  EXPECT_DOUBLE_EQ((*pass)["mib_per_s"].Number(), 16.031);
}

TEST(JsonLines, EmptyOrInstantPassesStayFinite) {
  // A File Size of 0 moves nothing; a pass faster than the clock has 0 s.
  const auto empty =
      ParseJson(PassJson(PassRecord{"write", 1, 0, 0, 0.0, 0.0, 128}, {}, "p"));
  ASSERT_TRUE(empty);
  EXPECT_EQ((*empty)["bytes_per_s"].Number(), 0);
  const auto instant = ParseJson(
      PassJson(PassRecord{"read", 1, 1, 1048576, 0.0, 1e6, 128}, {}, "p"));
  ASSERT_TRUE(instant);
  EXPECT_GT((*instant)["bytes_per_s"].Number(), 0);
}

TEST(JsonLines, ErrorObjectLeavesOutWhatIsUnknown) {
  const auto bare = ParseJson(ErrorJson("bad --size"));
  ASSERT_TRUE(bare);
  EXPECT_EQ((*bare)["error"].String(), "bad --size");
  EXPECT_FALSE(bare->Has("run"));
  EXPECT_FALSE(bare->Has("path"));
  EXPECT_FALSE(bare->Has("detail"));

  const auto full =
      ParseJson(ErrorJson("cannot open", "read", "/x", "No such file"));
  ASSERT_TRUE(full);
  EXPECT_EQ((*full)["run"].String(), "read");
  EXPECT_EQ((*full)["path"].String(), "/x");
  EXPECT_EQ((*full)["detail"].String(), "No such file");
}

}  // namespace
}  // namespace ferrotick::cli
