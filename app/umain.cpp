// The main window; see umain.h.
#include "umain.h"

#include <QApplication>
#include <QButtonGroup>
#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QShowEvent>
#include <QStatusBar>
#include <QToolButton>
#include <QVBoxLayout>

#include "accounts/ulogin.h"
#include "categories/uItems.h"
#include "charts/uchart.h"
#include "charts/uchart2.h"
#include "charts/uchart3.h"
#include "desktop.h"
#include "diary/udiary.h"
#include "globals.h"
#include "ledger/uShouzhi.h"
#include "pendingwindow.h"
#include "programicon.h"
#include "singleinstance.h"
#include "uabout.h"
#include "ubackup.h"
#include "umainpage.h"
#include "usys.h"
#include "uweb.h"

namespace {

constexpr int kLeftColumnWidth = 113;
constexpr int kStatusPanelWidths[3] = {150, 300, 50};

}  // namespace

Tfrmmain::Tfrmmain(const QString& instanceServerName, QWidget* parent)
    : QMainWindow(parent), listener_(new TInstanceListener(instanceServerName, this)) {
  setObjectName("frmmain");
  setWindowTitle(QStringLiteral("Mintora 1.05"));
  setWindowIcon(ProgramIcon());

  auto* central = new QWidget(this);
  auto* layout = new QHBoxLayout(central);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  setCentralWidget(central);
  BuildLeftColumn();
  mdiArea_ = new QMdiArea(central);
  mdiArea_->setObjectName("MdiArea");
  layout->addWidget(mdiArea_, 1);

  BuildMenus();
  BuildStatusBar();
  BuildTray();

  resize(792, 556);
  if (const QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());
  connect(listener_, &TInstanceListener::ActivateRequested, this, &Tfrmmain::BringToFront);
}

Tfrmmain::~Tfrmmain() = default;

// ---- construction ----

QAction* Tfrmmain::AddAction(QMenu* menu, const QString& name, const QString& caption,
                             void (Tfrmmain::*handler)()) {
  QAction* action = menu->addAction(caption);
  action->setObjectName(name);
  if (handler) connect(action, &QAction::triggered, this, handler);
  actions_.insert(name, action);
  return action;
}

void Tfrmmain::AddSeparator(QMenu* menu, const QString& name) {
  menu->addSeparator()->setObjectName(name);
}

