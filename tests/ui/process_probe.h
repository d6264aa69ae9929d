// What the process holds, read from /proc: its threads and its open
// descriptors, to show that ending the dialog leaves nothing behind.
#pragma once

#include <dirent.h>
#include <unistd.h>

#include <QImage>
#include <QPainter>
#include <QThreadPool>
#include <algorithm>
#include <chrono>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/thread_count.h"

namespace ferrotick::ui::test {

// Threads still alive; see LiveThreadCount.
inline int ThreadCount() { return ferrotick::testing::LiveThreadCount(); }

// Qt's global pool starts threads for work of its own when a window is
// first shown and lets them go after 30 s idle; kept, they cannot change
// the count between two readings.
inline void KeepQtPoolThreads() {
  QThreadPool::globalInstance()->setExpiryTimeout(-1);
}

// The thread count once it is `expected`, or after 10 s. A joined thread
// no longer counts, so this returns at once unless a thread was really
// left going; the deadline only bounds how long a failure takes.
inline int ThreadCountSettledTo(int expected) {
  const auto until =
      std::chrono::steady_clock::now() + std::chrono::seconds(10);
  int count = ThreadCount();
  while (count != expected && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    count = ThreadCount();
  }
  return count;
}

// "fd->target" for every open descriptor but the one reading the list.
inline std::vector<std::string> OpenDescriptors() {
  std::vector<std::string> fds;
  DIR* dir = ::opendir("/proc/self/fd");
  if (!dir) return fds;
  const std::string own = std::to_string(::dirfd(dir));
  while (dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == ".." || name == own) continue;
    char target[4096] = {};
    const std::string link = "/proc/self/fd/" + name;
    const ssize_t n = ::readlink(link.c_str(), target, sizeof(target) - 1);
    fds.push_back(name + "->" + (n > 0 ? std::string(target, n) : "?"));
  }
  ::closedir(dir);
  std::sort(fds.begin(), fds.end());
  return fds;
}

// The descriptors of `after` that `before` did not hold, for messages.
inline std::string NewDescriptors(const std::vector<std::string>& before,
                                  const std::vector<std::string>& after) {
  std::vector<std::string> added;
  std::set_difference(after.begin(), after.end(), before.begin(), before.end(),
                      std::back_inserter(added));
  std::string text;
  for (const std::string& fd : added) text += fd + " ";
  return text;
}

// Qt scales large images on threads of another pool of its own, started by
// the first such paint (a list's scroll bar, say) and kept while painting
// goes on. Started before any thread is counted, they are nobody's run.
inline void StartQtPaintThreads() {
  QImage small(64, 64, QImage::Format_ARGB32_Premultiplied);
  small.fill(Qt::gray);
  QImage large(1024, 1024, QImage::Format_ARGB32_Premultiplied);
  QPainter painter(&large);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  painter.drawImage(large.rect(), small);  // a scaling big enough to share
}

}  // namespace ferrotick::ui::test
