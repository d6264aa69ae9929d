// The dialog's behaviour with the modal seam answered by a test double:
// validation, keys, the log view, and every command through the window.
#include <QDeadlineTimer>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <atomic>
#include <thread>
#include <vector>

#include "tests/ui/fake_modal.h"
#include "tests/ui/process_probe.h"
#include "ui/bench_dialog.h"
#include "ui/log_view.h"
#include "ui/resource.h"

namespace ferrotick::ui::test {
namespace {

constexpr int kWorkerWaitMs = 20000;

// A read pass of `mb` MB in one second, as a run hands it over.
PassEvent ReadPass(int mb) {
  PassEvent pass;
  pass.kind = RunKind::kRead;
  pass.pass = mb;
  pass.mb = mb;
  pass.seconds = 1;
  return pass;
}

QString Text(std::string_view bytes) {
  return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

QStringList Lines(const MessageLog& log) {
  QStringList lines;
  for (std::size_t i = 0; i < log.Count(); ++i) lines << Text(log.Line(i));
  return lines;
}

// What the screen shows of the list: the window's last painted pixels, not
// a fresh paint, so a row that changed without asking for a paint shows as
// it was. Paints come from a timer of a few milliseconds.
QImage Shown(CLogView* view) {
  QCoreApplication::processEvents();
  QWidget* window = view->window();
  const QPoint at = view->viewport()->mapTo(window, QPoint(0, 0));
  return window->screen()
      ->grabWindow(window->winId(), at.x(), at.y(), view->viewport()->width(),
                   view->viewport()->height())
      .toImage();
}

// The log's rows in `image` of the list whose line has text but which show
// none, as "row: line" entries; empty when every such row is painted. By
// default a fresh paint of the list; rows from `since` on are not checked.
QStringList BlankRows(CLogView* view, const MessageLog& log, QImage image = {},
                      std::size_t since = SIZE_MAX) {
  if (image.isNull()) image = view->viewport()->grab().toImage();
  image = image.convertToFormat(QImage::Format_Grayscale8);
  const int base = qGray(view->palette().color(QPalette::Base).rgb());
  QStringList blank;
  const int height = view->RowHeight();
  for (int r = 0; (r + 1) * height <= image.height(); ++r) {
    const std::size_t row = static_cast<std::size_t>(view->TopRow() + r);
    if (row >= std::min(log.Count(), since) || log.Line(row).empty()) {
      continue;
    }
    int ink = 0;
    for (int y = r * height; y < (r + 1) * height; ++y) {
      const uchar* pixels = image.constScanLine(y);
      for (int x = 0; x < image.width(); ++x) {
        ink += std::abs(pixels[x] - base) > 96;
      }
    }
    if (ink < 4) blank << QString::number(row) + ": " + Text(log.Line(row));
  }
  return blank;
}

void MakeFile(const QString& path, qint64 bytes) {
  QFile file(path);
  QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
  QVERIFY(file.resize(bytes));
}

// A dialog on screen with the test double behind its modal seam.
class Window {
 public:
  Window() : dlg(&modal) {
    dlg.show();
    active = QTest::qWaitForWindowActive(&dlg);
  }
  QPushButton* Button(int id) {
    return qobject_cast<QPushButton*>(dlg.Control(id));
  }
  QLineEdit* Edit(int id) { return qobject_cast<QLineEdit*>(dlg.Control(id)); }
  // Replaces the field's text the way a user does: select all, then type.
  void Type(int id, const QString& text) {
    QLineEdit* edit = Edit(id);
    edit->setFocus();
    edit->selectAll();
    if (text.isEmpty()) {
      QTest::keyClick(edit, Qt::Key_Backspace);
    } else {
      QTest::keyClicks(edit, text);
    }
  }
  void Click(int id) { QTest::mouseClick(Button(id), Qt::LeftButton); }
  QStringList LogLines() { return Lines(dlg.Log()); }

  CFakeModal modal;
  CBenchDlg dlg;
  bool active = false;
};

}  // namespace

class DialogTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { StartQtPaintThreads(); }
  void typingZeroIntoFileSizeReportsTheRange();
  void emptyingBufferSizeAsksForAnInteger();
  void fileSizeIsCheckedBeforeBufferSize();
  void showSettingsRaisesNoValidation();
  void enterPressesClearOrTheFocusedButton();
  void escapeExitAndTheCloseBoxEndTheDialog();
  void escapeEndsTheModalLoop();
  void logViewNeitherSelectsNorScrolls();
  void logIsAListToScrollAndSelectIn();
  void workerLinesArriveThroughTheWindowThread();
  void visibleRowsArePaintedDuringAFlood();
  void visibleRowsArePaintedDuringAWriteRun();
  void createThroughTheWindow();
  void cancelledChooserLogsNothing();
  void cancelStopsAFill();
  void closingDuringAFillReturnsAndLeavesNoThread();
  void writeAndReadToggles();
  void useExistingOnASmallFileAndDelete();
  void saveAboutAndClear();
  void failedExportShowsAMessageAndAppendsNothing();
};

void DialogTest::typingZeroIntoFileSizeReportsTheRange() {
  Window w;
  QVERIFY(w.active);
  w.Type(IDC_FILE_SIZE, QStringLiteral("0"));
  QCOMPARE(w.modal.messages,
           QStringList{"Please enter an integer between 1 and 8192."});
  QCOMPARE(QApplication::focusWidget(), w.dlg.Control(IDC_FILE_SIZE));
  QCOMPARE(w.dlg.State().m_nFileSizeMB.load(), 32);  // last good value kept

  w.modal.messages.clear();
  w.Type(IDC_FILE_SIZE, QStringLiteral("64"));
  QVERIFY(w.modal.messages.isEmpty());
  QCOMPARE(w.dlg.State().m_nFileSizeMB.load(), 64);
}

void DialogTest::emptyingBufferSizeAsksForAnInteger() {
  Window w;
  QVERIFY(w.active);
  w.Type(IDC_BUFFER_SIZE, QString());
  QCOMPARE(w.modal.messages, QStringList{"Please enter an integer."});
  QCOMPARE(QApplication::focusWidget(), w.dlg.Control(IDC_BUFFER_SIZE));
  QCOMPARE(w.dlg.State().m_nBufferKB.load(), 128);

  w.modal.messages.clear();
  // Each keystroke is a reading: "2", "20" and "200" are good, "2000" not.
  w.Type(IDC_BUFFER_SIZE, QStringLiteral("2000"));
  QCOMPARE(w.modal.messages,
           QStringList{"Please enter an integer between 1 and 1024."});
  QCOMPARE(w.dlg.State().m_nBufferKB.load(), 200);  // never out of range

  w.modal.messages.clear();
  w.Type(IDC_BUFFER_SIZE, QStringLiteral("1024"));
  QVERIFY(w.modal.messages.isEmpty());
  QCOMPARE(w.dlg.State().m_nBufferKB.load(), 1024);
}

void DialogTest::fileSizeIsCheckedBeforeBufferSize() {
  Window w;
  QVERIFY(w.active);
  w.Type(IDC_FILE_SIZE, QStringLiteral("9000"));
  w.modal.messages.clear();
  // An edit of Buffer Size reports File Size first and moves the focus there.
  w.Type(IDC_BUFFER_SIZE, QStringLiteral("8"));
  QCOMPARE(w.modal.messages,
           QStringList{"Please enter an integer between 1 and 8192."});
  QCOMPARE(QApplication::focusWidget(), w.dlg.Control(IDC_FILE_SIZE));
  QCOMPARE(w.dlg.State().m_nBufferKB.load(), 128);  // nothing stored

  w.modal.messages.clear();
  w.Type(IDC_FILE_SIZE, QStringLiteral("100"));
  QVERIFY(w.modal.messages.isEmpty());
  QCOMPARE(w.dlg.State().m_nFileSizeMB.load(), 100);
  QCOMPARE(w.dlg.State().m_nBufferKB.load(), 8);
}

void DialogTest::showSettingsRaisesNoValidation() {
  Window w;
  w.dlg.State().m_nFileSizeMB = 0;
  w.dlg.State().m_nBufferKB = 16;
  w.dlg.ShowSettings();
  QCOMPARE(w.Edit(IDC_FILE_SIZE)->text(), QStringLiteral("0"));
  QCOMPARE(w.Edit(IDC_BUFFER_SIZE)->text(), QStringLiteral("16"));
  QVERIFY(w.modal.messages.isEmpty());
}

void DialogTest::enterPressesClearOrTheFocusedButton() {
  Window w;
  QVERIFY(w.active);
  w.dlg.Log().Append("one");
  w.dlg.Log().Append("two");
  // Enter in a settings field presses the default button, Clear.
  w.Edit(IDC_FILE_SIZE)->setFocus();
  QTest::keyClick(w.Edit(IDC_FILE_SIZE), Qt::Key_Return);
  QCOMPARE(w.dlg.Log().Count(), std::size_t{0});
  QVERIFY(w.dlg.isVisible());

  // Enter on another push button presses that one.
  w.Button(IDC_ABOUT)->setFocus();
  QTest::keyClick(w.Button(IDC_ABOUT), Qt::Key_Enter);
  QCOMPARE(w.dlg.Log().Count(), std::size_t{43});

  // In the log view it is Clear again.
  w.dlg.Control(IDC_LOG)->setFocus();
  QTest::keyClick(w.dlg.Control(IDC_LOG), Qt::Key_Return);
  QCOMPARE(w.dlg.Log().Count(), std::size_t{0});

  // F1 has no help to show and changes nothing.
  w.dlg.Log().Append("kept");
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_F1);
  QCOMPARE(w.LogLines(), QStringList{"kept"});
  QVERIFY(w.dlg.isVisible());

