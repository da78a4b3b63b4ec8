// The settings dialog with its autostart entry, the about dialog's pages and history, and the
// forum page.
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QToolButton>

#include "antLabel.h"
#include "apptests.h"
#include "desktop.h"
#include "fixture.h"
#include "uabout.h"
#include "umain.h"
#include "usys.h"
#include "uweb.h"

using mt::apptest::TMainWindowFixture;

namespace {

constexpr char kProgram[] = "/opt/Mintora/mintora";

void WriteEntry(const QString& exec) {
  QDir().mkpath(QFileInfo(TAutostart::EntryFile()).absolutePath());
  QFile f(TAutostart::EntryFile());
  QVERIFY(f.open(QIODevice::WriteOnly));
  f.write(("[Desktop Entry]\nType=Application\nName=Mintora\nExec=" + exec + "\n").toUtf8());
}

}  // namespace

class TSmallDialogsTest : public QObject {
  Q_OBJECT
 private:
  QTemporaryDir config_;
  QByteArray savedConfig_;

 private Q_SLOTS:
  void init() {
    savedConfig_ = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config_.path()));
    QFile::remove(TAutostart::EntryFile());
  }
  void cleanup() {
    if (savedConfig_.isNull())
      qunsetenv("XDG_CONFIG_HOME");
    else
      qputenv("XDG_CONFIG_HOME", savedConfig_);
  }

  void autostartBoxIsReadFromTheEntry_data() {
    QTest::addColumn<QString>("exec");  // empty: no entry
    QTest::addColumn<bool>("ticked");
    QTest::newRow("no entry") << QString() << false;
    QTest::newRow("this program") << kProgram << true;
    QTest::newRow("other letter case") << "/OPT/mintora/MINTORA" << true;
    QTest::newRow("another program") << "/usr/bin/other" << false;
    QTest::newRow("quoted") << "\"/opt/Mintora/mintora\"" << true;
  }
  void autostartBoxIsReadFromTheEntry() {
    QFETCH(QString, exec);
    QFETCH(bool, ticked);
    if (!exec.isEmpty()) WriteEntry(exec);
    TfrmSys dialog(nullptr, TAutostart(kProgram));
    QCOMPARE(dialog.CheckBox1()->isChecked(), ticked);
    QCOMPARE(dialog.CheckBox1()->text(), QString("Windows启动时自动启动<<Mintora>>"));
  }

  void confirmWritesOrRemovesTheEntryAndCancelChangesNothing() {
    WriteEntry("/usr/bin/other");
    {
      // Another program's entry: the box opens cleared and "确认" removes the entry.
      TfrmSys dialog(nullptr, TAutostart(kProgram));
      dialog.BitBtn1()->click();
      QCOMPARE(dialog.result(), int(QDialog::Accepted));
      QVERIFY(!QFile::exists(TAutostart::EntryFile()));
    }
    {
      TfrmSys dialog(nullptr, TAutostart("/home/a b/mintora"));
      dialog.CheckBox1()->setChecked(true);
      dialog.BitBtn1()->click();
      QCOMPARE(TAutostart::EntryProgram(), QString("/home/a b/mintora"));
    }
    {
      TfrmSys dialog(nullptr, TAutostart("/home/a b/mintora"));
      QVERIFY(dialog.CheckBox1()->isChecked());
      dialog.CheckBox1()->setChecked(false);
      dialog.BitBtn2()->click();
      QCOMPARE(dialog.result(), int(QDialog::Rejected));
      QVERIFY(QFile::exists(TAutostart::EntryFile()));
    }
    // The program moved: the box shows cleared.
    TfrmSys moved(nullptr, TAutostart("/elsewhere/mintora"));
    QVERIFY(!moved.CheckBox1()->isChecked());
  }

  void aboutShowsTitleLinkAndHistoryPages() {
    mt::apptest::TRecordingDesktop desktop;
    TDesktopScope scope(desktop);
    Tfrmabout about;
    QCOMPARE(about.windowTitle(), QString("关于..."));
    QCOMPARE(about.Title()->text(), QString("Mintora 1.05"));
    QCOMPARE(about.CurrentPage(), 0);
    QCOMPARE(about.ForumLink()->text(), "请访问我们的论坛，Coinhollow ： " + ForumAddress());
    Q_EMIT about.ForumLink()->clicked();
    QCOMPARE(desktop.urls, QList<QUrl>{QUrl(ForumAddress())});

    about.PageButton(1)->click();
    QCOMPARE(about.CurrentPage(), 1);
    const QStringList lines = about.History()->toPlainText().split('\n');
    QCOMPARE(lines, Tfrmabout::HistoryLines());
    QCOMPARE(lines.size(), 11);
    QCOMPARE(lines[1], QString(40, '='));
    QCOMPARE(lines[5], QString("      2004-4-22  为\"收支记帐\"添加了统计功能，将收入支出的合计"));
    QCOMPARE(lines[8], QString(" "));
    QCOMPARE(about.CloseButton()->text(), QString("关闭(&C)"));
    about.CloseButton()->click();
    QVERIFY(about.isHidden());
  }

  void forumPageFillsTheViewAndLeadsToTheForum() {
    TMainWindowFixture fixture;
    QVERIFY(fixture.Window().Choose("btnExplorer"));
    auto* web = qobject_cast<TfrmWeb*>(fixture.Window().CurrentView());
    QVERIFY(web);
    QVERIFY(web->WebBrowser1()->toPlainText().contains(ForumAddress()));
    Q_EMIT web->WebBrowser1()->anchorClicked(QUrl(ForumAddress()));
    QCOMPARE(fixture.desktop.urls, QList<QUrl>{QUrl(ForumAddress())});
  }
};

MINTORA_APP_TEST(SmallDialogs, TSmallDialogsTest);
#include "smalldialogs_test.moc"
