#include "ui/bench_app.h"

#include "core/version.h"
#include "ui/app_icon.h"
#include "ui/bench_dialog.h"

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
  // The dialog's result does not matter: ending it ends the program.
  dialog.exec();
  return 0;
}

}  // namespace ferrotick::ui
