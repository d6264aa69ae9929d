// Ending the program in every state it can be in: each run going, all three
// at once, a message box open and a file chooser open. The dialog must end
// within a second, join every thread, let go of every descriptor and leave
// each test file whole as far as it was written.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>

#include "tests/ui/dialog_window.h"
#include "tests/ui/process_probe.h"
#include "ui/bench_dialog.h"
#include "ui/modal_host.h"
#include "ui/resource.h"

namespace ferrotick::ui::test {
namespace {

// Ending must take under a second; the rest is slack for sanitized builds.
constexpr qint64 kEndLimitMs = 1000 + 1000;
// A modal left open by the end is closed after this, to fail, not hang;
// a sanitized build on a busy machine can take seconds to show one.
constexpr int kRescueMs = 60000;
constexpr int kWaitMs = 20000;
constexpr qint64 kMB = qint64{1} << 20;
constexpr char kFiller = '.';

// Qt's message boxes, and Qt's file dialog when asked for; otherwise the
// chooser is answered from a script, so runs can be set going first.
class CRealModal : public CQtModalHost {
 public:
  std::optional<std::string> ChoosePath(
      QWidget* parent, const ChoosePathRequest& request) override {
    if (realChooser) return CQtModalHost::ChoosePath(parent, request);
    if (answers.empty()) return std::nullopt;
    std::optional<std::string> answer = answers.front();
    answers.pop_front();
    return answer;
  }
  bool realChooser = false;
  std::deque<std::optional<std::string>> answers;
};

// Closes every modal still open, so that a test that finds one left over
// fails on its checks instead of waiting for a user.
void RescueLater(QObject* context) {
  QTimer::singleShot(kRescueMs, context, [] {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      auto* modal = qobject_cast<QDialog*>(widget);
      if (modal && modal->isVisible()) modal->reject();
    }
  });
}

// Gives the window the focus back once a modal over it has closed, as a
// window manager would; the offscreen platform has none.
bool BringBack(QWidget& window) {
  window.activateWindow();
  return QTest::qWaitForWindowActive(&window);
}

void MakeFile(const QString& path, qint64 bytes) {
  QFile file(path);
  QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
  const QByteArray block(kMB, kFiller);
  for (qint64 done = 0; done < bytes; done += block.size()) {
    QCOMPARE(file.write(block), qint64{block.size()});
  }
}

QByteArray Contents(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

char FirstByte(const QString& path) {
  QFile file(path);
  char byte = 0;
  if (!file.open(QIODevice::ReadOnly) || !file.getChar(&byte)) return 0;
  return byte;
}

// Empty when the file at `path` is what a writer leaves: from the start
// the letter of the pass under way, for a whole number of writes, then the
// letter of the pass before it, or what the file held before the first
// pass. Read in pieces: a writer that follows a large File Size grows it.
QString WriterFileFault(const QString& path, qint64 writeBytes) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return QStringLiteral("cannot open");
  char current = 0;
  char rest = 0;
  qint64 run = 0;  // bytes of the current letter from the start
  qint64 offset = 0;
  for (QByteArray piece = file.read(kMB); !piece.isEmpty();
       piece = file.read(kMB)) {
    const char* byte = piece.constData();
    // Whole pieces of one letter are passed over at memcmp's speed.
    const char expected = rest == 0 ? current : rest;
    if (offset > 0 &&
        std::memcmp(byte, QByteArray(piece.size(), expected).constData(),
                    static_cast<std::size_t>(piece.size())) == 0) {
      offset += piece.size();
      if (rest == 0) run += piece.size();
      continue;
    }
    for (qsizetype i = 0; i < piece.size(); ++i, ++offset) {
      if (offset == 0) {
        current = byte[0];
        if (current < 'A' || current > 'Z') {
          return QStringLiteral("starts with byte %1").arg(int{current});
        }
      }
      if (rest == 0) {
        if (byte[i] == current) {
          ++run;
          continue;
        }
        rest = byte[i];
        const char before =
            current == 'A' ? 'Z' : static_cast<char>(current - 1);
        if (run % writeBytes != 0) {
          return QStringLiteral("pass '%1' ends inside a write, at %2")
              .arg(current)
              .arg(run);
        }
        if (rest != before && !(current == 'A' && rest == kFiller)) {
          return QStringLiteral("pass '%1' is followed by byte %2")
              .arg(current)
              .arg(int{rest});
        }
      } else if (byte[i] != rest) {
        return QStringLiteral("mixed bytes at %1").arg(offset);
      }
    }
  }
  return offset == 0 ? QStringLiteral("the file is empty") : QString();
}

// Lines that only a run that ends by itself, or is stopped, appends.
bool IsEndOfRunLine(const QString& line) {
  return line == QStringLiteral("InitThread Failed or was Canceled.") ||
         line.startsWith(QStringLiteral("Init Done: ")) ||
         line == QStringLiteral("WriteThread Done.") ||
         line == QStringLiteral("WriteThread Failed.") ||
         line.endsWith(QStringLiteral(" Closed.")) ||
         line == QStringLiteral("ReadThread Stopping") ||
         line == QStringLiteral("Reader Thread Failed");
}

// A dialog on screen with runs set going through its controls.
class Window : public DialogWindow<CRealModal> {
 public:
  bool LogHasLineStarting(const QString& start) {
    for (const QString& line : LogLines()) {
      if (line.startsWith(start)) return true;
    }
    return false;
  }