  w.Button(IDC_EXIT)->setFocus();
  QTest::keyClick(w.Button(IDC_EXIT), Qt::Key_Return);
  QVERIFY(!w.dlg.isVisible());
  QCOMPARE(w.LogLines(), QStringList{"kept"});
}

void DialogTest::escapeExitAndTheCloseBoxEndTheDialog() {
  {
    // An invalid field does not hold Escape up, and nothing is validated.
    Window w;
    QVERIFY(w.active);
    w.Type(IDC_FILE_SIZE, QStringLiteral("0"));
    w.modal.messages.clear();
    QTest::keyClick(w.Edit(IDC_FILE_SIZE), Qt::Key_Escape);
    QVERIFY(!w.dlg.isVisible());
    QCOMPARE(w.dlg.result(), int(QDialog::Rejected));
    QVERIFY(w.modal.messages.isEmpty());
  }
  {
    Window w;
    w.Click(IDC_EXIT);
    QVERIFY(!w.dlg.isVisible());
    QCOMPARE(w.dlg.result(), int(QDialog::Rejected));
  }
  {
    Window w;
    QVERIFY(w.dlg.close());
    QVERIFY(!w.dlg.isVisible());
    QCOMPARE(w.dlg.result(), int(QDialog::Rejected));
    QVERIFY(w.modal.messages.isEmpty());
  }
}

