#include "core/write_run.h"

#include <cerrno>
#include <cstring>
#include <thread>
#include <utility>

#include "core/timed_writes.h"
#include "core/transfer_buffer.h"

namespace ferrotick {

namespace {

bool KeepWriting(const BenchState& state, const WriterTicket& ticket) {
  return state.m_bWriting.load() && !ticket.stopRequested.load();
}

// One timed pass; returns its MB count.
int WritePass(BenchState& state, TestFile& file, TransferBuffer& buffer,
              int bufferKB, const WriterTicket& ticket, int pass) {
  TimedWrites writes(state, file, buffer, bufferKB, "write");
  writes.Start();
  int i = 0;
  for (; i < state.m_nFileSizeMB.load(); ++i) {
    writes.WriteMB(i);
    if (IsWriteProgressPoint(i)) {
      writes.Progress(i, WriteProgressLine);
      if (!KeepWriting(state, ticket)) break;  // the pass counts i MB
    }
  }
  const int n = i;
  state.m_log.Append(WrotePassLine(n, writes.Finish(n, n, pass)));
  return n;
}

// The passes until a stop; throws FileError on a failed write or seek.
void WritePasses(BenchState& state, TestFile& file, WriterTicket& ticket) {
  const int bufferKB = state.m_nBufferKB.load();
  TransferBuffer buffer(static_cast<std::size_t>(bufferKB) * 1024,
                        state.m_options.direct);
  if (!buffer) throw FileError("buffer", ENOMEM);
  char letter = 'A';
  int pass = 0;
  PassPacing pacing(state.m_pauses, state.m_options.minPassPeriod);
  while (KeepWriting(state, ticket)) {
    file.SeekToStart();
    std::memset(buffer.Data(), letter, buffer.Size());
    letter = letter == 'Z' ? 'A' : static_cast<char>(letter + 1);
    WritePass(state, file, buffer, bufferKB, ticket, ++pass);
    if (state.m_options.passLimit > 0 && pass >= state.m_options.passLimit) {
      ticket.stopRequested.store(true);
    }
    pacing.AfterPass(
        [&] { return !KeepWriting(state, ticket) || state.m_bAbandon.load(); });
    state.CheckAbandon();
  }
}

}  // namespace

void OnWrite(BenchState& state) {
  state.m_workers.Reap();
  if (state.m_bWriting.load()) {
    state.m_bWriting.store(false);
    if (state.m_pLastWriter) state.m_pLastWriter->stopRequested.store(true);
    state.m_pauses.Wake();
    state.m_view.SetWriteCaption("Write");
    state.m_log.Append("Stopping WriteThread.");
    return;
  }
  const std::string path = state.m_strPath.Get();
  if (!state.m_file.Open(path, OpenMode::kSharedWrite,
                         state.m_options.direct)) {
    state.m_log.Append("Open Failed or Canceled");
    return;
  }
  state.m_log.Append(Format("Opened %s", path.c_str()));
  state.m_log.Append("");
  auto ticket = std::make_shared<WriterTicket>();
  std::shared_ptr<WriterTicket> previous = state.m_pLastWriter;
  if (previous) previous->stopRequested.store(true);
  // Raised before the thread starts, so that a second press right away
  // stops this writer instead of starting another one.
  state.m_bWriting.store(true);
  auto file = std::make_shared<TestFile>(std::move(state.m_file));
  const bool started = state.m_workers.Start(
      [&state, file, ticket, previous] {
        WriteThread(state, std::move(*file), ticket, previous);
      },
      std::make_shared<SharedCopy>(file->Descriptor()));
  if (!started) {
    state.m_bWriting.store(false);
    state.m_log.Append("WriteThread did not start.");
    return;
  }
  state.m_pLastWriter = ticket;
  state.m_view.SetWriteCaption("StopWrite");
  state.m_log.Append("WriteThread Started.");
}

int WriteThread(BenchState& state, TestFile file,
                std::shared_ptr<WriterTicket> ticket,
                std::shared_ptr<WriterTicket> previous) {
  int result = 0;
  try {
    // Two writers never share the file: wait until the one before has
    // closed it. It is told to stop, so this ends at its next stop test.
    if (previous) previous->WaitFinished();
    previous.reset();
    state.CheckAbandon();
    try {
      WritePasses(state, file, *ticket);
      result = 1;
    } catch (const FileError& error) {
      result = 0;
      if (state.m_pListener) {
        state.m_pListener->OnFailure("write", error.Errno());
      }
    }
    state.CheckAbandon();
    state.m_log.Append(result ? "WriteThread Done." : "WriteThread Failed.");
    file.Close();
    state.m_log.Append(Format("%s Closed.", state.m_strPath.Get().c_str()));
  } catch (const Abandoned&) {
    result = 0;
  }
  file.Close();
  ticket->MarkFinished();
  return result;
}

}  // namespace ferrotick