  // Each waits until its run has visibly begun.
  bool StartReader(const QString& path) {
    modal.answers.push_back(path.toStdString());
    Click(IDC_USE_EXISTING);
    Click(IDC_READ);
    return QTest::qWaitFor(
        [&] { return LogHasLineStarting(QStringLiteral("Read ")); }, kWaitMs);
  }
  bool StartWriter(const QString& path, int bufferKB) {
    modal.answers.push_back(path.toStdString());
    Click(IDC_USE_EXISTING);
    Type(IDC_BUFFER_SIZE, QString::number(bufferKB));
    Click(IDC_WRITE);
    return QTest::qWaitFor([&] { return FirstByte(path) != kFiller; }, kWaitMs);
  }
  bool StartFill(const QString& path, int bufferKB) {
    Type(IDC_BUFFER_SIZE, QString::number(bufferKB));
    Type(IDC_FILE_SIZE, QStringLiteral("8192"));
    modal.answers.push_back(path.toStdString());
    Click(IDC_CREATE);
    return QTest::qWaitFor(
        [&] { return QFileInfo(path).size() >= 2 * bufferKB * 1024; }, kWaitMs);
  }
};

// What the process held before the runs began, to compare with at the end.
struct Baseline {
  int threads = ThreadCount();
  std::vector<std::string> fds = OpenDescriptors();
};

}  // namespace

class EndingTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void init();
  void cleanup();
  void endingDuringAFill();
  void endingDuringAWrite();
  void endingDuringARead();
  void endingWithAllThreeRunning();
  void endingWithAMessageBoxOpen_data();
  void endingWithAMessageBoxOpen();
  void endingWithAFileChooserOpen_data();
  void endingWithAFileChooserOpen();

 private:
  // Sets a fill, a writer and a reader going on three files of `m_dir`.
  void StartAllThree(Window& w);
  // The checks after any end with all three runs going.
  void CheckAllThreeEnded(Window& w, const Baseline& before);
  void CheckNothingLeft(const Baseline& before);

  std::unique_ptr<QTemporaryDir> m_dir;
  QString m_fill, m_write, m_read;
  QString m_previousDir;
};

void EndingTest::initTestCase() {
  KeepQtPoolThreads();
  StartQtPaintThreads();
  // Qt's file dialog opens the MIME database on first use and keeps it for
  // the life of the process; open one once so counts compare like with
  // like.
  QTemporaryDir dir;
  QVERIFY(dir.isValid());
  CQtModalHost host;
  WhenActive<QFileDialog>(
      [](QFileDialog* chooser) { QTest::keyClick(chooser, Qt::Key_Escape); });
  ChoosePathRequest request;
  request.initialDirectory = dir.path().toStdString();
  QCOMPARE(host.ChoosePath(nullptr, request), std::nullopt);
}

