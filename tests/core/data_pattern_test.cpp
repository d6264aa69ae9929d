// The random pattern: what a compressing or deduplicating store gets from
// it must be as large as what was written.
#include "core/data_pattern.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <set>
#include <string>
#include <vector>

#include "core/run.h"
#include "tests/support/event_recorder.h"
#include "tests/support/fake_view.h"

namespace ferrotick {
namespace {

constexpr std::size_t kBlock = RandomData::kMarkEvery;

double CompressedShare(const std::string& bytes) {
  uLongf size = compressBound(bytes.size());
  std::vector<Bytef> out(size);
  EXPECT_EQ(
      compress2(out.data(), &size, reinterpret_cast<const Bytef*>(bytes.data()),
                bytes.size(), Z_BEST_COMPRESSION),
      Z_OK);
  return static_cast<double>(size) / static_cast<double>(bytes.size());
}

// Every 4 KiB block of `bytes`, counted once.
std::size_t DistinctBlocks(const std::string& bytes) {
  std::set<std::string> blocks;
  for (std::size_t at = 0; at + kBlock <= bytes.size(); at += kBlock) {
    blocks.insert(bytes.substr(at, kBlock));
  }
  return blocks.size();
}

std::string WriteRun(RunKind kind, const std::string& path, int bufferKB,
                     DataPattern pattern, int passes = 1) {
  RunDescription description;
  description.kind = kind;
  description.path = path;
  description.fileSizeMB = 4;
  description.bufferKB = bufferKB;
  description.options.pattern = pattern;
  description.options.passLimit = passes;
  Run run(description);
  EXPECT_EQ(run.Open(), 0);
  auto events = std::make_shared<testing::EventRecorder>();
  EXPECT_TRUE(run.Start(events));
  EXPECT_TRUE(events->WaitForEnd());
  return testing::ReadAll(path);
}

TEST(DataPattern, RandomDataNeitherCompressesNorRepeats) {
  testing::TempDir dir;
  const std::string path = dir.File("random.tmp");
  for (int kb : {1, 4, 128, 1024}) {
    SCOPED_TRACE(kb);
    const std::string fill =
        WriteRun(RunKind::kFill, path, kb, DataPattern::kRandom);
    ASSERT_EQ(fill.size(), 4u * 1048576);
    EXPECT_GT(CompressedShare(fill), 0.99);
    EXPECT_EQ(DistinctBlocks(fill), fill.size() / kBlock);
    // A second pass leaves nothing of the first.
    const std::string again =
        WriteRun(RunKind::kWrite, path, kb, DataPattern::kRandom, 2);
    EXPECT_EQ(DistinctBlocks(fill + again), 2 * fill.size() / kBlock);
  }
}

TEST(DataPattern, LettersKeepTheWindowsZerosAndLetters) {
  testing::TempDir dir;
  const std::string path = dir.File("letters.tmp");
  const std::string fill =
      WriteRun(RunKind::kFill, path, 128, DataPattern::kLetters);
  EXPECT_EQ(fill, std::string(fill.size(), '\0'));
  const std::string passes =
      WriteRun(RunKind::kWrite, path, 128, DataPattern::kLetters, 2);
  EXPECT_EQ(passes, std::string(passes.size(), 'B'));
  EXPECT_EQ(PatternFromName("random"), DataPattern::kRandom);
  EXPECT_EQ(PatternFromName("zeros"), std::nullopt);
}

}  // namespace
}  // namespace ferrotick
