// The main dialog: carries the bench state, shows the log, validates the
// settings as they are typed and routes every control to its command.
#pragma once

#include <QDialog>
#include <QTimer>
#include <memory>
#include <optional>
#include <string>

#include "core/bench_state.h"
#include "core/bench_view.h"
#include "core/message_log.h"
#include "ui/log_model.h"
#include "ui/modal_host.h"

class QLineEdit;
class QPushButton;

namespace ferrotick::ui {

class CLogView;

class CBenchDlg : public QDialog, public BenchView {
  Q_OBJECT

 public:
  // Without a host the dialog uses Qt's own file dialog and message boxes.
  explicit CBenchDlg(CModalHost* modal = nullptr);
  ~CBenchDlg() override;

  // BenchView.
  void SetTitle(const std::string& text) override;
  void EnableTests(bool on) override;
  void SetWriteCaption(const std::string& text) override;
  void SetReadCaption(const std::string& text) override;
  void ShowSettings() override;
  std::optional<std::string> ChoosePath(
      const ChoosePathRequest& request) override;

  // The control with that IDC_ identifier, or null.
  QWidget* Control(int id) const;
  BenchState& State() { return m_state; }
  MessageLog& Log() { return m_log; }

  // Ends the dialog; every run is abandoned and joined before it returns.
  void done(int result) override;

 private:
  void BuildControls();
  void OnSettingsChanged();
  void OnSaveLogClicked();
  // The runs' events into the log, on the window thread.
  void HandleEvents();
  // Ends every run, once; says on standard error if one could not end.
  void Shutdown();

  std::unique_ptr<CModalHost> m_pOwnModal;
  CModalHost* m_pModal;

  // The log outlives the state, whose workers append to it until joined.
  MessageLog m_log;
  CLogModel m_logModel;
  BenchState m_state;

  QPushButton* m_pCancelInit = nullptr;
  QPushButton* m_pRead = nullptr;
  QPushButton* m_pWrite = nullptr;
  CLogView* m_pLog = nullptr;
  QLineEdit* m_pFileSize = nullptr;
  QLineEdit* m_pBufferSize = nullptr;
  QTimer m_handleTimer;  // more events to handle after a turn's budget
};

}  // namespace ferrotick::ui
