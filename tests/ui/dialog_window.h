// What the dialog tests share: a dialog on screen behind a given modal
// host, driven through its controls as a user does, and a wait for a modal
// window to come up.
#pragma once

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QStringList>
#include <QTimer>
#include <QtTest>
#include <functional>
#include <string_view>

#include "core/message_log.h"
#include "ui/bench_dialog.h"

namespace ferrotick::ui::test {

inline QString Text(std::string_view bytes) {
  return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

inline QStringList Lines(const MessageLog& log) {
  QStringList lines;
  for (std::size_t i = 0; i < log.Count(); ++i) lines << Text(log.Line(i));
  return lines;
}

// Runs `action` once a modal T is the active window.
template <typename T>
void WhenActive(std::function<void(T*)> action) {
  auto* timer = new QTimer(qApp);
  QObject::connect(timer, &QTimer::timeout, timer, [timer, action] {
    auto* modal = qobject_cast<T*>(QApplication::activeModalWidget());
    if (!modal || !modal->isVisible() || !modal->isActiveWindow()) return;
    timer->stop();
    timer->deleteLater();
    action(modal);
  });
  timer->start(10);
}

template <typename Modal>
class DialogWindow {
 public:
  DialogWindow() : dlg(&modal) {
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

  Modal modal;
  CBenchDlg dlg;
  bool active = false;
};

}  // namespace ferrotick::ui::test
