#include "ui/modal_host.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

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

// Qt's own chooser, with the default extension applied as a Linux user
// expects: Qt adds it to every typed name without a dot, which turns a
// typed "/dev/loop0" into a new regular file "/dev/loop0.tmp". Here a typed
// name that exists (an extension-less file, a device node) is taken as
// typed; only a name with no dot that names nothing gets the extension.
class CFileChooser : public QFileDialog {
 public:
  CFileChooser(QWidget* parent, const QString& suffix)
      : QFileDialog(parent), m_suffix(suffix) {
    // Qt's widget rather than a desktop portal: the same everywhere, and it
    // can be driven by tests.
    setOption(QFileDialog::DontUseNativeDialog);
    setDefaultSuffix(m_suffix);
    // After Qt's own handler, which judges the Open button by the name
    // with the extension added.
    if (QLineEdit* edit = NameEdit()) {
      connect(edit, &QLineEdit::textChanged, this,
              &CFileChooser::AllowExistingAsTyped);
    }
    connect(this, &QFileDialog::filesSelected, this,
            [this](const QStringList& files) { m_chosen = files; });
  }

  // What the user accepted, as Qt judged it when the chooser closed.
  const QStringList& Chosen() const { return m_chosen; }

  void accept() override {
    const bool asTyped = !m_suffix.isEmpty() && TypedNameExists();
    if (asTyped) setDefaultSuffix(QString());
    QFileDialog::accept();
    if (asTyped) setDefaultSuffix(m_suffix);
  }

 private:
  QLineEdit* NameEdit() const {
    return findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
  }

  // The one typed name as a path, or empty when several are typed.
  QString TypedPath() const {
    const QLineEdit* edit = NameEdit();
    const QString text = edit ? edit->text() : QString();
    if (text.isEmpty() || text.contains(u'"')) return QString();
    if (text == u'~') return QDir::homePath();
    if (text.startsWith(QStringLiteral("~/"))) {
      return QDir::homePath() + text.mid(1);
    }
    return directory().absoluteFilePath(text);
  }

  bool TypedNameExists() const {
    const QString path = TypedPath();
    if (path.isEmpty()) return false;
    const QFileInfo info(path);
    // A dangling link is still a name that exists.
    return info.exists() || info.isSymLink();
  }

  // Qt disables Open for a typed existing "name" when "name.tmp" does not
  // exist; the name is what will be taken.
  void AllowExistingAsTyped() {
    if (fileMode() != QFileDialog::ExistingFile || m_suffix.isEmpty()) return;
    const QString path = TypedPath();
    if (path.isEmpty()) return;
    const QFileInfo info(path);
    if (!info.exists() || info.isDir()) return;
    auto* buttons = findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
    if (QPushButton* open =
            buttons ? buttons->button(QDialogButtonBox::Open) : nullptr) {
      open->setEnabled(true);
    }
  }

  QString m_suffix;
  QStringList m_chosen;
};

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
  CFileChooser dialog(parent, QString::fromStdString(request.defaultExtension));
  dialog.setAcceptMode(request.openType ? QFileDialog::AcceptOpen
                                        : QFileDialog::AcceptSave);
  dialog.setFileMode(request.mustExist ? QFileDialog::ExistingFile
                                       : QFileDialog::AnyFile);
  dialog.setOption(QFileDialog::DontConfirmOverwrite, !request.promptOverwrite);
  const QStringList filters = NameFiltersFrom(request.filter);
  if (!filters.isEmpty()) dialog.setNameFilters(filters);
  // Device nodes too, so that a disk or a loop device can be chosen.
  dialog.setFilter(dialog.filter() | QDir::System);
  const QString folder =
      request.initialDirectory.empty()
          ? QString()
          : QFile::decodeName(request.initialDirectory.c_str());
  dialog.setDirectory(QDir(folder).absolutePath());
  if (!request.defaultFileName.empty()) {
    dialog.selectFile(QFile::decodeName(request.defaultFileName.c_str()));
  }
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  // Not selectedFiles(), which would judge the typed name afresh, with the
  // extension added.
  const QStringList& chosen = dialog.Chosen();
  if (chosen.isEmpty()) return std::nullopt;
  return QFile::encodeName(QFileInfo(chosen.first()).absoluteFilePath())
      .toStdString();
}

void CQtModalHost::ShowMessage(QWidget* parent, const QString& text) {
  QMessageBox::warning(parent, QCoreApplication::applicationName(), text);
}

}  // namespace ferrotick::ui
