#include "core/bench_state.h"

#include <algorithm>
#include <chrono>
#include <utility>
#include <variant>

#include "core/log_lines.h"
#include "core/reader.h"

namespace ferrotick {

std::string SharedText::Get() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_text;
}

void SharedText::Set(std::string text) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_text = std::move(text);
}

// On a run's thread: keeps what the log shows, and names in a closing
// line the path of that moment, as the window's commands may change it.
class BenchState::WindowSink : public EventSink {
 public:
  explicit WindowSink(std::shared_ptr<BenchShared> shared)
      : m_pShared(std::move(shared)) {}

  void OnEvent(const RunEvent& event) override {
    if (m_pShared->tap) m_pShared->tap->OnEvent(event);
    if (const auto* progress = std::get_if<ProgressEvent>(&event)) {
      if (progress->point) m_pShared->events.OnEvent(event);
    } else if (const auto* end = std::get_if<EndEvent>(&event)) {
      EndEvent stamped = *end;
      stamped.path = m_pShared->path.Get();
      m_pShared->events.OnEvent(stamped);
    } else {
      m_pShared->events.OnEvent(event);
    }
  }

 private:
  const std::shared_ptr<BenchShared> m_pShared;
};

BenchState::BenchState(BenchView& view, MessageLog& log)
    : m_pShared(std::make_shared<BenchShared>()),
      m_strPath(m_pShared->path),
      m_nFileSizeMB(m_pShared->fileSizeMB),
      m_view(view),
      m_log(log),
      m_pSink(std::make_shared<WindowSink>(m_pShared)) {
  m_options.minPassPeriod = kMinPassPeriod;
}

BenchState::~BenchState() { Shutdown(); }

void BenchState::SetWakeup(std::function<void()> wakeup) {
  m_pShared->events.SetWake(std::move(wakeup));
}

std::shared_ptr<EventSink> BenchState::Sink() { return m_pSink; }

RunDescription BenchState::Describe(RunKind kind) const {
  RunDescription description;
  description.kind = kind;
  description.path = m_strPath.Get();
  description.fileSizeMB = m_nFileSizeMB.load();
  description.liveFileSizeMB = std::shared_ptr<const std::atomic<int>>(
      m_pShared, &m_pShared->fileSizeMB);
  description.bufferKB = m_nBufferKB.load();
  description.options = m_options;
  return description;
}

bool BenchState::HandleEvents(std::chrono::microseconds budget) {
  const auto start = std::chrono::steady_clock::now();
  if (m_taken.empty()) m_taken = m_pShared->events.Take();
  // Lines go into the log a slice at a time, one notice each.
  constexpr std::size_t kSlice = 512;
  while (!m_taken.empty()) {
    for (std::size_t i = 0; i < kSlice && !m_taken.empty(); ++i) {
      Apply(m_taken.front());
      m_taken.pop_front();
    }
    m_log.Append(m_batch);
    m_batch.Clear();
    if (std::chrono::steady_clock::now() - start >= budget) break;
  }
  return EventsWaiting();
}

void BenchState::Apply(const RunEvent& event) {
  const auto* end = std::get_if<EndEvent>(&event);
  if (end && end->kind == RunKind::kFill &&
      end->outcome == Outcome::kCompleted) {
    // In order with the lines: after the rate, before the closing line.
    m_log.Append(m_batch);
    m_batch.Clear();
    m_view.EnableTests(true);
  }
  ForEachLogLine(event, [this](std::string_view line) { m_batch.Add(line); });
  if (!end) return;
  // Its last act was to hand this over: the join is at once.
  const auto ended =
      std::find_if(m_runs.begin(), m_runs.end(),
                   [end](const auto& run) { return run->Id() == end->run; });
  if (ended != m_runs.end()) {
    if (m_pWriter == ended->get()) m_pWriter = nullptr;
    (*ended)->WaitEnded(std::chrono::milliseconds(kEndWaitMs));
    m_runs.erase(ended);
  }
}

bool BenchState::Busy() const {
  for (const auto& run : m_runs) {
    if (!run->Ended()) return true;
  }
  return m_pReader && m_pReader->Running();
}

std::size_t BenchState::Shutdown() {
  // Once abandoned, a run tells nothing more: what it told before is still
  // handed over, and no wake-up comes after this.
  std::vector<std::unique_ptr<Run>> runs = std::move(m_runs);
  m_runs.clear();
  m_pWriter = nullptr;
  for (const auto& run : runs) run->Abandon();
  if (m_pReader) m_pReader->Abandon();
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(kEndWaitMs);
  const auto left = [&deadline] {
    return std::max(std::chrono::milliseconds(0),
                    std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline - std::chrono::steady_clock::now()));
  };
  std::size_t stuck = 0;
  for (const auto& run : runs) stuck += !run->WaitEnded(left());
  if (m_pReader) stuck += !m_pReader->WaitEnded(left());
  m_pReader.reset();
  return stuck;  // the runs' destructors leave those behind
}

}  // namespace ferrotick
