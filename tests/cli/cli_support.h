// What the command-line tests share: a folder with a test file path, the
// program run as a child process, and its JSON read back.
#pragma once

#include <gtest/gtest.h>
#include <sys/mount.h>

#include <cerrno>
#include <cstdint>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/fake_view.h"

namespace ferrotick::testing {

using Json = nlohmann::json;

inline constexpr std::uint64_t kMiB = 1048576;

// The one value `text` holds, or nothing when it is not exactly valid JSON
// (valid UTF-8 included).
inline std::optional<Json> ParseJson(const std::string& text) {
  Json value = Json::parse(text, nullptr, false);
  if (value.is_discarded()) return std::nullopt;
  return value;
}

// One object per line; a test failure and nothing when a line is not one.
inline std::vector<Json> JsonLines(const std::string& text) {
  std::vector<Json> objects;
  for (const std::string& line : SplitLines(text)) {
    std::optional<Json> value = ParseJson(line);
    if (!value || !value->is_object()) {
      ADD_FAILURE() << "not one JSON object per line:\n" << text;
      return {};
    }
    objects.push_back(std::move(*value));
  }
  return objects;
}

inline int CountPrefix(const std::vector<std::string>& lines,
                       const std::string& prefix) {
  int count = 0;
  for (const std::string& line : lines) count += line.rfind(prefix, 0) == 0;
  return count;
}

// A folder of the test's own and a test file's path in it:
//   const auto& [dir, path] = Scratch();
struct Scratch {
  TempDir dir;
  std::string path = dir.File("t.tmp");
};

// The program as a child process, with `inChild` run before its exec.
inline ChildResult RunCliWith(const std::vector<std::string>& args,
                              const std::function<void()>& inChild) {
  std::vector<std::string> argv{CliPath()};
  argv.insert(argv.end(), args.begin(), args.end());
  Child child(argv, inChild);
  return child.Wait();
}

// A tmpfs of its own, unmounted at the end.
struct SmallDisk {
  explicit SmallDisk(const char* options)
      : mounted(::mount("tmpfs", dir.path().c_str(), "tmpfs", 0, options) == 0),
        error(errno) {}
  ~SmallDisk() {
    if (mounted) ::umount2(dir.path().c_str(), MNT_DETACH);
  }
  TempDir dir;
  bool mounted;
  int error;
};

}  // namespace ferrotick::testing
