// A seeded random walk over every control of the dialog, offscreen: buttons
// clicked in any order, settings typed key by key, the chooser answered
// with small files. Each press must log one whole command's lines, the
// captions must follow the state, and at the end nothing may be left
// running or open. The choices repeat for a seed; thread timing does not.
//
// FERROTICK_UI_STRESS_PRESSES sets the number of presses (default 300),
// FERROTICK_UI_STRESS_SEED replays a seed that a failure printed.
#include <QAbstractItemView>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "core/log_commands.h"
#include "tests/ui/process_probe.h"
#include "ui/bench_dialog.h"
#include "ui/modal_host.h"
#include "ui/resource.h"

namespace ferrotick::ui::test {
namespace {

constexpr int kDefaultPresses = 300;
constexpr int kTestFiles = 4;
const char* const kNotAnInteger = "Please enter an integer.";
const char* const kFileSizeRange =
    "Please enter an integer between 1 and 8192.";
const char* const kBufferRange = "Please enter an integer between 1 and 1024.";

std::string Bytes(const QString& text) { return text.toUtf8().toStdString(); }

QString Text(std::string_view bytes) {
  return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

// True when `line` is `format` with %d a number, %.3f a rate, %s one of
// `paths` and %r any text (a reason the system gives): a line cut short or
// run together with another fails.
bool Matches(std::string_view line, std::string_view format,
             const std::vector<std::string>& paths) {
  const auto digits = [](std::string_view text) {
    std::size_t n = 0;
    while (n < text.size() && std::isdigit(static_cast<unsigned char>(text[n])))
      ++n;
    return n;
  };
  if (format.empty()) return line.empty();
  if (format.starts_with("%d")) {
    const std::size_t sign = line.starts_with('-') ? 1 : 0;
    const std::size_t n = digits(line.substr(sign));
    return n > 0 && Matches(line.substr(sign + n), format.substr(2), paths);
  }
  if (format.starts_with("%.3f")) {
    const std::size_t whole = digits(line);
    if (whole == 0 || line.size() < whole + 4 || line[whole] != '.' ||
        digits(line.substr(whole + 1, 3)) != 3) {
      return false;
    }
    return Matches(line.substr(whole + 4), format.substr(4), paths);
  }
  if (format == "%r") return !line.empty();
  if (format.starts_with("%s")) {
    for (const std::string& path : paths) {
      if (line.starts_with(path) &&
          Matches(line.substr(path.size()), format.substr(2), paths)) {
        return true;
      }
    }
    return false;
  }
  return line.starts_with(format[0]) &&
         Matches(line.substr(1), format.substr(1), paths);
}

// Every line the program may log, window and worker lines alike.
std::vector<std::string> KnownFormats() {
  std::vector<std::string> formats = {
      "%s",  // Create's path line
      "Open Failed",
      "Initializing %dMB w/%dKB bufs",
      "InitThread did not start.",
      "  Init... %.3f MBs [%d/%d]",
      "Init Done: %.3fMBs",
      "%s Closed.",
      "InitThread Failed or was Canceled.",
      "Open Failed or Canceled",
      "Opened %s",
      "WriteThread did not start.",
      "WriteThread Started.",
      "Stopping WriteThread.",
      "  Write... %.3f MBs [%d/%d]",
      "Wrote %dMB: %.3fMBs",
      "WriteThread Done.",
      "WriteThread Failed.",
      "Reader Creation failed",
      "Starting Reader",
      "Reader Open Failed",
      "Reader Opened File",
      "Reader Thread Failed",
      "Reader Thread Started",
      "  Reading: %.3f MBs",
      "Read %dMB: %.3f MBs",
      "ReadThread Stopping",
      "Couldn't open %s",
      "Using %s",
      "WARNING: Write will destroy this file!",
      "Couldn't delete %s",
      "Make sure nothing is using it.",
      "%s deleted.",
      "%s written.",
      "  %r",  // why the line before failed
      "WARNING: this file is on %r",
  };
  for (const std::string& line : AboutLines()) formats.push_back(line);
  return formats;
}

using Block = std::vector<std::string>;

// What one press of a button may append, as formats, while the window
// thread runs its command: no worker line can come between.
std::vector<Block> BlocksOf(int id) {
  switch (id) {
    case IDC_CREATE:
      return {{},
              {"Open Failed", "  %r"},
              {"%s", "Initializing %dMB w/%dKB bufs"},
              {"%s", "Initializing %dMB w/%dKB bufs",
               "WARNING: this file is on %r"},
              {"%s", "InitThread did not start."}};
    case IDC_WRITE:  // nothing while the button is still disabled
      return {{},
              {"Stopping WriteThread."},
              {"Open Failed or Canceled", "  %r"},
              {"Opened %s", "", "WriteThread Started."},
              {"Opened %s", "", "WriteThread did not start."}};
    case IDC_READ:
      return {
          {},
          {"ReadThread Stopping"},
          {"Reader Creation failed"},
          {"Reader Open Failed", "  %r", "Starting Reader"},
          {"Reader Opened File", "Reader Thread Started", "Starting Reader"},
          {"Reader Opened File", "Reader Thread Failed", "Starting Reader"}};
    case IDC_USE_EXISTING:
      return {{},
              {"Couldn't open %s", "  %r"},
              {"Using %s", "WARNING: Write will destroy this file!"},
              {"Using %s", "WARNING: Write will destroy this file!",
               "WARNING: this file is on %r"}};
    case IDC_DELETE_FILE:
      return {{"Couldn't delete %s", "Make sure nothing is using it.", "  %r"},
              {"%s deleted."}};
    case IDC_SAVE_LOG:
      return {{}, {"Open Failed", "  %r"}, {"%s written."}};
    case IDC_ABOUT:
      return {AboutLines()};
    default:  // the cancel control and Clear append nothing
      return {{}};
  }
}

// The chooser answered at random from a few small files, some missing.
class CStressModal : public CModalHost {
 public:
  CStressModal(std::mt19937_64& rng, const QTemporaryDir& dir) : m_rng(rng) {
    for (int i = 0; i < kTestFiles; ++i) {
      testFiles.push_back(
          Bytes(dir.filePath(QStringLiteral("f%1.tmp").arg(i))));
    }
    logFiles = {Bytes(dir.filePath(QStringLiteral("log0.txt"))),
                Bytes(dir.filePath(QStringLiteral("log1.txt")))};
    missing = Bytes(dir.filePath(QStringLiteral("no/such/folder.txt")));
  }

  std::optional<std::string> ChoosePath(
      QWidget* /*parent*/, const ChoosePathRequest& request) override {
    lastAnswer.reset();
    if (Pick(8) == 0) return std::nullopt;  // the user cancels
    if (request.defaultExtension == "txt") {
      lastAnswer = Pick(8) == 0 ? missing : logFiles[Pick(logFiles.size())];
    } else {
      lastAnswer = testFiles[Pick(testFiles.size())];
    }
    return lastAnswer;
  }
  void ShowMessage(QWidget* /*parent*/, const QString& text) override {
    messages << text;
  }

  // Every path a %s of a log line may hold; the empty one after a delete.
  std::vector<std::string> Paths() const {
    std::vector<std::string> paths = testFiles;
    paths.insert(paths.end(), logFiles.begin(), logFiles.end());
    paths.push_back(missing);
    paths.push_back("");
    return paths;
  }

  std::vector<std::string> testFiles;
  std::vector<std::string> logFiles;
  std::string missing;
  std::optional<std::string> lastAnswer;
  QStringList messages;

 private:
  std::size_t Pick(std::size_t n) {
    return std::uniform_int_distribution<std::size_t>(0, n - 1)(m_rng);
  }
  std::mt19937_64& m_rng;
};

// The message one reading of the two fields shows, or none.
std::optional<QString> ReadingMessage(const QString& fileSize,
                                      const QString& buffer) {
  bool ok = false;
  const int mb = fileSize.toInt(&ok);
  if (!ok) return QString::fromLatin1(kNotAnInteger);
  if (mb < 1 || mb > 8192) return QString::fromLatin1(kFileSizeRange);
  const int kb = buffer.toInt(&ok);
  if (!ok) return QString::fromLatin1(kNotAnInteger);
  if (kb < 1 || kb > 1024) return QString::fromLatin1(kBufferRange);
  return std::nullopt;
}

struct Button {
  int id;
  const char* name;
};

constexpr Button kButtons[] = {
    {IDC_CREATE, "Create"},
    {IDC_CANCEL_INIT, "X"},
    {IDC_WRITE, "Write"},
    {IDC_READ, "Read"},
    {IDC_USE_EXISTING, "Use Existing"},
    {IDC_DELETE_FILE, "Delete File"},
    {IDC_CLEAR, "Clear"},
    {IDC_SAVE_LOG, "Save to File..."},
    {IDC_ABOUT, "About..."},
};

}  // namespace

class DialogStressTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    KeepQtPoolThreads();
    StartQtPaintThreads();
  }
  void cleanup();
  void randomPressesLeaveNothingBehind();

