// The real modal windows behind the seam: Qt's message box and its own
// file dialog, driven by polling until each is the active window (keys
// sent earlier would be lost).
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <functional>

#include "tests/ui/dialog_window.h"
#include "ui/bench_dialog.h"
#include "ui/modal_host.h"
#include "ui/resource.h"

namespace ferrotick::ui::test {
namespace {

QLineEdit* FileNameEdit(QFileDialog* dialog) {
  return dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
}

ChoosePathRequest OpenRequest(const std::string& folder) {
  ChoosePathRequest request;
  request.openType = true;
  request.defaultExtension = "tmp";
  request.defaultFileName = "testdata";
  request.filter = "tmp files (*.tmp)|*.tmp|All Files (*.*)|*.*||";
  request.initialDirectory = folder;
  request.mustExist = true;
  request.promptOverwrite = false;
  request.hideReadOnly = false;
  return request;
}

}  // namespace

class ModalTest : public QObject {
  Q_OBJECT

 private slots:
  void validationShowsAMessageBoxAndReturnsTheFocus();
  void createThroughQtsFileDialog();
  void openChooserNeedsAnExistingFile();
  void typedNamesThatExistAreTakenAsTyped();
  void allFilesListsDeviceNodes();
};

void ModalTest::validationShowsAMessageBoxAndReturnsTheFocus() {
  CBenchDlg dlg;
  dlg.show();
  QVERIFY(QTest::qWaitForWindowActive(&dlg));
  auto* fileSize = qobject_cast<QLineEdit*>(dlg.Control(IDC_FILE_SIZE));
  fileSize->setFocus();
  fileSize->selectAll();

  QString shown;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  WhenActive<QMessageBox>([&](QMessageBox* box) {
    shown = box->text();
    icon = box->icon();
    QTest::keyClick(box, Qt::Key_Return);
  });
  QTest::keyClick(fileSize, Qt::Key_0);  // returns once the box is closed

  QCOMPARE(shown,
           QStringLiteral("Please enter an integer between 1 and 8192."));
  QCOMPARE(icon, QMessageBox::Warning);
  QVERIFY(!QApplication::activeModalWidget());
  QCOMPARE(dlg.focusWidget(), static_cast<QWidget*>(fileSize));
  QCOMPARE(dlg.State().m_nFileSizeMB.load(), 32);
}

void ModalTest::createThroughQtsFileDialog() {
  QTemporaryDir dir;
  QVERIFY(dir.isValid());
  // The chooser starts in "." and confirms before overwriting.
  const QString existing = dir.filePath(QStringLiteral("testdata.tmp"));
  QFile file(existing);
  QVERIFY(file.open(QIODevice::WriteOnly));
  file.close();
  const QString previous = QDir::currentPath();
  QVERIFY(QDir::setCurrent(dir.path()));

  CBenchDlg dlg;
  dlg.show();
  QVERIFY(QTest::qWaitForWindowActive(&dlg));
  auto* fileSize = qobject_cast<QLineEdit*>(dlg.Control(IDC_FILE_SIZE));
  fileSize->setText(QStringLiteral("1"));

  QFileDialog::AcceptMode mode = QFileDialog::AcceptOpen;
  QFileDialog::FileMode fileMode = QFileDialog::Directory;
  bool native = true;
  bool confirms = false;
  QString suffix, folder, name;
  QStringList filters;
  bool askedToOverwrite = false;
  WhenActive<QFileDialog>([&](QFileDialog* chooser) {
    mode = chooser->acceptMode();
    fileMode = chooser->fileMode();
    native = !chooser->testOption(QFileDialog::DontUseNativeDialog);
    confirms = !chooser->testOption(QFileDialog::DontConfirmOverwrite);
    suffix = chooser->defaultSuffix();
    folder = chooser->directory().absolutePath();
    filters = chooser->nameFilters();
    QLineEdit* edit = FileNameEdit(chooser);
    name = edit ? edit->text() : QString();
    WhenActive<QMessageBox>([&](QMessageBox* box) {
      askedToOverwrite = true;
      box->button(QMessageBox::Yes)->click();
    });
    QTest::keyClick(edit, Qt::Key_Return);
  });
  QTest::mouseClick(dlg.Control(IDC_CREATE), Qt::LeftButton);
  QDir::setCurrent(previous);

  QCOMPARE(mode, QFileDialog::AcceptSave);
  QCOMPARE(fileMode, QFileDialog::AnyFile);
  QVERIFY(!native);
  QVERIFY(confirms);
  QCOMPARE(suffix, QStringLiteral("tmp"));
  QCOMPARE(QFileInfo(folder).canonicalFilePath(),
           QFileInfo(dir.path()).canonicalFilePath());
  QCOMPARE(filters, QStringList({"tmp files (*.tmp)", "All Files (*)"}));
  QCOMPARE(name, QStringLiteral("testdata"));
  QVERIFY(askedToOverwrite);

  // The default suffix was added, and the path handed on is absolute.
  QTRY_COMPARE_WITH_TIMEOUT(dlg.Log().Count(), std::size_t{4}, 20000);
  const QString path = QString::fromStdString(std::string(dlg.Log().Line(0)));
  QVERIFY(QFileInfo(path).isAbsolute());
  QCOMPARE(QFileInfo(path).canonicalFilePath(),
           QFileInfo(existing).canonicalFilePath());
  QCOMPARE(QFileInfo(existing).size(), qint64{1} << 20);
  QVERIFY(dlg.Control(IDC_WRITE)->isEnabled());
}

void ModalTest::openChooserNeedsAnExistingFile() {
  QTemporaryDir dir;
  QVERIFY(dir.isValid());
  const QString existing = dir.filePath(QStringLiteral("data.bin"));
  QFile file(existing);
  QVERIFY(file.open(QIODevice::WriteOnly));
  file.close();
  CQtModalHost host;

  // A missing name is refused with Qt's own note and the chooser stays;
  // Escape then cancels it.
  QFileDialog::AcceptMode mode = QFileDialog::AcceptSave;
  QFileDialog::FileMode fileMode = QFileDialog::AnyFile;
  bool refused = false;
  bool stayed = false;
  WhenActive<QFileDialog>([&](QFileDialog* chooser) {
    mode = chooser->acceptMode();
    fileMode = chooser->fileMode();
    QLineEdit* edit = FileNameEdit(chooser);
    edit->setText(QStringLiteral("missing.tmp"));
    WhenActive<QMessageBox>([&](QMessageBox* box) {
      refused = true;
      QTest::keyClick(box, Qt::Key_Return);
    });
    QTest::keyClick(edit, Qt::Key_Return);
    stayed = chooser->isVisible();
    QTest::keyClick(chooser, Qt::Key_Escape);
  });
  QCOMPARE(host.ChoosePath(nullptr, OpenRequest(dir.path().toStdString())),
           std::nullopt);
  QCOMPARE(mode, QFileDialog::AcceptOpen);
  QCOMPARE(fileMode, QFileDialog::ExistingFile);
  QVERIFY(refused);
  QVERIFY(stayed);

  WhenActive<QFileDialog>([&](QFileDialog* chooser) {
    QLineEdit* edit = FileNameEdit(chooser);
    edit->setText(QStringLiteral("data.bin"));
    QTest::keyClick(edit, Qt::Key_Return);
  });
  const std::optional<std::string> chosen =
      host.ChoosePath(nullptr, OpenRequest(dir.path().toStdString()));
  QVERIFY(chosen);
  QCOMPARE(QFileInfo(QString::fromStdString(*chosen)).canonicalFilePath(),
           QFileInfo(existing).canonicalFilePath());
}

// A typed name that exists is what the user means: a file without an
// extension, a device node. Qt would add ".tmp" to both.
void ModalTest::typedNamesThatExistAreTakenAsTyped() {
  QTemporaryDir dir;
  QVERIFY(dir.isValid());
  const QString plain = dir.filePath(QStringLiteral("plainfile"));
  QFile file(plain);
  QVERIFY(file.open(QIODevice::WriteOnly));
  QVERIFY(file.resize(qint64{3} << 20));
  file.close();
  const QString previous = QDir::currentPath();
  QVERIFY(QDir::setCurrent(dir.path()));
  const auto back = qScopeGuard([&previous] { QDir::setCurrent(previous); });

  CBenchDlg dlg;
  dlg.show();
  QVERIFY(QTest::qWaitForWindowActive(&dlg));
  // Types `name` into the chooser; `openEnabled` tells whether its Open or
  // Save button took the name; an overwrite question is answered Yes.
  bool openEnabled = false;
  bool askedToOverwrite = false;
  QString refused;
  auto answer = [&](const QString& name) {
    openEnabled = false;
    askedToOverwrite = false;
    refused.clear();
    WhenActive<QFileDialog>([&, name](QFileDialog* chooser) {
      QLineEdit* edit = FileNameEdit(chooser);
      edit->setText(name);
      auto* buttons =
          chooser->findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
      QPushButton* accept = buttons->button(QDialogButtonBox::Open);
      if (!accept) accept = buttons->button(QDialogButtonBox::Save);
      openEnabled = accept && accept->isEnabled();
      // Any other box is a refusal: the chooser is then cancelled, so
      // that the checks below fail rather than wait.
      QPointer<QFileDialog> open = chooser;
      WhenActive<QMessageBox>([&, open](QMessageBox* box) {
        if (QAbstractButton* yes = box->button(QMessageBox::Yes)) {
          askedToOverwrite = true;
          yes->click();
          return;
        }
        refused = box->text();
        box->reject();
        if (open) open->reject();
      });
      QTest::keyClick(edit, Qt::Key_Return);
    });
  };
  // Whether the log holds `text` as a line from line `from` on.
  const auto logged = [&dlg](const QString& text, std::size_t from = 0) {
    const QByteArray bytes = text.toUtf8();
    for (std::size_t i = from; i < dlg.Log().Count(); ++i) {
      if (dlg.Log().Line(i) == bytes.constData()) return true;
    }
    return false;
  };

  answer(QStringLiteral("plainfile"));
  QTest::mouseClick(dlg.Control(IDC_USE_EXISTING), Qt::LeftButton);
  QCOMPARE(refused, QString());
  QVERIFY(openEnabled);
  QVERIFY(logged(QStringLiteral("Using ") + plain));
  QCOMPARE(dlg.State().m_nFileSizeMB.load(), 3);

  answer(QStringLiteral("/dev/null"));
  QTest::mouseClick(dlg.Control(IDC_USE_EXISTING), Qt::LeftButton);
  QCOMPARE(refused, QString());
  QVERIFY(openEnabled);
  QVERIFY(logged(QStringLiteral("Using /dev/null")));

  // Create on a typed device node asks before overwriting it and fills
  // the device itself, not a new file "/dev/null.tmp" beside it.
  auto* fileSize = qobject_cast<QLineEdit*>(dlg.Control(IDC_FILE_SIZE));
  fileSize->setText(QStringLiteral("1"));
  const std::size_t before = dlg.Log().Count();
  answer(QStringLiteral("/dev/null"));
  QTest::mouseClick(dlg.Control(IDC_CREATE), Qt::LeftButton);
  QVERIFY(askedToOverwrite);
  QVERIFY(logged(QStringLiteral("/dev/null"), before));
  QTRY_VERIFY_WITH_TIMEOUT(logged(QStringLiteral("/dev/null Closed."), before),
                           20000);
  const bool stray = QFile::exists(QStringLiteral("/dev/null.tmp"));
  if (stray) QFile::remove(QStringLiteral("/dev/null.tmp"));
  QVERIFY(!stray);
}

// "All Files" lists device nodes, so a disk or a loop device can be picked
// from the list like any file.
void ModalTest::allFilesListsDeviceNodes() {
  CQtModalHost host;
  bool listed = false;
  WhenActive<QFileDialog>([&](QFileDialog* chooser) {
    // A failed check below returns here: the chooser must not stay open.
    const auto cancel = qScopeGuard([chooser] {
      if (chooser->isVisible()) chooser->reject();
    });
    chooser->selectNameFilter(QStringLiteral("All Files (*)"));
    auto* list = chooser->findChild<QListView*>(QStringLiteral("listView"));
    QModelIndex null;
    // The folder is read on a thread of Qt's own.
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
          const QModelIndex root = list->rootIndex();
          for (int row = 0; row < list->model()->rowCount(root); ++row) {
            const QModelIndex index = list->model()->index(row, 0, root);
            if (index.data().toString() == QStringLiteral("null")) {
              null = index;
              return true;
            }
          }
          return false;
        }(),
        10000);
    listed = true;
    list->setCurrentIndex(null);
    auto* buttons =
        chooser->findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
    QTest::mouseClick(buttons->button(QDialogButtonBox::Open), Qt::LeftButton);
  });
  const std::optional<std::string> chosen =
      host.ChoosePath(nullptr, OpenRequest("/dev"));
  QVERIFY2(listed, "/dev/null is not listed under All Files");
  QCOMPARE(chosen, std::optional<std::string>("/dev/null"));
}

}  // namespace ferrotick::ui::test

QTEST_MAIN(ferrotick::ui::test::ModalTest)
#include "modal_test.moc"
