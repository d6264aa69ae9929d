// The dialog under load and at start-up.
//
//   dialog_bench stall [--lines N]   three workers flood the dialog's log;
//                                    the longest gap between ticks of a
//                                    1 ms timer is the event loop's stall
//   dialog_bench startup LAUNCH_NS   the application as main() runs it;
//                                    LAUNCH_NS is CLOCK_MONOTONIC when the
//                                    launcher started us. Reports the time
//                                    to the dialog's first expose and the
//                                    resident memory after 1 s idle.
//
// Prints one JSON object.
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "ui/bench_app.h"
#include "ui/bench_dialog.h"

namespace {

constexpr char kLine[] = "  Write... 1234.567 MBs [128/8192]";

long long MonotonicNs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

long ResidentKB() {
  std::ifstream status("/proc/self/status");
  std::string key;
  while (status >> key) {
    if (key == "VmRSS:") {
      long kb = 0;
      status >> kb;
      return kb;
    }
    status.ignore(1 << 16, '\n');
  }
  return -1;
}

int Stall(int argc, char** argv, long linesPerWorker) {
  QApplication app(argc, argv);
  ferrotick::ui::CBenchDlg dialog;
  dialog.show();
  QElapsedTimer clock;
  clock.start();
  // Let the window settle before the flood starts.
  while (clock.elapsed() < 300) {
    QApplication::processEvents(QEventLoop::AllEvents, 50);
  }

  ferrotick::MessageLog& log = dialog.Log();
  const std::size_t before = log.Count();
  const std::size_t total = 3 * static_cast<std::size_t>(linesPerWorker);
  std::atomic<int> running{3};
  std::vector<std::thread> workers;

  qint64 lastTick = -1;
  qint64 longestGap = 0;
  qint64 ticks = 0;
  QTimer probe;
  probe.setTimerType(Qt::PreciseTimer);
  probe.setInterval(1);
  QObject::connect(&probe, &QTimer::timeout, [&] {
    const qint64 now = clock.nsecsElapsed();
    if (lastTick >= 0) longestGap = std::max(longestGap, now - lastTick);
    lastTick = now;
    ++ticks;
    if (running.load() == 0 && log.Count() - before >= total) app.quit();
  });
  probe.start();
  const qint64 start = clock.nsecsElapsed();
  for (int w = 0; w < 3; ++w) {
    workers.emplace_back([&] {
      for (long i = 0; i < linesPerWorker; ++i) log.Append(kLine);
      running.fetch_sub(1);
    });
  }
  app.exec();
  const double seconds = (clock.nsecsElapsed() - start) * 1e-9;
  for (std::thread& worker : workers) worker.join();
  std::printf(
      "{\"mode\":\"stall\",\"platform\":\"%s\",\"workers\":3,"
      "\"lines\":%zu,\"seconds\":%.3f,\"lines_per_s\":%.0f,"
      "\"longest_stall_ms\":%.2f,\"ticks\":%lld}\n",
      qPrintable(QApplication::platformName()), total, seconds,
      static_cast<double>(total) / seconds, longestGap * 1e-6,
      static_cast<long long>(ticks));
  return 0;
}

// Catches the first expose of a window that is then visible on screen.
class ExposeWatch : public QObject {
 public:
  bool eventFilter(QObject* object, QEvent* event) override {
    if (m_shownNs == 0 && event->type() == QEvent::Expose) {
      auto* window = qobject_cast<QWindow*>(object);
      if (window && window->isVisible()) {
        m_shownNs = MonotonicNs();
        QTimer::singleShot(1000, [] {
          const long rssKB = ResidentKB();
          std::printf("%ld\n", rssKB);
          std::fflush(stdout);
          if (QWidget* modal = QApplication::activeModalWidget()) {
            modal->close();
          }
        });
      }
    }
    return false;
  }
  long long m_shownNs = 0;
};

int Startup(int argc, char** argv, long long launchNs) {
  ferrotick::ui::CBenchApp app(argc, argv);
  ExposeWatch watch;
  app.installEventFilter(&watch);
  // The RSS line is printed first, then the summary once the dialog ends.
  std::printf("# rss_kb after 1 s idle: ");
  app.Run();
  std::printf(
      "{\"mode\":\"startup\",\"platform\":\"%s\",\"launch_to_shown_ms\":%.1f}"
      "\n",
      qPrintable(QApplication::platformName()),
      watch.m_shownNs ? (watch.m_shownNs - launchNs) * 1e-6 : -1.0);
  return watch.m_shownNs ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "stall") == 0) {
    long lines = 1000000;
    if (argc >= 4 && std::strcmp(argv[2], "--lines") == 0) {
      lines = std::atol(argv[3]);
    }
    int qtArgc = 1;
    return Stall(qtArgc, argv, lines);
  }
  if (argc >= 3 && std::strcmp(argv[1], "startup") == 0) {
    int qtArgc = 1;
    return Startup(qtArgc, argv, std::atoll(argv[2]));
  }
  std::fprintf(stderr,
               "usage: dialog_bench stall [--lines N] | startup LAUNCH_NS\n");
  return 2;
}
