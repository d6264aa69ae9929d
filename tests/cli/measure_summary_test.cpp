// What a measurement works out without a run: the summary's figures from
// known rates, its table, and the mount behind a folder.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/rate_summary.h"

namespace ferrotick::cli {
namespace {

TEST(RateSummary, FiguresFromKnownRates) {
  // Mean 5, squared deviations 9+1+1+9 = 20, sample variance 20/3.
  const RateSummary even = Summarize({8, 2, 6, 4});
  EXPECT_EQ(even.passes, 4);
  EXPECT_DOUBLE_EQ(even.median, 5);
  EXPECT_DOUBLE_EQ(even.min, 2);
  EXPECT_DOUBLE_EQ(even.max, 8);
  ASSERT_TRUE(even.spread);
  EXPECT_NEAR(*even.spread, 0.5163978, 1e-6);

  const RateSummary odd = Summarize({300, 100, 200});
  EXPECT_DOUBLE_EQ(odd.median, 200);
  ASSERT_TRUE(odd.spread);
  EXPECT_NEAR(*odd.spread, 0.5, 1e-12);

  EXPECT_DOUBLE_EQ(*Summarize({7, 7, 7}).spread, 0);
  // One pass, or nothing but zeros, has no spread to show.
  EXPECT_FALSE(Summarize({42}).spread);
  EXPECT_FALSE(Summarize({0, 0}).spread);
  EXPECT_EQ(Summarize({}).passes, 0);
}

TEST(RateSummary, TableColumnsLineUp) {
  const std::string table = SummaryTable({{"fill", Summarize({1234.5678})},
                                          {"write", Summarize({1, 3})},
                                          {"read", Summarize({})}});
  std::vector<std::string> lines;
  for (std::size_t start = 0, end; start < table.size(); start = end + 1) {
    end = table.find('\n', start);
    lines.push_back(table.substr(start, end - start));
  }
  ASSERT_EQ(lines.size(), 4u);
  for (const std::string& line : lines) {
    EXPECT_EQ(line.size(), lines[0].size()) << line;
  }
  EXPECT_NE(lines[1].find("1234.568"), std::string::npos) << lines[1];
  EXPECT_EQ(lines[1].substr(lines[1].size() - 1), "-");  // one pass
  EXPECT_NE(lines[2].find("2.000"), std::string::npos) << lines[2];
  EXPECT_NE(lines[2].find("70.7%"), std::string::npos) << lines[2];
}

}  // namespace
}  // namespace ferrotick::cli
