#include "core/io_memory.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "core/data_pattern.h"
#include "core/transfer_buffer.h"

namespace ferrotick {
namespace {

// The kernel's flags of the mapping that holds `address`, from
// /proc/self/smaps ("hg": advised into huge pages).
std::string VmFlagsAt(const void* address) {
  const auto at = reinterpret_cast<std::uintptr_t>(address);
  std::ifstream smaps("/proc/self/smaps");
  std::string line;
  bool inside = false;
  while (std::getline(smaps, line)) {
    unsigned long from = 0;
    unsigned long to = 0;
    if (std::sscanf(line.c_str(), "%lx-%lx ", &from, &to) == 2 &&
        line.find(':') > line.find(' ')) {
      inside = from <= at && at < to;
    } else if (inside && line.rfind("VmFlags:", 0) == 0) {
      return line.substr(8) + " ";
    }
  }
  return "";
}

bool Advised(const void* address) {
  return VmFlagsAt(address).find(" hg ") != std::string::npos;
}

bool KernelHasHugePages() {
  return std::ifstream("/sys/kernel/mm/transparent_hugepage/enabled").good();
}

TEST(IoMemory, LargeBlocksAreWholeHugePagesAdvisedToTheKernel) {
  if (!KernelHasHugePages()) GTEST_SKIP() << "no transparent huge pages";
  for (std::size_t bytes : {kHugeFrom, std::size_t{1} << 20,
                            (std::size_t{8} << 20) + 4096}) {
    char* block = static_cast<char*>(AllocateIoMemory(4096, bytes));
    ASSERT_NE(block, nullptr) << bytes;
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % kHugePage, 0u)
        << bytes;
    // All of it, not only its start: a transfer may lie at its end.
    EXPECT_TRUE(Advised(block)) << bytes << ":" << VmFlagsAt(block);
    EXPECT_TRUE(Advised(block + bytes - 1)) << bytes;
    std::free(block);
  }
}

TEST(IoMemory, SmallBlocksKeepTheAlignmentAsked) {
  for (std::size_t alignment : {std::size_t{512}, std::size_t{4096}}) {
    void* block = AllocateIoMemory(alignment, 4096);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % alignment, 0u);
    std::free(block);
  }
}

// The buffers that 1 MiB direct transfers use, read and written.
TEST(IoMemory, TheBuffersOfLargeTransfersAreAdvised) {
  if (!KernelHasHugePages()) GTEST_SKIP() << "no transparent huge pages";
  TransferBuffer buffer(TransferBuffer::kMaxBytes);
  ASSERT_TRUE(buffer);
  EXPECT_TRUE(Advised(buffer.Data()));
  EXPECT_TRUE(Advised(buffer.Data() + buffer.Size() - 1));

  RandomData data(1 << 20, 7, 16, 4096);
  ASSERT_TRUE(data);
  data.Refill();
  for (std::size_t slot = 0; slot < data.Slots(); ++slot) {
    EXPECT_TRUE(Advised(data.Mark(slot))) << slot;
  }
}

}  // namespace
}  // namespace ferrotick
