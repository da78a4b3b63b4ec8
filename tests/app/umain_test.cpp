// The main window: every menu item and button reaches its view or dialog with the right button
// pressed; one view at a time, and choosing the open view again replaces it; the charts menu;
// re-sign-in; the date panel; the tray's double-click and menu; desktop services; the activate
// request of a later start; the window's captions and panels.
#include <QAbstractButton>
#include <QDir>
#include <QFile>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "accounts/uUser.h"
#include "apptests.h"
#include "desktop.h"
#include "fixture.h"
#include "globals.h"
#include "singleinstance.h"
#include "umain.h"

using mt::apptest::RunDeferredDeletes;
using mt::apptest::TMainWindowFixture;
using mt::apptest::TModalAnswerer;
using mt::apptest::UniqueServerName;

namespace {

// The captions of a menu's items, "-" for separators.
QStringList Captions(const QMenu& menu) {
  QStringList captions;
  for (const QAction* a : menu.actions())
    captions << (a->isSeparator() ? QString("-") : a->text());
  return captions;
}

// PATH pointed at a folder for a while.
class TPathScope {
 public:
  explicit TPathScope(const QString& path) : previous_(qgetenv("PATH")) {
    qputenv("PATH", QFile::encodeName(path));
  }
  ~TPathScope() { qputenv("PATH", previous_); }

 private:
  QByteArray previous_;
};

void MakeProgram(const QString& path) {
  QFile f(path);
  QVERIFY(f.open(QIODevice::WriteOnly));
  f.write("#!/bin/sh\n");
  f.close();
  f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

}  // namespace

class TMainWindowTest : public QObject {
  Q_OBJECT
 private:
  std::unique_ptr<TMainWindowFixture> fixture_;

  Tfrmmain& Window() { return fixture_->Window(); }
  QString ViewName() {
    QWidget* view = Window().CurrentView();
    return view ? view->objectName() : QString();
  }
  QString Pressed() {
    QAbstractButton* b = Window().PressedButton();
    return b ? b->objectName() : QString();
  }

 private Q_SLOTS:
  void init() { fixture_ = std::make_unique<TMainWindowFixture>(); }
  void cleanup() { fixture_.reset(); }

  void firstShowOpensTheHomePageAndFillsThePanels() {
    QCOMPARE(ViewName(), QString("frmMainpage"));
    QCOMPARE(Pressed(), QString("btnwdzb"));
    QCOMPARE(Window().MdiArea()->subWindowList().size(), 1);
    QCOMPARE(Window().StatusText(0), QString("用户: admin"));
    QCOMPARE(Window().StatusText(1), QString());
    QCOMPARE(Window().StatusText(2), QString());

    // A window shown for the first time takes today's date; showing it again changes nothing.
    Tfrmmain fresh(UniqueServerName());
    fresh.show();
    QCOMPARE(fresh.DatePanel(),
             Tfrmmain::DatePanelText(QDate::currentDate()).replace("\r\n", "\n"));
    fresh.ShowDate(QDate(2004, 4, 9));
    fresh.hide();
    fresh.show();
    QVERIFY(fresh.DatePanel().contains(QString("2004年4月9日")));
  }

  void windowCaptionsAndPanels() {
    QCOMPARE(Window().windowTitle(), QString("Mintora 1.05"));
    QCOMPARE(Window().size(), QSize(792, 556));
    QVERIFY(!Window().windowIcon().isNull());
    QCOMPARE(Window().findChild<QWidget*>("Panel1")->width(), 113);
    const int widths[3] = {150, 300, 50};
    for (int i = 0; i < 3; ++i)
      QCOMPARE(Window().findChild<QWidget*>(QString("StatusPanel%1").arg(i))->width(), widths[i]);

    QStringList buttons;
    for (const char* name : {"btnwdzb", "btnszjz", "btnhztb", "btnlcrj", "btnExplorer"})
      buttons << Window().NavigationButton(name)->text();
    QCOMPARE(buttons, (QStringList{"我的帐薄", "收支记账", "汇总图表", "理财日记", "Coinhollow"}));

    QStringList bar;
    for (const QAction* a : Window().menuBar()->actions())
      bar << a->text();
    QCOMPARE(bar, (QStringList{"账薄管理", "收支管理", "理财助手", "帮助"}));
    const QList<QStringList> menus{
        {"重新登录", "密码设置", "-", "数据备份", "数据恢复", "-", "系统设置", "-", "退出"},
        {"日常收支记账", "收支分类项目", "-", "收支对比图", "月平均收支图", "每月支出对比图"},
        {"理财日记", "-", "数字计算器"},
        {"欢迎光临Coinhollow：" + ForumAddress(), "-", "关于..."},
    };
    for (int i = 0; i < menus.size(); ++i)
      QCOMPARE(Captions(*Window().menuBar()->actions()[i]->menu()), menus[i]);
    QCOMPARE(Captions(*Window().ChartsMenu()),
             (QStringList{"收支对比图", "月平均收支图", "-", "每月支出对比图 "}));
    QCOMPARE(Captions(*Window().TrayMenu()),
             (QStringList{"主界面", "访问Coinhollow", "-", "退出"}));
  }

