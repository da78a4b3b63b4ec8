// The ledger entry dialog; see uAddshouzhi.h.
#include "uAddshouzhi.h"

#include <QDateEdit>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

#include <cmath>
#include <stdexcept>

#include "categories/uItemlist.h"
#include "categories/uItems.h"
#include "datadir.h"
#include "dbaccess/enginequery.h"
#include "dbaccess/enginetable.h"
#include "desktop.h"
#include "gbktext.h"
#include "globals.h"
#include "ledger/ledgerlist.h"
#include "prompt.h"
#include "sumquery.h"

namespace {

QLineEdit* MakeEdit(QWidget* parent, const char* name, int maxLength) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(name);
  edit->setMaxLength(maxLength);
  return edit;
}

QToolButton* MakeToolButton(QWidget* parent, const char* name) {
  auto* button = new QToolButton(parent);
  button->setObjectName(name);
  button->setAutoRaise(false);
  button->setFocusPolicy(Qt::NoFocus);
  return button;
}

// Keys the amount field lets through: those typing nothing (moving, deleting forward), digits,
// "-", "." and Backspace.
bool AmountKey(const QKeyEvent& key) {
  const QString text = key.text();
  if (text.isEmpty()) return true;
  if (text.size() != 1) return false;
  const QChar c = text[0];
  return (c >= u'0' && c <= u'9') || c == u'-' || c == u'.' || c == u'\b';
}

// The number in a balance cell of the list; an empty cell counts as 0.
double CellNumber(const QString& text) {
  if (text.trimmed().isEmpty()) return 0;
  double value = 0;
  if (!TfrmAddshouzhi::ReadAmount(text, value))
    throw std::runtime_error("'" + text.toStdString() + "' is not a valid floating point value");
  return value;
}

}  // namespace

TfrmAddshouzhi::TfrmAddshouzhi(TLedgerList& ledgerList, QWidget* parent)
    : QDialog(parent),
      ledgerList_(ledgerList),
      date_(new QDateEdit(QDate::currentDate(), this)),
      category_(new TCategoryField(this)),
      btnlist_(MakeToolButton(this, "btnlist")),
      amount_(MakeEdit(this, "Edit2", 15)),
      description_(MakeEdit(this, "Edit3", 100)),
      memo_(MakeEdit(this, "Edit5", 100)),
      user_(MakeEdit(this, "Edit4", 32767)) {
  setObjectName("frmAddshouzhi");
  setWindowTitle(QStringLiteral("新添收支"));

  date_->setObjectName("DateTimePicker1");
  date_->setCalendarPopup(true);
  date_->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
  category_->setObjectName("Edit1");
  category_->setMaxLength(15);
  connect(category_, &TCategoryField::Clicked, this, &TfrmAddshouzhi::ShowPicker);
  btnlist_->setArrowType(Qt::DownArrow);
  connect(btnlist_, &QToolButton::clicked, this, &TfrmAddshouzhi::ShowPicker);
  QToolButton* items = MakeToolButton(this, "SpeedButton1");
  items->setText(QStringLiteral("…"));
  items->setToolTip(QStringLiteral("收支分类项目"));
  connect(items, &QToolButton::clicked, this, &TfrmAddshouzhi::ShowItems);
  amount_->installEventFilter(this);
  QToolButton* calculator = MakeToolButton(this, "SpeedButton2");
  calculator->setText(QStringLiteral("计算器"));
  connect(calculator, &QToolButton::clicked, this, [] {
    const QString program = FindCalculator();
    if (!program.isEmpty()) Desktop().StartDetached(program);
  });
  user_->setReadOnly(true);
  user_->setText(GlobalVars.UserName);

  auto* grid = new QGridLayout;
  int row = 0;
  const auto addRow = [this, grid, &row](const QString& label, QWidget* field,
                                         std::initializer_list<QWidget*> extras = {}) {
    grid->addWidget(new QLabel(label, this), row, 0);
    grid->addWidget(field, row, 1);
    int column = 2;
    for (QWidget* extra : extras)
      grid->addWidget(extra, row, column++);
    ++row;
  };
  addRow(QStringLiteral("日          期:"), date_);
  addRow(QStringLiteral("收支分类:"), category_, {btnlist_, items});
  addRow(QStringLiteral("金         额:"), amount_, {calculator});
  grid->addWidget(new QLabel(QStringLiteral("说        明:"), this), row, 0);
  grid->addWidget(description_, row++, 1, 1, 3);
  grid->addWidget(new QLabel(QStringLiteral("备        注:"), this), row, 0);
  grid->addWidget(memo_, row++, 1, 1, 3);
  addRow(QStringLiteral("记  账  人:"), user_);
  grid->setColumnStretch(1, 1);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  const auto addButton = [this, buttons](const char* name, const QString& caption) {
    auto* button = new QPushButton(caption, this);
    button->setObjectName(name);
    button->setAutoDefault(false);
    buttons->addWidget(button);
    return button;
  };
  QPushButton* saveAndNew = addButton("BitBtn4", QStringLiteral("保存并新添"));
  QPushButton* saveAndClose = addButton("BitBtn2", QStringLiteral("保存并关闭"));
  QPushButton* close = addButton("BitBtn1", QStringLiteral("关闭"));
  saveAndNew->setDefault(true);
  connect(saveAndNew, &QPushButton::clicked, this, &TfrmAddshouzhi::SaveAndNew);
  connect(saveAndClose, &QPushButton::clicked, this, &TfrmAddshouzhi::SaveAndClose);
  connect(close, &QPushButton::clicked, this, &QDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addSpacing(8);
  layout->addLayout(buttons);
  resize(400, 280);
}

void TfrmAddshouzhi::FillFromRow(const TLedgerRow& row) {
  // The display format may carry a two-digit year; the caption's date then gives the century.
  QDate day;
  if (GlobalVars.DateFormat.contains(QLatin1String("yyyy")))
    day = QDate::fromString(row[LedgerColumn::DisplayDate], GlobalVars.DateFormat);
  if (!day.isValid())
    day = QDate::fromString(row[LedgerColumn::Date], QStringLiteral("yyyy-MM-dd"));
  if (day.isValid()) date_->setDate(day);
  category_->setText(row[LedgerColumn::Item]);
  category_->SetItemType(row[LedgerColumn::Type].toInt());
  category_->SetItemId(row[LedgerColumn::ItemId]);
  const bool income = row[LedgerColumn::Type] == QLatin1String("0");
  amount_->setText(row[income ? LedgerColumn::Income : LedgerColumn::Expense]);
  description_->setText(row[LedgerColumn::Description]);
  memo_->setText(row[LedgerColumn::Memo]);
  entryId_ = row[LedgerColumn::Id].toInt();
}

void TfrmAddshouzhi::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!adding_) return;
  category_->clear();
  amount_->clear();
  description_->clear();
  memo_->clear();
}

