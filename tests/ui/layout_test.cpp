// Layout, start-up state and identity of the dialog and the application.
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QWindow>
#include <QtTest>

#include "tests/ui/fake_modal.h"
#include "ui/bench_app.h"
#include "ui/bench_dialog.h"
#include "ui/dialog_units.h"
#include "ui/group_box.h"
#include "ui/log_view.h"
#include "ui/modal_host.h"
#include "ui/resource.h"

namespace ferrotick::ui::test {
namespace {

struct Expected {
  const char* name;
  const char* caption;  // nullptr: not a captioned control
  int x, y, width, height;
};

// The template, transcribed independently of the dialog's own table.
const Expected kTemplate[] = {
    {"IDC_CLEAR", "Clear", 206, 166, 50, 14},
    {"IDC_EXIT", "Exit", 265, 166, 50, 14},
    {"IDC_LOG", nullptr, 79, 7, 243, 156},
    {"IDC_CREATE", "Create", 14, 66, 40, 13},
    {"IDC_FILE_SIZE", nullptr, 14, 50, 55, 12},
    {"IDC_WRITE", "Write", 14, 116, 55, 14},
    {"IDC_READ", "Read", 14, 134, 55, 14},
    {"IDC_USE_EXISTING", "Use Existing", 14, 83, 55, 14},
    {"labelFileSize", "File Size (MB)", 14, 40, 55, 10},
    {"IDC_BUFFER_SIZE", nullptr, 14, 23, 55, 12},
    {"labelBufferSize", "Buffer Size (KB)", 14, 13, 55, 10},
    {"IDC_DELETE_FILE", "Delete File", 78, 166, 55, 14},
    {"IDC_CANCEL_INIT", "X", 54, 66, 15, 13},
    {"IDC_ABOUT", "About...", 14, 166, 55, 14},
    {"groupSetup", "Setup", 7, 3, 68, 99},
    {"groupTests", "Tests", 7, 105, 68, 48},
    {"groupMisc", "Misc", 7, 156, 315, 28},
    {"IDC_SAVE_LOG", "Save to File...", 142, 166, 55, 14},
};

QString CaptionOf(QWidget* widget) {
  if (auto* button = qobject_cast<QPushButton*>(widget)) return button->text();
  if (auto* label = qobject_cast<QLabel*>(widget)) return label->text();
  if (auto* group = qobject_cast<QGroupBox*>(widget)) return group->title();
  return QString();
}

}  // namespace

class LayoutTest : public QObject {
  Q_OBJECT

