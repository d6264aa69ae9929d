#include "ui/bench_dialog.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSignalBlocker>
#include <chrono>
#include <cstdio>

#include "core/file_commands.h"
#include "core/log_commands.h"
#include "core/run_commands.h"
#include "core/settings.h"
#include "ui/app_icon.h"
#include "ui/dialog_units.h"
#include "ui/group_box.h"
#include "ui/log_view.h"
#include "ui/resource.h"

namespace ferrotick::ui {
namespace {

enum class Kind { kButton, kEdit, kList, kLabel, kGroup };

struct ControlTemplate {
  int id;  // 0 for labels and group boxes
  const char* name;
  Kind kind;
  const char* caption;
  int x, y, width, height;  // dialog units
};

// Tab order; the creation order also makes it the stacking order.
constexpr ControlTemplate kControls[] = {
    {IDC_CLEAR, "IDC_CLEAR", Kind::kButton, "Clear", 206, 166, 50, 14},
    {IDC_EXIT, "IDC_EXIT", Kind::kButton, "Exit", 265, 166, 50, 14},
    {IDC_LOG, "IDC_LOG", Kind::kList, "", 79, 7, 243, 156},
    {IDC_CREATE, "IDC_CREATE", Kind::kButton, "Create", 14, 66, 40, 13},
    {IDC_FILE_SIZE, "IDC_FILE_SIZE", Kind::kEdit, "", 14, 50, 55, 12},
    {IDC_WRITE, "IDC_WRITE", Kind::kButton, "Write", 14, 116, 55, 14},
    {IDC_READ, "IDC_READ", Kind::kButton, "Read", 14, 134, 55, 14},
    {IDC_USE_EXISTING, "IDC_USE_EXISTING", Kind::kButton, "Use Existing", 14,
     83, 55, 14},
    {0, "labelFileSize", Kind::kLabel, "File Size (MB)", 14, 40, 55, 10},
    {IDC_BUFFER_SIZE, "IDC_BUFFER_SIZE", Kind::kEdit, "", 14, 23, 55, 12},
    {0, "labelBufferSize", Kind::kLabel, "Buffer Size (KB)", 14, 13, 55, 10},
    {IDC_DELETE_FILE, "IDC_DELETE_FILE", Kind::kButton, "Delete File", 78, 166,
     55, 14},
    {IDC_CANCEL_INIT, "IDC_CANCEL_INIT", Kind::kButton, "X", 54, 66, 15, 13},
    {IDC_ABOUT, "IDC_ABOUT", Kind::kButton, "About...", 14, 166, 55, 14},
    {0, "groupSetup", Kind::kGroup, "Setup", 7, 3, 68, 99},
    {0, "groupTests", Kind::kGroup, "Tests", 7, 105, 68, 48},
    {0, "groupMisc", Kind::kGroup, "Misc", 7, 156, 315, 28},
    {IDC_SAVE_LOG, "IDC_SAVE_LOG", Kind::kButton, "Save to File...", 142, 166,
     55, 14},
};

struct Tooltip {
  int id;
  const char* text;
};

constexpr Tooltip kTooltips[] = {
    {IDC_BUFFER_SIZE, "Define the size of each read/write."},
    {IDC_FILE_SIZE, "Define how much space to use on the disk."},
    {IDC_CANCEL_INIT, "Cancel initialization."},
    {IDC_CREATE, "Create file and initialize."},
    {IDC_CLEAR, "Clear the display."},
    {IDC_USE_EXISTING, "Use some existing file."},
    {IDC_READ, "Time read speed (small files get cached)."},
    {IDC_WRITE, "Time write speed (changes the file)."},
    {IDC_DELETE_FILE, "Delete the file."},
    {IDC_EXIT, "Exit this program."},
};

constexpr int kDialogWidth = 329;
constexpr int kDialogHeight = 193;

QString FromBytes(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString IdName(int id) {
  for (const ControlTemplate& control : kControls) {
    if (control.id == id) return QString::fromLatin1(control.name);
  }
  return QString();
}

}  // namespace

CBenchDlg::CBenchDlg(CModalHost* modal)
    : QDialog(nullptr, Qt::Dialog | Qt::CustomizeWindowHint |
                           Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowCloseButtonHint),
      m_pOwnModal(modal ? nullptr : std::make_unique<CQtModalHost>()),
      m_pModal(modal ? modal : m_pOwnModal.get()),
      m_logModel(m_log),
      m_state(*this, m_log) {
  setObjectName(QStringLiteral("IDD_BENCH_DIALOG"));
  setWindowTitle(QStringLiteral("Vexa - Ferrotick"));
  setWindowIcon(AppIcon());
  BuildControls();

  // The runs' events reach the window thread through its event queue.
  m_log.SetObserver(&m_logModel);
  m_handleTimer.setSingleShot(true);
  m_handleTimer.setInterval(1);
  connect(&m_handleTimer, &QTimer::timeout, this, &CBenchDlg::HandleEvents);
  m_state.SetWakeup([this] {
    QMetaObject::invokeMethod(this, &CBenchDlg::HandleEvents,
                              Qt::QueuedConnection);
  });

  m_state.m_nBufferKB = kDefaultBufferKB;
  m_state.m_nFileSizeMB = kDefaultFileSizeMB;
  ShowSettings();
  m_state.m_bWriting = false;
  EnableTests(false);

  for (const Tooltip& tip : kTooltips) {
    Control(tip.id)->setToolTip(QString::fromLatin1(tip.text));
  }
  Control(IDC_CLEAR)->setFocus();
}

CBenchDlg::~CBenchDlg() {
  // No run may report to the widgets and the log once they are gone.
  Shutdown();
  m_log.SetObserver(nullptr);
  m_pLog->setModel(nullptr);
}

void CBenchDlg::BuildControls() {
  const CDialogUnits units(font());
  setFixedSize(units.Size(kDialogWidth, kDialogHeight));

  QWidget* previous = nullptr;
  for (const ControlTemplate& control : kControls) {
    const QString caption = QString::fromLatin1(control.caption);
    QWidget* widget = nullptr;
    switch (control.kind) {
      case Kind::kButton: {
        auto* button = new QPushButton(caption, this);
        button->setAutoDefault(true);
        widget = button;
        break;
      }
      case Kind::kEdit:
        widget = new QLineEdit(this);
        break;
      case Kind::kList: {
        auto* list = new CLogView(this);
        list->setModel(&m_logModel);
        list->setEditTriggers(QAbstractItemView::NoEditTriggers);
        list->setSelectionMode(QAbstractItemView::ExtendedSelection);
        // Measuring every line for a horizontal bar would cost what the
        // view saves; long lines are elided in the middle instead, the
        // whole line in a tooltip.
        list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        widget = list;
        break;
      }
      case Kind::kLabel: {
        auto* label = new QLabel(caption, this);
        label->setTextFormat(Qt::PlainText);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        widget = label;
        break;
      }
      case Kind::kGroup: {
        auto* group = new CGroupBox(caption, this);
        group->setFocusPolicy(Qt::NoFocus);
        widget = group;
        break;
      }
    }
    widget->setObjectName(QString::fromLatin1(control.name));
    widget->setGeometry(
        units.Rect(control.x, control.y, control.width, control.height));
    if (control.kind == Kind::kGroup) {
      // A group box only frames its neighbours; it must not cover them
      // and swallow their clicks.
      widget->lower();
    } else if (control.kind != Kind::kLabel) {
      if (previous) QWidget::setTabOrder(previous, widget);
      previous = widget;
    }
  }

  m_pCancelInit = findChild<QPushButton*>(IdName(IDC_CANCEL_INIT));
  m_pRead = findChild<QPushButton*>(IdName(IDC_READ));
  m_pWrite = findChild<QPushButton*>(IdName(IDC_WRITE));
  m_pLog = findChild<CLogView*>(IdName(IDC_LOG));
  m_pFileSize = findChild<QLineEdit*>(IdName(IDC_FILE_SIZE));
  m_pBufferSize = findChild<QLineEdit*>(IdName(IDC_BUFFER_SIZE));
  static_cast<QPushButton*>(Control(IDC_CLEAR))->setDefault(true);

  auto route = [this](int id, auto handler) {
    connect(static_cast<QPushButton*>(Control(id)), &QPushButton::clicked, this,
            handler);
  };
  route(IDC_EXIT, [this] { reject(); });
  route(IDC_CLEAR, [this] { OnClear(m_state); });
  route(IDC_CREATE, [this] { OnCreate(m_state); });
  connect(m_pFileSize, &QLineEdit::textChanged, this,
          &CBenchDlg::OnSettingsChanged);
  route(IDC_WRITE, [this] { OnWrite(m_state); });
  route(IDC_READ, [this] { OnRead(m_state); });
  route(IDC_USE_EXISTING, [this] { OnUseExisting(m_state); });
  connect(m_pBufferSize, &QLineEdit::textChanged, this,
          &CBenchDlg::OnSettingsChanged);
  route(IDC_DELETE_FILE, [this] { OnDeleteFile(m_state); });
  route(IDC_CANCEL_INIT, [this] { OnCancelInit(m_state); });
  route(IDC_ABOUT, [this] { OnAbout(m_state); });
  route(IDC_SAVE_LOG, [this] { OnSaveLogClicked(); });
}

QWidget* CBenchDlg::Control(int id) const {
  const QString name = IdName(id);
  return name.isEmpty() ? nullptr : findChild<QWidget*>(name);
}

void CBenchDlg::done(int result) {
  // A chooser or message box of ours still open runs its own event loop
  // on top of ours: left open, it would keep the program going after the
  // dialog has ended. Innermost first, as their loops unwind.
  QList<QPointer<QDialog>> modals;
  for (QDialog* modal : findChildren<QDialog*>()) modals << modal;
  for (auto it = modals.rbegin(); it != modals.rend(); ++it) {
    if (*it && (*it)->isVisible()) (*it)->reject();
  }
  QDialog::done(result);
  // The window is gone already; the runs end silently within a transfer.
  Shutdown();
}

void CBenchDlg::Shutdown() {
  if (const std::size_t left = m_state.Shutdown()) {
    std::fprintf(stderr,
                 "ferrotick: %zu run%s still in a transfer after %d ms %s "
                 "left behind\n",
                 left, left == 1 ? "" : "s", BenchState::kEndWaitMs,
                 left == 1 ? "was" : "were");
  }
}

void CBenchDlg::SetTitle(const std::string& text) {
  // "[*]" is Qt's modified-marker placeholder; Qt shows "[*][*]" as a
  // literal "[*]", so a path holding one keeps it.
  QString title = FromBytes(text);
  title.replace(QStringLiteral("[*]"), QStringLiteral("[*][*]"));
  setWindowTitle(title);
}

void CBenchDlg::EnableTests(bool on) {
  m_pWrite->setEnabled(on);
  m_pRead->setEnabled(on);
}

void CBenchDlg::SetWriteCaption(const std::string& text) {
  m_pWrite->setText(FromBytes(text));
}

void CBenchDlg::SetReadCaption(const std::string& text) {
  m_pRead->setText(FromBytes(text));
}

void CBenchDlg::ShowSettings() {
  const QSignalBlocker blockFileSize(m_pFileSize);
  const QSignalBlocker blockBuffer(m_pBufferSize);
  m_pFileSize->setText(QString::number(m_state.m_nFileSizeMB.load()));
  m_pBufferSize->setText(QString::number(m_state.m_nBufferKB.load()));
}

std::optional<std::string> CBenchDlg::ChoosePath(
    const ChoosePathRequest& request) {
  return m_pModal->ChoosePath(this, request);
}

void CBenchDlg::OnSettingsChanged() {
  const QByteArray fileSize = m_pFileSize->text().toUtf8();
  const QByteArray buffer = m_pBufferSize->text().toUtf8();
  const SettingsReading reading =
      ReadSettings(std::string_view(fileSize.data(), fileSize.size()),
                   std::string_view(buffer.data(), buffer.size()));
  if (reading.failed == SettingField::kNone) {
    m_state.m_nFileSizeMB = reading.fileSizeMB;
    m_state.m_nBufferKB = reading.bufferKB;
    return;
  }
  // The runs keep the last good values.
  QLineEdit* field =
      reading.failed == SettingField::kFileSize ? m_pFileSize : m_pBufferSize;
  m_pModal->ShowMessage(this, FromBytes(reading.message));
  field->setFocus(Qt::OtherFocusReason);
}

void CBenchDlg::HandleEvents() {
  // A few milliseconds at a time: what is left waits for the timer, behind
  // input, painting and the other timers, so a flood never holds the
  // window. No wake-up comes for it meanwhile.
  constexpr auto kBudget = std::chrono::milliseconds(4);
  if (m_state.HandleEvents(kBudget) && !m_handleTimer.isActive()) {
    m_handleTimer.start();
  }
}

void CBenchDlg::OnSaveLogClicked() {
  if (const std::optional<std::string> error = OnSaveLog(m_state)) {
    m_pModal->ShowMessage(this, FromBytes(*error));
  }
}

}  // namespace ferrotick::ui
