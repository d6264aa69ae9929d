// Writes never reach a block device that a filesystem or another program
// holds, from the file handle up to the dialog's commands; a device that
// nothing holds stays usable.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "core/file_handle.h"
#include "core/run_commands.h"
#include "tests/support/fake_view.h"
#include "tests/support/loop_device.h"

namespace ferrotick::testing {
namespace {

// Every mode that writes is refused with EBUSY, reading is not, and the
// dialog's Create and Write report their usual open failures.
void ExpectNoWriteReaches(const std::string& device) {
  const std::string before = ReadAll(device);
  ASSERT_FALSE(before.empty());
  for (OpenMode mode :
       {OpenMode::kCreate, OpenMode::kSharedWrite, OpenMode::kExport}) {
    FileHandle file;
    EXPECT_FALSE(file.Open(device, mode));
    EXPECT_EQ(file.LastError(), EBUSY);
  }
  FileHandle reader;
  EXPECT_TRUE(reader.Open(device, OpenMode::kSharedRead));
  reader.Close();

  Bench bench;
  bench.view.answers.push_back(device);
  OnCreate(bench.state);
  bench.state.m_strPath.Set(device);
  OnWrite(bench.state);
  EXPECT_TRUE(bench.WaitIdle());
  EXPECT_EQ(
      bench.Lines(),
      (std::vector<std::string>{
          "Open Failed", "  mounted, or in use by a run or another program",
          "Open Failed or Canceled",
          "  mounted, or in use by a run or another program"}));
  EXPECT_EQ(ReadAll(device), before) << "a byte was written";
}

TEST(DeviceGuard, MountedOrHeldDevicesAreNeverWritten) {
  LoopDevice loop;
  if (!loop.Missing().empty()) GTEST_SKIP() << loop.Missing();
  const auto descriptors = OpenDescriptors();
  {
    SCOPED_TRACE("mounted");
    ASSERT_TRUE(loop.Mount()) << "cannot mount ext4 on " << loop.Path();
    ExpectNoWriteReaches(loop.Path());
    ASSERT_TRUE(loop.Unmount());
  }
  {
    SCOPED_TRACE("held by an exclusive open");
    const int holder = ::open(loop.Path().c_str(), O_RDONLY | O_EXCL);
    ASSERT_GE(holder, 0);
    ExpectNoWriteReaches(loop.Path());
    ::close(holder);
  }
  FileHandle file;  // nothing holds it now
  ASSERT_TRUE(file.Open(loop.Path(), OpenMode::kSharedWrite));
  file.Write("ferrotick", 9);
  file.Close();
  EXPECT_EQ(ReadAll(loop.Path()).substr(0, 9), "ferrotick");
  EXPECT_EQ(OpenDescriptors(), descriptors);
}

}  // namespace
}  // namespace ferrotick::testing