void EndingTest::init() {
  m_dir = std::make_unique<QTemporaryDir>();
  QVERIFY(m_dir->isValid());
  m_fill = m_dir->filePath(QStringLiteral("fill.tmp"));
  m_write = m_dir->filePath(QStringLiteral("write.tmp"));
  m_read = m_dir->filePath(QStringLiteral("read.tmp"));
  m_previousDir = QDir::currentPath();
  // Qt's chooser starts in ".".
  QVERIFY(QDir::setCurrent(m_dir->path()));
}

void EndingTest::cleanup() {
  QDir::setCurrent(m_previousDir);
  m_dir.reset();
}

void EndingTest::CheckNothingLeft(const Baseline& before) {
  QCOMPARE(ThreadCountSettledTo(before.threads), before.threads);
  const std::vector<std::string> fds = OpenDescriptors();
  QVERIFY2(fds == before.fds,
           ("left open: " + NewDescriptors(before.fds, fds)).c_str());
}

void EndingTest::endingDuringAFill() {
  auto w = std::make_unique<Window>();
  QVERIFY(w->active);
  const Baseline before;
  QVERIFY(w->StartFill(m_fill, 1));
  QCOMPARE(ThreadCount(), before.threads + 1);

  QElapsedTimer clock;
  clock.start();
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
  const qint64 elapsed = clock.elapsed();
  QVERIFY(!w->dlg.isVisible());
  QCOMPARE(w->dlg.result(), int(QDialog::Rejected));
  QVERIFY2(elapsed < kEndLimitMs, qPrintable(QString::number(elapsed)));
  CheckNothingLeft(before);

  // Whole writes of 1 KB, and nothing more once the dialog has ended.
  const qint64 size = QFileInfo(m_fill).size();
  QVERIFY(size > 0);
  QCOMPARE(size % 1024, qint64{0});
  QTest::qWait(100);
  QCOMPARE(QFileInfo(m_fill).size(), size);
  for (const QString& line : w->LogLines()) {
    QVERIFY2(!IsEndOfRunLine(line), qPrintable(line));
  }
  w.reset();
  CheckNothingLeft(before);
}

void EndingTest::endingDuringAWrite() {
  MakeFile(m_write, 8 * kMB);
  auto w = std::make_unique<Window>();
  QVERIFY(w->active);
  const Baseline before;
  QVERIFY(w->StartWriter(m_write, 64));
  QCOMPARE(w->Button(IDC_WRITE)->text(), QStringLiteral("StopWrite"));

  QElapsedTimer clock;
  clock.start();
  w->Click(IDC_EXIT);
  const qint64 elapsed = clock.elapsed();
  QVERIFY(!w->dlg.isVisible());
  QVERIFY2(elapsed < kEndLimitMs, qPrintable(QString::number(elapsed)));
  CheckNothingLeft(before);

  const QByteArray bytes = Contents(m_write);
  QCOMPARE(bytes.size(), 8 * kMB);  // never truncated, never grown
  const QString fault = WriterFileFault(m_write, 64 * 1024);
  QVERIFY2(fault.isEmpty(), qPrintable(fault));
  QTest::qWait(100);
  QCOMPARE(Contents(m_write), bytes);
  for (const QString& line : w->LogLines()) {
    QVERIFY2(!IsEndOfRunLine(line), qPrintable(line));
  }
  w.reset();
  CheckNothingLeft(before);
}

void EndingTest::endingDuringARead() {
  MakeFile(m_read, 8 * kMB);
  auto w = std::make_unique<Window>();
  QVERIFY(w->active);
  const Baseline before;
  QVERIFY(w->StartReader(m_read));
  QCOMPARE(ThreadCount(), before.threads + 1);

  // The window's close box.
  QElapsedTimer clock;
  clock.start();
  QVERIFY(w->dlg.close());
  const qint64 elapsed = clock.elapsed();
  QVERIFY(!w->dlg.isVisible());
  QVERIFY2(elapsed < kEndLimitMs, qPrintable(QString::number(elapsed)));
  CheckNothingLeft(before);
  QCOMPARE(Contents(m_read), QByteArray(8 * kMB, kFiller));
  // Lines queued before the end still drain; none ends the run.
  QTRY_VERIFY_WITH_TIMEOUT(!w->dlg.State().EventsWaiting(), kWaitMs);
  for (const QString& line : w->LogLines()) {
    QVERIFY2(!IsEndOfRunLine(line), qPrintable(line));
  }
  w.reset();
  CheckNothingLeft(before);
}