void DialogTest::escapeEndsTheModalLoop() {
  // As the program runs it: exec() returns once Escape is pressed.
  CFakeModal modal;
  CBenchDlg dlg(&modal);
  bool sent = false;
  QTimer poll;
  connect(&poll, &QTimer::timeout, &dlg, [&] {
    if (!sent && dlg.isActiveWindow()) {
      sent = true;
      QTest::keyClick(&dlg, Qt::Key_Escape);
    }
  });
  poll.start(20);
  QCOMPARE(dlg.exec(), int(QDialog::Rejected));
  QVERIFY(sent);
}

void DialogTest::logViewNeitherSelectsNorScrolls() {
  Window w;
  QVERIFY(w.active);
  auto* view = qobject_cast<CLogView*>(w.dlg.Control(IDC_LOG));
  QVERIFY(view);
  MessageLog& log = w.dlg.Log();
  // A few lines, too few to scroll, reach the screen by themselves.
  for (int i = 0; i < 3; ++i) log.Append("first " + std::to_string(i));
  QTRY_VERIFY_WITH_TIMEOUT(BlankRows(view, log, Shown(view)).isEmpty(),
                           kWorkerWaitMs);
  w.Click(IDC_CLEAR);
  for (int i = 0; i < 300; ++i) log.Append("line " + std::to_string(i));
  QCOMPARE(view->model()->rowCount(), 300);
  QCOMPARE(view->TopRow(), 0);  // stayed at the top

  view->scrollTo(view->model()->index(150, 0),
                 QAbstractItemView::PositionAtTop);
  QCOMPARE(view->TopRow(), 150);
  for (int i = 0; i < 300; ++i) log.Append("more");
  QCoreApplication::processEvents();
  QCOMPARE(view->TopRow(), 150);
  QVERIFY(!view->selectionModel()->hasSelection());
  QCOMPARE(view->model()->rowCount(), 600);
  QVERIFY(BlankRows(view, log).isEmpty());

  // Bytes are stored as given and shown decoded as UTF-8.
  log.Append("caf\xc3\xa9");
  log.Append(std::string_view("\xff\x00z", 3));
  QCOMPARE(view->model()->data(view->model()->index(600, 0)).toString(),
           QStringLiteral("caf\u00e9"));
  QCOMPARE(log.Line(601), std::string_view("\xff\x00z", 3));
  QCOMPARE(view->model()->data(view->model()->index(601, 0)).toString().size(),
           3);

  w.Click(IDC_CLEAR);
  QCOMPARE(view->model()->rowCount(), 0);
  QCOMPARE(view->TopRow(), 0);
  QVERIFY(!view->model()->data(view->model()->index(0, 0)).isValid());
}

