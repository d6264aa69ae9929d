// The message log as a list model: rows are read from the log on demand, so
// a log of millions of lines costs the view nothing per line.
#pragma once

#include <QAbstractListModel>

#include "core/message_log.h"

namespace ferrotick::ui {

class CLogModel : public QAbstractListModel, public LogObserver {
  Q_OBJECT

 public:
  explicit CLogModel(const MessageLog& log, QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index,
                int role = Qt::DisplayRole) const override;

  void OnLogAppending(std::size_t first, std::size_t last) override;
  void OnLogAppended() override;
  void OnLogClearing() override;
  void OnLogCleared() override;

 private:
  const MessageLog& m_log;
  bool m_bInserting = false;
};

}  // namespace ferrotick::ui