 private:
  // Each returns a description of the first fault, or an empty string.
  QString Press(const Button& button);
  QString TypeInto(int id, const QString& text);
  QString CheckCaptions();
  // One life of the dialog: `presses` random presses, then its end.
  void RunSession(int presses);
  int Pick(int low, int high);

  QLineEdit* Edit(int id) {
    return qobject_cast<QLineEdit*>(m_dlg->Control(id));
  }
  QPushButton* ButtonOf(int id) {
    return qobject_cast<QPushButton*>(m_dlg->Control(id));
  }
  std::vector<std::string> LogLines() const {
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < m_dlg->Log().Count(); ++i) {
      lines.emplace_back(m_dlg->Log().Line(i));
    }
    return lines;
  }

  std::uint64_t m_seed = 0;
  std::mt19937_64 m_rng;
  std::unique_ptr<QTemporaryDir> m_dir;
  std::unique_ptr<CStressModal> m_modal;
  std::unique_ptr<CBenchDlg> m_dlg;
  // Every line stored in the log, also those a Clear removed later.
  std::vector<std::string> m_stored;
  bool m_everEnabled = false;
  int m_endedBusy = 0;
};

void DialogStressTest::cleanup() {
  if (QTest::currentTestFailed()) {
    qWarning("replay with FERROTICK_UI_STRESS_SEED=%llu",
             static_cast<unsigned long long>(m_seed));
  }
  m_dlg.reset();
  m_modal.reset();
  m_dir.reset();
}

