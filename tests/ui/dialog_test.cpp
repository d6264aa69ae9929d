// The dialog's behaviour with the modal seam answered by a test double:
// validation, keys, the log view, and every command through the window.
#include <QClipboard>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QTimer>
#include <QToolTip>
#include <QtTest>
#include <algorithm>
#include <atomic>
#include <deque>
#include <thread>
#include <vector>

#include "tests/ui/dialog_window.h"
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

// What the screen shows of a widget: the window's last painted pixels, not
// a fresh paint, so a widget that changed without asking for a paint shows
// as it was. New rows are taken in once a frame.
QImage ShownOf(QWidget* widget) {
  QCoreApplication::processEvents();
  QWidget* window = widget->window();
  const QPoint at = widget->mapTo(window, QPoint(0, 0));
  return window->screen()
      ->grabWindow(window->winId(), at.x(), at.y(), widget->width(),
                   widget->height())
      .toImage()
      .convertToFormat(QImage::Format_RGB32);
}

// The list's rows as the screen shows them.
QImage Shown(CLogView* view) { return ShownOf(view->viewport()); }

// Whether the screen shows what a fresh paint of the widget's present
// state shows: the list's rows from its present top row, the scroll bar's
// thumb where its value and range put it.
bool ShownIsCurrent(QWidget* widget) {
  return ShownOf(widget) ==
         widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
}
bool ShownIsCurrent(CLogView* view) {
  QScrollBar* bar = view->verticalScrollBar();
  return ShownIsCurrent(view->viewport()) &&
         (!bar->isVisible() || ShownIsCurrent(bar));
}

// Long enough for the list to take in new rows: two frames and a margin.
int FrameWaitMs(CLogView* view) {
  const qreal hertz = view->screen() ? view->screen()->refreshRate() : 60;
  return 2 * static_cast<int>(1000 / std::clamp<qreal>(hertz, 24, 240)) + 5;
}

