// SIGTERM, SIGHUP and SIGINT (a logout, kill, Ctrl-C in the terminal that
// started the window) as a request to end, told on the window thread, so
// that the window ends as its Exit button ends it.
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <memory>

namespace ferrotick::ui {

class CStopSignals : public QObject {
  Q_OBJECT

 public:
  // Catches the signals for its life. One at a time.
  explicit CStopSignals(QObject* parent = nullptr);
  ~CStopSignals() override;
  CStopSignals(const CStopSignals&) = delete;
  CStopSignals& operator=(const CStopSignals&) = delete;

  // False when the signals could not be caught; they then act as before.
  bool Catching() const { return m_bCatching; }

 signals:
  // Once, for the first signal. A second signal then acts as it did before
  // (by default it ends the process at once), so a stop that hangs can
  // still be cut short.
  void StopRequested(int signal);

 private:
  void OnReadable();
  void Restore();

  int m_fds[2] = {-1, -1};
  std::unique_ptr<QSocketNotifier> m_pNotifier;
  bool m_bCatching = false;
};

}  // namespace ferrotick::ui
