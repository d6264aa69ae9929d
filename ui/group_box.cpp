#include "ui/group_box.h"

#include <qdrawutil.h>

#include <QPainter>
#include <QStyle>

namespace ferrotick::ui {

CGroupBox::CGroupBox(const QString& title, QWidget* parent)
    : QGroupBox(title, parent) {}

int CGroupBox::FrameTop() const { return fontMetrics().height() / 2; }

QRect CGroupBox::TitleRect() const {
  if (title().isEmpty()) return QRect();
  const QFontMetrics metrics = fontMetrics();
  // Inset by about a character, with half a space either side of the text.
  const int inset = metrics.averageCharWidth();
  const int pad = (metrics.horizontalAdvance(u' ') + 1) / 2;
  const QRect text(inset, 0, metrics.horizontalAdvance(title()) + 2 * pad,
                   metrics.height());
  return text.intersected(rect());
}

void CGroupBox::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QRect text = TitleRect();
  QRect frame = rect();
  frame.setTop(FrameTop());
  painter.save();
  painter.setClipRegion(QRegion(rect()) - text);
  // Etched: a dark line with a light one inside it.
  qDrawShadeRect(&painter, frame, palette(), true, 1, 0);
  painter.restore();
  if (!text.isEmpty()) {
    style()->drawItemText(&painter, text,
                          Qt::AlignCenter | Qt::TextHideMnemonic, palette(),
                          isEnabled(), title(), QPalette::WindowText);
  }
}

}  // namespace ferrotick::ui