void EndingTest::StartAllThree(Window& w) {
  MakeFile(m_read, 8 * kMB);
  MakeFile(m_write, 8 * kMB);
  QVERIFY(w.StartReader(m_read));
  QVERIFY(w.StartWriter(m_write, 64));
  // Not a power of two, so that a torn write would show in the length.
  QVERIFY(w.StartFill(m_fill, 1000));
}

void EndingTest::CheckAllThreeEnded(Window& w, const Baseline& before) {
  QVERIFY(!w.dlg.isVisible());
  CheckNothingLeft(before);
  const qint64 fillSize = QFileInfo(m_fill).size();
  QCOMPARE(fillSize % (1000 * 1024), qint64{0});
  // The writer follows the File Size typed for the fill, so its passes may
  // have grown the file, but only by whole writes of its buffer.
  const qint64 written = QFileInfo(m_write).size();
  QVERIFY(written >= 8 * kMB);
  QCOMPARE(written % (64 * 1024), qint64{0});
  const QString fault = WriterFileFault(m_write, 64 * 1024);
  QVERIFY2(fault.isEmpty(), qPrintable(fault));
  QCOMPARE(Contents(m_read), QByteArray(8 * kMB, kFiller));
  QTest::qWait(100);
  QCOMPARE(QFileInfo(m_fill).size(), fillSize);
  QCOMPARE(QFileInfo(m_write).size(), written);
  for (const QString& line : w.LogLines()) {
    QVERIFY2(!IsEndOfRunLine(line), qPrintable(line));
  }
}

void EndingTest::endingWithAllThreeRunning() {
  auto w = std::make_unique<Window>();
  QVERIFY(w->active);
  const Baseline before;
  StartAllThree(*w);
  if (QTest::currentTestFailed()) return;
  QCOMPARE(ThreadCount(), before.threads + 3);

  // As the program runs it: Escape ends the dialog's modal loop.
  QElapsedTimer clock;
  QTimer::singleShot(0, &w->dlg, [&] {
    clock.start();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
  });
  RescueLater(&w->dlg);
  QCOMPARE(w->dlg.exec(), int(QDialog::Rejected));
  const qint64 elapsed = clock.elapsed();
  QVERIFY2(elapsed < kEndLimitMs, qPrintable(QString::number(elapsed)));
  CheckAllThreeEnded(*w, before);
  w.reset();
  CheckNothingLeft(before);
}

void EndingTest::endingWithAMessageBoxOpen_data() {
  QTest::addColumn<bool>("fromCode");
  // The user's way: Qt ignores the main window's close box while a modal
  // is open, so the box is closed first, then the dialog.
  QTest::newRow("box closed, then Escape") << false;
  // The dialog ended while the box is up, as a close request would.
  QTest::newRow("dialog ended under the box") << true;
}

void EndingTest::endingWithAMessageBoxOpen() {
  QFETCH(bool, fromCode);
  auto w = std::make_unique<Window>();
  QVERIFY(w->active);
  const Baseline before;
  StartAllThree(*w);
  if (QTest::currentTestFailed()) return;

  QElapsedTimer clock;
  bool backInFront = fromCode;
  QPointer<QMessageBox> shown;
  QString text;
  WhenActive<QMessageBox>([&](QMessageBox* box) {
    shown = box;
    text = box->text();
    clock.start();
    if (fromCode) {
      w->dlg.reject();
      return;
    }
    QTest::keyClick(box, Qt::Key_Escape);
    // Once the window is back in front, Escape ends it.
    QTimer::singleShot(0, &w->dlg, [&] {
      backInFront = BringBack(w->dlg);
      QTest::keyClick(w->dlg.focusWidget(), Qt::Key_Escape);
    });
  });
  // Typing 0 opens the range message inside the dialog's own loop.
  QTimer::singleShot(0, &w->dlg,
                     [&] { w->Type(IDC_FILE_SIZE, QStringLiteral("0")); });
  RescueLater(&w->dlg);
  QCOMPARE(w->dlg.exec(), int(QDialog::Rejected));
  const qint64 elapsed = clock.elapsed();

  QCOMPARE(text, QStringLiteral("Please enter an integer between 1 and 8192."));
  QVERIFY(backInFront);
  QVERIFY2(!shown || !shown->isVisible(), "the message box outlived the end");
  QVERIFY(!QApplication::activeModalWidget());
  QVERIFY2(elapsed < kEndLimitMs, qPrintable(QString::number(elapsed)));
  CheckAllThreeEnded(*w, before);
  w.reset();
  CheckNothingLeft(before);
}