 private slots:
  void dialogUnitsMapping();
  void baseUnitsFollowTheFont();
  void controlsSitAtTheirTemplatePositions();
  void everyControlIsReachableByTheMouse();
  void groupBoxTitlesSitOnTheirFrames();
  void startUpState();
  void tooltipsExactlyOnTheTenControls();
  void tabOrderAndFocus();
  void titlesKeepTheirText();
  void nameFiltersFromTheChooserFilter();
  void applicationIdentity();
};

void LayoutTest::dialogUnitsMapping() {
  // The classic 8-point system font: base units 6 x 13.
  const CDialogUnits units(6, 13);
  QCOMPARE(units.Size(329, 193), QSize(494, 314));  // 493.5 and 313.6 round up
  QCOMPARE(units.X(4), 6);
  QCOMPARE(units.Y(8), 13);
  QCOMPARE(units.X(1), 2);  // 1.5 rounds away from zero
  QCOMPARE(units.Y(1), 2);  // 1.625
  // Neighbours that touch in units touch in pixels: Create and its "X".
  const QRect create = units.Rect(14, 66, 40, 13);
  const QRect cancel = units.Rect(54, 66, 15, 13);
  QCOMPARE(create.right() + 1, cancel.left());
  QCOMPARE(create.top(), cancel.top());
  QCOMPARE(create.height(), cancel.height());
}

void LayoutTest::baseUnitsFollowTheFont() {
  QFont small(QApplication::font());
  small.setPixelSize(12);
  QFont large(small);
  large.setPixelSize(24);
  const CDialogUnits a(small);
  const CDialogUnits b(large);

  // Base width is the mean letter width, rounded; summed letter by letter
  // here, so kerning may move it by one.
  const QFontMetrics metrics(small);
  int letters = 0;
  for (char c = 'A'; c <= 'Z'; ++c) letters += metrics.horizontalAdvance(c);
  for (char c = 'a'; c <= 'z'; ++c) letters += metrics.horizontalAdvance(c);
  QVERIFY(qAbs(a.BaseWidth() - letters / 52.0) <= 1.0);
  // Not the average character width, which is narrower.
  QVERIFY(a.BaseWidth() > metrics.averageCharWidth());
  QCOMPARE(a.BaseHeight(), metrics.height());

  // Twice the font, twice the units (within a rounding step of each).
  QVERIFY(qAbs(b.BaseWidth() - 2 * a.BaseWidth()) <= 1);
  QVERIFY(qAbs(b.BaseHeight() - 2 * a.BaseHeight()) <= 1);
  QVERIFY(b.X(329) > a.X(329) * 3 / 2);
}

void LayoutTest::controlsSitAtTheirTemplatePositions() {
  CFakeModal modal;
  CBenchDlg dlg(&modal);
  const CDialogUnits units(dlg.font());

  QCOMPARE(dlg.size(), units.Size(329, 193));
  QCOMPARE(dlg.minimumSize(), dlg.maximumSize());  // fixed size
  const double ratio = double(dlg.width()) / dlg.height();
  const double expected =
      (329.0 * units.BaseWidth() / 4.0) / (193.0 * units.BaseHeight() / 8.0);
  QVERIFY2(
      qAbs(ratio - expected) < 0.02,
      qPrintable(
          QStringLiteral("ratio %1, expected %2").arg(ratio).arg(expected)));

  for (const Expected& control : kTemplate) {
    QWidget* widget = dlg.findChild<QWidget*>(QLatin1String(control.name));
    QVERIFY2(widget, control.name);
    QCOMPARE(widget->parentWidget(), &dlg);
    QCOMPARE(widget->geometry(),
             units.Rect(control.x, control.y, control.width, control.height));
    QVERIFY(dlg.rect().contains(widget->geometry()));
    if (control.caption) {
      QCOMPARE(CaptionOf(widget), QLatin1String(control.caption));
    }
  }
  // Every control of the dialog is one of the template's.
  int direct = 0;
  for (QObject* child : dlg.children()) {
    if (child->isWidgetType()) ++direct;
  }
  QCOMPARE(direct, int(std::size(kTemplate)));
}

void LayoutTest::everyControlIsReachableByTheMouse() {
  // A group box drawn over its neighbours would swallow their clicks.
  CFakeModal modal;
  CBenchDlg dlg(&modal);
  for (const Expected& control : kTemplate) {
    QWidget* widget = dlg.findChild<QWidget*>(QLatin1String(control.name));
    if (qobject_cast<QGroupBox*>(widget) || qobject_cast<QLabel*>(widget)) {
      continue;
    }
    QWidget* hit = dlg.childAt(widget->geometry().center());
    QVERIFY2(hit == widget || widget->isAncestorOf(hit), control.name);
  }
}

void LayoutTest::groupBoxTitlesSitOnTheirFrames() {
  CFakeModal modal;
  CBenchDlg dlg(&modal);
  const QList<CGroupBox*> groups = dlg.findChildren<CGroupBox*>();
  QCOMPARE(groups.size(), 3);
  for (CGroupBox* group : groups) {
    const QByteArray name = group->objectName().toLatin1();
    const QRect title = group->TitleRect();
    // Inside the box, inset at the left, its middle on the top line.
    QVERIFY2(group->rect().contains(title), name);
    QVERIFY2(title.left() > 0, name);
    QVERIFY2(qAbs(title.center().y() - group->FrameTop()) <= 1, name);
    // Nothing in the box touches the title or the top line.
    const QRect box = group->geometry();
    for (QWidget* control :
         dlg.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
      if (control != group && box.contains(control->geometry())) {
        QVERIFY2(control->y() > box.y() + title.bottom() + 1,
                 qPrintable(control->objectName()));
      }
    }
    // Drawn: the line runs right of the title and is broken behind it.
    const QImage image = group->grab().toImage();
    const QRgb line = group->palette().color(QPalette::Dark).rgb();
    const int y = group->FrameTop();
    for (int x = title.right() + 2; x < group->width() - 2; ++x) {
      QVERIFY2(image.pixel(x, y) == line, name);
    }
    QVERIFY2(image.pixel(1, y) == line, name);
    QVERIFY2(image.pixel(title.left(), y) != line, name);
  }
}

void LayoutTest::startUpState() {
  CFakeModal modal;
  CBenchDlg dlg(&modal);
  QCOMPARE(dlg.windowTitle(), QStringLiteral("Vexa - Ferrotick"));
  auto* fileSize = qobject_cast<QLineEdit*>(dlg.Control(IDC_FILE_SIZE));
  auto* buffer = qobject_cast<QLineEdit*>(dlg.Control(IDC_BUFFER_SIZE));
  QVERIFY(fileSize && buffer);
  QCOMPARE(fileSize->text(), QStringLiteral("32"));
  QCOMPARE(buffer->text(), QStringLiteral("128"));
  QCOMPARE(dlg.State().m_nFileSizeMB.load(), 32);
  QCOMPARE(dlg.State().m_nBufferKB.load(), 128);
  QVERIFY(!dlg.Control(IDC_WRITE)->isEnabled());
  QVERIFY(!dlg.Control(IDC_READ)->isEnabled());
  for (int id : {IDC_CLEAR, IDC_EXIT, IDC_CREATE, IDC_USE_EXISTING,
                 IDC_DELETE_FILE, IDC_CANCEL_INIT, IDC_ABOUT, IDC_SAVE_LOG}) {
    QVERIFY(dlg.Control(id)->isEnabled());
  }
  QVERIFY(!dlg.State().m_bWriting);
  QVERIFY(!dlg.State().m_pReader);
  QCOMPARE(dlg.Log().Count(), std::size_t{0});
  QVERIFY(modal.messages.isEmpty());  // showing the defaults validates nothing

  // Captions stand as given; none carries a keyboard accelerator.
  for (QWidget* widget : dlg.findChildren<QWidget*>()) {
    QVERIFY(!CaptionOf(widget).contains(u'&'));
  }
  QVERIFY(qobject_cast<QPushButton*>(dlg.Control(IDC_CLEAR))->isDefault());

  const Qt::WindowFlags flags = dlg.windowFlags();
  QVERIFY(!(flags & Qt::WindowMinimizeButtonHint));
  QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
  QVERIFY(flags & Qt::WindowCloseButtonHint);
  QVERIFY(flags & Qt::WindowTitleHint);

  const QList<QSize> sizes = dlg.windowIcon().availableSizes();
  QVERIFY(sizes.contains(QSize(16, 16)));
  QVERIFY(sizes.contains(QSize(32, 32)));

  auto* list = qobject_cast<CLogView*>(dlg.Control(IDC_LOG));
  QVERIFY(list);
  QCOMPARE(list->selectionMode(), QAbstractItemView::ExtendedSelection);
  QCOMPARE(list->editTriggers(), QAbstractItemView::NoEditTriggers);
}

void LayoutTest::tooltipsExactlyOnTheTenControls() {
  CFakeModal modal;
  CBenchDlg dlg(&modal);
  const QMap<QString, QString> expected{
      {"IDC_BUFFER_SIZE", "Define the size of each read/write."},
      {"IDC_FILE_SIZE", "Define how much space to use on the disk."},
      {"IDC_CANCEL_INIT", "Cancel initialization."},
      {"IDC_CREATE", "Create file and initialize."},
      {"IDC_CLEAR", "Clear the display."},
      {"IDC_USE_EXISTING", "Use some existing file."},
      {"IDC_READ", "Time read speed (small files get cached)."},
      {"IDC_WRITE", "Time write speed (changes the file)."},
      {"IDC_DELETE_FILE", "Delete the file."},
      {"IDC_EXIT", "Exit this program."},
  };
  QMap<QString, QString> actual;
  QVERIFY(dlg.toolTip().isEmpty());
  for (QWidget* widget : dlg.findChildren<QWidget*>()) {
    if (!widget->toolTip().isEmpty()) {
      actual.insert(widget->objectName(), widget->toolTip());
    }
  }
  QCOMPARE(actual, expected);
}

void LayoutTest::tabOrderAndFocus() {
  CFakeModal modal;
  CBenchDlg dlg(&modal);
  dlg.EnableTests(true);  // disabled controls drop out of the tab chain
  dlg.show();
  QVERIFY(QTest::qWaitForWindowActive(&dlg));
  QCOMPARE(QApplication::focusWidget(), dlg.Control(IDC_CLEAR));

  const QStringList expected{
      "IDC_CLEAR",       "IDC_EXIT",         "IDC_LOG",
      "IDC_CREATE",      "IDC_FILE_SIZE",    "IDC_WRITE",
      "IDC_READ",        "IDC_USE_EXISTING", "IDC_BUFFER_SIZE",
      "IDC_DELETE_FILE", "IDC_CANCEL_INIT",  "IDC_ABOUT",
      "IDC_SAVE_LOG",    "IDC_CLEAR"};
  QStringList visited{QApplication::focusWidget()->objectName()};
  for (int i = 1; i < expected.size(); ++i) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    visited << QApplication::focusWidget()->objectName();
  }
  QCOMPARE(visited, expected);