QString DialogStressTest::CheckCaptions() {
  const QString write = ButtonOf(IDC_WRITE)->text();
  const QString read = ButtonOf(IDC_READ)->text();
  if (write != (m_dlg->State().m_bWriting.load() ? "StopWrite" : "Write")) {
    return "Write caption " + write + " against the writing flag";
  }
  if (read != (m_dlg->State().m_pReader ? "StopRead" : "Read")) {
    return "Read caption " + read + " against the reader";
  }
  const bool enabled = ButtonOf(IDC_WRITE)->isEnabled();
  if (ButtonOf(IDC_READ)->isEnabled() != enabled) {
    return QStringLiteral("Write and Read enabled apart");
  }
  if (m_everEnabled && !enabled) return QStringLiteral("tests disabled again");
  if (enabled && !m_everEnabled) {
    // Only a fill that succeeded or Use Existing enables the tests.
    bool earned = false;
    for (const std::string& line : m_stored) {
      earned = earned || line.starts_with("Init Done: ") ||
               line.starts_with("Using ");
    }
    if (!earned) return QStringLiteral("tests enabled without a file");
  }
  m_everEnabled = enabled;
  return QString();
}

QString DialogStressTest::Press(const Button& button) {
  QCoreApplication::processEvents();
  const std::size_t before = m_stored.size();
  QTest::mouseClick(ButtonOf(button.id), Qt::LeftButton);
  const Block block(m_stored.begin() + static_cast<std::ptrdiff_t>(before),
                    m_stored.end());

  bool known = false;
  const std::vector<std::string> paths = m_modal->Paths();
  for (const Block& allowed : BlocksOf(button.id)) {
    if (allowed.size() != block.size()) continue;
    bool all = true;
    for (std::size_t i = 0; all && i < block.size(); ++i) {
      all = Matches(block[i], allowed[i], paths);
    }
    known = known || all;
  }
  if (!known) {
    QString lines;
    for (const std::string& line : block) lines += " [" + Text(line) + "]";
    return QStringLiteral("unexpected lines:") + lines;
  }

  const std::vector<std::string> log = LogLines();
  switch (button.id) {
    case IDC_CLEAR:
      if (!log.empty()) return QStringLiteral("log not empty after Clear");
      break;
    case IDC_CREATE:
      if (block.size() >= 2 && block[0] != "Open Failed" &&
          m_dlg->windowTitle() != "Ferrotick: " + Text(block[0])) {
        return "title " + m_dlg->windowTitle();
      }
      break;
    case IDC_USE_EXISTING:
      if (block.size() >= 2 && block[0].starts_with("Using ")) {
        // A writer on that file may have grown it since; it never shrinks.
        const QString shown = Edit(IDC_FILE_SIZE)->text();
        const qint64 mb = QFileInfo(Text(*m_modal->lastAnswer)).size() >> 20;
        if (shown != QString::number(m_dlg->State().m_nFileSizeMB.load()) ||
            shown.toLongLong() > mb) {
          return "File Size shows " + shown;
        }
      }
      break;
    case IDC_DELETE_FILE:
      if (block.size() == 1 &&
          QFileInfo::exists(Text(std::string_view(block[0]).substr(
              0, block[0].size() - std::string_view(" deleted.").size())))) {
        return "still there: " + Text(block[0]);
      }
      break;
    case IDC_SAVE_LOG:
      if (block.size() == 1) {
        // From the second line to the one before "... written.", CR LF.
        QByteArray expected;
        for (std::size_t i = 1; i + 1 < log.size(); ++i) {
          expected += QByteArray::fromStdString(log[i]) + "\r\n";
        }
        QFile saved(Text(*m_modal->lastAnswer));
        if (!saved.open(QIODevice::ReadOnly) || saved.readAll() != expected) {
          return QStringLiteral("export differs from the log");
        }
      }
      break;
    default:
      break;
  }
  return CheckCaptions();
}

