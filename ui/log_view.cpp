#include "ui/log_view.h"

#include <QAction>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QEvent>
#include <QGuiApplication>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QPaintEvent>
#include <QPainter>
#include <QScreen>
#include <QScrollBar>
#include <QStyleOptionSlider>
#include <QTextDocument>
#include <QToolTip>
#include <algorithm>
#include <cstdlib>
#include <limits>
#include <utility>
#include <vector>

namespace ferrotick::ui {
namespace {

int ClampToInt(qint64 value) {
  return static_cast<int>(std::clamp<qint64>(
      value, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

// While lines arrive the range grows every frame, and while the list
// follows them the value too; the thumb moves a pixel only every so many
// lines. A repaint of the bar (and of what lies below it) is the dearest
// thing on the window thread then, so it is left out while the thumb
// stays put.
class CLogScrollBar : public QScrollBar {
 public:
  explicit CLogScrollBar(QWidget* parent) : QScrollBar(Qt::Vertical, parent) {}

 protected:
  void sliderChange(SliderChange change) override {
    if (change != SliderOrientationChange && Look() == m_shown) return;
    QScrollBar::sliderChange(change);
  }
  void paintEvent(QPaintEvent* event) override {
    m_shown = Look();
    QScrollBar::paintEvent(event);
  }

 private:
  // What a style draws differently: the thumb, and arrows that some styles
  // grey out at either end.
  struct Shown {
    QRect thumb;
    bool enabled = false;
    bool atStart = false;
    bool atEnd = false;
    bool operator==(const Shown&) const = default;
  };
  Shown Look() const {
    QStyleOptionSlider option;
    initStyleOption(&option);
    return Shown{style()->subControlRect(QStyle::CC_ScrollBar, &option,
                                         QStyle::SC_ScrollBarSlider, this),
                 isEnabled(), value() == minimum(), value() == maximum()};
  }

  Shown m_shown;
};

}  // namespace

CLogView::CLogView(QWidget* parent) : QAbstractItemView(parent) {
  // The scroll bar counts rows, not pixels: a row count in int can never
  // overflow it.
  setVerticalScrollMode(ScrollPerItem);
  setVerticalScrollBar(new CLogScrollBar(this));
  // Opaque, so that a repaint of the bar is not also one of the window and
  // the "Misc" group box that lie below the list's lower edge.
  verticalScrollBar()->setAutoFillBackground(true);
  // A line's end ("Closed.", "deleted.") is what tells lines apart.
  setTextElideMode(Qt::ElideMiddle);
  MeasureRows();

  m_frameTimer.setObjectName(QStringLiteral("logFrameTimer"));
  m_frameTimer.setSingleShot(true);
  connect(&m_frameTimer, &QTimer::timeout, this, &CLogView::Frame);

  m_pCopy = new QAction(tr("&Copy"), this);
  m_pCopy->setObjectName(QStringLiteral("copyAction"));
  m_pCopy->setShortcut(QKeySequence::Copy);
  m_pCopy->setShortcutContext(Qt::WidgetWithChildrenShortcut);
  connect(m_pCopy, &QAction::triggered, this, &CLogView::CopySelection);
  addAction(m_pCopy);
  m_pSelectAll = new QAction(tr("Select &All"), this);
  m_pSelectAll->setObjectName(QStringLiteral("selectAllAction"));
  m_pSelectAll->setShortcut(QKeySequence::SelectAll);
  m_pSelectAll->setShortcutContext(Qt::WidgetWithChildrenShortcut);
  connect(m_pSelectAll, &QAction::triggered, this, &CLogView::selectAll);
  addAction(m_pSelectAll);
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
  // Where the row is, off screen too (Shift+click selects from there), but
  // never at a y that could overflow in arithmetic on it.
  constexpr qint64 kFar = std::numeric_limits<int>::max() / 4;
  const qint64 y = qint64{index.row() - TopRow()} * m_nRowHeight;
  return QRect(0, static_cast<int>(std::clamp<qint64>(y, -kFar, kFar)),
               viewport()->width(), m_nRowHeight);
}

void CLogView::scrollTo(const QModelIndex& index, ScrollHint hint) {
  if (!index.isValid()) return;
  // The range must hold rows added since the last frame.
  if (m_nPendingFirst >= 0) Frame();
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
  m_nPendingFirst = -1;
  verticalScrollBar()->setValue(0);
  UpdateScrollBar();
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
  // From the anchor up or down: Shift+click above the anchor gives a rect
  // whose top lies below its bottom.
  const int top = std::min(rect.top(), rect.bottom());
  const int bottom = std::max(rect.top(), rect.bottom());
  const int first = std::max(0, RowAtY(top));
  const int last = std::min(rows - 1, RowAtY(bottom));
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
  // Lines can come thousands a second; the screen shows them once a frame.
  m_nPendingFirst =
      m_nPendingFirst < 0 ? start : std::min(m_nPendingFirst, start);
  ScheduleFrame();
}

int CLogView::FrameMs() const {
  const QScreen* shown = screen();
  const qreal hertz = shown ? shown->refreshRate() : 60.0;
  return static_cast<int>(1000.0 / std::clamp<qreal>(hertz, 24.0, 240.0));
}

void CLogView::ScheduleFrame() {
  if (m_frameTimer.isActive()) return;
  // The first lines after a quiet spell show at once; the next wait for
  // the frame after.
  const qint64 since =
      m_sinceFrame.isValid() ? m_sinceFrame.elapsed() : FrameMs();
  m_frameTimer.start(static_cast<int>(std::max<qint64>(0, FrameMs() - since)));
}

void CLogView::Frame() {
  m_frameTimer.stop();
  m_sinceFrame.start();
  const int first = std::exchange(m_nPendingFirst, -1);
  if (first < 0) return;
  UpdateScrollBar();
  // Only new lines that land on screen paint; a scroll to follow them has
  // moved the old ones already.
  const int top = TopRow();
  if (first <= top + PageRows()) {
    const int y = (std::max(first, top) - top) * m_nRowHeight;
    viewport()->update(0, y, viewport()->width(), viewport()->height() - y);
  }
}

void CLogView::UpdateScrollBar() {
  const int page = PageRows();
  QScrollBar* bar = verticalScrollBar();
  // Not while the user drags the bar: the thumb stays under the mouse.
  const bool follow = bar->value() >= bar->maximum() && !bar->isSliderDown();
  bar->setSingleStep(1);
  bar->setPageStep(page);
  bar->setRange(0, std::max(0, RowCount() - page));
  if (follow) bar->setValue(bar->maximum());
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

bool CLogView::IsCut(const QModelIndex& index, const QString& text) const {
  // As the delegate lays the text out: the item's text rectangle less the
  // style's margin on each side, elided to that width.
  QStyleOptionViewItem option;
  initViewItemOption(&option);
  option.rect = visualRect(index);
  option.features |= QStyleOptionViewItem::HasDisplay;
  option.text = text;
  const int margin =
      style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1;
  const int width =
      style()
          ->subElementRect(QStyle::SE_ItemViewItemText, &option, this)
          .width() -
      2 * margin;
  return option.fontMetrics.elidedText(text, textElideMode(), width) != text;
}

bool CLogView::viewportEvent(QEvent* event) {
  if (event->type() != QEvent::ToolTip) {
    return QAbstractItemView::viewportEvent(event);
  }
  // The whole line, for a line the list shows cut.
  const auto* help = static_cast<QHelpEvent*>(event);
  const QModelIndex index = indexAt(help->pos());
  const QString text = index.isValid() ? index.data().toString() : QString();
  if (text.isEmpty() || !IsCut(index, text)) {
    QToolTip::hideText();
    event->ignore();
    return true;
  }
  // A line that looks like markup is shown as the characters it holds.
  const QString tip = Qt::mightBeRichText(text)
                          ? QStringLiteral("<p style='white-space:pre'>") +
                                text.toHtmlEscaped() + QStringLiteral("</p>")
                          : text;
  QToolTip::showText(help->globalPos(), tip, viewport(), visualRect(index));
  return true;
}

QString CLogView::SelectedText() const {
  if (!model() || !selectionModel()) return QString();
  // A selection made with Ctrl held can list its ranges in any order and
  // overlapping; each line is copied once, in the log's order.
  std::vector<std::pair<int, int>> ranges;
  for (const QItemSelectionRange& range : selectionModel()->selection()) {
    if (range.parent() == rootIndex()) {
      ranges.emplace_back(range.top(), range.bottom());
    }
  }
  std::sort(ranges.begin(), ranges.end());
  QString text;
  int next = 0;  // rows before it are copied
  bool first = true;
  for (const auto& [top, bottom] : ranges) {
    for (int row = std::max(top, next); row <= bottom; ++row) {
      if (!first) text += u'\n';
      first = false;
      text += model()->index(row, 0, rootIndex()).data().toString();
    }
    next = std::max(next, bottom + 1);
  }
  return text;
}

void CLogView::CopySelection() {
  if (!selectionModel() || !selectionModel()->hasSelection()) return;
  QGuiApplication::clipboard()->setText(SelectedText());
}

void CLogView::keyPressEvent(QKeyEvent* event) {
  // The base class would copy the current line alone.
  if (event->matches(QKeySequence::Copy)) {
    CopySelection();
    event->accept();
    return;
  }
  QAbstractItemView::keyPressEvent(event);
}

void CLogView::contextMenuEvent(QContextMenuEvent* event) {
  m_pCopy->setEnabled(selectionModel() && selectionModel()->hasSelection());
  // Not exec(): a nested loop would hold the dialog open past its end.
  auto* menu = new QMenu(this);
  menu->setAttribute(Qt::WA_DeleteOnClose);
  menu->addAction(m_pCopy);
  menu->addAction(m_pSelectAll);
  menu->popup(event->globalPos());
  event->accept();
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
