#include "core/run.h"

#include <atomic>
#include <cerrno>
#include <utility>

#include "core/run_core.h"

namespace ferrotick {

namespace {

std::uint64_t NextRunId() {
  static std::atomic<std::uint64_t> next{1};
  return next.fetch_add(1);
}

}  // namespace

OpenMode RunOpenMode(RunKind kind) {
  switch (kind) {
    case RunKind::kFill:
      return OpenMode::kCreate;
    case RunKind::kWrite:
      return OpenMode::kSharedWrite;
    case RunKind::kRead:
      return OpenMode::kSharedRead;
  }
  return OpenMode::kSharedRead;
}

const char* RunName(RunKind kind) {
  switch (kind) {
    case RunKind::kFill:
      return "create";
    case RunKind::kWrite:
      return "write";
    case RunKind::kRead:
      return "read";
  }
  return "";
}

RunCore::RunCore(RunDescription description)
    : m_description(std::move(description)), m_id(NextRunId()) {}

int RunCore::FileSizeMB() const {
  return m_description.liveFileSizeMB ? m_description.liveFileSizeMB->load()
                                      : m_description.fileSizeMB;
}

void RunCore::Emit(const RunEvent& event) {
  // Under the lock, so that once Abandon() returns nothing more is told.
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_pSink && !m_abandon.load(std::memory_order_relaxed)) {
    m_pSink->OnEvent(event);
  }
}

void RunCore::PauseUntil(std::chrono::steady_clock::time_point until) {
  std::unique_lock<std::mutex> lock(m_mutex);
  m_cv.wait_until(lock, until, [this] { return m_stop.load(); });
}

void RunCore::RequestStop() {
  {
    // Ordered with a pause's test of the flag: it sees it or is woken.
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stop.store(true, std::memory_order_release);
  }
  m_cv.notify_all();
}

void RunCore::Abandon() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_abandon.store(true);
    m_stop.store(true, std::memory_order_release);
    m_pSink.reset();
  }
  m_cv.notify_all();
}

bool RunCore::WaitEnded(std::chrono::milliseconds limit) {
  std::unique_lock<std::mutex> lock(m_mutex);
  return m_cv.wait_for(lock, limit, [this] { return m_bEnded; });
}

bool RunCore::Ended() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_bEnded;
}

void RunCore::WaitForEnd(RunCore& other) {
  // The other run was told to stop and ends at its next stop test; this
  // one may be abandoned meanwhile.
  while (!other.WaitEnded(std::chrono::milliseconds(20))) CheckAbandon();
}

void RunCore::Body(std::shared_ptr<EventSink> sink,
                   std::shared_ptr<RunCore> after) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_abandon.load()) m_pSink = std::move(sink);
  }
  EndEvent end{
      m_description.kind, Outcome::kCompleted, 0, 0, m_description.path, m_id};
  try {
    if (after) WaitForEnd(*after);
    after.reset();
    const int bufferKB = m_description.bufferKB;
    if (bufferKB < 1 || bufferKB > 1024) throw FileError("buffer", EINVAL);
    TransferBuffer buffer(static_cast<std::size_t>(bufferKB) * 1024);
    if (!buffer) throw FileError("buffer", ENOMEM);
    bool stopped = false;
    switch (m_description.kind) {
      case RunKind::kFill:
        stopped = FillPasses(*this, buffer);
        break;
      case RunKind::kWrite:
        stopped = WritePasses(*this, buffer);
        break;
      case RunKind::kRead:
        stopped = ReadPasses(*this, buffer);
        break;
    }
    if (stopped) end.outcome = Outcome::kStopped;
  } catch (const FileError& error) {
    end.outcome = Outcome::kFailed;
    end.error = error.Errno();
  } catch (const RunAbandoned&) {
    end.outcome = Outcome::kAbandoned;
  }
  // The buffer is gone; the file goes before the end is told, so that a
  // run started on the news finds it free.
  m_file.Close();
  end.completePasses = completePasses;
  Emit(end);
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_pSink.reset();
    m_bEnded = true;
  }
  m_cv.notify_all();
}

Run::Run(RunDescription description)
    : m_core(std::make_shared<RunCore>(std::move(description))) {}

Run::~Run() = default;

const RunDescription& Run::Description() const { return m_core->Description(); }

std::uint64_t Run::Id() const { return m_core->Id(); }

int Run::Open() {
  const RunDescription& description = m_core->Description();
  if (m_core->File().Open(description.path, RunOpenMode(description.kind),
                          description.options.direct)) {
    return 0;
  }
  return m_core->File().LastError();
}

void Run::Adopt(FileHandle file) { m_core->File() = std::move(file); }

bool Run::Start(std::shared_ptr<EventSink> sink, const Run* after) {
  std::shared_ptr<RunCore> previous = after ? after->m_core : nullptr;
  return m_thread.Start(m_core, [core = m_core, sink = std::move(sink),
                                 previous] { core->Body(sink, previous); });
}

void Run::RequestStop() { m_core->RequestStop(); }

bool Run::StopRequested() const { return m_core->StopRequested(); }

bool Run::WaitEnded(std::chrono::milliseconds limit) {
  return m_thread.WaitEnded(limit);
}

bool Run::Ended() const { return m_core->Ended(); }

void Run::Abandon() { m_core->Abandon(); }

}  // namespace ferrotick
