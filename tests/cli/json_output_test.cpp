#include "cli/json_output.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "tests/cli/cli_support.h"

namespace ferrotick::cli {
namespace {

using testing::Json;
using testing::ParseJson;

// What a reader of the JSON gets back for `text`.
std::string RoundTrip(const std::string& text) {
  const auto value = ParseJson(JsonString(text));
  EXPECT_TRUE(value && value->is_string()) << JsonString(text);
  return value && value->is_string() ? value->get<std::string>() : "<invalid>";
}

// The one object `text` holds; a test failure and null when it is not.
Json Object(const std::string& text) {
  std::optional<Json> value = ParseJson(text);
  EXPECT_TRUE(value && value->is_object()) << text;
  return value.value_or(Json());
}

TEST(JsonOutput, StringsSurviveEscaping) {
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

TEST(JsonOutput, BytesThatAreNotUtf8BecomeReplacementCharacters) {
  const std::string replacement = "\xef\xbf\xbd";
  // A lone continuation byte, a truncated sequence, an overlong form and
  // a surrogate: each is one or more bytes a path may hold on Linux.
  EXPECT_EQ(RoundTrip("a\x80z"), "a" + replacement + "z");
  EXPECT_EQ(RoundTrip("a\xe2\x82"), "a" + replacement);
  EXPECT_EQ(RoundTrip("\xc0\xaf"), replacement + replacement);
  EXPECT_EQ(RoundTrip("\xed\xa0\x80"), replacement + replacement + replacement);
  EXPECT_EQ(RoundTrip("\xf5\x80\x80\x80").substr(0, 3), replacement);
}

PassEvent Pass(RunKind kind, int pass, int mb, std::uint64_t bytes,
               double seconds, int bufferKB, PassEnd end = PassEnd::kComplete) {
  PassEvent event;
  event.kind = kind;
  event.pass = pass;
  event.mb = mb;
  event.bytes = bytes;
  event.seconds = seconds;
  event.end = end;
  event.bufferKB = bufferKB;
  return event;
}

TEST(JsonOutput, PassObjectCarriesThePass) {
  RunOptions options;
  options.sync = true;
  options.dropCache = true;
  const std::string line =
      PassJson(Pass(RunKind::kWrite, 3, 256, 268435456, 0.5, 1024), options,
               "/tmp/x \"y\".tmp");
  EXPECT_EQ(line.find('\n'), std::string::npos);
  const Json expected = {
      {"run", "write"},
      {"pass", 3},
      {"mb", 256},
      {"bytes", 268435456},
      {"seconds", 0.5},
      {"mb_per_s", 512.0},
      {"mib_per_s", 512.0},
      {"bytes_per_s", 536870912},
      {"buffer_kb", 1024},
      {"pattern", "letters"},
      {"options", {{"sync", true}, {"direct", false}, {"drop_cache", true}}},
      {"path", "/tmp/x \"y\".tmp"}};
  EXPECT_EQ(Object(line), expected);
  // The fields come in this order, run first.
  EXPECT_EQ(line.rfind("{\"run\":\"write\",\"pass\":3,", 0), 0u) << line;
  // A fill of letters wrote zeros; a read wrote nothing.
  EXPECT_EQ(
      Object(PassJson(Pass(RunKind::kFill, 1, 1, 1, 1, 1), {}, "p"))["pattern"],
      "zeros");
  EXPECT_FALSE(Object(PassJson(Pass(RunKind::kRead, 1, 1, 1, 1, 1), {}, "p"))
                   .contains("pattern"));
}

TEST(JsonOutput, APassCutShortIsNoPassObject) {
  const Json cut = Object(IncompletePassJson(
      Pass(RunKind::kRead, 2, 100, 104857600, 0.5, 128, PassEnd::kFailed),
      "p"));
  EXPECT_FALSE(cut.contains("pass"));
  EXPECT_FALSE(cut.contains("mib_per_s"));
  EXPECT_EQ(cut["incomplete_pass"], 2);
  EXPECT_EQ(cut["reason"], "failed");
  EXPECT_EQ(cut["bytes"], 104857600);
  EXPECT_EQ(Object(IncompletePassJson(
                Pass(RunKind::kWrite, 1, 1, 1, 1, 1, PassEnd::kStopped),
                "p"))["reason"],
            "stopped");
}

TEST(JsonOutput, MibPerSecondComesFromTheBytes) {
  // --buffer 513: 64 "MB" of one 513 KB write each are 32.06 MiB.
  Json pass = Object(PassJson(
      Pass(RunKind::kFill, 1, 64, 64ull * 513 * 1024, 2.0, 513), {}, "p"));
  EXPECT_EQ(pass["mb_per_s"], 32.0);
  EXPECT_EQ(pass["mib_per_s"], 16.031);
}

TEST(JsonOutput, NumbersAreRoundedAsTheLogShowsThemAndStayFinite) {
  Json pass = Object(PassJson(
      Pass(RunKind::kRead, 1, 1, 1048576, 0.1234567894, 128), {}, "p"));
  EXPECT_EQ(pass["seconds"], 0.123456789);
  EXPECT_EQ(pass["mb_per_s"], 8.1);
  EXPECT_TRUE(pass["bytes_per_s"].is_number_integer());
  // A File Size of 0 moves nothing; a pass faster than the clock has 0 s.
  Json empty =
      Object(PassJson(Pass(RunKind::kWrite, 1, 0, 0, 0.0, 128), {}, "p"));
  EXPECT_EQ(empty["bytes_per_s"], 0);
  Json instant =
      Object(PassJson(Pass(RunKind::kRead, 1, 1, 1048576, 0.0, 128), {}, "p"));
  EXPECT_GT(instant["bytes_per_s"].get<double>(), 0);
}

TEST(JsonOutput, ErrorObjectLeavesOutWhatIsUnknown) {
  EXPECT_EQ(Object(ErrorJson("bad --size")), Json({{"error", "bad --size"}}));
  EXPECT_EQ(Object(ErrorJson("cannot open", "read", "/x", "No such file")),
            Json({{"error", "cannot open"},
                  {"detail", "No such file"},
                  {"run", "read"},
                  {"path", "/x"}}));
}

}  // namespace
}  // namespace ferrotick::cli
