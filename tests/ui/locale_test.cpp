// The window under a German locale, which the toolkit takes from the
// environment at its start: the log and the exported file keep the dot in
// every rate, as scripts that parse them expect.
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "tests/support/german_locale.h"
#include "tests/ui/fake_modal.h"
#include "ui/bench_dialog.h"
#include "ui/resource.h"

namespace ferrotick::ui::test {

class LocaleTest : public QObject {
  Q_OBJECT

 public:
  explicit LocaleTest(std::string why) : m_why(std::move(why)) {}

 private slots:
  void ratesKeepTheirDotInTheLogAndTheExport();

 private:
  std::string m_why;  // why there is no German locale, if there is none
};

void LocaleTest::ratesKeepTheirDotInTheLogAndTheExport() {
  if (!m_why.empty()) QSKIP(m_why.c_str());
  char host[16];
  std::snprintf(host, sizeof host, "%.3f", 1.5);
  QCOMPARE(QByteArray(host), QByteArray("1,500"));  // the toolkit took it

  QTemporaryDir dir;
  QVERIFY(dir.isValid());
  const QString path = dir.filePath(QStringLiteral("testdata.tmp"));
  const QString saved = dir.filePath(QStringLiteral("Ferrotick.txt"));
  CFakeModal modal;
  CBenchDlg dlg(&modal);
  dlg.show();
  QVERIFY(QTest::qWaitForWindowActive(&dlg));
  auto* fileSize = qobject_cast<QLineEdit*>(dlg.Control(IDC_FILE_SIZE));
  fileSize->setFocus();
  fileSize->selectAll();
  QTest::keyClicks(fileSize, QStringLiteral("1"));
  modal.answers.push_back(path.toStdString());
  QTest::mouseClick(qobject_cast<QPushButton*>(dlg.Control(IDC_CREATE)),
                    Qt::LeftButton);
  QTRY_COMPARE_WITH_TIMEOUT(dlg.Log().Count(), std::size_t{4}, 20000);
  const std::string done(dlg.Log().Line(2));
  const QRegularExpression rate(QStringLiteral("Init Done: \\d+\\.\\d{3}MBs"));
  QVERIFY2(rate.match(QString::fromStdString(done)).hasMatch(), done.c_str());

  // Save to File writes from the second line on.
  modal.answers.push_back(saved.toStdString());
  QTest::mouseClick(qobject_cast<QPushButton*>(dlg.Control(IDC_SAVE_LOG)),
                    Qt::LeftButton);
  QFile file(saved);
  QVERIFY(file.open(QIODevice::ReadOnly));
  const QString text = QString::fromUtf8(file.readAll());
  QVERIFY2(rate.match(text).hasMatch(), qPrintable(text));
}

}  // namespace ferrotick::ui::test

int main(int argc, char** argv) {
  // Before the toolkit starts, as a German desktop would have it.
  std::string folder = std::filesystem::temp_directory_path().string() +
                       "/ferrotick-locale-XXXXXX";
  std::string why = "cannot make a folder for the locale";
  if (::mkdtemp(folder.data())) {
    why = ferrotick::testing::PrepareGermanLocale(folder);
  }
  if (why.empty()) ::setenv("LC_ALL", ferrotick::testing::kGermanLocale, 1);
  int result;
  {
    QApplication app(argc, argv);
    ferrotick::ui::test::LocaleTest test(why);
    result = QTest::qExec(&test, argc, argv);
  }
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  return result;
}

#include "locale_test.moc"