bool TfrmAddshouzhi::eventFilter(QObject* watched, QEvent* event) {
  if (watched == amount_ && event->type() == QEvent::KeyPress &&
      !AmountKey(static_cast<const QKeyEvent&>(*event)))
    return true;
  return QDialog::eventFilter(watched, event);
}

void TfrmAddshouzhi::ShowPicker() {
  if (picker_) picker_->close();
  picker_ = new TfrmItemList(this);
  picker_->SetTarget(category_);
  picker_->move(category_->mapToGlobal(QPoint(0, category_->height())));
  picker_->resize(category_->width(), picker_->height());
  picker_->show();
}

void TfrmAddshouzhi::ShowItems() {
  TfrmItems items(this);
  items.exec();
}

bool TfrmAddshouzhi::ReadAmount(const QString& text, double& amount) {
  bool ok = false;
  // QString's conversion always reads "." and no grouping, whatever the locale.
  const double value = text.toDouble(&ok);
  if (!ok || !std::isfinite(value)) return false;
  amount = value;
  return true;
}

void TfrmAddshouzhi::SaveAndNew() {
  if (!Save()) return;
  category_->clear();
  amount_->clear();
  description_->clear();
  memo_->clear();
}

void TfrmAddshouzhi::SaveAndClose() {
  if (Save()) accept();
}

bool TfrmAddshouzhi::Save() {
  const auto warn = [this](const QString& text) {
    Prompt().Message(this, TPrompt::TIcon::Warning, windowTitle(), text);
  };
  if (category_->text().trimmed().isEmpty()) {
    warn(QStringLiteral("收支分类不能为空."));
    ShowPicker();
    return false;
  }
  if (amount_->text().trimmed().isEmpty()) {
    warn(QStringLiteral("金额不能为空."));
    amount_->setFocus();
    return false;
  }
  double amount = 0;
  if (!ReadAmount(amount_->text(), amount)) {
    warn(QStringLiteral("金额数字有误."));
    amount_->setFocus();
    return false;
  }
  WriteEntry(amount);
  return true;
}