void Tfrmmain::BuildMenus() {
  const auto topMenu = [this](const QString& name, const QString& caption) {
    QMenu* menu = menuBar()->addMenu(caption);
    menu->setObjectName(name);
    return menu;
  };
  QMenu* books = topMenu("N1", QStringLiteral("账薄管理"));
  AddAction(books, "mnulogin", QStringLiteral("重新登录"), &Tfrmmain::ReSignIn);
  AddAction(books, "mnuUser", QStringLiteral("密码设置"), &Tfrmmain::ShowUsers);
  AddSeparator(books, "N4");
  AddAction(books, "N5", QStringLiteral("数据备份"), &Tfrmmain::Backup);
  AddAction(books, "N6", QStringLiteral("数据恢复"), &Tfrmmain::Restore);
  AddSeparator(books, "N7");
  AddAction(books, "N8", QStringLiteral("系统设置"), &Tfrmmain::ShowSettings);
  AddSeparator(books, "N9");
  AddAction(books, "N10", QStringLiteral("退出"), nullptr);

  QMenu* ledger = topMenu("N11", QStringLiteral("收支管理"));
  AddAction(ledger, "N12", QStringLiteral("日常收支记账"), &Tfrmmain::OpenLedger);
  AddAction(ledger, "mnuitems", QStringLiteral("收支分类项目"), &Tfrmmain::ShowItems);
  AddSeparator(ledger, "N13");
  AddAction(ledger, "mnuSzdb", QStringLiteral("收支对比图"), &Tfrmmain::OpenChart);
  AddAction(ledger, "mnuYpjsz", QStringLiteral("月平均收支图"), &Tfrmmain::OpenChart2);
  AddAction(ledger, "N14", QStringLiteral("每月支出对比图"), &Tfrmmain::OpenChart3);

  QMenu* helper = topMenu("N17", QStringLiteral("理财助手"));
  AddAction(helper, "N18", QStringLiteral("理财日记"), &Tfrmmain::OpenDiary);
  AddSeparator(helper, "N19");
  AddAction(helper, "N20", QStringLiteral("数字计算器"), &Tfrmmain::StartCalculator);

  QMenu* help = topMenu("N21", QStringLiteral("帮助"));
  AddAction(help, "N22", QStringLiteral("欢迎光临Coinhollow：") + ForumAddress(),
            &Tfrmmain::OpenForumInBrowser);
  AddSeparator(help, "N23");
  AddAction(help, "N24", QStringLiteral("关于..."), &Tfrmmain::ShowAbout);

  chartsMenu_ = new QMenu(this);
  chartsMenu_->setObjectName("PopupMenu1");
  AddAction(chartsMenu_, "N25", QStringLiteral("收支对比图"), &Tfrmmain::OpenChart);
  AddAction(chartsMenu_, "N26", QStringLiteral("月平均收支图"), &Tfrmmain::OpenChart2);
  AddSeparator(chartsMenu_, "N27");
  AddAction(chartsMenu_, "N28", QStringLiteral("每月支出对比图 "), &Tfrmmain::OpenChart3);

  trayMenu_ = new QMenu(this);
  trayMenu_->setObjectName("PopupMenu2");
  AddAction(trayMenu_, "N29", QStringLiteral("主界面"), &Tfrmmain::BringToFront);
  AddAction(trayMenu_, "N30", QStringLiteral("访问Coinhollow"), &Tfrmmain::OpenForumInBrowser);
  AddSeparator(trayMenu_, "N31");
  AddAction(trayMenu_, "N32", QStringLiteral("退出"), nullptr);

  for (const char* exit : {"N10", "N32"})
    connect(actions_.value(exit), &QAction::triggered, this, &QWidget::close);
}

QToolButton* Tfrmmain::AddNavigationButton(const QString& name, const QString& caption) {
  auto* button = new QToolButton(this);
  button->setObjectName(name);
  button->setText(caption);
  button->setCheckable(true);
  button->setAutoRaise(true);
  button->setToolButtonStyle(Qt::ToolButtonTextOnly);
  button->setFixedSize(kLeftColumnWidth - 10, 52);
  QFont f = button->font();
  f.setPointSizeF(f.pointSizeF() * 1.15);
  f.setBold(true);
  button->setFont(f);
  buttons_->addButton(button);
  return button;
}

void Tfrmmain::BuildLeftColumn() {
  auto* column = new QFrame(centralWidget());
  column->setObjectName("Panel1");
  column->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  column->setFixedWidth(kLeftColumnWidth);
  auto* layout = new QVBoxLayout(column);
  layout->setContentsMargins(3, 6, 3, 6);
  layout->setSpacing(4);

  buttons_ = new QButtonGroup(this);
  buttons_->setExclusive(true);
  btnwdzb_ = AddNavigationButton("btnwdzb", QStringLiteral("我的帐薄"));
  btnszjz_ = AddNavigationButton("btnszjz", QStringLiteral("收支记账"));
  btnhztb_ = AddNavigationButton("btnhztb", QStringLiteral("汇总图表"));
  btnlcrj_ = AddNavigationButton("btnlcrj", QStringLiteral("理财日记"));
  btnExplorer_ = AddNavigationButton("btnExplorer", QStringLiteral("Coinhollow"));
  for (QAbstractButton* b : buttons_->buttons())
    layout->addWidget(b, 0, Qt::AlignHCenter);
  btnwdzb_->setChecked(true);
  connect(btnwdzb_, &QToolButton::clicked, this, &Tfrmmain::OpenHomePage);
  connect(btnszjz_, &QToolButton::clicked, this, &Tfrmmain::OpenLedger);
  connect(btnhztb_, &QToolButton::clicked, this, &Tfrmmain::ShowChartsMenu);
  connect(btnlcrj_, &QToolButton::clicked, this, &Tfrmmain::OpenDiary);
  connect(btnExplorer_, &QToolButton::clicked, this, &Tfrmmain::OpenWeb);

  layout->addSpacing(12);
  dateLabel_ = new QLabel(QStringLiteral("今天是"), column);
  dateLabel_->setObjectName("Label1");
  dateLabel_->setFrameStyle(QFrame::Panel | QFrame::Raised);
  dateLabel_->setAlignment(Qt::AlignCenter);
  dateLabel_->setMinimumHeight(110);
  QPalette navy = dateLabel_->palette();
  navy.setColor(QPalette::WindowText, QColor(0, 0, 0x80));
  dateLabel_->setPalette(navy);
  layout->addWidget(dateLabel_);
  layout->addStretch(1);
  static_cast<QHBoxLayout*>(centralWidget()->layout())->addWidget(column);
}

