// The ledger list window; see uShouzhi.h.
#include "uShouzhi.h"

#include <QActionGroup>
#include <QCloseEvent>
#include <QEventLoop>
#include <QHBoxLayout>
#include <QMenu>
#include <QMouseEvent>
#include <QScreen>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <vector>

#include "categories/uItemlist.h"
#include "clock.h"
#include "datadir.h"
#include "dbaccess/enginequery.h"
#include "gbktext.h"
#include "globals.h"
#include "ledger/ledgerexport.h"
#include "ledger/ledgerlist.h"
#include "ledger/uAddshouzhi.h"
#include "ledger/udatepicker.h"
#include "prompt.h"
#include "umain.h"

namespace {

const QString kDayFormat = QStringLiteral("yyyy-MM-dd");

// Julian day of 1 January 0001, the engine's day 1.
constexpr qint64 kJulianDayOfDayZero = 1721425;

// The sum of one amount column over the entries before the start day; no entries read as 0.
double SumBefore(const std::string& directory, const char* sql, const char* column,
                 const QString& startDate) {
  mt::TEngineQuery query;
  query.SetDatabaseName(directory);
  query.SetSQL(sql);
  query.ParamByName("start").SetAsString(startDate.toStdString());
  query.Open();
  const double sum = query.FieldByName(column).AsFloat();
  query.Close();
  return sum;
}

// An amount cell: empty for 0 and for no value.
QString AmountText(const mt::TField& field) {
  const double value = field.AsFloat();
  return value == 0 ? QString() : GeneralNumber(value);
}

// The entry type as a number; -1 for text that is no number (such rows change no total).
int EntryType(const std::string& text) {
  bool ok = false;
  const int type = QString::fromLatin1(text).trimmed().toInt(&ok);
  return ok ? type : -1;
}

}  // namespace

TFrmShouzhi::TFrmShouzhi(Tfrmmain* main, QWidget* parent)
    : QWidget(parent), main_(main), list_(new TLedgerList(this)), exportFile_(DefaultExportFile()) {
  setObjectName("FrmShouzhi");
  setWindowTitle(QStringLiteral("收支记账"));

  auto* bar = new QHBoxLayout;
  bar->setContentsMargins(4, 4, 4, 4);
  QToolButton* btnAdd = AddButton("btnAdd", QStringLiteral("新添收支"));
  QToolButton* btnModify = AddButton("btnModify", QStringLiteral("修改"));
  QToolButton* btnDelete = AddButton("btnDelete", QStringLiteral("删除"));
  QToolButton* btnExcel = AddButton("btnExcel", QStringLiteral("输出Excel"));
  btnshow_ = AddButton("btnshow", QStringLiteral("显示选项"));
  for (QToolButton* b : {btnAdd, btnModify, btnDelete, btnExcel})
    bar->addWidget(b);
  bar->addStretch(1);
  bar->addWidget(btnshow_);
  connect(btnAdd, &QToolButton::clicked, this, &TFrmShouzhi::Add);
  connect(btnModify, &QToolButton::clicked, this, &TFrmShouzhi::Modify);
  connect(btnDelete, &QToolButton::clicked, this, &TFrmShouzhi::Delete);
  connect(btnExcel, &QToolButton::clicked, this, &TFrmShouzhi::Export);

  showMenu_ = new QMenu(this);
  showMenu_->setObjectName("PopupMenu2");
  auto* periods = new QActionGroup(this);
  periods->setExclusive(true);
  const auto period = [this, periods](const char* name, const QString& caption,
                                      void (TFrmShouzhi::*handler)()) {
    QAction* item = showMenu_->addAction(caption);
    item->setObjectName(name);
    item->setCheckable(true);
    periods->addAction(item);
    connect(item, &QAction::triggered, this, handler);
    return item;
  };
  sinceMonth_ =
      period("mnuMonth", QStringLiteral("显示本月以来的记录"), &TFrmShouzhi::ShowSinceMonth);
  sinceWeek_ = period("mnuWeek", QStringLiteral("显示本周以来的记录"), &TFrmShouzhi::ShowSinceWeek);
  sinceToday_ =
      period("mnuToday", QStringLiteral("显示本日以来的记录"), &TFrmShouzhi::ShowSinceToday);
  all_ = period("mnuAll", QStringLiteral("显示所有的记录"), &TFrmShouzhi::ShowAll);
  sinceDay_ = period("mnuFromDay", QStringLiteral("显示从某天开始以来的记录"),
                     &TFrmShouzhi::ShowSinceChosenDay);
  sinceMonth_->setChecked(true);
  connect(btnshow_, &QToolButton::clicked, this,
          [this] { showMenu_->popup(btnshow_->mapToGlobal(QPoint(0, btnshow_->height()))); });

  contextMenu_ = new QMenu(this);
  contextMenu_->setObjectName("PopupMenu1");
  const auto command = [this](const char* name, const QString& caption,
                              void (TFrmShouzhi::*handler)()) {
    QAction* item = contextMenu_->addAction(caption);
    item->setObjectName(name);
    connect(item, &QAction::triggered, this, handler);
  };
  command("mnuAdd", QStringLiteral("新添收支"), &TFrmShouzhi::Add);
  command("mnuModify", QStringLiteral("修改"), &TFrmShouzhi::Modify);
  contextMenu_->addSeparator();
  command("mnuDelete", QStringLiteral("删除"), &TFrmShouzhi::Delete);
  contextMenu_->addSeparator();
  command("mnuExcel", QStringLiteral("输出Excel"), &TFrmShouzhi::Export);
  list_->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(list_, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& at) { contextMenu_->popup(list_->viewport()->mapToGlobal(at)); });
  list_->viewport()->installEventFilter(this);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addLayout(bar);
  layout->addWidget(list_, 1);

  // Ascending by date from the start: the first click on the date column flips the direction.
  list_->ColumnClick(0);
}