QString DialogStressTest::TypeInto(int id, const QString& text) {
  QLineEdit* edit = Edit(id);
  QLineEdit* other =
      Edit(id == IDC_FILE_SIZE ? IDC_BUFFER_SIZE : IDC_FILE_SIZE);
  const int messagesBefore = static_cast<int>(m_modal->messages.size());
  // Every keystroke is a reading of both fields, File Size first.
  QStringList expected;
  const auto reading = [&](const QString& typed) {
    const QString fileSize = id == IDC_FILE_SIZE ? typed : other->text();
    const QString buffer = id == IDC_FILE_SIZE ? other->text() : typed;
    if (const std::optional<QString> message =
            ReadingMessage(fileSize, buffer)) {
      expected << *message;
    }
  };
  edit->setFocus();
  edit->selectAll();
  if (text.isEmpty()) {
    // Emptying an empty field changes nothing, so nothing is read.
    if (!edit->text().isEmpty()) reading(QString());
    QTest::keyClick(edit, Qt::Key_Backspace);
  } else {
    QTest::keyClicks(edit, text);
    for (qsizetype n = 1; n <= text.size(); ++n) reading(text.left(n));
  }
  if (edit->text() != text) return "field holds " + edit->text();
  const QStringList shown = m_modal->messages.mid(messagesBefore);
  if (shown != expected) {
    return "messages [" + shown.join('|') + "] for [" + expected.join('|') +
           "]";
  }
  const int kb = m_dlg->State().m_nBufferKB.load();
  if (kb < 1 || kb > 1024) return QStringLiteral("Buffer Size %1").arg(kb);
  if (!ReadingMessage(Edit(IDC_FILE_SIZE)->text(),
                      Edit(IDC_BUFFER_SIZE)->text())) {
    // A good reading is what the commands use.
    if (m_dlg->State().m_nFileSizeMB.load() !=
            Edit(IDC_FILE_SIZE)->text().toInt() ||
        kb != Edit(IDC_BUFFER_SIZE)->text().toInt()) {
      return QStringLiteral("settings not stored");
    }
  }
  return CheckCaptions();
}

int DialogStressTest::Pick(int low, int high) {
  return std::uniform_int_distribution<int>(low, high)(m_rng);
}

