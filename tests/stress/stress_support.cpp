#include "tests/stress/stress_support.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <random>
#include <thread>

#include "tests/support/fake_view.h"

namespace ferrotick::stress {

long long EnvInteger(const char* name, long long fallback) {
  const char* text = std::getenv(name);
  if (!text || !*text) return fallback;
  char* end = nullptr;
  errno = 0;
  const long long value = std::strtoll(text, &end, 0);
  if (errno != 0 || *end != '\0') return fallback;
  return value;
}

std::uint64_t SeedFromEnv() {
  const char* text = std::getenv("FERROTICK_STRESS_SEED");
  if (text && *text) return std::strtoull(text, nullptr, 0);
  std::random_device device;
  return (static_cast<std::uint64_t>(device()) << 32) ^ device();
}

std::string ReadFile(const std::string& path) {
  std::string bytes;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return bytes;
  char block[1 << 16];
  for (;;) {
    const ssize_t n = ::read(fd, block, sizeof(block));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    bytes.append(block, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return bytes;
}

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::size_t Digits(std::string_view text, std::size_t from) {
  while (from < text.size() && IsDigit(text[from])) ++from;
  return from;
}

}  // namespace

bool LineMatches(std::string_view line, std::string_view format) {
  while (!format.empty()) {
    if (format.substr(0, 2) == "%d") {
      std::size_t i = !line.empty() && line[0] == '-' ? 1 : 0;
      const std::size_t end = Digits(line, i);
      if (end == i) return false;
      line.remove_prefix(end);
      format.remove_prefix(2);
    } else if (format.substr(0, 4) == "%.3f") {
      // Digits, a point and three decimals: never inf, nan or a sign.
      const std::size_t point = Digits(line, 0);
      if (point == 0 || point >= line.size() || line[point] != '.') {
        return false;
      }
      if (Digits(line, point + 1) != point + 4) return false;
      line.remove_prefix(point + 4);
      format.remove_prefix(4);
    } else if (format.substr(0, 2) == "%s") {
      format.remove_prefix(2);
      for (std::size_t k = 0; k <= line.size(); ++k) {
        if (LineMatches(line.substr(k), format)) return true;
      }
      return false;
    } else {
      if (line.empty() || line[0] != format[0]) return false;
      line.remove_prefix(1);
      format.remove_prefix(1);
    }
  }
  return line.empty();
}

std::optional<std::string> PathIn(std::string_view line,
                                  std::string_view format) {
  const std::size_t at = format.find("%s");
  if (at == std::string_view::npos) return std::nullopt;
  const std::string_view prefix = format.substr(0, at);
  const std::string_view suffix = format.substr(at + 2);
  if (line.size() < prefix.size() + suffix.size()) return std::nullopt;
  if (line.substr(0, prefix.size()) != prefix) return std::nullopt;
  if (line.substr(line.size() - suffix.size()) != suffix) return std::nullopt;
  return std::string(
      line.substr(prefix.size(), line.size() - prefix.size() - suffix.size()));
}

void Transcript::OnLogAppending(std::size_t first, std::size_t last) {
  m_first = first;
  m_last = last;
}

void Transcript::OnLogAppended() {
  for (std::size_t i = m_first; i <= m_last; ++i) {
    entries.push_back(Entry{m_inCommand ? Source::kWindow : Source::kWorker,
                            std::string(m_log.Line(i))});
  }
}

void Transcript::MarkDrained() {
  if (!entries.empty() && entries.back().source == Source::kDrained) return;
  entries.push_back(Entry{Source::kDrained, {}});
}

namespace {}  // namespace

void RunRecorder::Note(const char* run) {
  if (std::string_view(run) == "read") return;
  // One run per thread: its first event opens its span.
  std::lock_guard<std::mutex> lock(m_mutex);
  const long sequence = m_sequence++;
  const auto [at, added] =
      m_spanOf.try_emplace(std::this_thread::get_id(), m_spans.size());
  if (added) m_spans.push_back(Span{run, sequence, sequence});
  m_spans[at->second].last = sequence;
}

std::optional<std::string> RunRecorder::Overlap() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  for (std::size_t a = 0; a < m_spans.size(); ++a) {
    for (std::size_t b = a + 1; b < m_spans.size(); ++b) {
      if (m_spans[a].first < m_spans[b].last &&
          m_spans[b].first < m_spans[a].last) {
        return m_spans[a].run + " run " + std::to_string(a) + " and " +
               m_spans[b].run + " run " + std::to_string(b) +
               " wrote at the same time";
      }
    }
  }
  return std::nullopt;
}

void RunRecorder::OnEvent(const RunEvent& event) {
  if (const auto* progress = std::get_if<ProgressEvent>(&event)) {
    Note(RunName(progress->kind));
  } else if (const auto* pass = std::get_if<PassEvent>(&event)) {
    Note(RunName(pass->kind));
    // The passes whose lines the log shows.
    if (pass->kind == RunKind::kFill
            ? !pass->Complete()
            : pass->end == PassEnd::kFailed && pass->kind == RunKind::kWrite) {
      return;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_passes.emplace_back(RunName(pass->kind), pass->mb);
  } else {
    // A thread that ends gives its id to the next one it may be reused
    // for; its span is closed.
    std::lock_guard<std::mutex> lock(m_mutex);
    m_spanOf.erase(std::this_thread::get_id());
  }
}

std::vector<int> RunRecorder::Passes(const std::string& run) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  std::vector<int> mbs;
  for (const auto& [kind, mb] : m_passes) {
    if (kind == run) mbs.push_back(mb);
  }
  return mbs;
}

bool IsReason(std::string_view line) {
  return line.rfind("  ", 0) == 0 && line.rfind("  Init... ", 0) != 0 &&
         line.rfind("  Write... ", 0) != 0 && line.rfind("  Reading: ", 0) != 0;
}

namespace {

bool IsFailure(std::string_view line) {
  return line == "Open Failed" || line == "Open Failed or Canceled" ||
         line.rfind("Couldn't open ", 0) == 0 || line == "Reader Open Failed" ||
         line == "Make sure nothing is using it." ||
         line == "WriteThread Failed." || line == "Reader Thread Failed";
}

}  // namespace

std::vector<std::string> WithoutReasons(const std::vector<std::string>& lines) {
  std::vector<std::string> kept;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    kept.push_back(lines[i]);
    const bool says = i + 1 < lines.size() && IsReason(lines[i + 1]);
    // A cancelled fill has nothing to say; a failed one says why.
    if (lines[i] == "InitThread Failed or was Canceled.") {
      if (says) ++i;
      continue;
    }
    if (!IsFailure(lines[i])) continue;
    if (says) {
      ++i;
    } else {
      ADD_FAILURE() << lines[i] << " says not why";
    }
  }
  return kept;
}