void EndingTest::endingWithAFileChooserOpen_data() {
  QTest::addColumn<QString>("how");
  QTest::newRow("chooser closed, then Escape") << QStringLiteral("escape");
  QTest::newRow("dialog ended under the chooser") << QStringLiteral("chooser");
  // Create on an existing file asks before replacing it; ending the
  // program at that question must leave the file alone.
  QTest::newRow("dialog ended under the overwrite question")
      << QStringLiteral("overwrite");
}

void EndingTest::endingWithAFileChooserOpen() {
  QFETCH(QString, how);
  const QString existing = m_dir->filePath(QStringLiteral("testdata.tmp"));
  MakeFile(existing, kMB);
  auto w = std::make_unique<Window>();
  QVERIFY(w->active);
  const Baseline before;
  StartAllThree(*w);
  if (QTest::currentTestFailed()) return;
  const int linesBefore = w->LogLines().size();

  QElapsedTimer clock;
  bool backInFront = how != QStringLiteral("escape");
  bool chooserShown = false;
  bool questionShown = false;
  QPointer<QFileDialog> chooserLeft;
  WhenActive<QFileDialog>([&](QFileDialog* chooser) {
    chooserShown = true;
    chooserLeft = chooser;
    if (how == QStringLiteral("chooser")) {
      clock.start();
      w->dlg.reject();
    } else if (how == QStringLiteral("escape")) {
      clock.start();
      QTest::keyClick(chooser, Qt::Key_Escape);
      QTimer::singleShot(0, &w->dlg, [&] {
        backInFront = BringBack(w->dlg);
        QTest::keyClick(w->dlg.focusWidget(), Qt::Key_Escape);
      });
    } else {
      WhenActive<QMessageBox>([&](QMessageBox*) {
        questionShown = true;
        clock.start();
        w->dlg.reject();
      });
      // The default name, testdata.tmp, is the existing file.
      QTest::keyClick(chooser->findChild<QLineEdit*>("fileNameEdit"),
                      Qt::Key_Return);
    }
  });
  QTimer::singleShot(0, &w->dlg, [&] {
    w->modal.realChooser = true;
    w->Click(IDC_CREATE);
  });
  RescueLater(&w->dlg);
  QCOMPARE(w->dlg.exec(), int(QDialog::Rejected));
  const qint64 elapsed = clock.elapsed();

  QVERIFY(chooserShown);
  QVERIFY(backInFront);
  QCOMPARE(questionShown, how == QStringLiteral("overwrite"));
  QVERIFY2(!chooserLeft || !chooserLeft->isVisible(),
           "the chooser outlived the end");
  QVERIFY(!QApplication::activeModalWidget());
  QVERIFY2(elapsed < kEndLimitMs, qPrintable(QString::number(elapsed)));
  // The chooser counts as cancelled: no file made, nothing logged for it.
  QCOMPARE(Contents(existing), QByteArray(kMB, kFiller));
  for (const QString& line : w->LogLines().mid(linesBefore)) {
    QVERIFY2(!line.contains(QStringLiteral("testdata")), qPrintable(line));
  }
  CheckAllThreeEnded(*w, before);
  w.reset();
  CheckNothingLeft(before);
}

}  // namespace ferrotick::ui::test

QTEST_MAIN(ferrotick::ui::test::EndingTest)
#include "ending_test.moc"