void Tfrmmain::BuildStatusBar() {
  statusBar()->setObjectName("StatusBar1");
  statusBar()->setSizeGripEnabled(true);
  for (int i = 0; i < 3; ++i) {
    auto* panel = new QLabel(statusBar());
    panel->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
    panel->setFixedWidth(kStatusPanelWidths[i]);
    panel->setFrameStyle(i == 0 ? QFrame::NoFrame : (QFrame::Panel | QFrame::Sunken));
    panel->setIndent(3);
    statusBar()->addWidget(panel);
    statusPanels_[i] = panel;
  }
}

void Tfrmmain::BuildTray() {
  if (!QSystemTrayIcon::isSystemTrayAvailable()) return;
  tray_ = new QSystemTrayIcon(ProgramIcon(), this);
  tray_->setToolTip(QStringLiteral("欢迎使用 Mintora"));
  connect(tray_, &QSystemTrayIcon::activated, this, &Tfrmmain::TrayActivated);
  tray_->show();
}

// ---- views ----

void Tfrmmain::SwitchView(const TViewFactory& make, QAbstractButton* button) {
  setUpdatesEnabled(false);
  // A closed child leaves the area's list at once and deletes itself later, so a view whose
  // own link started the switch is not destroyed under its feet.
  for (QMdiSubWindow* child : mdiArea_->subWindowList())
    child->close();
  auto* child = new QMdiSubWindow(mdiArea_, Qt::SubWindow | Qt::FramelessWindowHint);
  child->setAttribute(Qt::WA_DeleteOnClose);
  QWidget* view = make();
  child->setWidget(view);
  child->setWindowTitle(view->windowTitle());
  mdiArea_->addSubWindow(child);
  child->showMaximized();
  button->setChecked(true);
  setUpdatesEnabled(true);
  update();
}

Tfrmmain::TViewFactory Tfrmmain::PendingView(const QString& className, const QString& caption) {
  return [className, caption] { return new TPendingView(className, caption); };
}

QWidget* Tfrmmain::CurrentView() const {
  const QList<QMdiSubWindow*> children = mdiArea_->subWindowList();
  return children.isEmpty() ? nullptr : children.last()->widget();
}

void Tfrmmain::OpenHomePage() {
  SwitchView([this] { return new TfrmMainpage(*this); }, btnwdzb_);
}

void Tfrmmain::OpenLedger() {
  SwitchView([this] { return new TFrmShouzhi(this); }, btnszjz_);
}

void Tfrmmain::OpenChart() {
  SwitchView([] { return new Tfrmchart; }, btnhztb_);
}

void Tfrmmain::OpenChart2() {
  SwitchView([] { return new TfrmChart2; }, btnhztb_);
}

void Tfrmmain::OpenChart3() {
  SwitchView([] { return new Tfrmchart3; }, btnhztb_);
}

void Tfrmmain::OpenDiary() {
  SwitchView([] { return new Tfrmdiary; }, btnlcrj_);
}

void Tfrmmain::OpenWeb() {
  SwitchView([] { return new TfrmWeb; }, btnExplorer_);
}

void Tfrmmain::ShowChartsMenu() {
  // The button stays pressed from the click on, whether or not a chart is chosen.
  btnhztb_->setChecked(true);
  chartsMenu_->popup(btnhztb_->mapToGlobal(QPoint(0, btnhztb_->height())));
}

// ---- dialogs ----

