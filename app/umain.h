// The main window: the program's frame while a user is signed in. Working views (home page,
// ledger list, charts, diary, forum page) open inside its multiple-document area, one at a time
// and maximised; around them sit the left column of navigation buttons with the date panel,
// the menu bar, the charts menu, the three-panel status bar and the tray icon with its menu.
// Dialogs (categories, users, settings, about, backup, restore, sign-in) open modally from it.
// It also answers the activate request of a later start of the program.
//
// Object names, as menu items and buttons are chosen by name (Choose):
//   "账薄管理" N1: mnulogin 重新登录, mnuUser 密码设置, N4 -, N5 数据备份, N6 数据恢复, N7 -,
//                 N8 系统设置, N9 -, N10 退出
//   "收支管理" N11: N12 日常收支记账, mnuitems 收支分类项目, N13 -, mnuSzdb 收支对比图,
//                 mnuYpjsz 月平均收支图, N14 每月支出对比图
//   "理财助手" N17: N18 理财日记, N19 -, N20 数字计算器
//   "帮助" N21: N22 欢迎光临Coinhollow：<forum address>, N23 -, N24 关于...
//   charts menu PopupMenu1: N25 收支对比图, N26 月平均收支图, N27 -, N28 "每月支出对比图 "
//   tray menu PopupMenu2: N29 主界面, N30 访问Coinhollow, N31 -, N32 退出
//   left column Panel1: btnwdzb, btnszjz, btnhztb, btnlcrj, btnExplorer, Label1 (date panel)
//   status bar: StatusPanel0 (user), StatusPanel1 (the ledger list's totals), StatusPanel2
#pragma once

#include <QDate>
#include <QDialog>
#include <QHash>
#include <QMainWindow>
#include <QPointer>
#include <QSystemTrayIcon>

#include <functional>
#include <memory>

class QAbstractButton;
class QButtonGroup;
class QLabel;
class QMdiArea;
class QMenu;
class QToolButton;
class TInstanceListener;

class Tfrmmain : public QMainWindow {
  Q_OBJECT
 public:
  explicit Tfrmmain(const QString& instanceServerName, QWidget* parent = nullptr);
  ~Tfrmmain() override;

  // ---- actions (menu items, buttons and the home page's links run these) ----
  void OpenHomePage();
  void OpenLedger();
  void OpenChart();   // income and expense comparison
  void OpenChart2();  // monthly averages
  void OpenChart3();  // daily expenses
  void OpenDiary();
  void OpenWeb();
  void ShowChartsMenu();
  void ShowItems();
  void ShowUsers();
  void ShowSettings();
  void ShowAbout();
  void Backup();
  void Restore();
  // Sign-in dialog again: on OK the home page opens afresh; either way status panel 0 shows
  // the signed-in user (after Cancel the previous one, with the open view kept).
  void ReSignIn();
  void StartCalculator();
  void OpenForumInBrowser();
  // Restores the window when minimised, shows and raises it and gives it the focus (the
  // answer to a later start of the program, the tray's "主界面" and a double-click on it).
  void BringToFront();

  // Chooses the menu item or left-column button of that object name, as a person would;
  // false when there is none.
  bool Choose(const QString& objectName);
  QAction* Action(const QString& objectName) const;
  QAbstractButton* NavigationButton(const QString& objectName) const;
  // The pressed left-column button.
  QAbstractButton* PressedButton() const;
  QMenu* ChartsMenu() const { return chartsMenu_; }
  QMenu* TrayMenu() const { return trayMenu_; }
  // The tray icon, or nullptr where the desktop has no tray.
  QSystemTrayIcon* TrayIcon() const { return tray_; }

  // The open view's widget, or nullptr between switches.
  QWidget* CurrentView() const;
  QMdiArea* MdiArea() const { return mdiArea_; }

  // Status bar panels 0 to 2.
  QString StatusText(int panel) const;
  void SetStatusText(int panel, const QString& text);

  // The date panel's text for a day: "今天是", the date without leading zeros and the weekday,
  // separated by blank lines (CR LF pairs).
  static QString DatePanelText(const QDate& day);
  // Fills the date panel with that day (done with today's date when the window first shows).
  void ShowDate(const QDate& day);
  QString DatePanel() const;

  // The user management window, created once at start-up and shown modally by ShowUsers.
  void SetUserWindow(QDialog* window) { userWindow_ = window; }

  // A tray icon event; ignored while a modal dialog is open.
  void TrayActivated(QSystemTrayIcon::ActivationReason reason);

  TInstanceListener* InstanceListener() const { return listener_; }

 Q_SIGNALS:
  void BroughtToFront();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  using TViewFactory = std::function<QWidget*()>;
  // Closes every open view, opens the new one maximised and presses the button.
  void SwitchView(const TViewFactory& make, QAbstractButton* button);
  // A stand-in view for a window the program does not have yet.
  TViewFactory PendingView(const QString& className, const QString& caption);
  void RunPendingDialog(const QString& className, const QString& caption);
  void ShowUserInStatus();

  void BuildMenus();
  void BuildLeftColumn();
  void BuildStatusBar();
  void BuildTray();
  QAction* AddAction(QMenu* menu, const QString& name, const QString& caption,
                     void (Tfrmmain::*handler)() = nullptr);
  void AddSeparator(QMenu* menu, const QString& name);
  QToolButton* AddNavigationButton(const QString& name, const QString& caption);

  TInstanceListener* listener_;
  QMdiArea* mdiArea_ = nullptr;
  QButtonGroup* buttons_ = nullptr;
  QToolButton* btnwdzb_ = nullptr;
  QToolButton* btnszjz_ = nullptr;
  QToolButton* btnhztb_ = nullptr;
  QToolButton* btnlcrj_ = nullptr;
  QToolButton* btnExplorer_ = nullptr;
  QLabel* dateLabel_ = nullptr;
  QLabel* statusPanels_[3] = {};
  QMenu* chartsMenu_ = nullptr;
  QMenu* trayMenu_ = nullptr;
  QSystemTrayIcon* tray_ = nullptr;
  QHash<QString, QAction*> actions_;
  QPointer<QDialog> userWindow_;
  bool firstShown_ = false;
};
