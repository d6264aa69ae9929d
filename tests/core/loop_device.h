// A loop device over a file, for tests of block devices; needs root and
// losetup. Detached again when it goes away.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

namespace ferrotick::testing {

class LoopDevice {
 public:
  explicit LoopDevice(const std::string& backing) {
    const std::string command = "losetup --find --show '" + backing + "' 2>&1";
    FILE* out = ::popen(command.c_str(), "r");
    if (!out) {
      m_error = "cannot run losetup";
      return;
    }
    char line[256] = {};
    const bool got = std::fgets(line, sizeof line, out) != nullptr;
    const int status = ::pclose(out);
    std::string text = got ? line : "";
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
      text.pop_back();
    }
    if (status == 0 && text.rfind("/dev/", 0) == 0) {
      m_path = text;
    } else {
      m_error = "no loop device here (losetup: " +
                (text.empty() ? "not found" : text) + ")";
    }
  }
  ~LoopDevice() {
    if (!m_path.empty()) {
      [[maybe_unused]] const int ignored =
          std::system(("losetup -d '" + m_path + "'").c_str());
    }
  }
  LoopDevice(const LoopDevice&) = delete;
  LoopDevice& operator=(const LoopDevice&) = delete;

  bool ok() const { return !m_path.empty(); }
  const std::string& path() const { return m_path; }
  const std::string& error() const { return m_error; }

 private:
  std::string m_path;
  std::string m_error;
};

}  // namespace ferrotick::testing
