// Hostile text in the two settings fields: seeded random input against a
// model of the grammar. FERROTICK_STRESS_SEED repeats a run and
// FERROTICK_FUZZ_ITERATIONS sets its length.
#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "core/settings.h"
#include "tests/stress/settings_model.h"
#include "tests/stress/stress_support.h"

namespace ferrotick {
namespace {

using stress::ModelInteger;
using stress::ModelSettings;

constexpr long long kMax = 9223372036854775807LL;
constexpr long long kMin = -kMax - 1;

// Pins the model itself down, so it cannot agree with the code by sharing
// its mistakes.
TEST(SettingsFuzz, TheModelAndTheCodeReadKnownTextsAlike) {
  const std::vector<std::pair<std::string, std::optional<long long>>> cases = {
      {"32", 32},
      {" \t42\r\n", 42},
      {"+7", 7},
      {"-0", 0},
      {"000000000000000000000000000001", 1},
      {"9223372036854775807", kMax},
      {"-9223372036854775808", kMin},
      {"9223372036854775808", std::nullopt},
      {"-9223372036854775809", std::nullopt},
      {"18446744073709551617", std::nullopt},
      {"", std::nullopt},
      {"   ", std::nullopt},
      {"+", std::nullopt},
      {"+-1", std::nullopt},
      {"- 1", std::nullopt},
      {"4 2", std::nullopt},
      {"1e3", std::nullopt},
      {"0x10", std::nullopt},
      {"1.0", std::nullopt},
      {"1,024", std::nullopt},
      {std::string("12\0", 3), std::nullopt},
      {"\xC2\xA0"
       "5",
       std::nullopt},                              // no-break space
      {"\xEF\xBC\x91\xEF\xBC\x92", std::nullopt},  // full-width digits
  };
  for (const auto& [text, value] : cases) {
    EXPECT_EQ(ModelInteger(text), value) << "model: [" << text << "]";
    EXPECT_EQ(ParseInteger(text), value) << "code: [" << text << "]";
  }
}

// Text made to reach the corners: signs, blanks and look-alikes, long and
// overflowing digit runs, bounds and their neighbours, arbitrary bytes.
class HostileText {
 public:
  explicit HostileText(std::uint64_t seed) : m_random(seed) {}

  std::string Next() {
    if (Roll(5) == 0) return Bytes(Roll(40));
    std::string text = Blanks();
    static const char* const kSigns[] = {"", "", "", "+", "-", "++", "+-"};
    text += kSigns[Roll(std::size(kSigns))];
    text += Roll(2) ? Bound() : Digits();
    if (Roll(8) == 0) text += Junk();
    text += Blanks();
    if (Roll(10) == 0) text.insert(Roll(text.size() + 1), Junk());
    return text;
  }

 private:
  std::size_t Roll(std::size_t below) {
    return std::uniform_int_distribution<std::size_t>(0, below - 1)(m_random);
  }

  std::string Bytes(std::size_t n) {
    std::string text;
    for (std::size_t i = 0; i < n; ++i) text += static_cast<char>(Roll(256));
    return text;
  }

  std::string Blanks() {
    // The six blanks, then look-alikes that are not blanks.
    static constexpr std::string_view kBlanks[] = {" ",
                                                   "\t",
                                                   "\n",
                                                   "\r",
                                                   "\v",
                                                   "\f",
                                                   std::string_view("\0", 1),
                                                   "\xC2\xA0",
                                                   "\xE3\x80\x80",
                                                   "_"};
    std::string text;
    for (std::size_t n = Roll(4) == 0 ? Roll(4) : 0; n > 0; --n) {
      text += kBlanks[Roll(std::size(kBlanks))];
    }
    return text;
  }

  std::string Digits() {
    std::string text(Roll(3) == 0 ? Roll(30) : 0, '0');
    for (std::size_t n = Roll(26); n > 0; --n) {
      text += static_cast<char>('0' + Roll(10));
    }
    return text;
  }

  std::string Bound() {
    static const char* const kBounds[] = {"0",
                                          "1",
                                          "2",
                                          "1023",
                                          "1024",
                                          "1025",
                                          "8191",
                                          "8192",
                                          "8193",
                                          "2147483647",
                                          "2147483648",
                                          "4294967295",
                                          "4294967296",
                                          "4294967297",
                                          "9223372036854775806",
                                          "9223372036854775807",
                                          "9223372036854775808",
                                          "9223372036854775809",
                                          "18446744073709551615",
                                          "18446744073709551616",
                                          "99999999999999999999999999"};
    return kBounds[Roll(std::size(kBounds))];
  }

  std::string Junk() {
    static const char* const kJunk[] = {"e3", "x", ".0",           ",",  " ",
                                        "-",  "+", "\xEF\xBC\x91", "0x", "%d"};
    return Roll(3) == 0 ? Bytes(1 + Roll(4)) : kJunk[Roll(std::size(kJunk))];
  }

  std::mt19937_64 m_random;
};

TEST(SettingsFuzz, RandomTextReadsAsTheModelSaysAndNeverOutOfRange) {
  const std::uint64_t seed = stress::SeedFromEnv();
  const long long iterations =
      stress::EnvInteger("FERROTICK_FUZZ_ITERATIONS", 50000);
  SCOPED_TRACE("FERROTICK_STRESS_SEED=" + std::to_string(seed));
  HostileText hostile(seed);
  int mismatches = 0;
  int accepted = 0;
  for (long long i = 0; i < iterations && mismatches < 10; ++i) {
    const std::string fileSize = hostile.Next();
    const std::string buffer = hostile.Next();
    const std::optional<long long> parsed = ParseInteger(fileSize);
    if (parsed != ModelInteger(fileSize)) {
      ++mismatches;
      ADD_FAILURE() << "ParseInteger([" << fileSize << "]) gave "
                    << (parsed ? std::to_string(*parsed) : "nothing");
    }
    const SettingsReading reading = ReadSettings(fileSize, buffer);
    if (!stress::SameReading(reading, ModelSettings(fileSize, buffer))) {
      ++mismatches;
      ADD_FAILURE() << "ReadSettings([" << fileSize << "], [" << buffer
                    << "]) differs from the model";
    }
    if (!stress::InRange(reading)) {
      ++mismatches;
      ADD_FAILURE() << "ReadSettings accepted " << reading.fileSizeMB << " MB, "
                    << reading.bufferKB << " KB";
    }
    accepted += reading.failed == SettingField::kNone;
  }
  // The generator must reach the accepting side too, or the range checks
  // were never tried on values that pass.
  EXPECT_GT(accepted, 0);
}

}  // namespace
}  // namespace ferrotick