  for (QWidget* widget : dlg.findChildren<QWidget*>()) {
    if (qobject_cast<QLabel*>(widget) || qobject_cast<QGroupBox*>(widget)) {
      QCOMPARE(widget->focusPolicy(), Qt::NoFocus);
    }
  }
}

void LayoutTest::titlesKeepTheirText() {
  CFakeModal modal;
  CBenchDlg dlg(&modal);
  dlg.show();
  QVERIFY(QTest::qWaitForWindowExposed(&dlg));
  // File names are UTF-8 bytes; "[*]" must not become Qt's modified marker.
  dlg.SetTitle("Ferrotick: /tmp/caf\xc3\xa9 [*] [*][*]x.tmp");
  QCOMPARE(dlg.windowHandle()->title(),
           QStringLiteral("Ferrotick: /tmp/caf\u00e9 [*] [*][*]x.tmp"));
  dlg.SetTitle("Vexa - Ferrotick");
  QCOMPARE(dlg.windowHandle()->title(), QStringLiteral("Vexa - Ferrotick"));
}

void LayoutTest::nameFiltersFromTheChooserFilter() {
  QCOMPARE(NameFiltersFrom("tmp files (*.tmp)|*.tmp|All Files (*.*)|*.*||"),
           QStringList({"tmp files (*.tmp)", "All Files (*)"}));
  QCOMPARE(NameFiltersFrom("txt files (*.txt)|*.txt|All Files (*.*)|*.*||"),
           QStringList({"txt files (*.txt)", "All Files (*)"}));
  // Several patterns, a description without its own copy of them, and a
  // filter without the closing bars.
  QCOMPARE(NameFiltersFrom("Logs|*.log;*.txt"),
           QStringList({"Logs (*.log *.txt)"}));
  QCOMPARE(NameFiltersFrom(""), QStringList());
  QCOMPARE(NameFiltersFrom("||"), QStringList());
  QCOMPARE(NameFiltersFrom("dangling description|"),
           QStringList({"dangling description (*)"}));
}

void LayoutTest::applicationIdentity() {
  QCOMPARE(QCoreApplication::applicationName(), QStringLiteral("Ferrotick"));
  QCOMPARE(QCoreApplication::applicationVersion(), QStringLiteral("1.0.0.1"));
  QVERIFY(QCoreApplication::organizationName().isEmpty());
  QVERIFY(QApplication::windowIcon().availableSizes().contains(QSize(32, 32)));
}

}  // namespace ferrotick::ui::test

// Under the program's own application object, so its identity is checked.
int main(int argc, char** argv) {
  ferrotick::ui::CBenchApp app(argc, argv);
  ferrotick::ui::test::LayoutTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "layout_test.moc"
