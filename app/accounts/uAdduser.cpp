// The account dialog; see uAdduser.h.
#include "uAdduser.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "accountsdata.h"
#include "gbktext.h"
#include "uUser.h"

using mt::accounts::Warn;

namespace {

constexpr int kFieldLength = 15;

QLineEdit* Field(QWidget* parent, const char* name, bool masked) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(name);
  edit->setMaxLength(kFieldLength);
  if (masked) {
    edit->setEchoMode(QLineEdit::Password);
    edit->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));  // "*"
  }
  return edit;
}

}  // namespace

TfrmAdduser::TfrmAdduser(QWidget* parent) : QDialog(parent) {
  setObjectName("frmAdduser");
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);

  Edit1 = Field(this, "Edit1", false);
  Edit2 = Field(this, "Edit2", false);
  Edit3 = Field(this, "Edit3", true);
  Edit4 = Field(this, "Edit4", true);
  auto* saveAndNew = new QPushButton(QStringLiteral("保存并新添"), this);
  saveAndNew->setObjectName("BitBtn4");
  saveAndNew->setDefault(true);
  auto* saveAndClose = new QPushButton(QStringLiteral("保存并关闭"), this);
  saveAndClose->setObjectName("BitBtn2");
  saveAndClose->setAutoDefault(false);
  auto* close = new QPushButton(QStringLiteral("关闭"), this);
  close->setObjectName("BitBtn1");
  close->setAutoDefault(false);
  connect(saveAndNew, &QPushButton::clicked, this, &TfrmAdduser::BitBtn4Click);
  connect(saveAndClose, &QPushButton::clicked, this, &TfrmAdduser::BitBtn2Click);
  connect(close, &QPushButton::clicked, this, &QDialog::reject);

  auto* fields = new QGridLayout;
  const QString labels[] = {QStringLiteral("用户名:"), QStringLiteral("全名:"),
                            QStringLiteral("密码:"), QStringLiteral("请再输入一遍密码::")};
  QLineEdit* edits[] = {Edit1, Edit2, Edit3, Edit4};
  for (int i = 0; i < 4; ++i) {
    fields->addWidget(new QLabel(labels[i], this), i, 0, Qt::AlignRight);
    fields->addWidget(edits[i], i, 1);
  }
  fields->setColumnMinimumWidth(1, 170);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(saveAndNew);
  buttons->addWidget(saveAndClose);
  buttons->addWidget(close);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(fields);
  layout->addSpacing(6);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

TfrmAdduser::~TfrmAdduser() = default;

void TfrmAdduser::Fill(const QString& name, const QString& fullName, const QString& password) {
  Edit1->setText(name);
  Edit2->setText(fullName);
  Edit3->setText(password);
  Edit4->setText(password);
  oldName_ = name;
}

void TfrmAdduser::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (adding_) ClearFields();
}

void TfrmAdduser::ClearFields() {
  Edit1->clear();
  Edit2->clear();
  Edit3->clear();
  Edit4->clear();
}

bool TfrmAdduser::Save() {
  if (Edit1->text().trimmed().isEmpty()) {
    Warn(this, QStringLiteral("用户名不能为空."));
    Edit1->setFocus();
    return false;
  }
  if (Edit3->text().trimmed().isEmpty()) {
    Warn(this, QStringLiteral("密码不能为空."));
    Edit3->setFocus();
    return false;
  }
  if (Edit3->text() != Edit4->text()) {
    Warn(this, QStringLiteral("密码不一致，请修改."));
    failed_ = true;
    Edit4->setFocus();
    return false;
  }
  failed_ = false;
  failed_ = !WriteAccount();
  return !failed_;
}

bool TfrmAdduser::WriteAccount() {
  const QString name = Edit1->text().trimmed();
  bool refused = false;
  bool written = false;
  mt::accounts::WithTable(table_, "User", [&] {
    if (adding_) {
      if (table_.Locate("name", ToGbk(name), {.caseInsensitive = true})) {
        refused = true;
        return;
      }
      table_.Append();
    } else if (table_.Locate("name", ToGbk(oldName_), {.caseInsensitive = true})) {
      table_.Edit();
    } else {
      return;  // the account went meanwhile: nothing to change, and not a refusal
    }
    table_.FieldByName("name").SetAsString(ToGbk(name));
    table_.FieldByName("fullname").SetAsString(ToGbk(Edit2->text()));
    table_.FieldByName("password").SetAsString(ToGbk(Edit3->text()));
    table_.Post();
    written = true;
  });
  if (refused) {
    Warn(this, Edit1->text() + QStringLiteral(" 已经存在了，请修改用户名。"));
    Edit1->setFocus();
    return false;
  }
  if (!written) return true;

  if (TfrmUser* users = TfrmUser::ApplicationWindow()) users->FillList();
  adding_ = true;  // a further save adds the next account
  return true;
}

void TfrmAdduser::BitBtn4Click() {
  if (Save()) ClearFields();
}

void TfrmAdduser::BitBtn2Click() {
  if (Save()) accept();
}
