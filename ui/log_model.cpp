#include "ui/log_model.h"

#include <limits>

namespace ferrotick::ui {
namespace {

// Qt counts rows in int; a log beyond that shows its first kMaxRows lines.
constexpr auto kMaxRows =
    static_cast<std::size_t>(std::numeric_limits<int>::max());

}  // namespace

CLogModel::CLogModel(const MessageLog& log, QObject* parent)
    : QAbstractListModel(parent), m_log(log) {}

int CLogModel::rowCount(const QModelIndex& parent) const {
  if (parent.isValid()) return 0;
  const std::size_t count = m_log.Count();
  return static_cast<int>(count < kMaxRows ? count : kMaxRows);
}

QVariant CLogModel::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole || !index.isValid() || index.column() != 0 ||
      index.row() < 0 ||
      static_cast<std::size_t>(index.row()) >= m_log.Count()) {
    return QVariant();
  }
  // Lines are bytes; Linux file names in them are UTF-8 by convention.
  const std::string_view line =
      m_log.Line(static_cast<std::size_t>(index.row()));
  return QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size()));
}

void CLogModel::OnLogAppending(std::size_t first, std::size_t last) {
  // Rows past the int range are never shown, so they are never announced.
  m_bInserting = first < kMaxRows;
  if (m_bInserting) {
    beginInsertRows(QModelIndex(), static_cast<int>(first),
                    static_cast<int>(last < kMaxRows ? last : kMaxRows - 1));
  }
}

void CLogModel::OnLogAppended() {
  if (m_bInserting) endInsertRows();
  m_bInserting = false;
}

void CLogModel::OnLogClearing() { beginResetModel(); }

void CLogModel::OnLogCleared() { endResetModel(); }

}  // namespace ferrotick::ui
