// A loop device over a fresh ext4 image in a temp folder, for tests of
// what may be written to a block device, or over a file a test made, for
// tests of reading one. Needs root and losetup.
#pragma once

#include <string>

#include "tests/support/fake_view.h"

namespace ferrotick::testing {

class LoopDevice {
 public:
  explicit LoopDevice(int sizeMB = 16);
  // Over `backing` as it is: its bytes are the device's.
  explicit LoopDevice(const std::string& backing);
  ~LoopDevice();  // unmounts and detaches
  LoopDevice(const LoopDevice&) = delete;
  LoopDevice& operator=(const LoopDevice&) = delete;

  // Empty once the device is attached; else why it could not be.
  const std::string& Missing() const { return m_missing; }
  const std::string& Path() const { return m_device; }
  // Mounts the ext4 on the device; false when that fails.
  bool Mount();
  // Unmounts it and waits until the filesystem has let go of the device;
  // false when it still holds it after some seconds.
  bool Unmount();

 private:
  TempDir m_dir;
  std::string m_device;
  std::string m_mountPoint;
  std::string m_missing;
  bool m_mounted = false;
};

}  // namespace ferrotick::testing
