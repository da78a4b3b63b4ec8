// The diary window; see udiary.h.
#include "udiary.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QShowEvent>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "datadir.h"
#include "dbaccess/enginequery.h"
#include "diary/uadddiary.h"
#include "gbktext.h"
#include "globals.h"
#include "prompt.h"

namespace {

bool IsGbkLeadByte(unsigned char b) {
  return b >= 0x81 && b <= 0xFE;
}

}  // namespace

QString Tfrmdiary::Summary(std::string_view gbkContents) {
  std::size_t end = 0;
  while (end < gbkContents.size()) {
    const bool pair =
        IsGbkLeadByte(static_cast<unsigned char>(gbkContents[end])) && end + 1 < gbkContents.size();
    const std::size_t next = end + (pair ? 2 : 1);
    if (next > static_cast<std::size_t>(kSummaryBytes)) break;
    end = next;
  }
  return FromGbk(gbkContents.substr(0, end)) + QStringLiteral("...");
}

Tfrmdiary::Tfrmdiary(QWidget* parent) : QWidget(parent) {
  setObjectName("frmdiary");
  setWindowTitle(QStringLiteral("理财日记"));

  auto* bar = new QWidget(this);
  bar->setObjectName("Panel1");
  auto* barLayout = new QHBoxLayout(bar);
  barLayout->setContentsMargins(4, 4, 4, 4);
  const auto button = [bar, barLayout](const char* name, const QString& caption) {
    auto* b = new QPushButton(caption, bar);
    b->setObjectName(name);
    b->setAutoDefault(false);
    barLayout->addWidget(b);
    return b;
  };
  write_ = button("btnWrite", QStringLiteral("写日记"));
  change_ = button("btnEdit", QStringLiteral("修改"));
  delete_ = button("btnDelete", QStringLiteral("删除"));
  barLayout->addStretch(1);

  list_ = new QTreeWidget(this);
  list_->setObjectName("ListView1");
  list_->setColumnCount(4);
  list_->setHeaderLabels(
      {QStringLiteral("日期"), QStringLiteral("概要"), QStringLiteral("作者"), QString()});
  list_->setRootIsDecorated(false);
  list_->setAllColumnsShowFocus(true);
  list_->setSelectionBehavior(QAbstractItemView::SelectRows);
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list_->setStyleSheet(QStringLiteral(
      "QTreeWidget::item { border-right: 1px solid #d0d0d0; border-bottom: 1px solid #d0d0d0; }"));
  QHeaderView* header = list_->header();
  header->setSectionsClickable(false);
  header->setStretchLastSection(false);
  header->setSectionResizeMode(kSummaryColumn, QHeaderView::Stretch);
  list_->setColumnWidth(kDateColumn, 100);
  list_->setColumnWidth(kUserColumn, 100);
  list_->setColumnHidden(kFormattedDateColumn, true);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(bar);
  layout->addWidget(list_, 1);

  connect(write_, &QPushButton::clicked, this, &Tfrmdiary::WriteClick);
  connect(change_, &QPushButton::clicked, this, &Tfrmdiary::ChangeClick);
  connect(delete_, &QPushButton::clicked, this, &Tfrmdiary::DeleteClick);
  connect(list_, &QTreeWidget::itemDoubleClicked, this, &Tfrmdiary::ChangeClick);
}

void Tfrmdiary::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (!event->spontaneous()) LoadList();
}

void Tfrmdiary::FillRow(QTreeWidgetItem& row, const QDate& day, const QString& summary,
                        const QString& user) {
  row.setText(kDateColumn, day.toString(QStringLiteral("yyyy-MM-dd")));
  row.setText(kSummaryColumn, summary);
  row.setText(kUserColumn, user);
  row.setText(kFormattedDateColumn, day.toString(GlobalVars.DateFormat));
}

void Tfrmdiary::LoadList() {
  list_->clear();
  mt::TEngineQuery query;
  query.SetDatabaseName(ToGbk(DataDirectory()));
  query.SetSQL(kListSql);
  query.Open();
  QList<QTreeWidgetItem*> rows;
  for (; !query.Eof(); query.Next()) {
    auto* row = new QTreeWidgetItem;
    const QDate day =
        QDate::fromString(QString::fromLatin1(query.FieldByName("date").AsString()), "yyyy-MM-dd");
    FillRow(*row, day, Summary(query.FieldByName("Contents").AsString()),
            FromGbk(query.FieldByName("user").AsString()));
    rows << row;
  }
  list_->addTopLevelItems(rows);
}

void Tfrmdiary::WriteClick() {
  TfrmAdddiary dialog(list_, this);
  dialog.exec();
}

void Tfrmdiary::ChangeClick() {
  QTreeWidgetItem* row = list_->currentItem();
  if (row == nullptr || !row->isSelected()) {
    Prompt().Message(this, TPrompt::TIcon::Information, windowTitle(),
                     QStringLiteral("还没选择要修改哪个哦."));
    return;
  }
  TfrmAdddiary dialog(list_, this);
  // The caption holds the same day as the hidden column, in a form that reads back whatever
  // the user's date format (a two-digit year would not).
  dialog.SetPickedDay(QDate::fromString(row->text(kDateColumn), QStringLiteral("yyyy-MM-dd")));
  dialog.DayChanged();
  dialog.exec();
}

void Tfrmdiary::DeleteClick() {
  if (!Prompt().Confirm(this, windowTitle(), QStringLiteral("确认要删除吗?"))) return;
  QTreeWidgetItem* row = list_->currentItem();
  if (row == nullptr || !row->isSelected()) {
    Prompt().Message(this, TPrompt::TIcon::Information, windowTitle(),
                     QStringLiteral("没选中,所以删不掉,哈哈."));
    return;
  }
  mt::TEngineQuery query;
  query.SetDatabaseName(ToGbk(DataDirectory()));
  query.SetSQL(kDeleteSql);
  query.ParamByName("date").SetAsString(ToGbk(row->text(kDateColumn)));
  query.ExecSQL();
  const int index = list_->indexOfTopLevelItem(row);
  delete list_->takeTopLevelItem(index);
  const int count = list_->topLevelItemCount();
  if (count > 0) {
    QTreeWidgetItem* next = list_->topLevelItem(index < count ? index : count - 1);
    list_->setCurrentItem(next);
    next->setSelected(true);
  }
}
