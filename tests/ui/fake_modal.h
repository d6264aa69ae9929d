// A modal host that answers from a script and records what was shown.
#pragma once

#include <QString>
#include <QStringList>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "ui/modal_host.h"

namespace ferrotick::ui::test {

class CFakeModal : public CModalHost {
 public:
  std::optional<std::string> ChoosePath(
      QWidget* /*parent*/, const ChoosePathRequest& request) override {
    requests.push_back(request);
    if (answers.empty()) return std::nullopt;
    std::optional<std::string> answer = answers.front();
    answers.pop_front();
    return answer;
  }
  void ShowMessage(QWidget* /*parent*/, const QString& text) override {
    messages << text;
  }

  // Next answers of ChoosePath; nothing is a cancelled chooser.
  std::deque<std::optional<std::string>> answers;
  std::vector<ChoosePathRequest> requests;
  QStringList messages;
};

}  // namespace ferrotick::ui::test
