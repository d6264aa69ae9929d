#include "ui/stop_signals.h"

namespace ferrotick::ui {

CStopSignals::CStopSignals(QObject* parent) : QObject(parent) {
  if (!m_signals.Catching()) return;
  m_pNotifier =
      std::make_unique<QSocketNotifier>(m_signals.Fd(), QSocketNotifier::Read);
  connect(m_pNotifier.get(), &QSocketNotifier::activated, this,
          &CStopSignals::OnReadable);
}

void CStopSignals::OnReadable() {
  m_signals.Wait(0);
  if (m_signals.Count() == 0) return;
  m_signals.Release();
  m_pNotifier->setEnabled(false);
  emit StopRequested();
}

}  // namespace ferrotick::ui
