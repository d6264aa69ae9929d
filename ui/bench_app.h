// The application: names itself, runs the main dialog modally and ends.
#pragma once

#include <QApplication>

namespace ferrotick::ui {

class CBenchApp : public QApplication {
  Q_OBJECT

 public:
  // Qt takes its own options from the command line; Ferrotick reads none.
  CBenchApp(int& argc, char** argv);

  // Builds the dialog, runs it until it ends, and returns the exit code.
  int Run();
};

}  // namespace ferrotick::ui
