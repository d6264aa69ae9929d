#include "ui/modal_host.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

namespace ferrotick::ui {
namespace {

// "*.*" asks for every file, but on Linux it would only match names with a
// dot; ";" separates patterns where Qt expects blanks.
QString QtPatterns(const QString& patterns) {
  QStringList out;
  for (const QString& one : patterns.split(u';', Qt::SkipEmptyParts)) {
    const QString trimmed = one.trimmed();
    if (trimmed.isEmpty()) continue;
    out << (trimmed == QStringLiteral("*.*") ? QStringLiteral("*") : trimmed);
  }
  return out.isEmpty() ? QStringLiteral("*") : out.join(u' ');
}

}  // namespace

QStringList NameFiltersFrom(const std::string& filter) {
  const QStringList parts =
      QString::fromUtf8(filter.data(), static_cast<qsizetype>(filter.size()))
          .split(u'|');
  QStringList filters;
  // Pairs until the first empty description: the "||" end mark.
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QString description = parts[i].trimmed();
    const QString patterns = parts[i + 1].trimmed();
    if (description.isEmpty()) break;
    // Qt takes the patterns from the last "(...)" of the text, so the
    // description's own copy of them is replaced by the converted one.
    const QString own = QStringLiteral("(") + patterns + QStringLiteral(")");
    if (description.endsWith(own)) {
      description.chop(own.size());
      description = description.trimmed();
    }
    filters << description + QStringLiteral(" (") + QtPatterns(patterns) +
                   QStringLiteral(")");
  }
  return filters;
}

std::optional<std::string> CQtModalHost::ChoosePath(
    QWidget* parent, const ChoosePathRequest& request) {
  QFileDialog dialog(parent);
  // Qt's own widget rather than a desktop portal: the same everywhere, and
  // it can be driven by tests.
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setAcceptMode(request.openType ? QFileDialog::AcceptOpen
                                        : QFileDialog::AcceptSave);
  dialog.setFileMode(request.mustExist ? QFileDialog::ExistingFile
                                       : QFileDialog::AnyFile);
  dialog.setOption(QFileDialog::DontConfirmOverwrite, !request.promptOverwrite);
  const QStringList filters = NameFiltersFrom(request.filter);
  if (!filters.isEmpty()) dialog.setNameFilters(filters);
  dialog.setDefaultSuffix(QString::fromStdString(request.defaultExtension));
  const QString folder =
      request.initialDirectory.empty()
          ? QString()
          : QFile::decodeName(request.initialDirectory.c_str());
  dialog.setDirectory(QDir(folder).absolutePath());
  if (!request.defaultFileName.empty()) {
    dialog.selectFile(QFile::decodeName(request.defaultFileName.c_str()));
  }
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const QStringList chosen = dialog.selectedFiles();
  if (chosen.isEmpty()) return std::nullopt;
  return QFile::encodeName(QFileInfo(chosen.first()).absoluteFilePath())
      .toStdString();
}

void CQtModalHost::ShowMessage(QWidget* parent, const QString& text) {
  QMessageBox::warning(parent, QCoreApplication::applicationName(), text);
}

}  // namespace ferrotick::ui