int ThreadBaseline() {
  std::thread([] {}).join();
  // Until the joined thread has left the listing.
  int count = testing::ThreadCount();
  for (int i = 0; i < 400; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const int now = testing::ThreadCount();
    if (now == count) break;
    count = now;
  }
  return count;
}

int ThreadsSettled(int expected) {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(10);
  int count = testing::ThreadCount();
  while (count != expected && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    count = testing::ThreadCount();
  }
  return count;
}

TmpfsMount::TmpfsMount(std::string dir, const std::string& options)
    : m_dir(std::move(dir)) {
  if (::mount("tmpfs", m_dir.c_str(), "tmpfs", MS_NOSUID, options.c_str()) !=
      0) {
    m_error = std::string("mount -t tmpfs -o ") + options + ": " +
              std::strerror(errno);
    return;
  }
  m_mounted = true;
}

TmpfsMount::~TmpfsMount() {
  if (m_mounted) ::umount2(m_dir.c_str(), MNT_DETACH);
}

bool TmpfsMount::RemountReadOnly() {
  if (!m_mounted) return false;
  if (::mount(nullptr, m_dir.c_str(), nullptr,
              MS_REMOUNT | MS_RDONLY | MS_NOSUID, nullptr) != 0) {
    m_error = std::string("remount,ro: ") + std::strerror(errno);
    return false;
  }
  return true;
}

std::string FullDevice(const std::string& dir) {
  const std::string node = dir + "/full";
  if (::mknod(node.c_str(), S_IFCHR | 0666, makedev(1, 7)) == 0) {
    const int fd = ::open(node.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd >= 0) {
      const char byte = 0;
      const bool full = ::write(fd, &byte, 1) < 0 && errno == ENOSPC;
      ::close(fd);
      if (full) return node;
    }
    ::unlink(node.c_str());
  }
  return "/dev/full";
}

int InChild(const std::function<int()>& body) {
  const pid_t child = ::fork();
  if (child < 0) return -1;
  if (child == 0) ::_exit(body());
  int status = 0;
  while (::waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace ferrotick::stress
