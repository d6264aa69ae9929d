#include "core/handed_over_run.h"

#include <utility>
#include <variant>

namespace ferrotick {

namespace {

constexpr double kProgressSpacingSeconds = 0.1;

// On the run's thread: hands over every event but the progress a live line
// cannot show.
class ShownEvents : public EventSink {
 public:
  explicit ShownEvents(std::shared_ptr<EventHandover> handover)
      : m_handover(std::move(handover)) {}

  void OnEvent(const RunEvent& event) override {
    if (const auto* progress = std::get_if<ProgressEvent>(&event);
        progress && !progress->point) {
      if (progress->pass == m_pass &&
          progress->seconds - m_shownAt < kProgressSpacingSeconds) {
        return;
      }
      m_pass = progress->pass;
      m_shownAt = progress->seconds;
    }
    m_handover->OnEvent(event);
  }

 private:
  const std::shared_ptr<EventHandover> m_handover;
  int m_pass = 0;
  double m_shownAt = 0;
};

}  // namespace

bool HandedOverRun::Start(std::function<void()> wake) {
  m_handover->SetWake(std::move(wake));
  return m_run.Start(std::make_shared<ShownEvents>(m_handover));
}

bool HandedOverRun::WaitEnded(std::chrono::milliseconds limit) {
  m_handover->Close();
  return m_run.WaitEnded(limit);
}

}  // namespace ferrotick
