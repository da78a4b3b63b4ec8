// The diary dialog; see uadddiary.h.
#include "uadddiary.h"

#include <QDateEdit>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "datadir.h"
#include "dbaccess/enginequery.h"
#include "dbaccess/enginetable.h"
#include "diary/udiary.h"
#include "gbktext.h"
#include "globals.h"

namespace {

QString DayText(const QDate& day) {
  return day.toString(QStringLiteral("yyyy-MM-dd"));
}

}  // namespace

TfrmAdddiary::TfrmAdddiary(QTreeWidget* list, QWidget* parent) : QDialog(parent), list_(list) {
  setObjectName("frmAdddiary");
  setWindowTitle(QStringLiteral("写日记"));
  setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);

  picker_ = new QDateEdit(this);
  picker_->setObjectName("DateTimePicker1");
  picker_->setCalendarPopup(true);
  picker_->setDisplayFormat(QLocale::system().dateFormat(QLocale::ShortFormat));
  picker_->setDate(QDate::currentDate());
  auto* top = new QHBoxLayout;
  top->addWidget(new QLabel(QStringLiteral("请输入"), this));
  top->addWidget(picker_);
  top->addWidget(new QLabel(QStringLiteral("日的日记"), this));
  top->addStretch(1);

  memo_ = new QPlainTextEdit(this);
  memo_->setObjectName("Memo1");
  memo_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

  save_ = new QPushButton(QStringLiteral("记入"), this);
  save_->setObjectName("BitBtn1");
  save_->setDefault(true);
  cancel_ = new QPushButton(QStringLiteral("取消"), this);
  cancel_->setObjectName("BitBtn2");
  cancel_->setAutoDefault(false);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(save_);
  buttons->addWidget(cancel_);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(memo_, 1);
  layout->addLayout(buttons);
  resize(460, 340);

  DayChanged();
  connect(picker_, &QDateEdit::dateChanged, this, &TfrmAdddiary::DayChanged);
  connect(save_, &QPushButton::clicked, this, &TfrmAdddiary::BitBtn1Click);
  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
}

QDate TfrmAdddiary::PickedDay() const {
  return picker_->date();
}

void TfrmAdddiary::SetPickedDay(const QDate& day) {
  picker_->setDate(day);
}

void TfrmAdddiary::DayChanged() {
  adding_ = false;
  mt::TEngineQuery query;
  query.SetDatabaseName(ToGbk(DataDirectory()));
  query.SetSQL(kLookupSql);
  query.ParamByName("date").SetAsString(ToGbk(DayText(PickedDay())));
  query.Open();
  if (query.Eof()) {
    adding_ = true;
    memo_->clear();
  } else {
    memo_->setPlainText(FromGbk(query.FieldByName("Contents").AsString()));
  }
  query.Close();
}

void TfrmAdddiary::BitBtn1Click() {
  const QDate day = PickedDay();
  const std::string text = ToGbk(memo_->toPlainText());
  {
    mt::TEngineTable table;
    table.SetDatabaseName(ToGbk(DataDirectory()));
    table.SetTableName("diary");
    table.Open();
    if (adding_) {
      table.Append();
      table.FieldByName("date").SetAsString(ToGbk(DayText(day)));
    } else {
      // The day comes from the picker in a fixed form, never from typed text.
      table.SetFilter("date=\"" + ToGbk(DayText(day)) + "\"");
      table.SetFiltered(true);
      if (table.IsEmpty()) return;  // the note vanished meanwhile: nothing to change
      table.Edit();
    }
    table.FieldByName("contents").SetAsString(text);
    table.FieldByName("user").SetAsString(ToGbk(GlobalVars.UserName));
    table.Post();
  }

  if (list_ != nullptr) {
    QTreeWidgetItem* row = nullptr;
    if (!adding_) {
      const QString dayText = DayText(day);
      for (int i = 0; i < list_->topLevelItemCount() && row == nullptr; ++i)
        if (list_->topLevelItem(i)->text(Tfrmdiary::kDateColumn).startsWith(dayText))
          row = list_->topLevelItem(i);
    }
    if (row == nullptr) {
      row = new QTreeWidgetItem;
      list_->insertTopLevelItem(0, row);
    }
    Tfrmdiary::FillRow(*row, day, Tfrmdiary::Summary(text), GlobalVars.UserName);
  }
  accept();
}