void DialogTest::logIsAListToScrollAndSelectIn() {
  Window w;
  QVERIFY(w.active);
  auto* view = qobject_cast<CLogView*>(w.dlg.Control(IDC_LOG));
  MessageLog& log = w.dlg.Log();
  for (int i = 0; i < 1000; ++i) log.Append("line " + std::to_string(i));
  const int page = view->PageRows();
  QVERIFY(page > 3);

  // A click selects the line under the mouse.
  const int height = view->RowHeight();
  QTest::mouseClick(view->viewport(), Qt::LeftButton, {},
                    QPoint(20, 2 * height + height / 2));
  QCOMPARE(view->currentIndex().row(), 2);
  QVERIFY(view->selectionModel()->isRowSelected(2, QModelIndex()));
  QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(view));

  // The keys move the selection and scroll to keep it on screen.
  QTest::keyClick(view, Qt::Key_Down);
  QCOMPARE(view->currentIndex().row(), 3);
  QTest::keyClick(view, Qt::Key_PageDown);
  QCOMPARE(view->currentIndex().row(), 3 + page - 1);
  QTest::keyClick(view, Qt::Key_End);
  QCOMPARE(view->currentIndex().row(), 999);
  QCOMPARE(view->TopRow(), 1000 - page);
  QVERIFY(view->selectionModel()->isRowSelected(999, QModelIndex()));
  QCOMPARE(view->selectionModel()->selectedRows().size(), 1);
  QTest::keyClick(view, Qt::Key_Home);
  QCOMPARE(view->TopRow(), 0);

  // The wheel scrolls without selecting; new lines move nothing.
  QWheelEvent wheel(
      QPointF(20, 20), view->viewport()->mapToGlobal(QPointF(20, 20)), QPoint(),
      QPoint(0, -120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(view->viewport(), &wheel);
  const int top = view->TopRow();
  QVERIFY(top > 0);
  for (int i = 0; i < 100; ++i) log.Append("new");
  QCOMPARE(view->TopRow(), top);
  QCOMPARE(view->currentIndex().row(), 0);
  QVERIFY(BlankRows(view, log).isEmpty());

  // Typing a letter searches nothing and changes nothing.
  QTest::keyClick(view, Qt::Key_L);
  QCOMPARE(view->currentIndex().row(), 0);
}

void DialogTest::workerLinesArriveThroughTheWindowThread() {
  Window w;
  MessageLog& log = w.dlg.Log();
  std::shared_ptr<EventSink> sink = w.dlg.State().Sink();
  std::thread run([&sink] {
    for (int i = 0; i < 1000; ++i) sink->OnEvent(ReadPass(i));
  });
  run.join();
  // Nothing of the run is in the log until the window thread takes it.
  QCOMPARE(log.Count(), std::size_t{0});
  QTRY_COMPARE_WITH_TIMEOUT(log.Count(), std::size_t{1000}, kWorkerWaitMs);
  QCOMPARE(Text(log.Line(999)), QStringLiteral("Read 999MB: 999.000 MBs"));
  auto* view = qobject_cast<CLogView*>(w.dlg.Control(IDC_LOG));
  QCOMPARE(view->model()->rowCount(), 1000);
}

void DialogTest::visibleRowsArePaintedDuringAFlood() {
  Window w;
  QVERIFY(w.active);
  auto* view = qobject_cast<CLogView*>(w.dlg.Control(IDC_LOG));
  MessageLog& log = w.dlg.Log();
  std::shared_ptr<EventSink> sink = w.dlg.State().Sink();
  constexpr int kWorkers = 3;
  constexpr int kGrabs = 12;
  // Bursts keep step with the screen being looked at, so the flood goes on
  // until it has been looked at often enough, however slow the machine,
  // and never outgrows the window.
  std::atomic<int> grabs{0};
  std::atomic<int> sent{0};
  std::atomic<int> running{kWorkers};
  std::vector<std::thread> workers;
  for (int t = 0; t < kWorkers; ++t) {
    workers.emplace_back([&] {
      for (int burst = 0; burst < kGrabs; ++burst) {
        for (int i = 0; i < 2000; ++i) {
          sink->OnEvent(ReadPass(i));
          ++sent;
        }
        while (grabs.load() <= burst) {
          std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
      }
      --running;
    });
  }
  // Looked at while lines arrive: at the top, then where the user scrolled.
  QStringList blank;
  while (running.load() > 0 || w.dlg.State().EventsWaiting()) {
    // Rows the window had before the wait have had their time to paint.
    const std::size_t shown = log.Count();
    QTest::qWait(5);
    if (grabs == 5) view->verticalScrollBar()->setValue(log.Count() / 2);
    blank += BlankRows(view, log, Shown(view), shown);
    ++grabs;
  }
  for (std::thread& worker : workers) worker.join();
  QVERIFY2(blank.isEmpty(), qPrintable(blank.mid(0, 5).join(u'\n')));
  QVERIFY(grabs > 5);
  QVERIFY(view->TopRow() > 0);
  QCOMPARE(view->model()->rowCount(), sent.load());
}

void DialogTest::visibleRowsArePaintedDuringAWriteRun() {
  QTemporaryDir dir;
  QVERIFY(dir.isValid());
  const QString path = dir.filePath(QStringLiteral("small.tmp"));
  MakeFile(path, qint64{1} << 20);
  Window w;
  QVERIFY(w.active);
  auto* view = qobject_cast<CLogView*>(w.dlg.Control(IDC_LOG));
  MessageLog& log = w.dlg.Log();
  w.modal.answers.push_back(path.toStdString());
  w.Click(IDC_USE_EXISTING);
  w.Type(IDC_BUFFER_SIZE, QStringLiteral("64"));
  // Passes back to back: thousands of lines a second, the hardest case.
  w.dlg.State().m_options.minPassPeriod = {};
  w.Click(IDC_WRITE);
  QStringList blank;
  const auto passes = [&] {
    return w.LogLines().filter(QStringLiteral("Wrote 1MB: ")).size();
  };
  QDeadlineTimer deadline(kWorkerWaitMs);
  for (int grab = 0; (grab < 40 || passes() <= 20) && !deadline.hasExpired();
       ++grab) {
    const std::size_t shown = log.Count();
    QTest::qWait(25);
    if (grab == 20) view->verticalScrollBar()->setValue(log.Count() - 5);
    blank += BlankRows(view, log, Shown(view), shown);
  }
  w.Click(IDC_WRITE);
  QTRY_VERIFY_WITH_TIMEOUT(
      w.LogLines().contains(path + QStringLiteral(" Closed.")), kWorkerWaitMs);
  QVERIFY2(blank.isEmpty(), qPrintable(blank.mid(0, 5).join(u'\n')));
  QVERIFY(passes() > 20);
}

void DialogTest::createThroughTheWindow() {
  QTemporaryDir dir;
  QVERIFY(dir.isValid());
  const QString path = dir.filePath(QStringLiteral("testdata.tmp"));
  Window w;
  QVERIFY(w.active);
  w.Type(IDC_FILE_SIZE, QStringLiteral("1"));
  QCoreApplication::processEvents();
  const int threadsBefore = ThreadCount();
  w.modal.answers.push_back(path.toStdString());
  w.Click(IDC_CREATE);

  QCOMPARE(w.modal.requests.size(), std::size_t{1});
  const ChoosePathRequest& request = w.modal.requests[0];
  QVERIFY(!request.openType);
  QCOMPARE(request.defaultExtension, std::string("tmp"));
  QCOMPARE(request.defaultFileName, std::string("testdata"));
  QCOMPARE(request.filter,
           std::string("tmp files (*.tmp)|*.tmp|All Files (*.*)|*.*||"));
  QCOMPARE(request.initialDirectory, std::string("."));
  QVERIFY(request.promptOverwrite);

  QCOMPARE(w.dlg.windowTitle(), QStringLiteral("Ferrotick: ") + path);
  QTRY_COMPARE_WITH_TIMEOUT(w.dlg.Log().Count(), std::size_t{4}, kWorkerWaitMs);
  const QStringList lines = w.LogLines();
  QCOMPARE(lines[0], path);
  QCOMPARE(lines[1], QStringLiteral("Initializing 1MB w/128KB bufs"));
  QVERIFY2(QRegularExpression(QStringLiteral("^Init Done: \\d+\\.\\d{3}MBs$"))
               .match(lines[2])
               .hasMatch(),
           qPrintable(lines[2]));
  QCOMPARE(lines[3], path + QStringLiteral(" Closed."));
  QVERIFY(w.Button(IDC_WRITE)->isEnabled());
  QVERIFY(w.Button(IDC_READ)->isEnabled());
  QCOMPARE(QFileInfo(path).size(), qint64{1} << 20);
  // The finished fill is joined while the window stays open.
  QTRY_COMPARE_WITH_TIMEOUT(ThreadCount(), threadsBefore, kWorkerWaitMs);
}

void DialogTest::cancelledChooserLogsNothing() {
  Window w;
  w.modal.answers.push_back(std::nullopt);
  w.Click(IDC_CREATE);
  w.modal.answers.push_back(std::nullopt);
  w.Click(IDC_USE_EXISTING);
  w.modal.answers.push_back(std::nullopt);
  w.Click(IDC_SAVE_LOG);
  QCOMPARE(w.modal.requests.size(), std::size_t{3});
  QCoreApplication::processEvents();
  QCOMPARE(w.dlg.Log().Count(), std::size_t{0});
  QCOMPARE(w.dlg.windowTitle(), QStringLiteral("Vexa - Ferrotick"));
  QVERIFY(!w.Button(IDC_WRITE)->isEnabled());
}

void DialogTest::cancelStopsAFill() {
  QTemporaryDir dir;
  QVERIFY(dir.isValid());
  const QString path = dir.filePath(QStringLiteral("big.tmp"));
  Window w;
  QVERIFY(w.active);
  w.Type(IDC_FILE_SIZE, QStringLiteral("8192"));
  w.modal.answers.push_back(path.toStdString());
  w.Click(IDC_CREATE);
  QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(path).size() > 0, kWorkerWaitMs);
  w.Click(IDC_CANCEL_INIT);
  QTRY_VERIFY_WITH_TIMEOUT(w.LogLines().contains(QStringLiteral(
                               "InitThread Failed or was Canceled.")),
                           kWorkerWaitMs);
  QVERIFY(QFileInfo(path).size() < (qint64{8192} << 20));
  QVERIFY(!w.Button(IDC_WRITE)->isEnabled());
  QVERIFY(!w.Button(IDC_READ)->isEnabled());
  QVERIFY(QFile::remove(path));
}

void DialogTest::closingDuringAFillReturnsAndLeavesNoThread() {
  QTemporaryDir dir;
  QVERIFY(dir.isValid());
  const QString path = dir.filePath(QStringLiteral("huge.tmp"));
  auto w = std::make_unique<Window>();
  QVERIFY(w->active);
  w->Type(IDC_FILE_SIZE, QStringLiteral("8192"));
  QCoreApplication::processEvents();
  const int threadsBefore = ThreadCount();

  w->modal.answers.push_back(path.toStdString());
  w->Click(IDC_CREATE);
  QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(path).size() > 0, kWorkerWaitMs);
  QCOMPARE(ThreadCount(), threadsBefore + 1);  // the fill is running

  QVERIFY(w->dlg.close());
  QVERIFY(!w->dlg.isVisible());
  // The fill was told to stop and joined before close() returned.
  QCOMPARE(ThreadCount(), threadsBefore);
  const qint64 size = QFileInfo(path).size();
  QVERIFY(size < (qint64{8192} << 20));
  QTest::qWait(100);
  QCOMPARE(QFileInfo(path).size(), size);
  // The abandoned fill ends silently: progress lines it queued before the
  // close may still drain, but no ending of the run is reported.
  for (const QString& line : w->LogLines().mid(2)) {
    QVERIFY2(line.startsWith(QStringLiteral("  Init... ")), qPrintable(line));
  }
  w.reset();
  QCOMPARE(ThreadCount(), threadsBefore);
  QVERIFY(QFile::remove(path));
}