QToolButton* TFrmShouzhi::AddButton(const char* name, const QString& caption) {
  auto* button = new QToolButton(this);
  button->setObjectName(name);
  button->setText(caption);
  button->setToolButtonStyle(Qt::ToolButtonTextOnly);
  button->setAutoRaise(true);
  button->setMinimumWidth(72);
  return button;
}

void TFrmShouzhi::Warn(const QString& text) {
  Prompt().Message(this, TPrompt::TIcon::Warning, windowTitle(), text);
}

// ---- periods ----

QDate TFrmShouzhi::WeekStart(const QDate& day) {
  return day.addDays(-(day.dayOfWeek() % 7));  // Qt counts Monday 1 to Sunday 7
}

void TFrmShouzhi::Choose(QAction* item, const QString& startDate) {
  item->setChecked(true);
  startDate_ = startDate;
  Load();
}

void TFrmShouzhi::ShowSinceMonth() {
  Choose(sinceMonth_, Today().toString(QStringLiteral("yyyy-MM-01")));
}

void TFrmShouzhi::ShowSinceWeek() {
  Choose(sinceWeek_, WeekStart(Today()).toString(kDayFormat));
}

void TFrmShouzhi::ShowSinceToday() {
  Choose(sinceToday_, Today().toString(kDayFormat));
}

void TFrmShouzhi::ShowAll() {
  Choose(all_, QString());
}

void TFrmShouzhi::ShowSinceChosenDay() {
  sinceDay_->setChecked(true);
  const QPoint anchor = btnshow_->mapToGlobal(QPoint(0, btnshow_->height()));
  const QScreen* screen = btnshow_->screen();
  GlobalVars.PickedDate.clear();
  auto* picker = new Tfrmdatepicker(this);
  picker_ = picker;
  picker->move(screen ? Tfrmdatepicker::Position(anchor, screen->geometry()) : anchor);
  QEventLoop wait;
  connect(picker, &Tfrmdatepicker::Picked, &wait, &QEventLoop::quit);
  picker->show();
  const QPointer<TFrmShouzhi> self(this);
  if (GlobalVars.PickedDate.isEmpty()) wait.exec();
  if (!self) return;
  Choose(sinceDay_, GlobalVars.PickedDate);
}

// ---- loading ----

