// SIGTERM, SIGHUP and SIGINT (a logout, kill, Ctrl-C in the terminal that
// started the window) as a request to end, told on the window thread, so
// that the window ends as its Exit button ends it.
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <memory>

#include "core/stop_signals.h"

namespace ferrotick::ui {

class CStopSignals : public QObject {
  Q_OBJECT

 public:
  // Catches the signals for its life. One at a time.
  explicit CStopSignals(QObject* parent = nullptr);

  // False when the signals could not be caught; they then act as before.
  bool Catching() const { return m_signals.Catching(); }

 signals:
  // Once, for the first signal. A second signal then acts as it did before
  // (by default it ends the process at once), so a stop that hangs can
  // still be cut short.
  void StopRequested();

 private:
  void OnReadable();

  StopSignals m_signals;
  std::unique_ptr<QSocketNotifier> m_pNotifier;
};

}  // namespace ferrotick::ui