  void everyViewActionOpensItsViewWithItsButtonPressed_data() {
    QTest::addColumn<QString>("choice");
    QTest::addColumn<QString>("view");
    QTest::addColumn<QString>("button");
    QTest::newRow("btnwdzb") << "btnwdzb"
                             << "frmMainpage"
                             << "btnwdzb";
    QTest::newRow("btnszjz") << "btnszjz"
                             << "FrmShouzhi"
                             << "btnszjz";
    QTest::newRow("日常收支记账") << "N12"
                                  << "FrmShouzhi"
                                  << "btnszjz";
    QTest::newRow("menu 收支对比图") << "mnuSzdb"
                                     << "frmchart"
                                     << "btnhztb";
    QTest::newRow("menu 月平均收支图") << "mnuYpjsz"
                                       << "frmChart2"
                                       << "btnhztb";
    QTest::newRow("menu 每月支出对比图") << "N14"
                                         << "frmchart3"
                                         << "btnhztb";
    QTest::newRow("charts 收支对比图") << "N25"
                                       << "frmchart"
                                       << "btnhztb";
    QTest::newRow("charts 月平均收支图") << "N26"
                                         << "frmChart2"
                                         << "btnhztb";
    QTest::newRow("charts 每月支出对比图") << "N28"
                                           << "frmchart3"
                                           << "btnhztb";
    QTest::newRow("btnlcrj") << "btnlcrj"
                             << "frmdiary"
                             << "btnlcrj";
    QTest::newRow("理财日记") << "N18"
                              << "frmdiary"
                              << "btnlcrj";
    QTest::newRow("btnExplorer") << "btnExplorer"
                                 << "frmWeb"
                                 << "btnExplorer";
  }
  void everyViewActionOpensItsViewWithItsButtonPressed() {
    QFETCH(QString, choice);
    QFETCH(QString, view);
    QFETCH(QString, button);
    // Start from a view of another button, so the press shows.
    QVERIFY(Window().Choose(button == "btnlcrj" ? "btnszjz" : "btnlcrj"));
    QVERIFY(Window().Choose(choice));
    RunDeferredDeletes();
    QCOMPARE(ViewName(), view);
    QCOMPARE(Pressed(), button);
    const QList<QMdiSubWindow*> children = Window().MdiArea()->subWindowList();
    QCOMPARE(children.size(), 1);
    QVERIFY(children[0]->isMaximized());
    QVERIFY(children[0]->windowFlags() & Qt::FramelessWindowHint);
    QCOMPARE(Window().findChildren<QMdiSubWindow*>().size(), 1);
  }

  void choosingTheOpenViewAgainReplacesIt() {
    QVERIFY(Window().Choose("btnszjz"));
    QPointer<QWidget> first = Window().CurrentView();
    QVERIFY(Window().Choose("N12"));
    QWidget* second = Window().CurrentView();
    QVERIFY(second != first.data());
    QCOMPARE(second->objectName(), QString("FrmShouzhi"));
    RunDeferredDeletes();
    QVERIFY(first.isNull());
    QCOMPARE(Window().MdiArea()->subWindowList().size(), 1);
  }

  void chartsButtonPopsItsMenuUnderItselfAndStaysPressed() {
    QVERIFY(Window().Choose("btnszjz"));
    QAbstractButton* charts = Window().NavigationButton("btnhztb");
    charts->click();
    QVERIFY(Window().ChartsMenu()->isVisible());
    QCOMPARE(Window().ChartsMenu()->pos(), charts->mapToGlobal(QPoint(0, charts->height())));
    // Pressed although no chart was chosen, and the ledger is still open.
    QCOMPARE(Pressed(), QString("btnhztb"));
    QCOMPARE(ViewName(), QString("FrmShouzhi"));
    Window().ChartsMenu()->actions().last()->trigger();
    QCOMPARE(ViewName(), QString("frmchart3"));
    QCOMPARE(Pressed(), QString("btnhztb"));
  }

