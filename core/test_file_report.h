// What `measure` and `profile` both begin their reports with: the test file
// each made for itself, and the disk it was on.
#pragma once

#include <string>

#include "core/disk_facts.h"

namespace ferrotick {

struct TestFileReport {
  std::string path;    // the test file
  std::string folder;  // where it was made
  DiskFacts facts;
  int sizeMB = 0;
};

// "ext4 on /dev/vda1 (the virtio disk vda)", "tmpfs (in memory)".
std::string DiskInWords(const DiskFacts& facts);
// For a note on a cache beneath the file system: what that is, as far as
// it is known.
std::string WhatLiesBeneath(const DiskFacts& facts);

}  // namespace ferrotick
