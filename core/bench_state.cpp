#include "core/bench_state.h"

#include <utility>

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

void WriterTicket::MarkFinished() {
  {
    std::lock_guard<std::mutex> lock(mutex);
    finished = true;
  }
  finishedCv.notify_all();
}

void WriterTicket::WaitFinished() {
  std::unique_lock<std::mutex> lock(mutex);
  finishedCv.wait(lock, [this] { return finished; });
}

BenchState::BenchState(BenchView& view, MessageLog& log)
    : m_view(view), m_log(log) {
  // A finished worker wakes the window thread, which reaps it after its
  // next drain (ReapFinished).
  m_workers.SetFinishedHook([&log] { log.Wake(); });
}

void BenchState::ReapFinished() { m_workers.Reap(); }

BenchState::~BenchState() { Shutdown(); }

void BenchState::Shutdown() {
  m_bAbandon.store(true);
  m_pauses.Wake();
  m_pReader.reset();  // abandons and joins its thread
  m_workers.JoinAll();
  m_file.Close();
}

}  // namespace ferrotick
