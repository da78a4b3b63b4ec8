// The category dialog; see uadditem.h.
#include "uadditem.h"

#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "categories/uItems.h"
#include "datadir.h"
#include "dbaccess/enginequery.h"
#include "dbaccess/enginetable.h"
#include "gbktext.h"
#include "prompt.h"

TfrmAddItem::TfrmAddItem(QTreeWidget& list, QWidget* parent)
    : QDialog(parent),
      list_(list),
      edtName_(new QLineEdit(this)),
      edtDescription_(new QLineEdit(this)),
      rbIncome_(new QRadioButton(QStringLiteral("收入"), this)),
      rbExpense_(new QRadioButton(QStringLiteral("支出"), this)) {
  setObjectName("frmAddItem");
  setWindowTitle(QStringLiteral("收支项目"));
  edtName_->setObjectName("Edit1");
  edtDescription_->setObjectName("Edit2");
  rbIncome_->setObjectName("RadioButton1");
  rbExpense_->setObjectName("RadioButton2");
  rbIncome_->setChecked(true);

  auto* fields = new QFormLayout;
  fields->addRow(QStringLiteral("收支项目名称:"), edtName_);
  fields->addRow(QStringLiteral("说                  明:"), edtDescription_);

  auto* group = new QGroupBox(QStringLiteral("类别"), this);
  group->setObjectName("GroupBox1");
  auto* choices = new QHBoxLayout(group);
  choices->addWidget(rbIncome_);
  choices->addWidget(rbExpense_);
  // A parent choice exists in the form but is never offered: every category is top level.
  auto* rbParent = new QRadioButton(QStringLiteral("从属于:"), group);
  rbParent->setObjectName("RadioButton3");
  auto* parents = new QComboBox(group);
  parents->setObjectName("ComboBox1");
  rbParent->hide();
  parents->hide();
  choices->addStretch(1);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  const auto addButton = [this, buttons](const char* name, const QString& caption) {
    auto* button = new QPushButton(caption, this);
    button->setObjectName(name);
    buttons->addWidget(button);
    return button;
  };
  QPushButton* saveAndNew = addButton("BitBtn1", QStringLiteral("保存并新添"));
  QPushButton* saveAndClose = addButton("BitBtn2", QStringLiteral("保存并关闭"));
  QPushButton* cancel = addButton("BitBtn3", QStringLiteral("取消并关闭"));
  saveAndNew->setDefault(true);
  saveAndClose->setAutoDefault(false);
  cancel->setAutoDefault(false);
  connect(saveAndNew, &QPushButton::clicked, this, &TfrmAddItem::SaveAndNew);
  connect(saveAndClose, &QPushButton::clicked, this, &TfrmAddItem::SaveAndClose);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(fields);
  layout->addWidget(group);
  layout->addLayout(buttons);
  resize(380, 190);
}

void TfrmAddItem::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!adding_) return;
  edtName_->clear();
  edtDescription_->clear();
  rbIncome_->setChecked(true);
}

void TfrmAddItem::SaveAndNew() {
  if (!Save()) return;
  edtName_->clear();
  edtDescription_->clear();
}

void TfrmAddItem::SaveAndClose() {
  if (Save()) accept();
}

bool TfrmAddItem::Save() {
  if (edtName_->text().trimmed().isEmpty()) {
    Prompt().Message(this, TPrompt::TIcon::Warning, windowTitle(),
                     QStringLiteral("收支项目名称不能为空."));
    edtName_->setFocus();
    return false;
  }
  const std::string directory = ToGbk(DataDirectory());
  int64_t lastId = 0;
  {
    mt::TEngineQuery query;
    query.SetDatabaseName(directory);
    query.SetSQL("select * from Items order by id");
    query.Open();
    query.Last();
    if (!query.IsEmpty()) lastId = query.FieldByName("id").AsInteger();
    query.Close();
  }
  {
    mt::TEngineTable items;
    items.SetDatabaseName(directory);
    items.SetTableName("Items");
    items.Open();
    if (adding_) {
      items.Append();
      items.FieldByName("id").SetAsInteger(lastId + 1);
    } else {
      mt::TLocateOptions options;
      options.caseInsensitive = true;
      // A category that vanished meanwhile is not written again.
      if (!items.Locate("id", mt::TVariant(itemId_), options)) return true;
      items.Edit();
    }
    items.FieldByName("name").SetAsString(ToGbk(edtName_->text()));
    items.FieldByName("description").SetAsString(ToGbk(edtDescription_->text()));
    if (rbIncome_->isChecked()) items.FieldByName("type").SetAsInteger(0);
    if (rbExpense_->isChecked()) items.FieldByName("type").SetAsInteger(1);
    items.FieldByName("parent").SetAsInteger(-1);
    items.Post();
  }
  LoadItemsList(list_);
  adding_ = true;
  return true;
}