void DialogStressTest::RunSession(int presses) {
  m_stored.clear();
  m_everEnabled = false;
  m_dlg = std::make_unique<CBenchDlg>(m_modal.get());
  auto* view = qobject_cast<QAbstractItemView*>(m_dlg->Control(IDC_LOG));
  QVERIFY(view);
  connect(view->model(), &QAbstractItemModel::rowsInserted, this,
          [this](const QModelIndex&, int first, int last) {
            for (int row = first; row <= last; ++row) {
              m_stored.emplace_back(
                  m_dlg->Log().Line(static_cast<std::size_t>(row)));
            }
          });
  m_dlg->show();
  QVERIFY(QTest::qWaitForWindowActive(m_dlg.get()));
  const int threads = ThreadCount();
  const std::vector<std::string> fds = OpenDescriptors();

  for (int press = 0; press < presses; ++press) {
    QString what, fault;
    const int choice = Pick(0, 13);
    if (choice < 9) {
      what = QString::fromLatin1(kButtons[choice].name);
      fault = Press(kButtons[choice]);
    } else if (choice < 11) {
      const int id = choice == 9 ? IDC_FILE_SIZE : IDC_BUFFER_SIZE;
      // Now and then an empty field; File Size 0 is out of range.
      const QString text =
          Pick(0, 9) == 0
              ? QString()
              : QString::number(id == IDC_FILE_SIZE ? Pick(0, 8)
                                                    : Pick(1, 1024));
      what = (id == IDC_FILE_SIZE ? "File Size " : "Buffer Size ") +
             QStringLiteral("\"%1\"").arg(text);
      fault = TypeInto(id, text);
    } else {
      const int ms = Pick(1, 20);
      what = QStringLiteral("wait %1 ms").arg(ms);
      QTest::qWait(ms);
      fault = CheckCaptions();
    }
    QVERIFY2(
        fault.isEmpty(),
        qPrintable(
            QStringLiteral("press %1 (%2): %3").arg(press).arg(what, fault)));
  }

  // End it in whatever state the walk left, each way a user can.
  if (ThreadCount() > threads) ++m_endedBusy;
  switch (Pick(0, 2)) {
    case 0:
      QTest::keyClick(m_dlg.get(), Qt::Key_Escape);
      break;
    case 1:
      QTest::mouseClick(ButtonOf(IDC_EXIT), Qt::LeftButton);
      break;
    default:
      QVERIFY(m_dlg->close());
      break;
  }
  QVERIFY(!m_dlg->isVisible());
  QCOMPARE(ThreadCountSettledTo(threads), threads);
  std::vector<std::string> left = OpenDescriptors();
  QVERIFY2(left == fds, ("left open: " + NewDescriptors(fds, left)).c_str());

  // Lines queued before the end may still drain; then every stored line
  // is one line of a known kind.
  QTRY_VERIFY_WITH_TIMEOUT(!m_dlg->State().EventsWaiting(), 20000);
  const std::vector<std::string> formats = KnownFormats();
  const std::vector<std::string> paths = m_modal->Paths();
  for (const std::string& line : m_stored) {
    QVERIFY2(line.find_first_of("\r\n") == std::string::npos, line.c_str());
    bool known = false;
    for (const std::string& format : formats) {
      if (Matches(line, format, paths)) {
        known = true;
        break;
      }
    }
    QVERIFY2(known, ("unknown line: " + line).c_str());
    // The runs never see a Buffer Size out of its range.
    int mb = 0, kb = 0;
    if (std::sscanf(line.c_str(), "Initializing %dMB w/%dKB bufs", &mb, &kb) ==
        2) {
      QVERIFY2(kb >= 1 && kb <= 1024, line.c_str());
    }
  }

  m_dlg.reset();
  QCOMPARE(ThreadCountSettledTo(threads), threads);
  left = OpenDescriptors();
  QVERIFY2(left == fds, ("left open: " + NewDescriptors(fds, left)).c_str());
}

void DialogStressTest::randomPressesLeaveNothingBehind() {
  bool ok = false;
  m_seed = qgetenv("FERROTICK_UI_STRESS_SEED").toULongLong(&ok);
  if (!ok) {
    std::random_device device;
    m_seed = (std::uint64_t{device()} << 32) ^ device();
  }
  int presses =
      qEnvironmentVariableIntValue("FERROTICK_UI_STRESS_PRESSES", &ok);
  if (!ok || presses < 1) presses = kDefaultPresses;
  qInfo("seed %llu, %d presses", static_cast<unsigned long long>(m_seed),
        presses);
  m_rng.seed(m_seed);
  m_dir = std::make_unique<QTemporaryDir>();
  QVERIFY(m_dir->isValid());
  m_modal = std::make_unique<CStressModal>(m_rng, *m_dir);

  // Several lives of the dialog on the same files, so that it is ended in
  // several states, most of them with runs going.
  int sessions = 0;
  for (int left = presses; left > 0; ++sessions) {
    const int count = std::min(left, Pick(20, 80));
    left -= count;
    RunSession(count);
    if (QTest::currentTestFailed()) {
      qWarning("in dialog %d", sessions + 1);
      return;
    }
  }
  qInfo("%d dialogs, %d ended with runs going", sessions, m_endedBusy);
}

}  // namespace ferrotick::ui::test

QTEST_MAIN(ferrotick::ui::test::DialogStressTest)
#include "dialog_stress_test.moc"
