#include "tests/support/loop_device.h"

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace ferrotick::testing {

namespace {

// Runs `command` through the shell; its first output line, or nothing.
bool Run(const std::string& command, std::string* firstLine = nullptr) {
  FILE* pipe = ::popen((command + " 2>/dev/null").c_str(), "r");
  if (!pipe) return false;
  char line[256] = {};
  const bool got = std::fgets(line, sizeof line, pipe) != nullptr;
  const int status = ::pclose(pipe);
  if (firstLine) {
    *firstLine = got ? line : "";
    while (!firstLine->empty() && firstLine->back() == '\n') {
      firstLine->pop_back();
    }
  }
  return status == 0;
}

}  // namespace

LoopDevice::LoopDevice(int sizeMB) {
  if (::geteuid() != 0) {
    m_missing = "not root: no loop device";
    return;
  }
  const std::string image = m_dir.File("ext4.img");
  m_mountPoint = m_dir.File("mnt");
  // Inode tables and journal written now, so that nothing but a test
  // changes the device while it is mounted.
  if (!Run("truncate -s " + std::to_string(sizeMB) + "M '" + image +
           "' && mkfs.ext4 -q -F -E lazy_itable_init=0,lazy_journal_init=0 '" +
           image + "'") ||
      ::mkdir(m_mountPoint.c_str(), 0700) != 0) {
    m_missing = "mkfs.ext4 is not available";
    return;
  }
  if (!Run("losetup -f --show '" + image + "'", &m_device) ||
      m_device.empty()) {
    m_device.clear();
    m_missing = "losetup cannot attach a loop device here";
  }
}

LoopDevice::LoopDevice(const std::string& backing) {
  if (::geteuid() != 0) {
    m_missing = "not root: no loop device";
  } else if (!Run("losetup -f --show '" + backing + "'", &m_device) ||
             m_device.empty()) {
    m_device.clear();
    m_missing = "losetup cannot attach a loop device here";
  }
}

LoopDevice::~LoopDevice() {
  if (m_mounted) Unmount();
  if (!m_device.empty()) Run("losetup -d " + m_device);
}

bool LoopDevice::Mount() {
  if (m_device.empty() || m_mounted) return m_mounted;
  m_mounted =
      ::mount(m_device.c_str(), m_mountPoint.c_str(), "ext4", 0, nullptr) == 0;
  return m_mounted;
}

bool LoopDevice::Unmount() {
  if (m_mounted && ::umount2(m_mountPoint.c_str(), 0) == 0) m_mounted = false;
  // Still busy: at least take it out of the tree, so that nothing is left
  // mounted in the test's folder.
  if (m_mounted && ::umount2(m_mountPoint.c_str(), MNT_DETACH) == 0) {
    m_mounted = false;
  }
  if (m_mounted) return false;
  // A process that made a mount namespace of its own meanwhile (as other
  // tests do) holds a copy of the mount until it ends.
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(30);
  for (;;) {
    const int probe = ::open(m_device.c_str(), O_RDONLY | O_EXCL | O_CLOEXEC);
    if (probe >= 0) {
      ::close(probe);
      return true;
    }
    if (errno != EBUSY || std::chrono::steady_clock::now() > deadline) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

}  // namespace ferrotick::testing
