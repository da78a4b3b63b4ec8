// The category window; see uItems.h.
#include "uItems.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "categories/uadditem.h"
#include "datadir.h"
#include "dbaccess/enginequery.h"
#include "gbktext.h"
#include "prompt.h"

namespace {

// Runs the three statements that swap the ids a and b through the free id, as one
// transaction: a failing statement rolls the earlier ones back, so no category is left at
// the free id and none has lost its number.
void SwapIds(int a, int b) {
  mt::TEngineQuery query;
  const auto run = [&query](const char* sql,
                            std::initializer_list<std::pair<const char*, int>> params) {
    query.SetDatabaseName(ToGbk(DataDirectory()));
    query.SetSQL(sql);
    for (const auto& [name, value] : params)
      query.ParamByName(name).SetAsInteger(value);
    query.ExecSQL();
  };
  run("START TRANSACTION", {});
  try {
    run("update Items set id=999999 where id=:a", {{"a", a}});
    run("update Items set id=:a where id=:b", {{"a", a}, {"b", b}});
    run("update Items set id=:b where id=999999", {{"b", b}});
    run("COMMIT", {});
  } catch (...) {
    try {
      run("ROLLBACK", {});
    } catch (...) {
      // The first failure is the one to report.
    }
    throw;
  }
}

}  // namespace

QString CategoryTypeName(long long type) {
  return type != 0 ? QStringLiteral("支出") : QStringLiteral("收入");
}

void SetUpCategoryList(QTreeWidget& list) {
  list.setRootIsDecorated(false);
  list.setItemsExpandable(false);
  list.setUniformRowHeights(true);
  list.setAllColumnsShowFocus(true);
  list.setSelectionMode(QAbstractItemView::SingleSelection);
  list.setSelectionBehavior(QAbstractItemView::SelectRows);
  list.setEditTriggers(QAbstractItemView::NoEditTriggers);
}

void LoadItemsList(QTreeWidget& list, std::string_view sql) {
  list.clear();
  mt::TEngineQuery query;
  query.SetDatabaseName(ToGbk(DataDirectory()));
  query.SetSQL(sql);
  query.Open();
  QList<QTreeWidgetItem*> rows;
  for (; !query.Eof(); query.Next()) {
    const int type = static_cast<int>(query.FieldByName("type").AsInteger());
    auto* row = new QTreeWidgetItem;
    row->setText(ItemsColumn::Name, FromGbk(query.FieldByName("name").AsString()));
    row->setText(ItemsColumn::TypeName, CategoryTypeName(type));
    row->setText(ItemsColumn::Description, FromGbk(query.FieldByName("description").AsString()));
    row->setText(ItemsColumn::Type, QString::number(type));
    row->setText(ItemsColumn::Id, QString::number(query.FieldByName("id").AsInteger()));
    rows << row;
  }
  query.Close();
  list.addTopLevelItems(rows);
}

TfrmItems::TfrmItems(QWidget* parent) : QDialog(parent), list_(new QTreeWidget(this)) {
  setObjectName("frmItems");
  setWindowTitle(QStringLiteral("收支分类项目"));

  list_->setObjectName("ListView1");
  list_->setColumnCount(ItemsColumn::Count);
  list_->setHeaderLabels({QStringLiteral("分类项目名称"), QStringLiteral("类型"),
                          QStringLiteral("说明"), QString(), QString()});
  list_->setColumnHidden(ItemsColumn::Type, true);
  list_->setColumnHidden(ItemsColumn::Id, true);
  list_->setColumnWidth(ItemsColumn::Name, 100);
  list_->setColumnWidth(ItemsColumn::TypeName, 80);
  SetUpCategoryList(*list_);
  list_->header()->setSectionsClickable(false);
  list_->header()->setSectionsMovable(false);
  list_->header()->setStretchLastSection(true);
  // Grid lines between the cells, as the list draws them.
  list_->setStyleSheet(
      "QTreeView::item { border-right: 1px solid #d8d8d8; border-bottom: 1px solid #d8d8d8; }");
  connect(list_, &QTreeWidget::itemDoubleClicked, this, [this] { ModifyItem(); });

  auto* buttons = new QVBoxLayout;
  const auto addButton = [this, buttons](const char* name, const QString& caption,
                                         void (TfrmItems::*handler)()) {
    auto* button = new QPushButton(caption, this);
    button->setObjectName(name);
    button->setAutoDefault(false);
    if (handler) connect(button, &QPushButton::clicked, this, handler);
    buttons->addWidget(button);
    return button;
  };
  addButton("btnAdd", QStringLiteral("增加"), &TfrmItems::AddItem);
  addButton("btnModify", QStringLiteral("修改"), &TfrmItems::ModifyItem);
  addButton("btnDelete", QStringLiteral("删除"), &TfrmItems::DeleteItem);
  buttons->addSpacing(12);
  addButton("btnUp", QStringLiteral("上移"), &TfrmItems::MoveUp);
  addButton("btnDown", QStringLiteral("下移"), &TfrmItems::MoveDown);
  buttons->addStretch(1);
  QPushButton* close = addButton("btnClose", QStringLiteral("关闭"), nullptr);
  connect(close, &QPushButton::clicked, this, &QDialog::accept);

  auto* layout = new QHBoxLayout(this);
  layout->addWidget(list_, 1);
  layout->addLayout(buttons);
  resize(470, 340);

  LoadItemsList(*list_);
}