void TFrmShouzhi::Load() {
  const std::string directory = ToGbk(DataDirectory());
  double balance = 0;
  if (!startDate_.isEmpty())
    balance = SumBefore(directory, "select sum(input) as allinput from szzb where date <:start",
                        "allinput", startDate_) -
              SumBefore(directory, "select sum(output) as alloutput from szzb where date <:start",
                        "alloutput", startDate_);

  std::vector<TLedgerRow> rows;
  double income = 0;
  double expense = 0;
  mt::TEngineQuery query;
  query.SetDatabaseName(directory);
  // A live result reads szzb itself in the order of its date index, where a canned one would
  // first copy every row into a result table: on a large ledger that copy is most of the load.
  // Nothing is written through it.
  query.SetRequestLive(true);
  if (startDate_.isEmpty()) {
    query.SetSQL("select * from szzb order by date");
  } else {
    query.SetSQL("select * from szzb where date>=:start order by date");
    query.ParamByName("start").SetAsString(startDate_.toStdString());
  }
  query.Open();
  const mt::TField& id = query.FieldByName("id");
  const mt::TField& date = query.FieldByName("date");
  const mt::TField& itemId = query.FieldByName("itemid");
  const mt::TField& item = query.FieldByName("item");
  const mt::TField& description = query.FieldByName("description");
  const mt::TField& memo = query.FieldByName("memo");
  const mt::TField& user = query.FieldByName("user");
  const mt::TField& input = query.FieldByName("input");
  const mt::TField& output = query.FieldByName("output");
  const mt::TField& type = query.FieldByName("type");
  const QString displayFormat = GlobalVars.DateFormat;
  for (; !query.Eof(); query.Next()) {
    TLedgerRow& row = rows.emplace_back();
    int32_t dayNumber = 0;
    int32_t milliseconds = 0;
    QDate day;
    if (mt::DateTimeToParts(date.AsDateTime(), dayNumber, milliseconds))
      day = QDate::fromJulianDay(dayNumber + kJulianDayOfDayZero);
    row[LedgerColumn::Date] = day.toString(kDayFormat);
    row[LedgerColumn::Item] = FromGbk(item.AsString());
    row[LedgerColumn::Description] = FromGbk(description.AsString());
    row[LedgerColumn::Income] = AmountText(input);
    row[LedgerColumn::Expense] = AmountText(output);
    row[LedgerColumn::User] = FromGbk(user.AsString());
    row[LedgerColumn::Id] = QString::fromStdString(id.AsString());
    const std::string typeText = type.AsString();
    row[LedgerColumn::Type] = FromGbk(typeText);
    row[LedgerColumn::ItemId] = QString::fromStdString(itemId.AsString());
    row[LedgerColumn::Memo] = FromGbk(memo.AsString());
    row[LedgerColumn::DisplayDate] = day.toString(displayFormat);
    switch (EntryType(typeText)) {
      case 0:
        balance += input.AsFloat();
        income += input.AsFloat();
        break;
      case 1:
        balance -= output.AsFloat();
        expense += output.AsFloat();
        break;
      default:
        break;
    }
    row[LedgerColumn::Balance] = balance == 0 ? QString() : GeneralNumber(balance);
  }
  query.Close();

  list_->Model().SetRows(std::move(rows));
  totals_ = QStringLiteral("收入合计:") + FormatMoney(income) + QStringLiteral(" 支出合计:") +
            FormatMoney(expense);
  if (main_) main_->SetStatusText(1, totals_);
}

// ---- commands ----

void TFrmShouzhi::Add() {
  TfrmAddshouzhi dialog(*list_, this);
  dialog.setWindowTitle(QStringLiteral("新添收支"));
  dialog.SetAdding(true);
  dialog.exec();
}

void TFrmShouzhi::Modify() {
  const int row = list_->SelectedRow();
  if (row < 0) {
    Warn(QStringLiteral("请选中要修改的收支记录."));
    return;
  }
  TfrmAddshouzhi dialog(*list_, this);
  dialog.setWindowTitle(QStringLiteral("修改收支记录"));
  dialog.SetAdding(false);
  dialog.FillFromRow(list_->Row(row));
  dialog.exec();
}

void TFrmShouzhi::Delete() {
  const int row = list_->SelectedRow();
  if (row < 0) {
    Warn(QStringLiteral("请选中要删除的项目."));
    return;
  }
  if (!Prompt().Confirm(this, windowTitle(), QStringLiteral("确认要删除吗?"))) return;
  mt::TEngineQuery query;
  query.SetDatabaseName(ToGbk(DataDirectory()));
  query.SetSQL("delete from szzb where id=:id");
  query.ParamByName("id").SetAsInteger(list_->Text(row, LedgerColumn::Id).toLongLong());
  query.ExecSQL();
  list_->Model().RemoveRow(row);
  list_->SelectRow(std::min(row, list_->RowCount() - 1));
}

void TFrmShouzhi::Export() {
  ExportLedger(*list_, exportFile_);
}

// ---- events ----

void TFrmShouzhi::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (shown_) return;
  shown_ = true;
  ShowSinceMonth();
}

void TFrmShouzhi::closeEvent(QCloseEvent* event) {
  if (main_) main_->SetStatusText(1, QString());
  QWidget::closeEvent(event);
}

bool TFrmShouzhi::eventFilter(QObject* watched, QEvent* event) {
  // A double-click anywhere in the list changes the selected entry (or warns that none is).
  if (watched == list_->viewport() && event->type() == QEvent::MouseButtonDblClick &&
      static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
    Modify();
    return true;
  }
  return QWidget::eventFilter(watched, event);
}