void DialogTest::writeAndReadToggles() {
  QTemporaryDir dir;
  QVERIFY(dir.isValid());
  const QString path = dir.filePath(QStringLiteral("two.tmp"));
  MakeFile(path, qint64{2} << 20);
  Window w;
  QVERIFY(w.active);
  w.modal.answers.push_back(path.toStdString());
  w.Click(IDC_USE_EXISTING);
  QVERIFY(w.Button(IDC_WRITE)->isEnabled());
  w.dlg.Log().Clear();

  w.Click(IDC_WRITE);
  QCOMPARE(w.Button(IDC_WRITE)->text(), QStringLiteral("StopWrite"));
  QCOMPARE(w.LogLines().mid(0, 3),
           QStringList({"Opened " + path, "", "WriteThread Started."}));
  QTRY_VERIFY_WITH_TIMEOUT(
      w.LogLines()
              .filter(QRegularExpression(QStringLiteral("^Wrote 2MB: ")))
              .size() >= 1,
      kWorkerWaitMs);
  w.Click(IDC_WRITE);
  QCOMPARE(w.Button(IDC_WRITE)->text(), QStringLiteral("Write"));
  QVERIFY(w.LogLines().contains(QStringLiteral("Stopping WriteThread.")));
  QTRY_VERIFY_WITH_TIMEOUT(
      w.LogLines().contains(path + QStringLiteral(" Closed.")), kWorkerWaitMs);
  QStringList lines = w.LogLines();
  QCOMPARE(lines.indexOf(path + QStringLiteral(" Closed.")),
           lines.indexOf(QStringLiteral("WriteThread Done.")) + 1);

  w.dlg.Log().Clear();
  w.Click(IDC_READ);
  QCOMPARE(w.Button(IDC_READ)->text(), QStringLiteral("StopRead"));
  QCOMPARE(w.LogLines().mid(0, 3),
           QStringList({"Reader Opened File", "Reader Thread Started",
                        "Starting Reader"}));
  QTRY_VERIFY_WITH_TIMEOUT(
      w.LogLines()
              .filter(QRegularExpression(QStringLiteral("^Read 2MB: ")))
              .size() >= 1,
      kWorkerWaitMs);
  w.Click(IDC_READ);
  QCOMPARE(w.Button(IDC_READ)->text(), QStringLiteral("Read"));
  QVERIFY(!w.dlg.State().m_pReader);
  QVERIFY(w.LogLines().contains(QStringLiteral("ReadThread Stopping")));
  // Lines the reader queued before it ended still drain; then no more come.
  QTRY_VERIFY_WITH_TIMEOUT(!w.dlg.State().EventsWaiting(), kWorkerWaitMs);
  const std::size_t afterStop = w.dlg.Log().Count();
  QTest::qWait(100);
  QCOMPARE(w.dlg.Log().Count(), afterStop);
}

