// Everything the dialog shows modally goes through this one seam, so tests
// can answer it without a nested event loop.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>
#include <string>

#include "core/bench_view.h"

class QWidget;

namespace ferrotick::ui {

class CModalHost {
 public:
  virtual ~CModalHost() = default;
  // The chosen absolute path as the file system's bytes, or nothing.
  virtual std::optional<std::string> ChoosePath(
      QWidget* parent, const ChoosePathRequest& request) = 0;
  // A warning box with one OK button.
  virtual void ShowMessage(QWidget* parent, const QString& text) = 0;
};

// The real thing: Qt's own file dialog and QMessageBox.
class CQtModalHost : public CModalHost {
 public:
  std::optional<std::string> ChoosePath(
      QWidget* parent, const ChoosePathRequest& request) override;
  void ShowMessage(QWidget* parent, const QString& text) override;
};

// "desc|pattern|desc|pattern||" as Qt name filters ("desc (patterns)").
QStringList NameFiltersFrom(const std::string& filter);

}  // namespace ferrotick::ui
