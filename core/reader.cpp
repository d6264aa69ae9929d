#include "core/reader.h"

#include <chrono>
#include <new>
#include <system_error>
#include <utility>

#include "core/transfer_buffer.h"
#include "core/workers.h"

namespace ferrotick {

namespace {

// Ends the reader's thread at once and silently.
struct ReaderAbandoned {};

}  // namespace

CReader::CReader(std::string path, BenchState* state)
    : m_strPath(std::move(path)), m_pState(state) {}

CReader::~CReader() {
  if (m_hReadThread.joinable()) {
    m_bRunning.store(false);
    m_bAbandon.store(true);
    m_pState->m_pauses.Wake();
    m_hReadThread.join();
  }
  if (m_pSharedCopy) m_pSharedCopy->Settle();
  m_file.Close();
}

void CReader::Start() {
  MessageLog& log = m_pState->m_log;
  if (!m_file.Open(m_strPath, OpenMode::kSharedRead,
                   m_pState->m_options.direct)) {
    log.Append("Reader Open Failed");
    return;
  }
  log.Append("Reader Opened File");
  // Raised before the thread starts, so that a Stop right away is kept.
  m_bRunning.store(true);
  auto copy = std::make_shared<SharedCopy>(m_file.Descriptor());
  try {
    m_hReadThread = StartWorkerThread([this, copy] {
      const PrivateTableScope table(copy.get());
      // The window thread may close the shared table's copy at its next
      // reap.
      if (copy->Detached()) m_pState->m_log.Wake();
      ReadThread(this);
      copy->Release();
    });
  } catch (const std::system_error&) {
    m_bRunning.store(false);
    log.Append("Reader Thread Failed");
    return;
  }
  m_pSharedCopy = copy;
  m_pState->m_workers.Track(std::move(copy));
  log.Append("Reader Thread Started");
}

void CReader::Stop() {
  m_bRunning.store(false);
  m_pState->m_pauses.Wake();
  m_pState->m_log.Append("ReadThread Stopping");
  if (!m_hReadThread.joinable()) return;
  bool ended;
  {
    std::unique_lock<std::mutex> lock(m_doneMutex);
    ended = m_doneCv.wait_for(lock, std::chrono::milliseconds(kStopWaitMs),
                              [this] { return m_bThreadDone; });
  }
  // Past the wait the thread is abandoned: it ends after its current read
  // without touching the log again.
  if (!ended) m_bAbandon.store(true);
  m_hReadThread.join();
  if (m_pSharedCopy) m_pSharedCopy->Settle();
}

int ReadThread(CReader* reader) {
  BenchState& state = *reader->m_pState;
  MessageLog& log = state.m_log;
  auto checkAbandon = [reader] {
    if (reader->m_bAbandon.load(std::memory_order_relaxed)) {
      throw ReaderAbandoned{};
    }
  };
  int result = 1;
  try {
    const int bufferKB = state.m_nBufferKB.load();
    TransferBuffer buffer(static_cast<std::size_t>(bufferKB) * 1024,
                          state.m_options.direct);
    if (!buffer) {
      log.Append("Reader Thread Failed");
      result = 0;
    }
    const RunOptions& options = state.m_options;
    std::uint64_t remainder = 0;
    int pass = 0;
    PassPacing pacing(state.m_pauses, options.minPassPeriod);
    while (result == 1) {
      int m = 0;
      std::uint64_t passBytes = 0;
      bool failed = false;
      ClockValue start = ReadClock();
      try {
        if (options.dropCache) reader->m_file.DropCache();
        reader->m_file.SeekToStart();
        start = ReadClock();
        for (;;) {
          const std::size_t n =
              reader->m_file.Read(buffer.Data(), buffer.Size());
          checkAbandon();
          if (n == 0) break;
          remainder += n;
          passBytes += n;
          if (remainder >= static_cast<std::uint64_t>(kBytesPerMB)) {
            remainder -= kBytesPerMB;
            ++m;
            // Once per MB, as the write runs do: a clock read per small
            // read would cost a few percent of the rate being measured.
            if (state.m_pListener) {
              state.m_pListener->OnProgress("read", passBytes,
                                            SecondsSince(start));
            }
            if (IsReadProgressPoint(m)) {
              log.Append(ReadProgressLine(m, SecondsSince(start)));
              if (!reader->m_bRunning.load()) break;
            }
          }
        }
      } catch (const FileError& error) {
        failed = true;
        if (state.m_pListener) {
          state.m_pListener->OnFailure("read", error.Errno());
        }
      }
      const double seconds = SecondsSince(start);
      log.Append(ReadPassLine(m, seconds));
      ++pass;
      if (state.m_pListener) {
        state.m_pListener->OnPass(PassRecord{
            "read", pass, m, passBytes, seconds, Rate(m, seconds), bufferKB});
      }
      if (failed) {
        log.Append("Reader Thread Failed");
        result = 0;
        break;
      }
      if (options.passLimit > 0 && pass >= options.passLimit) break;
      if (!reader->m_bRunning.load()) break;
      pacing.AfterPass([reader] {
        return !reader->m_bRunning.load() || reader->m_bAbandon.load();
      });
      checkAbandon();
    }
  } catch (const ReaderAbandoned&) {
    result = 0;
  }
  reader->m_file.Close();
  {
    std::lock_guard<std::mutex> lock(reader->m_doneMutex);
    reader->m_bThreadDone = true;
  }
  reader->m_doneCv.notify_all();
  return result;
}

void OnRead(BenchState& state) {
  if (state.m_pReader) {
    state.m_pReader->Stop();
    state.m_pReader.reset();
    state.m_view.SetReadCaption("Read");
    return;
  }
  try {
    state.m_pReader = std::make_unique<CReader>(state.m_strPath.Get(), &state);
  } catch (const std::bad_alloc&) {
    state.m_log.Append("Reader Creation failed");
    return;
  }
  state.m_pReader->Start();
  state.m_view.SetReadCaption("StopRead");
  state.m_log.Append("Starting Reader");
}

}  // namespace ferrotick
