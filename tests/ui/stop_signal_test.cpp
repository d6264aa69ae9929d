// A polite request to end (a logout's SIGHUP, kill's SIGTERM, Ctrl-C's
// SIGINT) sent to a window with a run going: the window ends as its Exit
// button ends it, runs stopped and files closed, within Exit's bound.
//
// The window runs in a child process: this program again, with
// --window-child, which runs the application as main() does while a script
// fills a file through the window's own chooser and starts Write on it.
#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <cstdio>
#include <cstring>
#include <string>

#include "ui/bench_app.h"
#include "ui/bench_dialog.h"
#include "ui/resource.h"

namespace ferrotick::ui::test {
namespace {

// Exit's bound, one second, and slack for a process's own end and for
// sanitized builds.
constexpr qint64 kEndLimitMs = 1000 + 2000;
constexpr int kWaitMs = 60000;

// Descriptors of process `pid` open on the file at canonical path `path`,
// in the descriptor tables of all its threads: a run may keep one of its
// own.
int Holding(const QString& pid, const QString& path) {
  const QString tasks =
      QStringLiteral("/proc/") + pid + QStringLiteral("/task");
  int count = 0;
  const QStringList threads =
      QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
  for (const QString& thread : threads) {
    const QString folder = tasks + u'/' + thread + QStringLiteral("/fd");
    DIR* dir = ::opendir(QFile::encodeName(folder).constData());
    if (!dir) continue;
    while (dirent* entry = ::readdir(dir)) {
      if (entry->d_name[0] == '.') continue;
      const QFileInfo link(folder + u'/' + QFile::decodeName(entry->d_name));
      count += link.symLinkTarget() == path;
    }
    ::closedir(dir);
  }
  return count;
}

CBenchDlg* ShownDialog() {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    auto* dlg = qobject_cast<CBenchDlg*>(widget);
    if (dlg && dlg->isVisible()) return dlg;
  }
  return nullptr;
}

bool HasWriteLine(const MessageLog& log) {
  for (std::size_t i = 0; i < log.Count(); ++i) {
    if (log.Line(i).rfind("Wrote ", 0) == 0) return true;
  }
  return false;
}

// The child: the application as main() runs it, driven by a script that
// says "running" once a Write run has made its first pass, and after the
// window has ended, how many descriptors still hold the test file.
int RunWindowChild(char* program, const QString& folder) {
  int argc = 1;
  char* argv[] = {program, nullptr};
  CBenchApp app(argc, argv);
  const QString path = folder + QStringLiteral("/stop.tmp");
  QTimer::singleShot(0, &app, [&path] {
    CBenchDlg* dlg = nullptr;
    if (!QTest::qWaitFor([&dlg] { return (dlg = ShownDialog()) != nullptr; },
                         kWaitMs)) {
      std::fprintf(stderr, "no window\n");
      return;
    }
    qobject_cast<QLineEdit*>(dlg->Control(IDC_FILE_SIZE))
        ->setText(QStringLiteral("1"));
    // Qt's chooser, answered as a user would.
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&answer, &path] {
      auto* chooser =
          qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      if (!chooser || !chooser->isVisible()) return;
      answer.stop();
      auto* edit =
          chooser->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
      edit->setText(path);
      QTest::keyClick(edit, Qt::Key_Return);
    });
    answer.start(10);
    QTest::mouseClick(dlg->Control(IDC_CREATE), Qt::LeftButton);
    if (!QTest::qWaitFor([dlg] { return dlg->Control(IDC_WRITE)->isEnabled(); },
                         kWaitMs)) {
      std::fprintf(stderr, "the fill did not end\n");
      return;
    }
    QTest::mouseClick(dlg->Control(IDC_WRITE), Qt::LeftButton);
    if (!QTest::qWaitFor([dlg] { return HasWriteLine(dlg->Log()); }, kWaitMs)) {
      std::fprintf(stderr, "no write pass\n");
      return;
    }
    std::printf("running\n");
    std::fflush(stdout);
  });
  const int result = app.Run();
  std::printf("held %d\n", Holding(QString::number(::getpid()),
                                   QFileInfo(path).canonicalFilePath()));
  std::fflush(stdout);
  return result;
}

}  // namespace

class StopSignalTest : public QObject {
  Q_OBJECT

 private slots:
  void signalEndsTheWindowAsExitDoes_data();
  void signalEndsTheWindowAsExitDoes();
};

void StopSignalTest::signalEndsTheWindowAsExitDoes_data() {
  QTest::addColumn<int>("signal");
  QTest::newRow("SIGTERM") << SIGTERM;
  QTest::newRow("SIGHUP") << SIGHUP;
  QTest::newRow("SIGINT") << SIGINT;
}

void StopSignalTest::signalEndsTheWindowAsExitDoes() {
  QFETCH(int, signal);
  struct sigaction inherited {};
  ::sigaction(signal, nullptr, &inherited);
  if (inherited.sa_handler == SIG_IGN) {
    QSKIP("ignored by whoever started the tests; the child inherits that");
  }
  QTemporaryDir dir;
  QVERIFY(dir.isValid());
  QProcess child;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  if (!environment.contains(QStringLiteral("QT_QPA_PLATFORM"))) {
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"),
                       QStringLiteral("offscreen"));
  }
  child.setProcessEnvironment(environment);
  child.start(QCoreApplication::applicationFilePath(),
              {QStringLiteral("--window-child"), dir.path()});
  QVERIFY(child.waitForStarted());
  QByteArray out;
  const QDeadlineTimer until(kWaitMs);
  while (!out.contains("running\n") && !until.hasExpired() &&
         child.state() == QProcess::Running) {
    child.waitForReadyRead(100);
    out += child.readAllStandardOutput();
  }
  if (!out.contains("running\n")) {
    child.kill();
    child.waitForFinished();
    QFAIL(qPrintable(QStringLiteral("no run going: ") +
                     child.readAllStandardError()));
  }
  const QString pid = QString::number(child.processId());
  const QString path =
      QFileInfo(dir.filePath(QStringLiteral("stop.tmp"))).canonicalFilePath();
  QVERIFY(Holding(pid, path) > 0);  // the Write run has it open

  QElapsedTimer clock;
  clock.start();
  QCOMPARE(::kill(static_cast<pid_t>(child.processId()), signal), 0);
  const bool ended = child.waitForFinished(kWaitMs);
  const qint64 elapsed = clock.elapsed();
  if (!ended) child.kill();
  QVERIFY(ended);
  out += child.readAllStandardOutput();
  QCOMPARE(child.exitStatus(), QProcess::NormalExit);
  QCOMPARE(child.exitCode(), 0);
  // Closed by the window's end, before the process ended.
  QVERIFY2(out.endsWith("held 0\n"), out.constData());
  QVERIFY2(elapsed < kEndLimitMs, qPrintable(QString::number(elapsed)));
  QVERIFY(QFileInfo(path).size() >= qint64{1} << 20);
}

}  // namespace ferrotick::ui::test

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--window-child") == 0) {
    return ferrotick::ui::test::RunWindowChild(argv[0],
                                               QString::fromLocal8Bit(argv[2]));
  }
  QCoreApplication app(argc, argv);
  ferrotick::ui::test::StopSignalTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "stop_signal_test.moc"