double TfrmAddshouzhi::BaseBalance() const {
  const int rows = ledgerList_.RowCount();
  if (rows > 0) return CellNumber(ledgerList_.Text(rows - 1, LedgerColumn::Balance));
  const std::unique_ptr<TSumQuery> sums = DataDirectorySumQuery();
  const double allInput = sums->Sum("select sum(input) as allinput from szzb", "allinput");
  const double allOutput = sums->Sum("select sum(output) as alloutput from szzb", "alloutput");
  return allInput - allOutput;
}

void TfrmAddshouzhi::WriteEntry(double amount) {
  const std::string directory = ToGbk(DataDirectory());
  int newId = 1;
  {
    mt::TEngineQuery query;
    query.SetDatabaseName(directory);
    query.SetSQL("select max(id) as id from szzb ");
    query.Open();
    query.Last();
    const std::string last = query.FieldByName("id").AsString();
    if (!last.empty()) newId = std::stoi(last) + 1;
    query.Close();
  }
  const double base = BaseBalance();

  mt::TEngineTable szzb;
  szzb.SetDatabaseName(directory);
  szzb.SetTableName("szzb");
  szzb.Open();
  if (adding_) {
    szzb.Append();
    szzb.FieldByName("id").SetAsInteger(newId);
  } else {
    mt::TLocateOptions options;
    options.caseInsensitive = true;
    // An entry deleted meanwhile is not written again; the list stays as it is.
    if (!szzb.Locate("id", mt::TVariant(entryId_), options)) return;
    szzb.Edit();
  }
  const int type = category_->ItemType();
  szzb.FieldByName("date").SetAsString(date_->date().toString("yyyy-MM-dd").toStdString());
  if (category_->ItemId().isEmpty())
    szzb.FieldByName("itemid").Clear();
  else
    szzb.FieldByName("itemid").SetAsString(ToGbk(category_->ItemId()));
  szzb.FieldByName("item").SetAsString(ToGbk(category_->text()));
  szzb.FieldByName("description").SetAsString(ToGbk(description_->text()));
  szzb.FieldByName("memo").SetAsString(ToGbk(memo_->text()));
  szzb.FieldByName("user").SetAsString(ToGbk(user_->text()));
  szzb.FieldByName("input").Clear();
  szzb.FieldByName("output").Clear();
  double balance = 0;
  if (type == 0) {
    szzb.FieldByName("input").SetAsFloat(amount);
    balance = base + szzb.FieldByName("input").AsFloat();
  } else {
    szzb.FieldByName("output").SetAsFloat(amount);
    balance = base - szzb.FieldByName("output").AsFloat();
  }
  szzb.FieldByName("type").SetAsString(std::to_string(type));
  szzb.FieldByName("balance").SetAsFloat(balance);
  szzb.Post();
  szzb.Close();

  UpdateList(newId, balance);
  adding_ = true;
}

void TfrmAddshouzhi::UpdateList(int id, double balance) {
  TLedgerRow row;
  const int changed = adding_ ? -1 : ledgerList_.SelectedRow();
  if (adding_)
    row[LedgerColumn::Id] = QString::number(id);
  else if (changed < 0)
    return;
  else
    row = ledgerList_.Row(changed);  // the id stays as it was
  const int type = category_->ItemType();
  const QDate day = date_->date();
  row[LedgerColumn::Date] = day.toString("yyyy-MM-dd");
  row[LedgerColumn::Item] = category_->text();
  row[LedgerColumn::Description] = description_->text();
  row[LedgerColumn::Income] = type == 0 ? amount_->text() : QString();
  row[LedgerColumn::Expense] = type == 1 ? amount_->text() : QString();
  row[LedgerColumn::Balance] = GeneralNumber(balance);
  row[LedgerColumn::User] = user_->text();
  row[LedgerColumn::Type] = QString::number(type);
  row[LedgerColumn::ItemId] = category_->ItemId();
  row[LedgerColumn::Memo] = memo_->text();
  row[LedgerColumn::DisplayDate] = day.toString(GlobalVars.DateFormat);
  if (adding_)
    ledgerList_.Model().AppendRow(row);
  else
    ledgerList_.Model().SetRow(changed, row);
}
