// Identifiers of the dialog and its controls.
#pragma once

namespace ferrotick::ui {

enum : int {
  IDD_BENCH_DIALOG = 102,
  IDR_MAINFRAME = 128,
  IDC_EXIT = 1000,
  IDC_LOG = 1001,
  IDC_CLEAR = 1002,
  IDC_CREATE = 1003,
  IDC_FILE_SIZE = 1004,
  IDC_WRITE = 1005,
  IDC_READ = 1007,
  IDC_USE_EXISTING = 1009,
  IDC_BUFFER_SIZE = 1010,
  IDC_DELETE_FILE = 1011,
  IDC_CANCEL_INIT = 1012,
  IDC_ABOUT = 1013,
  IDC_SAVE_LOG = 1014,
};

}  // namespace ferrotick::ui
