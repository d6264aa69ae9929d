#include "ui/log_view.h"

#include <QEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>
#include <cstdlib>
#include <limits>

namespace ferrotick::ui {
namespace {

int ClampToInt(qint64 value) {
  return static_cast<int>(std::clamp<qint64>(
      value, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

}  // namespace

CLogView::CLogView(QWidget* parent) : QAbstractItemView(parent) {
  // The scroll bar counts rows, not pixels: a row count in int can never
  // overflow it.
  setVerticalScrollMode(ScrollPerItem);
  MeasureRows();
}

void CLogView::MeasureRows() {
  // The height the item delegate gives a line of text in this font.
  QStyleOptionViewItem option;
  initViewItemOption(&option);
  option.features |= QStyleOptionViewItem::HasDisplay;
  option.text = QStringLiteral("Xg");
  m_nRowHeight = std::max(
      1, style()
             ->sizeFromContents(QStyle::CT_ItemViewItem, &option, QSize(), this)
             .height());
}

int CLogView::RowCount() const {
  return model() ? model()->rowCount(rootIndex()) : 0;
}

int CLogView::TopRow() const { return verticalScrollBar()->value(); }

int CLogView::PageRows() const {
  return std::max(1, viewport()->height() / m_nRowHeight);
}

int CLogView::RowAtY(int y) const {
  const qint64 offset =
      y >= 0 ? y / m_nRowHeight : -((-qint64{y} - 1) / m_nRowHeight) - 1;
  return ClampToInt(TopRow() + offset);
}

int CLogView::verticalOffset() const {
  return ClampToInt(qint64{TopRow()} * m_nRowHeight);
}

QRect CLogView::visualRect(const QModelIndex& index) const {
  if (!index.isValid() || index.parent() != rootIndex()) return QRect();
  // Rows far off screen are placed just beyond it, never at an overflowed y.
  const qint64 y = qint64{index.row() - TopRow()} * m_nRowHeight;
  const int limit = viewport()->height() + m_nRowHeight;
  return QRect(
      0, ClampToInt(std::clamp<qint64>(y, -2 * qint64{m_nRowHeight}, limit)),
      viewport()->width(), m_nRowHeight);
}

void CLogView::scrollTo(const QModelIndex& index, ScrollHint hint) {
  if (!index.isValid()) return;
  const int row = index.row();
  const int top = TopRow();
  const int page = PageRows();
  int newTop = top;
  switch (hint) {
    case PositionAtTop:
      newTop = row;
      break;
    case PositionAtBottom:
      newTop = row - page + 1;
      break;
    case PositionAtCenter:
      newTop = row - page / 2;
      break;
    case EnsureVisible:
      if (row < top) {
        newTop = row;
      } else if (row >= top + page) {
        newTop = row - page + 1;
      }
      break;
  }
  verticalScrollBar()->setValue(newTop);  // clamped to the range
}

QModelIndex CLogView::indexAt(const QPoint& point) const {
  if (!model() || point.x() < 0 || point.x() >= viewport()->width()) {
    return QModelIndex();
  }
  const int row = RowAtY(point.y());
  if (row < 0 || row >= RowCount()) return QModelIndex();
  return model()->index(row, 0, rootIndex());
}

void CLogView::reset() {
  QAbstractItemView::reset();
  UpdateScrollBar();
  verticalScrollBar()->setValue(0);
  viewport()->update();
}

QModelIndex CLogView::moveCursor(CursorAction action, Qt::KeyboardModifiers) {
  const int rows = RowCount();
  if (rows == 0) return QModelIndex();
  const QModelIndex current = currentIndex();
  // Without a current line the keys start at the first line on screen.
  if (!current.isValid()) {
    return model()->index(std::min(TopRow(), rows - 1), 0, rootIndex());
  }
  const int step = std::max(1, PageRows() - 1);
  qint64 row = current.row();
  switch (action) {
    case MoveUp:
    case MovePrevious:
      row -= 1;
      break;
    case MoveDown:
    case MoveNext:
      row += 1;
      break;
    case MovePageUp:
      row -= step;
      break;
    case MovePageDown:
      row += step;
      break;
    case MoveHome:
      row = 0;
      break;
    case MoveEnd:
      row = rows - 1;
      break;
    case MoveLeft:
    case MoveRight:
      break;
  }
  return model()->index(static_cast<int>(std::clamp<qint64>(row, 0, rows - 1)),
                        0, rootIndex());
}

void CLogView::setSelection(const QRect& rect,
                            QItemSelectionModel::SelectionFlags command) {
  if (!selectionModel()) return;
  const int rows = RowCount();
  const int first = std::max(0, RowAtY(rect.top()));
  const int last = std::min(rows - 1, RowAtY(rect.bottom()));
  QItemSelection selection;
  if (first <= last) {
    selection.select(model()->index(first, 0, rootIndex()),
                     model()->index(last, 0, rootIndex()));
  }
  selectionModel()->select(selection, command);
}

QRegion CLogView::visualRegionForSelection(
    const QItemSelection& selection) const {
  // Only what is on screen needs repainting.
  const int top = TopRow();
  const int bottom = top + PageRows();
  QRegion region;
  for (const QItemSelectionRange& range : selection) {
    if (range.parent() != rootIndex()) continue;
    const int first = std::max(range.top(), top);
    const int last = std::min(range.bottom(), bottom);
    if (first > last) continue;
    region += QRect(0, (first - top) * m_nRowHeight, viewport()->width(),
                    (last - first + 1) * m_nRowHeight);
  }
  return region;
}

void CLogView::rowsInserted(const QModelIndex& parent, int start, int end) {
  QAbstractItemView::rowsInserted(parent, start, end);
  if (parent != rootIndex()) return;
  UpdateScrollBar();
  // The view stays where it is; only new lines that land on screen paint.
  const int top = TopRow();
  if (start <= top + PageRows() && end >= top) {
    const int first = std::max(start, top) - top;
    viewport()->update(0, first * m_nRowHeight, viewport()->width(),
                       viewport()->height() - first * m_nRowHeight);
  }
}

void CLogView::UpdateScrollBar() {
  const int page = PageRows();
  QScrollBar* bar = verticalScrollBar();
  bar->setSingleStep(1);
  bar->setPageStep(page);
  bar->setRange(0, std::max(0, RowCount() - page));
  horizontalScrollBar()->setRange(0, 0);
}

void CLogView::updateGeometries() {
  UpdateScrollBar();
  QAbstractItemView::updateGeometries();
}

void CLogView::paintEvent(QPaintEvent* event) {
  if (!model()) return;
  QPainter painter(viewport());
  const QRect area = event->rect();
  const int first = std::max(0, RowAtY(area.top()));
  const int last = std::min(RowCount() - 1, RowAtY(area.bottom()));
  QStyleOptionViewItem base;
  initViewItemOption(&base);
  const QModelIndex current = currentIndex();
  const bool focus =
      (hasFocus() || viewport()->hasFocus()) && current.isValid();
  const QItemSelectionModel* selection = selectionModel();
  for (int row = first; row <= last; ++row) {
    const QModelIndex index = model()->index(row, 0, rootIndex());
    QStyleOptionViewItem option = base;
    option.rect = visualRect(index);
    if (selection && selection->isSelected(index)) {
      option.state |= QStyle::State_Selected;
    }
    if (focus && index == current) option.state |= QStyle::State_HasFocus;
    itemDelegateForIndex(index)->paint(&painter, option, index);
  }
}

void CLogView::scrollContentsBy(int, int dy) {
  if (std::abs(dy) < PageRows()) {
    viewport()->scroll(0, dy * m_nRowHeight);
  } else {
    viewport()->update();
  }
}

bool CLogView::event(QEvent* event) {
  if (event->type() == QEvent::FontChange ||
      event->type() == QEvent::StyleChange) {
    MeasureRows();
    updateGeometries();
    viewport()->update();
  }
  return QAbstractItemView::event(event);
}

}  // namespace ferrotick::ui