// The pixels of row `r` on screen (counted from the top row).
QImage ShownRow(CLogView* view, const QImage& shown, int r) {
  return shown.copy(0, r * view->RowHeight(), shown.width(), view->RowHeight());
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
using Window = DialogWindow<CFakeModal>;

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
  void logViewFollowsTheEndUnlessScrolledUp();
  void logIsAListToScrollAndSelectIn();
  void longLinesShowTheirEndAndAWholeLineTooltip();
  void selectedLinesAreCopied();
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

void DialogTest::logViewFollowsTheEndUnlessScrolledUp() {
  Window w;
  QVERIFY(w.active);
  auto* view = qobject_cast<CLogView*>(w.dlg.Control(IDC_LOG));
  QVERIFY(view);
  MessageLog& log = w.dlg.Log();
  // A few lines, too few to scroll, reach the screen by themselves.
  for (int i = 0; i < 3; ++i) log.Append("first " + std::to_string(i));
  QTRY_VERIFY_WITH_TIMEOUT(BlankRows(view, log, Shown(view)).isEmpty(),
                           kWorkerWaitMs);
  const int page = view->PageRows();

  // At the end, the list follows new lines, a worker's too, without
  // selecting them; the screen shows the last line.
  w.Click(IDC_CLEAR);
  for (int i = 0; i < 300; ++i) log.Append("line " + std::to_string(i));
  std::thread worker([&log] {
    for (int i = 0; i < 200; ++i) {
      std::string line = "worker ";
      line += std::to_string(i);
      log.Append(line);
    }
  });
  worker.join();
  QTRY_COMPARE_WITH_TIMEOUT(view->TopRow(), 500 - page, kWorkerWaitMs);
  QTRY_VERIFY_WITH_TIMEOUT(ShownIsCurrent(view), kWorkerWaitMs);
  QVERIFY(BlankRows(view, log, Shown(view)).isEmpty());
  QVERIFY(!view->selectionModel()->hasSelection());

  // Scrolled up, the view stays where it was, on screen too.
  view->verticalScrollBar()->setValue(150);
  QTRY_VERIFY_WITH_TIMEOUT(ShownIsCurrent(view), kWorkerWaitMs);
  const QImage before = Shown(view);
  for (int i = 0; i < 300; ++i) log.Append("more");
  QTRY_COMPARE_WITH_TIMEOUT(view->verticalScrollBar()->maximum(), 800 - page,
                            kWorkerWaitMs);
  QTest::qWait(FrameWaitMs(view));
  QCOMPARE(view->TopRow(), 150);
  QVERIFY(Shown(view) == before);
  QVERIFY(!view->selectionModel()->hasSelection());

  // Back at the end, it follows again.
  view->verticalScrollBar()->setValue(view->verticalScrollBar()->maximum());
  log.Append("last");
  QTRY_COMPARE_WITH_TIMEOUT(view->TopRow(), 801 - page, kWorkerWaitMs);
  QTRY_VERIFY_WITH_TIMEOUT(ShownIsCurrent(view), kWorkerWaitMs);
  QVERIFY(BlankRows(view, log, Shown(view)).isEmpty());

  // Bytes are stored as given and shown decoded as UTF-8.
  log.Append("caf\xc3\xa9");
  log.Append(std::string_view("\xff\x00z", 3));
  QCOMPARE(view->model()->data(view->model()->index(801, 0)).toString(),
           QStringLiteral("caf\u00e9"));
  QCOMPARE(log.Line(802), std::string_view("\xff\x00z", 3));
  QCOMPARE(view->model()->data(view->model()->index(802, 0)).toString().size(),
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
  // The list followed the lines; the user goes back to the top.
  QTRY_COMPARE(view->TopRow(), 1000 - page);
  view->verticalScrollBar()->setValue(0);

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

void DialogTest::longLinesShowTheirEndAndAWholeLineTooltip() {
  Window w;
  QVERIFY(w.active);
  auto* view = qobject_cast<CLogView*>(w.dlg.Control(IDC_LOG));
  MessageLog& log = w.dlg.Log();
  std::string path = "/tmp";
  for (int i = 0; i < 30; ++i) path += "/folder" + std::to_string(i);
  path += "/testdata.tmp";
  const std::string lines[] = {
      "Using short.tmp",          path + " Closed.",     path + " deleted.",
      "/mnt" + path + " Closed.", "<b>" + path + "</b>",
  };
  for (const std::string& line : lines) log.Append(line);
  QTRY_VERIFY_WITH_TIMEOUT(ShownIsCurrent(view), kWorkerWaitMs);

  // Cut in the middle: lines that differ only at their end or only at
  // their start look different.
  const QImage shown = Shown(view);
  QVERIFY(ShownRow(view, shown, 1) != ShownRow(view, shown, 2));
  QVERIFY(ShownRow(view, shown, 1) != ShownRow(view, shown, 3));

  // A cut line's tooltip is the whole line; a whole line has none.
  const auto tipAt = [view](int row) {
    const QPoint at(view->viewport()->width() / 2,
                    row * view->RowHeight() + view->RowHeight() / 2);
    QHelpEvent help(QEvent::ToolTip, at, view->viewport()->mapToGlobal(at));
    QApplication::sendEvent(view->viewport(), &help);
  };
  tipAt(0);
  QVERIFY(!QToolTip::isVisible());
  tipAt(1);
  QTRY_VERIFY(QToolTip::isVisible());
  QCOMPARE(QToolTip::text(), QString::fromStdString(lines[1]));
  // Markup in a line is shown as the characters it is.
  tipAt(4);
  QTextDocument shownTip;
  shownTip.setHtml(QToolTip::text());
  QCOMPARE(shownTip.toPlainText(), QString::fromStdString(lines[4]));
  QToolTip::hideText();
}

void DialogTest::selectedLinesAreCopied() {
  Window w;
  QVERIFY(w.active);
  auto* view = qobject_cast<CLogView*>(w.dlg.Control(IDC_LOG));
  MessageLog& log = w.dlg.Log();
  QStringList all;
  for (int i = 0; i < 200; ++i) {
    log.Append("line " + std::to_string(i));
    all << QStringLiteral("line %1").arg(i);
  }
  // The list followed the lines; the user goes back to the top.
  QTRY_COMPARE(view->TopRow(), 200 - view->PageRows());
  view->verticalScrollBar()->setValue(0);
  QTRY_VERIFY_WITH_TIMEOUT(ShownIsCurrent(view), kWorkerWaitMs);
  // The point in the middle of the `row`th line on screen.
  const auto rowAt = [view](int row) {
    return QPoint(20, row * view->RowHeight() + view->RowHeight() / 2);
  };
  QClipboard* clipboard = QGuiApplication::clipboard();
  clipboard->clear();

  // A range with Shift, more lines with Ctrl, an earlier one last: copied
  // in the log's order.
  QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, rowAt(2));
  QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::ShiftModifier,
                    rowAt(4));
  QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::ControlModifier,
                    rowAt(6));
  QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::ControlModifier,
                    rowAt(0));
  QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
  QCOMPARE(clipboard->text(),
           QStringLiteral("line 0\nline 2\nline 3\nline 4\nline 6"));

  // Shift+click up to a line far from the first one, scrolled off screen.
  view->verticalScrollBar()->setValue(100);
  QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, rowAt(5));
  view->verticalScrollBar()->setValue(0);
  QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::ShiftModifier,
                    rowAt(3));
  QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
  QCOMPARE(clipboard->text(), all.mid(3, 103).join(u'\n'));

  // The context menu: Select All, then Copy.
  const auto choose = [view, &rowAt](const QString& name) {
    QContextMenuEvent open(QContextMenuEvent::Mouse, rowAt(1),
                           view->viewport()->mapToGlobal(rowAt(1)));
    QApplication::sendEvent(view->viewport(), &open);
    QMenu* menu = nullptr;
    QTRY_VERIFY(menu = qobject_cast<QMenu*>(QApplication::activePopupWidget()));
    QAction* action = nullptr;
    for (QAction* each : menu->actions()) {
      if (each->objectName() == name) action = each;
    }
    QVERIFY(action && action->isEnabled());
    QTest::mouseClick(menu, Qt::LeftButton, {},
                      menu->actionGeometry(action).center());
    QTRY_VERIFY(!QApplication::activePopupWidget());
  };
  choose(QStringLiteral("selectAllAction"));
  if (QTest::currentTestFailed()) return;
  choose(QStringLiteral("copyAction"));
  if (QTest::currentTestFailed()) return;
  QCOMPARE(clipboard->text(), all.join(u'\n'));
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
  // Looked at while lines arrive: following the end, then where the user
  // scrolled.
  QStringList blank;
  QElapsedTimer clock;
  clock.start();
  std::deque<std::pair<qint64, std::size_t>> counts;  // ms, log lines
  std::size_t settled = 0;
  while (running.load() > 0 || w.dlg.State().EventsWaiting()) {
    counts.emplace_back(clock.elapsed(), log.Count());
    QTest::qWait(5);
    if (grabs == 5) view->verticalScrollBar()->setValue(log.Count() / 2);
    // Rows the window had a frame's wait ago have had their time to paint.
    while (!counts.empty() &&
           clock.elapsed() - counts.front().first >= FrameWaitMs(view)) {
      settled = counts.front().second;
      counts.pop_front();
    }
    blank += BlankRows(view, log, Shown(view), settled);
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
    QTest::qWait(FrameWaitMs(view));
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