  void everyDialogActionOpensItsDialog_data() {
    QTest::addColumn<QString>("choice");
    QTest::addColumn<QString>("dialog");
    QTest::newRow("重新登录") << "mnulogin"
                              << "frmlogin";
    QTest::newRow("密码设置") << "mnuUser"
                              << "frmUser";
    QTest::newRow("系统设置") << "N8"
                              << "frmSys";
    QTest::newRow("收支分类项目") << "mnuitems"
                                  << "frmItems";
    QTest::newRow("关于...") << "N24"
                             << "frmabout";
  }
  void everyDialogActionOpensItsDialog() {
    QFETCH(QString, choice);
    QFETCH(QString, dialog);
    TfrmUser users(&Window());
    Window().SetUserWindow(&users);
    QVERIFY(Window().Choose("btnlcrj"));
    QPointer<QWidget> view = Window().CurrentView();
    TModalAnswerer answerer;
    QVERIFY(Window().Choose(choice));
    QCOMPARE(answerer.seen, QStringList{dialog});
    // Dialogs opened for one use are gone again; the view stays.
    RunDeferredDeletes();
    QCOMPARE(Window().findChildren<QDialog*>().size(), 1);  // the user window, kept
    QVERIFY(!view.isNull());
    QCOMPARE(Window().CurrentView(), view.data());
    QCOMPARE(Pressed(), QString("btnlcrj"));
  }

  void cancelledReSignInKeepsUserAndViewAndRewritesTheStatus() {
    QVERIFY(Window().Choose("btnszjz"));
    QPointer<QWidget> ledger = Window().CurrentView();
    Window().SetStatusText(0, "stale");
    TModalAnswerer answerer;
    QVERIFY(Window().Choose("mnulogin"));
    QCOMPARE(answerer.seen, QStringList{"frmlogin"});
    RunDeferredDeletes();
    QVERIFY(!ledger.isNull());
    QCOMPARE(Window().CurrentView(), ledger.data());
    QCOMPARE(Pressed(), QString("btnszjz"));
    QCOMPARE(GlobalVars.UserName, QString("admin"));
    QCOMPARE(Window().StatusText(0), QString("用户: admin"));
  }

  void acceptedReSignInOpensTheHomePageAfreshForTheNewUser() {
    QPointer<QWidget> home = Window().CurrentView();
    QVERIFY(Window().Choose("btnszjz"));
    // The sign-in dialog stores the account it signed in.
    TModalAnswerer answerer([](QDialog& d) {
      GlobalVars.UserName = "张三";
      d.accept();
    });
    QVERIFY(Window().Choose("mnulogin"));
    RunDeferredDeletes();
    QCOMPARE(ViewName(), QString("frmMainpage"));
    QVERIFY(Window().CurrentView() != home.data());
    QCOMPARE(Pressed(), QString("btnwdzb"));
    QCOMPARE(Window().StatusText(0), QString("用户: 张三"));
  }

  void datePanelText_data() {
    QTest::addColumn<QDate>("day");
    QTest::addColumn<QString>("date");
    QTest::addColumn<QString>("weekday");
    QTest::newRow("Monday") << QDate(2004, 4, 5) << "2004年4月5日"
                            << "星期一";
    QTest::newRow("Tuesday") << QDate(2004, 4, 6) << "2004年4月6日"
                             << "星期二";
    QTest::newRow("Wednesday") << QDate(2004, 4, 7) << "2004年4月7日"
                               << "星期三";
    QTest::newRow("Thursday") << QDate(2004, 4, 8) << "2004年4月8日"
                              << "星期四";
    QTest::newRow("Friday") << QDate(2004, 4, 9) << "2004年4月9日"
                            << "星期五";
    QTest::newRow("Saturday") << QDate(2004, 4, 10) << "2004年4月10日"
                              << "星期六";
    QTest::newRow("Sunday") << QDate(2004, 4, 11) << "2004年4月11日"
                            << "星期日";
    QTest::newRow("two-digit month and day") << QDate(2004, 12, 25) << "2004年12月25日"
                                             << "星期六";
    QTest::newRow("leap day") << QDate(2004, 2, 29) << "2004年2月29日"
                              << "星期日";
  }
  void datePanelText() {
    QFETCH(QDate, day);
    QFETCH(QString, date);
    QFETCH(QString, weekday);
    const QString expected = "今天是\r\n\r\n" + date + "\r\n\r\n" + weekday;
    QCOMPARE(Tfrmmain::DatePanelText(day), expected);
    Window().ShowDate(day);
    QCOMPARE(Window().DatePanel(), QString(expected).replace("\r\n", "\n"));
  }

