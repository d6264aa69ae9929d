#include "core/workers.h"

#include <system_error>
#include <utility>

namespace ferrotick {

Workers::~Workers() { JoinAll(); }

bool Workers::Start(std::function<void()> body) {
  Reap();
  auto done = std::make_shared<std::atomic<bool>>(false);
  try {
    std::thread thread([body = std::move(body), done, hook = m_finished] {
      body();
      done->store(true, std::memory_order_release);
      if (hook) hook();
    });
    m_workers.push_back(Worker{std::move(thread), std::move(done)});
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

void Workers::SetFinishedHook(std::function<void()> hook) {
  m_finished = std::move(hook);
}

void Workers::Reap() {
  for (auto it = m_workers.begin(); it != m_workers.end();) {
    if (it->done->load(std::memory_order_acquire)) {
      it->thread.join();
      it = m_workers.erase(it);
    } else {
      ++it;
    }
  }
}

void Workers::JoinAll() {
  for (Worker& worker : m_workers) worker.thread.join();
  m_workers.clear();
}

std::size_t Workers::Running() const {
  std::size_t running = 0;
  for (const Worker& worker : m_workers) {
    if (!worker.done->load(std::memory_order_acquire)) ++running;
  }
  return running;
}

}  // namespace ferrotick
