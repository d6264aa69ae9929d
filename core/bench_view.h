// What the core asks of the window. Every call comes on the window thread.
#pragma once

#include <optional>
#include <string>

namespace ferrotick {

// One file-chooser request. The filter uses "desc|pattern|desc|pattern||".
struct ChoosePathRequest {
  bool openType = false;  // false: save-type chooser
  std::string defaultExtension;
  std::string defaultFileName;
  std::string filter;
  std::string initialDirectory;
  bool mustExist = false;
  bool promptOverwrite = false;
  bool hideReadOnly = true;
};

class BenchView {
 public:
  virtual ~BenchView() = default;
  virtual void SetTitle(const std::string& text) = 0;
  virtual void EnableTests(bool on) = 0;
  virtual void SetWriteCaption(const std::string& text) = 0;
  virtual void SetReadCaption(const std::string& text) = 0;
  virtual void ShowSettings() = 0;
  // Returns the chosen full path, or nothing when the user cancels.
  virtual std::optional<std::string> ChoosePath(
      const ChoosePathRequest& request) = 0;
};

}  // namespace ferrotick
