#include "ui/bench_app.h"

#include "core/version.h"
#include "ui/app_icon.h"
#include "ui/bench_dialog.h"
#include "ui/stop_signals.h"

namespace ferrotick::ui {

CBenchApp::CBenchApp(int& argc, char** argv) : QApplication(argc, argv) {
  setApplicationName(QStringLiteral("Ferrotick"));
  setApplicationVersion(QString::fromLatin1(kVersion));
  setOrganizationName(QString());
  setDesktopFileName(QStringLiteral("ferrotick"));
  setWindowIcon(AppIcon());
}

int CBenchApp::Run() {
  CBenchDlg dialog;
  // A logout or a kill ends the window as Exit does: the runs stop in
  // order and their files are closed before the program ends.
  CStopSignals stop;
  connect(&stop, &CStopSignals::StopRequested, &dialog, &QDialog::reject);
  // The dialog's result does not matter: ending it ends the program.
  dialog.exec();
  return 0;
}

}  // namespace ferrotick::ui