QTreeWidgetItem* TfrmItems::SelectedRowOrWarn(const QString& warning) {
  QTreeWidgetItem* row = list_->currentItem();
  if (row && row->isSelected()) return row;
  Prompt().Message(this, TPrompt::TIcon::Warning, windowTitle(), warning);
  return nullptr;
}

void TfrmItems::AddItem() {
  TfrmAddItem dialog(*list_, this);
  dialog.setWindowTitle(QStringLiteral("新增收支项目"));
  dialog.SetAdding(true);
  dialog.exec();
}

void TfrmItems::ModifyItem() {
  QTreeWidgetItem* row = SelectedRowOrWarn(QStringLiteral("请选中要修改的收支项目."));
  if (!row) return;
  TfrmAddItem dialog(*list_, this);
  dialog.setWindowTitle(QStringLiteral("修改收支项目"));
  dialog.SetAdding(false);
  dialog.NameEdit()->setText(row->text(ItemsColumn::Name));
  dialog.DescriptionEdit()->setText(row->text(ItemsColumn::Description));
  const bool expense = row->text(ItemsColumn::Type) != QLatin1String("0");
  (expense ? dialog.ExpenseButton() : dialog.IncomeButton())->setChecked(true);
  dialog.SetItemId(row->text(ItemsColumn::Id).toInt());
  dialog.exec();
}

void TfrmItems::DeleteItem() {
  QTreeWidgetItem* row = SelectedRowOrWarn(QStringLiteral("请选中要删除的项目."));
  if (!row) return;
  if (!Prompt().Confirm(this, windowTitle(), QStringLiteral("确认要删除吗?"))) return;
  mt::TEngineQuery query;
  query.SetDatabaseName(ToGbk(DataDirectory()));
  query.SetSQL("delete from Items where id=:id");
  query.ParamByName("id").SetAsInteger(row->text(ItemsColumn::Id).toInt());
  query.ExecSQL();
  const int index = list_->indexOfTopLevelItem(row);
  delete row;
  const int count = list_->topLevelItemCount();
  if (count == 0) return;
  QTreeWidgetItem* next = list_->topLevelItem(index < count ? index : count - 1);
  list_->setCurrentItem(next);
  next->setSelected(true);
}

void TfrmItems::MoveUp() {
  Move(-1);
}

void TfrmItems::MoveDown() {
  Move(+1);
}

void TfrmItems::Move(int step) {
  QTreeWidgetItem* row = SelectedRowOrWarn(QStringLiteral("请选中需要调整的分类项目."));
  if (!row) return;
  const int index = list_->indexOfTopLevelItem(row);
  QTreeWidgetItem* neighbour = list_->topLevelItem(index + step);
  if (!neighbour) return;
  if (neighbour->text(ItemsColumn::TypeName) != row->text(ItemsColumn::TypeName)) return;
  const QString a = row->text(ItemsColumn::Id);
  const QString b = neighbour->text(ItemsColumn::Id);
  SwapIds(a.toInt(), b.toInt());
  // The rows change places; each keeps its texts and takes the other's id.
  neighbour->setText(ItemsColumn::Id, a);
  row->setText(ItemsColumn::Id, b);
  list_->takeTopLevelItem(index);
  list_->insertTopLevelItem(index + step, row);
  list_->setCurrentItem(row);
  row->setSelected(true);
}