void DialogTest::useExistingOnASmallFileAndDelete() {
  QTemporaryDir dir;
  QVERIFY(dir.isValid());
  const QString path = dir.filePath(QStringLiteral("small.tmp"));
  MakeFile(path, 100 * 1024);
  Window w;
  QVERIFY(w.active);
  w.modal.answers.push_back(path.toStdString());
  w.Click(IDC_USE_EXISTING);
  const ChoosePathRequest& request = w.modal.requests.at(0);
  QVERIFY(request.openType);
  QVERIFY(request.mustExist);
  QVERIFY(!request.promptOverwrite);

  QCOMPARE(
      w.LogLines(),
      QStringList({"Using " + path, "WARNING: Write will destroy this file!"}));
  QCOMPARE(w.Edit(IDC_FILE_SIZE)->text(), QStringLiteral("0"));
  QVERIFY(w.modal.messages.isEmpty());  // shown without complaint
  QCOMPARE(w.dlg.windowTitle(), QStringLiteral("Ferrotick: ") + path);
  QVERIFY(w.Button(IDC_WRITE)->isEnabled());
  QVERIFY(w.Button(IDC_READ)->isEnabled());

  // The next edit of either field reports the File Size range first.
  w.Type(IDC_BUFFER_SIZE, QStringLiteral("8"));
  QCOMPARE(w.modal.messages,
           QStringList{"Please enter an integer between 1 and 8192."});
  QCOMPARE(QApplication::focusWidget(), w.dlg.Control(IDC_FILE_SIZE));

  w.dlg.Log().Clear();
  w.Click(IDC_DELETE_FILE);
  QCOMPARE(w.LogLines(), QStringList{path + QStringLiteral(" deleted.")});
  QVERIFY(!QFileInfo::exists(path));
  w.Click(IDC_DELETE_FILE);
  QCOMPARE(w.LogLines().mid(1),
           QStringList({"Couldn't delete ", "Make sure nothing is using it.",
                        "  No such file or directory"}));
  // Delete leaves the tests and the title alone.
  QVERIFY(w.Button(IDC_WRITE)->isEnabled());
  QCOMPARE(w.dlg.windowTitle(), QStringLiteral("Ferrotick: ") + path);
}