  void trayDoubleClickIsIgnoredWhileAModalDialogIsOpen() {
    Window().showMinimized();
    QVERIFY(Window().isMinimized());
    QDialog modal(&Window());
    bool minimisedAfterDoubleClick = false;
    bool menuShownAfterRightClick = true;
    QTimer::singleShot(0, &modal, [&] {
      Window().TrayActivated(QSystemTrayIcon::DoubleClick);
      minimisedAfterDoubleClick = Window().isMinimized();
      Window().TrayActivated(QSystemTrayIcon::Context);
      menuShownAfterRightClick = Window().TrayMenu()->isVisible();
      modal.reject();
    });
    modal.exec();
    QVERIFY(minimisedAfterDoubleClick);
    QVERIFY(!menuShownAfterRightClick);

    QSignalSpy front(&Window(), &Tfrmmain::BroughtToFront);
    Window().TrayActivated(QSystemTrayIcon::Trigger);  // a single click does nothing
    QVERIFY(Window().isMinimized());
    Window().TrayActivated(QSystemTrayIcon::DoubleClick);
    QVERIFY(!Window().isMinimized());
    QCOMPARE(front.count(), 1);

    Window().TrayActivated(QSystemTrayIcon::Context);
    QVERIFY(Window().TrayMenu()->isVisible());
    QCOMPARE(Window().TrayMenu()->pos(), SavedCursorPos);
    Window().TrayMenu()->hide();
  }

  void trayMenuBringsBackTheWindowAndExitCloses() {
    Window().showMinimized();
    QVERIFY(Window().Choose("N29"));
    QVERIFY(!Window().isMinimized());
    QVERIFY(Window().isVisible());
    QVERIFY(Window().Choose("N32"));
    QVERIFY(!Window().isVisible());
    Window().show();
    QVERIFY(Window().Choose("N10"));
    QVERIFY(!Window().isVisible());
  }

  void theWindowRunsWithoutATrayWhereTheDesktopHasNone() {
    QCOMPARE(Window().TrayIcon() != nullptr, QSystemTrayIcon::isSystemTrayAvailable());
    if (QSystemTrayIcon* tray = Window().TrayIcon())
      QCOMPARE(tray->toolTip(), QString("欢迎使用 Mintora"));
  }

  void aLaterStartBringsTheMinimisedWindowBack() {
    const QString server = UniqueServerName();
    Tfrmmain window(server);
    window.show();
    window.showMinimized();
    QVERIFY(window.InstanceListener()->IsListening());
    QSignalSpy front(&window, &Tfrmmain::BroughtToFront);
    QVERIFY(ActivateRunningCopy(server));
    QTRY_COMPARE(front.count(), 1);
    QVERIFY(!window.isMinimized());
    QVERIFY(window.isVisible());
  }

  void forumAndCalculatorGoToTheDesktop() {
    QVERIFY(Window().Choose("N22"));
    QVERIFY(Window().Choose("N30"));
    QCOMPARE(fixture_->desktop.urls, (QList<QUrl>{QUrl(ForumAddress()), QUrl(ForumAddress())}));
    QVERIFY(QUrl(ForumAddress()).scheme() == "https");

    QTemporaryDir bin;
    {
      TPathScope path(bin.path());
      QVERIFY(Window().Choose("N20"));  // no calculator: nothing happens
      QVERIFY(fixture_->desktop.started.isEmpty());
      MakeProgram(bin.filePath("xcalc"));
      MakeProgram(bin.filePath("kcalc"));
      QVERIFY(Window().Choose("N20"));
    }
    QCOMPARE(fixture_->desktop.started, QStringList{bin.filePath("kcalc")});
    QVERIFY(fixture_->prompt.messages.isEmpty());
  }
};

MINTORA_APP_TEST(MainWindow, TMainWindowTest);
#include "umain_test.moc"
