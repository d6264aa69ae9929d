// What a measurement works out without a run: the summary's figures from
// known rates, its table, and what it says of the disk behind a folder.
#include "core/measure_summary.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/rate_summary.h"

namespace ferrotick {
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
  EXPECT_NE(lines[0].find("median MiB/s"), std::string::npos) << lines[0];
  EXPECT_NE(lines[0].find("MB/s"), std::string::npos) << lines[0];
  // MiB/s, and decimal MB/s beside the median.
  EXPECT_NE(lines[1].find("1234.6      1294.5"), std::string::npos) << lines[1];
  EXPECT_EQ(lines[1].substr(lines[1].size() - 1), "-");  // one pass
  EXPECT_NE(lines[2].find("2.0"), std::string::npos) << lines[2];
  EXPECT_NE(lines[2].find("70.7%"), std::string::npos) << lines[2];
}

MeasureReport Report(DiskFacts facts, std::vector<double> reads = {}) {
  MeasureReport report;
  report.path = "/srv/ferrotick-measure-x.tmp";
  report.folder = "/srv";
  report.facts = std::move(facts);
  report.sizeMB = 1024;
  report.bufferKB = 1024;
  report.phases = {{"fill", {500}, 0},
                   {"write", {400, 420}, 0},
                   {"read", std::move(reads), 0}};
  return report;
}

TEST(MeasureReport, SaysWhatLiesBeneathAndNeverClaimsTheCacheWasBypassed) {
  // A plain disk: what and how, and the page cache taken out.
  DiskFacts disk{
      "ext4", "/dev/sda1", "the disk sda (WDC WD10)", false, false, false, 0};
  const std::string plain = WhatWasMeasured(Report(disk));
  EXPECT_EQ(plain.rfind("Measured ext4 on /dev/sda1 (the disk sda (WDC WD10)) "
                        "in /srv: a file of 1024 MiB in transfers of 1024 KiB",
                        0),
            0u)
      << plain;
  EXPECT_NE(plain.find("queue depth 1"), std::string::npos);
  EXPECT_NE(plain.find("dropped from the page cache"), std::string::npos);
  EXPECT_TRUE(MeasureNotes(Report(disk)).empty());

  // A loop device over a file: reads may come from the backing file's
  // cache, and the summary says so instead of claiming a bypass.
  DiskFacts loop{"xfs",
                 "/dev/loop3",
                 "loop device /dev/loop3 over /var/img (a file on ext4)",
                 false,
                 true,
                 false,
                 0};
  const std::string looped = WhatWasMeasured(Report(loop));
  EXPECT_NE(looped.find("loop device /dev/loop3 over /var/img"),
            std::string::npos);
  EXPECT_NE(looped.find("a cache beneath the file system may still serve"),
            std::string::npos)
      << looped;
  const auto notes = MeasureNotes(Report(loop));
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_NE(notes[0].find("Reads may come from a cache beneath"),
            std::string::npos);

  // tmpfs: memory, said once and without a word about a page cache.
  DiskFacts tmpfs{"tmpfs", "", "memory (tmpfs)", true, false, false, 0};
  const std::string memory = WhatWasMeasured(Report(tmpfs));
  EXPECT_EQ(memory.rfind("Measured tmpfs (in memory) in /srv", 0), 0u)
      << memory;
  EXPECT_EQ(memory.find("page cache"), std::string::npos) << memory;

  // In a chroot without mounts: the type statfs knows, no device, and
  // never "unknown on unknown".
  DiskFacts chroot{"ext2/ext3/ext4", "", "", false, false, false, 0};
  const std::string bare = WhatWasMeasured(Report(chroot));
  EXPECT_EQ(bare.rfind("Measured ext2/ext3/ext4 in /srv:", 0), 0u) << bare;
}

TEST(MeasureReport, AFirstReadPassMuchSlowerThanTheRestIsNamed) {
  DiskFacts disk{"ext4", "/dev/vda", "the virtio disk vda", false, true,
                 false,  0};
  const auto notes = MeasureNotes(Report(disk, {609, 4800, 4823, 4790, 4830}));
  ASSERT_EQ(notes.size(), 2u);
  EXPECT_EQ(notes[1],
            "The first read pass gave 609.0 MiB/s and the later ones a "
            "median of 4811.5 MiB/s: the later passes were served by a cache "
            "beneath the file system; the first is nearer the disk.");
  // Within a factor of two: noise, not a cache.
  EXPECT_EQ(MeasureNotes(Report(disk, {2500, 4800, 4823})).size(), 1u);
  // Passes cut short are counted in a note, never in the rates.
  MeasureReport cut = Report(disk, {900});
  cut.phases[2].incomplete = 1;
  const auto cutNotes = MeasureNotes(cut);
  EXPECT_EQ(cutNotes.back(), "1 read pass cut short is not counted.");
  EXPECT_NE(MeasureText(cut).find("read       1"), std::string::npos)
      << MeasureText(cut);
}

}  // namespace
}  // namespace ferrotick
