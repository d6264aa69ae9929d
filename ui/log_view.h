// The log's list: one line per row, all rows the same height. It keeps no
// state per row, so adding rows costs the same however many there are, and
// a paint touches only the rows on screen. New rows are taken in at most
// once a frame; while the last line is on screen the list follows them.
#pragma once

#include <QAbstractItemView>
#include <QElapsedTimer>
#include <QTimer>

class QAction;

namespace ferrotick::ui {

class CLogView : public QAbstractItemView {
  Q_OBJECT

 public:
  explicit CLogView(QWidget* parent = nullptr);

  // Row of the first line on screen (the scroll bar's value).
  int TopRow() const;
  // Rows that fit wholly in the viewport.
  int PageRows() const;
  int RowHeight() const { return m_nRowHeight; }
  // The selected lines in order, joined by "\n".
  QString SelectedText() const;
  // Puts SelectedText() on the clipboard; Ctrl+C and the context menu.
  void CopySelection();

  QRect visualRect(const QModelIndex& index) const override;
  void scrollTo(const QModelIndex& index,
                ScrollHint hint = EnsureVisible) override;
  QModelIndex indexAt(const QPoint& point) const override;
  // A typed letter would otherwise search millions of lines on the window
  // thread.
  void keyboardSearch(const QString&) override {}
  void reset() override;

 protected:
  QModelIndex moveCursor(CursorAction action,
                         Qt::KeyboardModifiers modifiers) override;
  int horizontalOffset() const override { return 0; }
  int verticalOffset() const override;
  bool isIndexHidden(const QModelIndex&) const override { return false; }
  void setSelection(const QRect& rect,
                    QItemSelectionModel::SelectionFlags command) override;
  QRegion visualRegionForSelection(
      const QItemSelection& selection) const override;
  void rowsInserted(const QModelIndex& parent, int start, int end) override;
  void updateGeometries() override;
  void paintEvent(QPaintEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;
  bool event(QEvent* event) override;
  bool viewportEvent(QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  void MeasureRows();
  // Sets the scroll range to the rows there are; a view that showed the
  // last line shows the new last line.
  void UpdateScrollBar();
  // Takes in the rows added since the last frame.
  void Frame();
  void ScheduleFrame();
  int FrameMs() const;
  // Whether the row's text is cut where it is painted.
  bool IsCut(const QModelIndex& index, const QString& text) const;
  int RowCount() const;
  // The row under viewport y, which may lie past the last row.
  int RowAtY(int y) const;

  int m_nRowHeight = 1;
  // First row added since the last frame, or -1.
  int m_nPendingFirst = -1;
  QTimer m_frameTimer;
  QElapsedTimer m_sinceFrame;
  QAction* m_pCopy = nullptr;
  QAction* m_pSelectAll = nullptr;
};

}  // namespace ferrotick::ui
