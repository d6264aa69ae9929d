#include "tests/support/fake_view.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>

#include "tests/support/thread_count.h"

namespace ferrotick::testing {

void FakeView::SetTitle(const std::string& text) {
  title = text;
  calls.push_back("SetTitle:" + text);
}

void FakeView::EnableTests(bool on) {
  testsEnabled = on;
  calls.push_back(on ? "EnableTests:1" : "EnableTests:0");
}

void FakeView::SetWriteCaption(const std::string& text) {
  writeCaption = text;
  calls.push_back("SetWriteCaption:" + text);
}

void FakeView::SetReadCaption(const std::string& text) {
  readCaption = text;
  calls.push_back("SetReadCaption:" + text);
}

void FakeView::ShowSettings() {
  ++showSettingsCalls;
  calls.push_back("ShowSettings");
}

std::optional<std::string> FakeView::ChoosePath(
    const ChoosePathRequest& request) {
  requests.push_back(request);
  calls.push_back("ChoosePath");
  if (answers.empty()) return std::nullopt;
  std::optional<std::string> answer = answers.front();
  answers.pop_front();
  return answer;
}

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern =
      std::string(base && *base ? base : "/tmp") + "/ferrotick-test-XXXXXX";
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp");
  m_path = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::permissions(m_path, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(m_path, ignored);
}

Bench::Bench() {
  state.m_nFileSizeMB = 32;
  state.m_nBufferKB = 128;
}

Bench::~Bench() { state.Shutdown(); }

bool Bench::DrainUntil(const std::function<bool()>& done,
                       std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    state.HandleEvents();
    if (done()) return true;
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

bool Bench::WaitForLine(const std::string& line, std::size_t from,
                        std::chrono::milliseconds timeout) {
  return DrainUntil([&] { return Find(line, from).has_value(); }, timeout);
}

bool Bench::WaitIdle(std::chrono::milliseconds timeout) {
  const bool idle = DrainUntil([&] { return !state.Busy(); }, timeout);
  state.HandleEvents();
  return idle && state.m_runs.empty();
}

std::vector<std::string> Bench::Lines(std::size_t from) const {
  std::vector<std::string> lines;
  for (std::size_t i = from; i < log.Count(); ++i) {
    lines.emplace_back(log.Line(i));
  }
  return lines;
}

std::optional<std::size_t> Bench::Find(const std::string& line,
                                       std::size_t from) const {
  for (std::size_t i = from; i < log.Count(); ++i) {
    if (log.Line(i) == line) return i;
  }
  return std::nullopt;
}

std::vector<std::string> OpenDescriptors() {
  std::vector<std::string> fds;
  DIR* dir = ::opendir("/proc/self/fd");
  if (!dir) return fds;
  const int own = ::dirfd(dir);
  while (dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == ".." || name == std::to_string(own)) continue;
    char target[4096] = {};
    const std::string link = "/proc/self/fd/" + name;
    const ssize_t n = ::readlink(link.c_str(), target, sizeof(target) - 1);
    fds.push_back(name + "->" + (n > 0 ? std::string(target, n) : "?"));
  }
  ::closedir(dir);
  return fds;
}

int ThreadCount() {
  // Some runtimes (ThreadSanitizer's) start a helper thread of their own at
  // the first thread start: have that happen before anything is counted.
  static const bool warmed = [] {
    std::thread([] {}).join();
    return true;
  }();
  (void)warmed;
  return LiveThreadCount();
}

void MakeFile(const std::string& path, std::uint64_t bytes, char fill) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  const std::string block(1 << 16, fill);
  while (bytes > 0) {
    const std::uint64_t n = std::min<std::uint64_t>(bytes, block.size());
    out.write(block.data(), static_cast<std::streamsize>(n));
    bytes -= n;
  }
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

int ByteAt(const std::string& path, std::uint64_t offset) {
  std::ifstream in(path, std::ios::binary);
  in.seekg(static_cast<std::streamoff>(offset));
  const int c = in.get();
  return in ? c : -1;
}

std::uint64_t FileLength(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return 0;
  return static_cast<std::uint64_t>(info.st_size);
}

bool Exists(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0;
}

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Matches line[li..] against format[fi..]; %s may take any text.
bool MatchFrom(const std::string& line, std::size_t li,
               const std::string& format, std::size_t fi) {
  while (fi < format.size()) {
    if (format.compare(fi, 2, "%s") == 0) {
      for (std::size_t end = line.size() + 1; end-- > li;) {
        if (MatchFrom(line, end, format, fi + 2)) return true;
      }
      return false;
    }
    if (format.compare(fi, 2, "%d") == 0) {
      if (li < line.size() && line[li] == '-') ++li;
      const std::size_t digits = li;
      while (li < line.size() && IsDigit(line[li])) ++li;
      if (li == digits) return false;
      fi += 2;
      continue;
    }
    if (format.compare(fi, 4, "%.3f") == 0) {
      const std::size_t digits = li;
      while (li < line.size() && IsDigit(line[li])) ++li;
      if (li == digits || li + 4 > line.size() || line[li] != '.') return false;
      for (std::size_t k = 1; k <= 3; ++k) {
        if (!IsDigit(line[li + k])) return false;
      }
      li += 4;
      fi += 4;
      continue;
    }
    if (li >= line.size() || line[li] != format[fi]) return false;
    ++li;
    ++fi;
  }
  return li == line.size();
}

}  // namespace

bool MatchesFormat(const std::string& line, const std::string& format) {
  return MatchFrom(line, 0, format, 0);
}

}  // namespace ferrotick::testing