void Tfrmmain::RunPendingDialog(const QString& className, const QString& caption) {
  TPendingDialog dialog(className, caption, this);
  dialog.exec();
}

void Tfrmmain::ShowItems() {
  TfrmItems dialog(this);
  dialog.exec();
}

void Tfrmmain::ShowUsers() {
  if (userWindow_) userWindow_->exec();
}

void Tfrmmain::ShowSettings() {
  TfrmSys dialog(this);
  dialog.exec();
}

void Tfrmmain::ShowAbout() {
  Tfrmabout dialog(this);
  dialog.exec();
}

void Tfrmmain::Backup() {
  RunBackup(this);
}

void Tfrmmain::Restore() {
  if (RunRestore(this)) ReSignIn();
}

void Tfrmmain::ReSignIn() {
  {
    Tfrmlogin dialog(this);
    if (dialog.exec() == QDialog::Accepted) OpenHomePage();
  }
  ShowUserInStatus();
}

// ---- desktop ----

void Tfrmmain::StartCalculator() {
  const QString calculator = FindCalculator();
  if (!calculator.isEmpty()) Desktop().StartDetached(calculator);
}

void Tfrmmain::OpenForumInBrowser() {
  Desktop().OpenUrl(QUrl(ForumAddress()));
}

void Tfrmmain::BringToFront() {
  if (isMinimized()) setWindowState(windowState() & ~Qt::WindowMinimized);
  show();
  raise();
  activateWindow();
  Q_EMIT BroughtToFront();
}

void Tfrmmain::TrayActivated(QSystemTrayIcon::ActivationReason reason) {
  if (QApplication::activeModalWidget()) return;
  switch (reason) {
    case QSystemTrayIcon::DoubleClick:
      BringToFront();
      break;
    case QSystemTrayIcon::Context:
      SaveCursorPos();
      trayMenu_->popup(SavedCursorPos);
      break;
    default:
      break;
  }
}

// ---- choosing by name ----

QAction* Tfrmmain::Action(const QString& objectName) const {
  return actions_.value(objectName);
}

QAbstractButton* Tfrmmain::NavigationButton(const QString& objectName) const {
  for (QAbstractButton* b : buttons_->buttons())
    if (b->objectName() == objectName) return b;
  return nullptr;
}

QAbstractButton* Tfrmmain::PressedButton() const {
  return buttons_->checkedButton();
}

bool Tfrmmain::Choose(const QString& objectName) {
  if (QAction* action = Action(objectName)) {
    action->trigger();
    return true;
  }
  if (QAbstractButton* button = NavigationButton(objectName)) {
    button->click();
    return true;
  }
  return false;
}

// ---- status bar and date panel ----

QString Tfrmmain::StatusText(int panel) const {
  return statusPanels_[panel]->text();
}

void Tfrmmain::SetStatusText(int panel, const QString& text) {
  statusPanels_[panel]->setText(text);
}

void Tfrmmain::ShowUserInStatus() {
  SetStatusText(0, QStringLiteral("用户: ") + GlobalVars.UserName);
}

QString Tfrmmain::DatePanelText(const QDate& day) {
  static const QString weekdays[7] = {QStringLiteral("星期一"), QStringLiteral("星期二"),
                                      QStringLiteral("星期三"), QStringLiteral("星期四"),
                                      QStringLiteral("星期五"), QStringLiteral("星期六"),
                                      QStringLiteral("星期日")};
  const QString gap = QStringLiteral("\r\n\r\n");
  return QStringLiteral("今天是") + gap +
         QStringLiteral("%1年%2月%3日").arg(day.year()).arg(day.month()).arg(day.day()) + gap +
         weekdays[day.dayOfWeek() - 1];
}

void Tfrmmain::ShowDate(const QDate& day) {
  // Qt labels break lines at LF; a CR would show as a character of its own.
  dateLabel_->setText(DatePanelText(day).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
}

QString Tfrmmain::DatePanel() const {
  return dateLabel_->text();
}

void Tfrmmain::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (firstShown_) return;
  firstShown_ = true;
  OpenHomePage();
  ShowUserInStatus();
  ShowDate(QDate::currentDate());
}