void DialogTest::saveAboutAndClear() {
  QTemporaryDir dir;
  QVERIFY(dir.isValid());
  const QString path = dir.filePath(QStringLiteral("Ferrotick.txt"));
  Window w;
  w.Click(IDC_ABOUT);
  QCOMPARE(w.dlg.Log().Count(), std::size_t{43});
  const QStringList about = w.LogLines();
  QVERIFY(about[0].isEmpty());
  QVERIFY(about[1].startsWith(QStringLiteral("Vexa - Ferrotick")));
  QCOMPARE(about[40], QStringLiteral("Enjoy!"));

  w.modal.answers.push_back(path.toStdString());
  w.Click(IDC_SAVE_LOG);
  const ChoosePathRequest& request = w.modal.requests.at(0);
  QVERIFY(!request.openType);
  QCOMPARE(request.defaultExtension, std::string("txt"));
  QCOMPARE(request.defaultFileName, std::string("Ferrotick"));
  QCOMPARE(request.filter,
           std::string("txt files (*.txt)|*.txt|All Files (*.*)|*.*||"));
  QVERIFY(request.promptOverwrite);
  QCOMPARE(w.LogLines().last(), path + QStringLiteral(" written."));
  QVERIFY(w.modal.messages.isEmpty());

  // From the second line on: the title line comes first.
  QFile saved(path);
  QVERIFY(saved.open(QIODevice::ReadOnly));
  QVERIFY(saved.readAll().startsWith(about[1].toUtf8() + "\r\n"));

  // After Clear the log is empty; a save writes an empty file.
  w.Click(IDC_CLEAR);
  QCOMPARE(w.dlg.Log().Count(), std::size_t{0});
  w.modal.answers.push_back(path.toStdString());
  w.Click(IDC_SAVE_LOG);
  QCOMPARE(QFileInfo(path).size(), qint64{0});
  QCOMPARE(w.LogLines(), QStringList{path + QStringLiteral(" written.")});
}

void DialogTest::failedExportShowsAMessageAndAppendsNothing() {
  if (!QFileInfo::exists(QStringLiteral("/dev/full"))) {
    QSKIP("no /dev/full here");
  }
  Window w;
  w.Click(IDC_ABOUT);
  w.modal.answers.push_back(std::string("/dev/full"));
  w.Click(IDC_SAVE_LOG);
  QCOMPARE(w.modal.messages.size(), 1);
  QVERIFY2(w.modal.messages[0].contains(QStringLiteral("/dev/full")),
           qPrintable(w.modal.messages[0]));
  QCOMPARE(w.dlg.Log().Count(), std::size_t{43});
}

}  // namespace ferrotick::ui::test

QTEST_MAIN(ferrotick::ui::test::DialogTest)
#include "dialog_test.moc"
