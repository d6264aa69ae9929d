#include "core/test_file_report.h"

namespace ferrotick {

std::string DiskInWords(const DiskFacts& facts) {
  std::string words = facts.fileSystem;
  if (!facts.device.empty()) words += " on " + facts.device;
  if (facts.inMemory && facts.device.empty()) {
    words += " (in memory)";
  } else if (!facts.beneath.empty()) {
    words += " (" + facts.beneath + ")";
  }
  return words;
}

std::string WhatLiesBeneath(const DiskFacts& facts) {
  return facts.beneath.empty() ? "what lies under it" : facts.beneath;
}

}  // namespace ferrotick
