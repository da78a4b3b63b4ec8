// The sign-in dialog; see ulogin.h.
#include "ulogin.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include "accountsdata.h"
#include "gbktext.h"
#include "globals.h"

using mt::accounts::UseDataDirectory;

namespace {

// The look-ups, with the typed values as parameters.
constexpr char kAllAccountsSql[] = "select * from User";
constexpr char kRememberedSql[] = "select * from system where name=:key";
constexpr char kSignInSql[] = "select * from User where name=:name and password=:password";
constexpr char kForgetSql[] = "delete from system where name =:key";

}  // namespace

Tfrmlogin::Tfrmlogin(QWidget* parent) : QDialog(parent) {
  setObjectName("frmlogin");
  setWindowTitle(QStringLiteral("登录"));
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);

  ComboBox1 = new QComboBox(this);
  ComboBox1->setObjectName("ComboBox1");
  ComboBox1->setEditable(false);
  ComboBox1->setMinimumWidth(160);
  Edit1 = new QLineEdit(this);
  Edit1->setObjectName("Edit1");
  Edit1->setEchoMode(QLineEdit::Password);
  Edit1->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));  // "*"
  Edit1->setMaxLength(32767);                                               // no limit of its own
  CheckBox1 = new QCheckBox(QStringLiteral("下次自动记住密码"), this);
  CheckBox1->setObjectName("CheckBox1");
  BitBtn1 = new QPushButton(QStringLiteral("登录"), this);
  BitBtn1->setObjectName("BitBtn1");
  BitBtn1->setDefault(true);
  BitBtn2 = new QPushButton(QStringLiteral("取消"), this);
  BitBtn2->setObjectName("BitBtn2");
  BitBtn2->setAutoDefault(false);

  auto* fields = new QGridLayout;
  fields->addWidget(new QLabel(QStringLiteral("用户:"), this), 0, 0);
  fields->addWidget(ComboBox1, 0, 1);
  fields->addWidget(new QLabel(QStringLiteral("密码:"), this), 1, 0);
  fields->addWidget(Edit1, 1, 1);
  fields->addWidget(CheckBox1, 2, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(BitBtn1);
  buttons->addWidget(BitBtn2);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(fields);
  layout->addSpacing(6);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  connect(BitBtn1, &QPushButton::clicked, this, &Tfrmlogin::BitBtn1Click);
  connect(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);

  FillAccounts();
  if (ComboBox1->count() > 0) ComboBox1->setCurrentIndex(0);
  FillRememberedPassword(ComboBox1->currentText());
}

Tfrmlogin::~Tfrmlogin() = default;

void Tfrmlogin::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // Centred on the desktop, also when the main window owns it.
  if (QScreen* screen = this->screen()) {
    QRect frame = frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
  }
  Edit1->setFocus();
}

void Tfrmlogin::FillAccounts() {
  UseDataDirectory(query_);
  query_.SetSQL(kAllAccountsSql);
  query_.Open();
  // The rows' own order: the table's natural order, no sort asked for.
  for (; !query_.Eof(); query_.Next())
    ComboBox1->addItem(FromGbk(query_.FieldByName("name").AsString()));
  query_.Close();
}

void Tfrmlogin::FillRememberedPassword(const QString& name) {
  UseDataDirectory(query_);
  query_.SetSQL(kRememberedSql);
  query_.ParamByName("key").SetAsString(ToGbk(RememberedKey(name)));
  query_.Open();
  if (!query_.Eof()) {
    Edit1->setText(FromGbk(query_.FieldByName("value").AsString()));
    CheckBox1->setChecked(true);
  }
  query_.Close();
}

bool Tfrmlogin::PasswordMatches(const QString& name, const QString& password) {
  // The tables keep no trailing blanks of a text, so a password saved as " pw " is held as
  // " pw": compare what the table can hold, or such an account could never sign in.
  QString held = password;
  while (held.endsWith(u' '))
    held.chop(1);
  UseDataDirectory(query_);
  query_.SetSQL(kSignInSql);
  query_.ParamByName("name").SetAsString(ToGbk(name));
  query_.ParamByName("password").SetAsString(ToGbk(held));
  query_.Open();
  const bool found = !query_.Eof();
  query_.Close();
  return found;
}

void Tfrmlogin::RememberPassword(const QString& name, const QString& password) {
  mt::accounts::WithTable(table_, "system", [&] {
    // A key differing only in letter case is the same remembered password: update it.
    const std::string key = ToGbk(RememberedKey(name));
    if (table_.Locate("name", key, {.caseInsensitive = true})) {
      table_.Edit();
    } else {
      table_.Append();
      table_.FieldByName("name").SetAsString(key);
    }
    table_.FieldByName("value").SetAsString(ToGbk(password));
    table_.Post();
  });
}

void Tfrmlogin::ForgetPassword(const QString& name) {
  UseDataDirectory(query_);
  query_.SetSQL(kForgetSql);
  query_.ParamByName("key").SetAsString(ToGbk(RememberedKey(name)));
  query_.ExecSQL();
}

void Tfrmlogin::BitBtn1Click() {
  const QString name = ComboBox1->currentText();
  const QString password = Edit1->text();
  if (!PasswordMatches(name, password)) {
    mt::accounts::Warn(this, QStringLiteral("密码不对哦,是不是输入错了呢?"));
    Edit1->setFocus();
    return;
  }
  GlobalVars.UserName = name;
  if (CheckBox1->isChecked())
    RememberPassword(name, password);
  else
    ForgetPassword(name);
  accept();
}
