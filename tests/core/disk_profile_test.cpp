// The disk profile as its events tell it: the fill, then every run of
// every cell at the depth asked, an end that says how it ended, and no
// descriptor left behind however that was.
#include "core/disk_profile.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "tests/support/fake_view.h"

namespace ferrotick {
namespace {

using testing::OpenDescriptors;
using testing::TempDir;

constexpr std::uint64_t kMiB = 1048576;

bool DirectIOWorks(const std::string& folder) {
  const std::string probe = folder + "/probe";
  const int fd = ::open(probe.c_str(), O_CREAT | O_WRONLY | O_DIRECT, 0600);
  if (fd >= 0) ::close(fd);
  ::unlink(probe.c_str());
  return fd >= 0;
}

// Takes events until `done` holds for one (returned last) or time runs out.
template <typename Done>
std::vector<ProfileEvent> TakeUntil(DiskProfile& profile, Done done) {
  std::vector<ProfileEvent> events;
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (std::chrono::steady_clock::now() < deadline) {
    for (ProfileEvent& event : profile.Take()) {
      events.push_back(std::move(event));
      if (done(events.back())) return events;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ADD_FAILURE() << "the awaited event never came";
  return events;
}

bool IsEnd(const ProfileEvent& event) {
  return std::holds_alternative<ProfileEnd>(event);
}

struct ProfileFixture : ::testing::Test {
  void SetUp() override {
    if (!DirectIOWorks(dir.path())) {
      GTEST_SKIP() << "the test folder refuses O_DIRECT; set TMPDIR to a "
                      "folder on a disk";
    }
    std::ofstream(path).flush();
    description.path = path;
    description.fileBytes = 4 * kMiB;
    description.seconds = 0.1;
    description.warmupSeconds = 0.02;
    description.runs = 2;
    description.seed = 9;
    descriptors = OpenDescriptors();
  }
  TempDir dir;
  std::string path = dir.File("profile.tmp");
  ProfileDescription description;
  std::vector<std::string> descriptors;
};

TEST_F(ProfileFixture, FillsTheFileThenTellsEveryRunOfEveryCell) {
  DiskProfile profile(description);
  ASSERT_TRUE(profile.Start({}));
  const std::vector<ProfileEvent> events = TakeUntil(profile, IsEnd);
  ASSERT_TRUE(profile.WaitEnded(std::chrono::seconds(10)));

  const std::vector<ProfileCell> cells = StandardCells();
  ASSERT_EQ(events.size(), 2 + cells.size() * 2 * 2);
  const auto* fill = std::get_if<ProfileStep>(&events[0]);
  ASSERT_TRUE(fill);
  EXPECT_EQ(fill->cell, -1);
  std::size_t at = 1;
  for (int c = 0; c < static_cast<int>(cells.size()); ++c) {
    const ProfileCell& cell = cells[c];
    for (int run = 1; run <= 2; ++run) {
      SCOPED_TRACE(CellName(cell) + ", run " + std::to_string(run));
      const auto* step = std::get_if<ProfileStep>(&events[at++]);
      ASSERT_TRUE(step);
      EXPECT_EQ(step->cell, c);
      EXPECT_EQ(step->run, run);
      const auto* figures = std::get_if<CellRun>(&events[at++]);
      ASSERT_TRUE(figures);
      EXPECT_EQ(figures->cell, c);
      EXPECT_EQ(figures->run, run);
      EXPECT_GT(figures->transfers, 0u);
      EXPECT_EQ(figures->bytes, figures->transfers * cell.blockBytes);
      EXPECT_EQ(figures->maxDepth, cell.depth);
      EXPECT_GE(figures->seconds, 0.05);
      EXPECT_EQ(figures->engine,
                cell.depth == 1 ? IoEngine::kPositional : IoEngine::kIoUring);
      EXPECT_EQ(figures->meanLatencyUs.has_value(), cell.depth == 1);
      EXPECT_EQ(figures->p99LatencyUs.has_value(), cell.depth == 1);
    }
  }
  const ProfileEnd& end = std::get<ProfileEnd>(events.back());
  EXPECT_EQ(end.outcome, Outcome::kCompleted);
  EXPECT_EQ(end.error, 0);

  EXPECT_EQ(OpenDescriptors(), descriptors);
  // Written whole with data that does not compress.
  std::ifstream in(path, std::ios::binary);
  const std::string bytes(std::istreambuf_iterator<char>(in), {});
  ASSERT_EQ(bytes.size(), 4 * kMiB);
  uLongf size = compressBound(bytes.size());
  std::vector<Bytef> packed(size);
  ASSERT_EQ(
      compress2(packed.data(), &size,
                reinterpret_cast<const Bytef*>(bytes.data()), bytes.size(), 6),
      Z_OK);
  EXPECT_GT(size, bytes.size() * 99 / 100);
}

TEST_F(ProfileFixture, AStopEndsTheRunUnderWayUntoldAndAbandonNeverWaits) {
  description.seconds = 600;
  {
    DiskProfile profile(description);
    ASSERT_TRUE(profile.Start({}));
    TakeUntil(profile, [](const ProfileEvent& event) {
      const auto* step = std::get_if<ProfileStep>(&event);
      return step && step->cell == 0;
    });
    profile.RequestStop();
    const std::vector<ProfileEvent> rest = TakeUntil(profile, IsEnd);
    ASSERT_EQ(rest.size(), 1u);  // the run under way is never told
    const ProfileEnd& end = std::get<ProfileEnd>(rest.back());
    EXPECT_EQ(end.outcome, Outcome::kStopped);
    EXPECT_EQ(end.cell, 0);
    EXPECT_TRUE(profile.WaitEnded(std::chrono::seconds(10)));
    EXPECT_EQ(OpenDescriptors(), descriptors);
  }

  // Given up on in its first cell: nothing more is told, and neither
  // Abandon nor the destructor waits for the ten minutes asked.
  const auto before = std::chrono::steady_clock::now();
  {
    DiskProfile profile(description);
    ASSERT_TRUE(profile.Start({}));
    TakeUntil(profile, [](const ProfileEvent& event) {
      const auto* step = std::get_if<ProfileStep>(&event);
      return step && step->cell == 0;
    });
    profile.Abandon();
    EXPECT_TRUE(profile.Take().empty());
  }
  EXPECT_LT(std::chrono::steady_clock::now() - before,
            std::chrono::seconds(60));
  // The thread left behind ends at its next transfer and closes the file.
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (OpenDescriptors() != descriptors &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(OpenDescriptors(), descriptors);
}

}  // namespace
}  // namespace ferrotick
