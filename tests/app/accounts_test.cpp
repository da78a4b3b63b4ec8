// Sign-in and user accounts on the sample data: the remembered password and Enter, switching
// accounts, remembering and forgetting, the letter-case variant of a remembered key; typed
// names and passwords compared as values (quotes, column names, statement text); the user list,
// the keep-one rule, the account dialog's checks, trimming and duplicates, changing, and the
// selection after a deletion.
#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTableWidget>
#include <QTest>

#include <utility>

#include "accounts/uAdduser.h"
#include "accounts/uUser.h"
#include "accounts/ulogin.h"
#include "apptests.h"
#include "datadir.h"
#include "dbaccess/enginetable.h"
#include "fixture.h"
#include "gbktext.h"
#include "globals.h"

using mt::apptest::OpenTable;
using mt::apptest::TAppFixture;
using mt::apptest::TModalAnswerer;
using TMessage = mt::apptest::TRecordingPrompt::TMessage;

namespace {

const QString kWrongPassword = QStringLiteral("密码不对哦,是不是输入错了呢?");

// The rows of a table, each its columns' texts joined by "|", in the table's order.
QStringList Rows(const char* table, std::initializer_list<const char*> columns) {
  QStringList rows;
  auto t = OpenTable(table);
  for (; !t->Eof(); t->Next()) {
    QStringList values;
    for (const char* c : columns)
      values << FromGbk(t->FieldByName(c).AsString());
    rows << values.join('|');
  }
  return rows;
}

QStringList Accounts() {
  return Rows("User", {"name", "fullname", "password"});
}
QStringList Remembered() {
  return Rows("system", {"name", "value"});
}

void AddRow(const char* table, std::initializer_list<std::pair<const char*, QString>> values) {
  auto t = OpenTable(table);
  t->Append();
  for (const auto& [column, value] : values)
    t->FieldByName(column).SetAsString(ToGbk(value));
  t->Post();
}

void AddAccount(const QString& name, const QString& password) {
  AddRow("User", {{"name", name}, {"fullname", ""}, {"password", password}});
}

// Removes accounts straight from the table (not through the windows under test).
void RemoveAccounts(const QStringList& names) {
  auto t = OpenTable("User");
  while (!t->Eof()) {
    if (names.contains(FromGbk(t->FieldByName("name").AsString())))
      t->Delete();
    else
      t->Next();
  }
}

template <class T>
T& Child(QWidget& parent, const char* name) {
  T* child = parent.findChild<T*>(name);
  if (!child) qFatal("no control %s in %s", name, qPrintable(parent.objectName()));
  return *child;
}

QStringList Texts(const QComboBox& box) {
  QStringList texts;
  for (int i = 0; i < box.count(); ++i)
    texts << box.itemText(i);
  return texts;
}

QStringList ListRows(QTableWidget& list) {
  QStringList rows;
  for (int r = 0; r < list.rowCount(); ++r)
    rows << list.item(r, 0)->text() + '|' + list.item(r, 1)->text();
  return rows;
}

int SelectedRow(QTableWidget& list) {
  const QList<QTableWidgetSelectionRange> ranges = list.selectedRanges();
  return ranges.size() == 1 && ranges[0].rowCount() == 1 ? ranges[0].topRow() : -1;
}

QStringList Warnings(const QList<TMessage>& messages) {
  QStringList texts;
  for (const TMessage& m : messages)
    texts << (m.icon == TPrompt::TIcon::Warning ? m.text : "not a warning: " + m.text);
  return texts;
}

// The sign-in dialog with its controls.
struct TSignIn {
  Tfrmlogin dialog;
  QComboBox& account = Child<QComboBox>(dialog, "ComboBox1");
  QLineEdit& password = Child<QLineEdit>(dialog, "Edit1");
  QCheckBox& remember = Child<QCheckBox>(dialog, "CheckBox1");
  QPushButton& signIn = Child<QPushButton>(dialog, "BitBtn1");
  QPushButton& cancel = Child<QPushButton>(dialog, "BitBtn2");

  TSignIn() { dialog.show(); }
  void Pick(const QString& name) { account.setCurrentIndex(account.findText(name)); }
  bool SignedIn() const { return dialog.result() == QDialog::Accepted && !dialog.isVisible(); }
};

}  // namespace

class TSignInTest : public QObject {
  Q_OBJECT
 private:
  std::unique_ptr<TAppFixture> fixture_;
  QList<TMessage>& Messages() { return fixture_->prompt.messages; }

 private Q_SLOTS:
  // Nobody signed in yet, as at start-up.
  void init() { fixture_ = std::make_unique<TAppFixture>(QString()); }
  void cleanup() { fixture_.reset(); }

  void rememberedPasswordIsFilledAndEnterSignsIn() {
    TSignIn s;
    QCOMPARE(s.dialog.windowTitle(), QString("登录"));
    QCOMPARE(Texts(s.account), (QStringList{"admin", "张三", "tom"}));
    QVERIFY(!s.account.isEditable());
    QCOMPARE(s.account.currentText(), QString("admin"));
    QCOMPARE(s.password.text(), QString("admin"));
    QCOMPARE(s.password.echoMode(), QLineEdit::Password);
    QVERIFY(s.remember.isChecked());
    QCOMPARE(s.remember.text(), QString("下次自动记住密码"));
    QCOMPARE(s.dialog.focusWidget(), &s.password);
    QVERIFY(s.signIn.isDefault());

    QTest::keyClick(&s.password, Qt::Key_Return);
    QVERIFY(s.SignedIn());
    QCOMPARE(GlobalVars.UserName, QString("admin"));
    QVERIFY(Messages().isEmpty());
    QCOMPARE(Remembered(), QStringList{"pass_admin|admin"});
  }

  void escapeAndCancelStoreNothing() {
    for (bool escape : {true, false}) {
      TSignIn s;
      s.password.setText("admin");
      if (escape)
        QTest::keyClick(&s.password, Qt::Key_Escape);
      else
        s.cancel.click();
      QCOMPARE(s.dialog.result(), int(QDialog::Rejected));
      QVERIFY(!s.dialog.isVisible());
      QCOMPARE(GlobalVars.UserName, QString());
    }
  }

  void switchingAccountKeepsTheBoxTextSoTheSignInFails() {
    TSignIn s;
    s.Pick("张三");
    QCOMPARE(s.password.text(), QString("admin"));
    QVERIFY(s.remember.isChecked());
    s.signIn.click();
    QCOMPARE(Warnings(Messages()), QStringList{kWrongPassword});
    QVERIFY(s.dialog.isVisible());
    QCOMPARE(s.dialog.focusWidget(), &s.password);
    QCOMPARE(GlobalVars.UserName, QString());
    QCOMPARE(Remembered(), QStringList{"pass_admin|admin"});

    // Another try with the right password: signed in and remembered for that account.
    s.password.setText("zs2004");
    s.signIn.click();
    QVERIFY(s.SignedIn());
    QCOMPARE(GlobalVars.UserName, QString("张三"));
    QCOMPARE(Remembered(), (QStringList{"pass_admin|admin", "pass_张三|zs2004"}));
    // Only the first account's remembered password fills the next dialog.
    TSignIn next;
    QCOMPARE(next.account.currentText(), QString("admin"));
    QCOMPARE(next.password.text(), QString("admin"));
  }

  void untickedSignInForgetsThePassword() {
    {
      TSignIn s;
      s.remember.setChecked(false);
      QTest::keyClick(&s.password, Qt::Key_Return);
      QVERIFY(s.SignedIn());
      QCOMPARE(Remembered(), QStringList());
    }
    TSignIn next;
    QCOMPARE(next.password.text(), QString());
    QVERIFY(!next.remember.isChecked());
  }

  void letterCaseVariantOfTheRememberedKeyIsUpdated() {
    AddRow("system", {{"name", "PASS_TOM"}, {"value", "old"}});
    TSignIn s;
    s.Pick("tom");
    s.password.setText("tom");
    s.signIn.click();
    QVERIFY(s.SignedIn());
    QCOMPARE(Remembered(), (QStringList{"pass_admin|admin", "PASS_TOM|tom"}));
  }

  void emptyAccountListSignsNobodyIn() {
    RemoveAccounts({"admin", "张三", "tom"});
    TSignIn s;
    QCOMPARE(s.account.count(), 0);
    QCOMPARE(s.password.text(), QString());
    s.password.setText("admin");
    s.signIn.click();
    QCOMPARE(Warnings(Messages()), QStringList{kWrongPassword});
    QVERIFY(s.dialog.isVisible());
  }

  // Names and passwords are values, whatever they hold.
  void typedTextIsComparedAsTyped_data() {
    QTest::addColumn<QString>("account");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("signsIn");
    QTest::newRow("quote in name and password") << "o'brien"
                                                << "it's"
                                                << "it's" << true;
    QTest::newRow("wrong password beside a quote") << "o'brien"
                                                   << "it's"
                                                   << "its" << false;
    QTest::newRow("double quotes") << "say\"hi"
                                   << "a\"b"
                                   << "a\"b" << true;
    QTest::newRow("password typed as password") << "admin"
                                                << "admin"
                                                << "password" << false;
    QTest::newRow("password typed as name") << "admin"
                                            << "admin"
                                            << "name" << false;
    QTest::newRow("statement text") << "admin"
                                    << "admin"
                                    << "' or '1'='1" << false;
    QTest::newRow("letter case differs") << "admin"
                                         << "admin"
                                         << "ADMIN" << false;
    QTest::newRow("empty password") << "admin"
                                    << "admin"
                                    << "" << false;
    QTest::newRow("Chinese name") << "张三"
                                  << "zs2004"
                                  << "zs2004" << true;
    QTest::newRow("blanks around the password") << "blank"
                                                << " pw "
                                                << " pw " << true;
    QTest::newRow("leading blank left out") << "blank"
                                            << " pw "
                                            << "pw " << false;
  }
  void typedTextIsComparedAsTyped() {
    QFETCH(QString, account);
    QFETCH(QString, stored);
    QFETCH(QString, typed);
    QFETCH(bool, signsIn);
    if (!Accounts().join('\n').contains(account + '|')) AddAccount(account, stored);
    TSignIn s;
    s.Pick(account);
    QCOMPARE(s.account.currentText(), account);
    s.password.setText(typed);
    s.signIn.click();
    QCOMPARE(s.SignedIn(), signsIn);
    if (signsIn) {
      QCOMPARE(GlobalVars.UserName, account);
      // Remembered as typed, but for trailing blanks, which no table text keeps.
      const QString held = QString(typed).remove(QRegularExpression(" +$"));
      QVERIFY(Remembered().contains("pass_" + account + '|' + held));
    } else {
      QCOMPARE(Warnings(Messages()), QStringList{kWrongPassword});
      QCOMPARE(GlobalVars.UserName, QString());
    }
  }

  void rememberedPasswordOfANameWithQuotesIsFound() {
    {
      auto users = OpenTable("User");
      users->Edit();
      users->FieldByName("name").SetAsString("a\"b'c");
      users->Post();
    }
    AddRow("system", {{"name", "pass_a\"b'c"}, {"value", "x'y\"z"}});
    TSignIn s;
    QCOMPARE(s.account.currentText(), QString("a\"b'c"));
    QCOMPARE(s.password.text(), QString("x'y\"z"));
    QVERIFY(s.remember.isChecked());
  }
};

class TUsersTest : public QObject {
  Q_OBJECT
 private:
  std::unique_ptr<TAppFixture> fixture_;
  std::unique_ptr<TfrmUser> users_;
  QList<TMessage>& Messages() { return fixture_->prompt.messages; }
  QTableWidget& List() { return Child<QTableWidget>(*users_, "ListView1"); }
  void Click(const char* button) { Child<QPushButton>(*users_, button).click(); }

  // An account dialog owned by the window, as its buttons make it.
  std::unique_ptr<TfrmAdduser> AccountDialog(bool adding) {
    auto dialog = std::make_unique<TfrmAdduser>(users_.get());
    dialog->SetAdding(adding);
    if (!adding) dialog->Fill("tom", "Tom's book", "tom");
    dialog->show();
    return dialog;
  }
  static void Type(TfrmAdduser& d, const QString& name, const QString& fullName,
                   const QString& password, const QString& again) {
    Child<QLineEdit>(d, "Edit1").setText(name);
    Child<QLineEdit>(d, "Edit2").setText(fullName);
    Child<QLineEdit>(d, "Edit3").setText(password);
    Child<QLineEdit>(d, "Edit4").setText(again);
  }
  static QStringList Fields(TfrmAdduser& d) {
    QStringList texts;
    for (const char* name : {"Edit1", "Edit2", "Edit3", "Edit4"})
      texts << Child<QLineEdit>(d, name).text();
    return texts;
  }

  const QStringList kSampleAccounts{"admin|admin|admin", "张三|家庭主账户|zs2004",
                                    "tom|Tom's book|tom"};

 private Q_SLOTS:
  void init() {
    fixture_ = std::make_unique<TAppFixture>();
    users_ = std::make_unique<TfrmUser>();
    users_->show();
  }
  void cleanup() {
    users_.reset();
    fixture_.reset();
  }

  void listShowsEveryAccountAndIsReadAfreshOnEachShowing() {
    QCOMPARE(users_->windowTitle(), QString("用户管理"));
    QCOMPARE(TfrmUser::ApplicationWindow(), users_.get());
    QTableWidget& list = List();
    QCOMPARE(list.horizontalHeaderItem(0)->text(), QString("用户名"));
    QCOMPARE(list.horizontalHeaderItem(1)->text(), QString("说明"));
    QCOMPARE(list.columnWidth(0), 100);
    QVERIFY(!list.horizontalHeader()->sectionsClickable());
    QCOMPARE(list.selectionMode(), QAbstractItemView::SingleSelection);
    QCOMPARE(list.selectionBehavior(), QAbstractItemView::SelectRows);
    QCOMPARE(list.editTriggers(), QAbstractItemView::NoEditTriggers);
    QCOMPARE(ListRows(list), (QStringList{"admin|admin", "张三|家庭主账户", "tom|Tom's book"}));

    AddAccount("jerry", "j");
    users_->hide();
    users_->show();
    QCOMPARE(ListRows(List()).last(), QString("jerry|"));
    Click("BitBtn1");
    QCOMPARE(users_->result(), int(QDialog::Accepted));
    QVERIFY(!users_->isVisible());
  }

  void changingOrDeletingNeedsASelectedRow_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("warning");
    QTest::newRow("修改") << "BitBtn2"
                          << "请选中要修改的用户.";
    QTest::newRow("删除") << "BitBtn3"
                          << "请选中要删除的用户.";
  }
  void changingOrDeletingNeedsASelectedRow() {
    QFETCH(QString, button);
    QFETCH(QString, warning);
    TModalAnswerer answerer;
    Click(button.toLatin1().constData());
    QCOMPARE(Warnings(Messages()), QStringList{warning});
    QCOMPARE(answerer.seen, QStringList());
    QVERIFY(fixture_->prompt.confirmations.isEmpty());
  }

  void theLastAccountIsKeptAfterTheQuestion_data() {
    QTest::addColumn<bool>("confirmed");
    QTest::newRow("confirmed") << true;
    QTest::newRow("cancelled") << false;
  }
  void theLastAccountIsKeptAfterTheQuestion() {
    QFETCH(bool, confirmed);
    RemoveAccounts({"张三", "tom"});
    users_->hide();
    users_->show();
    List().selectRow(0);
    fixture_->prompt.confirmAnswer = confirmed;
    Click("BitBtn3");
    QCOMPARE(fixture_->prompt.confirmations, QStringList{"确认要删除吗?"});
    QCOMPARE(Warnings(Messages()),
             confirmed ? QStringList{"至少要保留一个用户，否则下次无法登录了阿."} : QStringList());
    QCOMPARE(Accounts(), QStringList{"admin|admin|admin"});
    QCOMPARE(ListRows(List()), QStringList{"admin|admin"});
  }

  void deletingSelectsTheRowThatTookItsPlaceOrTheNewLast() {
    List().selectRow(1);
    Click("BitBtn3");
    QCOMPARE(ListRows(List()), (QStringList{"admin|admin", "tom|Tom's book"}));
    QCOMPARE(SelectedRow(List()), 1);
    QCOMPARE(Accounts(), (QStringList{"admin|admin|admin", "tom|Tom's book|tom"}));

    Click("BitBtn3");  // the last row
    QCOMPARE(ListRows(List()), QStringList{"admin|admin"});
    QCOMPARE(SelectedRow(List()), 0);
    QCOMPARE(Accounts(), QStringList{"admin|admin|admin"});
    // The remembered password stays, and nobody is signed out.
    QCOMPARE(Remembered(), QStringList{"pass_admin|admin"});
    QVERIFY(Messages().isEmpty());
  }

  void cancellingTheQuestionDeletesNothing() {
    List().selectRow(1);
    fixture_->prompt.confirmAnswer = false;
    Click("BitBtn3");
    QCOMPARE(Accounts(), kSampleAccounts);
    QCOMPARE(ListRows(List()).size(), 3);
  }

  void anAccountNamedWithQuotesIsDeleted() {
    AddAccount("o'brien", "x");
    AddAccount("admin' or '1'='1", "x");
    users_->hide();
    users_->show();
    for (const QString& name : {QString("o'brien"), QString("admin' or '1'='1")}) {
      const int row = ListRows(List()).indexOf(name + '|');
      QVERIFY(row >= 0);
      List().selectRow(row);
      Click("BitBtn3");
    }
    QCOMPARE(Accounts(), kSampleAccounts);
    QVERIFY(Messages().isEmpty());
  }

  void addingThroughTheWindowTrimsTheNameButNotThePassword() {
    QStringList seen;
    TModalAnswerer answerer([&](QDialog& d) {
      auto& dialog = static_cast<TfrmAdduser&>(d);
      seen << d.windowTitle() << Fields(dialog).join('|');
      for (const char* name : {"Edit1", "Edit2", "Edit3", "Edit4"})
        seen << QString::number(Child<QLineEdit>(d, name).maxLength());
      seen << QString::number(Child<QLineEdit>(d, "Edit3").echoMode());
      Type(dialog, "  alice ", " 小 A ", " pw ", " pw ");
      Child<QPushButton>(d, "BitBtn2").click();
      if (d.isVisible()) d.reject();
    });
    Click("BitBtn4");
    QCOMPARE(seen, (QStringList{"新增用户", "|||", "15", "15", "15", "15",
                                QString::number(QLineEdit::Password)}));
    QVERIFY(Messages().isEmpty());
    // Leading blanks are kept; the table keeps no trailing blanks of any text.
    QCOMPARE(Accounts(), kSampleAccounts + QStringList{"alice| 小 A| pw"});
    // The window's list shows the saved account at once.
    QCOMPARE(ListRows(List()).last(), QString("alice| 小 A"));
    // The password signs in as it was typed.
    Tfrmlogin signIn;
    signIn.findChild<QComboBox*>("ComboBox1")->setCurrentText("alice");
    signIn.findChild<QLineEdit*>("Edit1")->setText(" pw ");
    signIn.findChild<QPushButton*>("BitBtn1")->click();
    QCOMPARE(signIn.result(), int(QDialog::Accepted));
  }

  void theDialogRefusesWhatItCannotSave_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("again");
    QTest::addColumn<QString>("warning");
    QTest::addColumn<QString>("focus");
    QTest::addColumn<bool>("failed");
    QTest::newRow("no name") << ""
                             << "pw"
                             << "pw"
                             << "用户名不能为空."
                             << "Edit1" << false;
    QTest::newRow("blank name") << "   "
                                << "pw"
                                << "pw"
                                << "用户名不能为空."
                                << "Edit1" << false;
    QTest::newRow("blank password") << "bob"
                                    << "  "
                                    << "  "
                                    << "密码不能为空."
                                    << "Edit3" << false;
    QTest::newRow("passwords differ") << "bob"
                                      << "pw"
                                      << "pW"
                                      << "密码不一致，请修改."
                                      << "Edit4" << true;
    QTest::newRow("passwords differ in a blank") << "bob"
                                                 << "pw"
                                                 << "pw "
                                                 << "密码不一致，请修改."
                                                 << "Edit4" << true;
    QTest::newRow("name taken in other letter case") << "Tom"
                                                     << "pw"
                                                     << "pw"
                                                     << "Tom 已经存在了，请修改用户名。"
                                                     << "Edit1" << true;
    QTest::newRow("name taken, typed with blanks") << " Tom "
                                                   << "pw"
                                                   << "pw"
                                                   << " Tom  已经存在了，请修改用户名。"
                                                   << "Edit1" << true;
  }
  void theDialogRefusesWhatItCannotSave() {
    QFETCH(QString, name);
    QFETCH(QString, password);
    QFETCH(QString, again);
    QFETCH(QString, warning);
    QFETCH(QString, focus);
    QFETCH(bool, failed);
    for (const char* button : {"BitBtn4", "BitBtn2"}) {
      Messages().clear();
      auto dialog = AccountDialog(true);
      Type(*dialog, name, "", password, again);
      Child<QPushButton>(*dialog, button).click();
      QCOMPARE(Warnings(Messages()), QStringList{warning});
      QCOMPARE(dialog->focusWidget()->objectName(), focus);
      QCOMPARE(dialog->Failed(), failed);
      QVERIFY(dialog->isVisible());
      QCOMPARE(Fields(*dialog), (QStringList{name, "", password, again}));
      QCOMPARE(Accounts(), kSampleAccounts);
    }
  }

  void changingThroughTheWindowAcceptsATakenName() {
    List().selectRow(2);
    QStringList seen;
    TModalAnswerer answerer([&](QDialog& d) {
      auto& dialog = static_cast<TfrmAdduser&>(d);
      seen << d.windowTitle() << Fields(dialog).join('|');
      Child<QLineEdit>(d, "Edit1").setText("admin");
      Child<QPushButton>(d, "BitBtn2").click();
      if (d.isVisible()) d.reject();
    });
    Click("BitBtn2");
    QCOMPARE(seen, (QStringList{"用户编辑", "tom|Tom's book|tom|tom"}));
    QVERIFY(Messages().isEmpty());
    QCOMPARE(Accounts(),
             (QStringList{"admin|admin|admin", "张三|家庭主账户|zs2004", "admin|Tom's book|tom"}));
  }

  void saveAndNewAfterAChangeAddsTheNextAccount() {
    auto dialog = AccountDialog(false);
    QCOMPARE(Fields(*dialog), (QStringList{"tom", "Tom's book", "tom", "tom"}));
    Child<QLineEdit>(*dialog, "Edit2").setText("changed");
    Child<QPushButton>(*dialog, "BitBtn4").click();
    QVERIFY(dialog->isVisible());
    QVERIFY(dialog->Adding());
    QCOMPARE(Fields(*dialog), (QStringList{"", "", "", ""}));
    Type(*dialog, "jerry", "", "j", "j");
    Child<QPushButton>(*dialog, "BitBtn4").click();
    QVERIFY(Messages().isEmpty());
    QCOMPARE(Accounts(), (QStringList{"admin|admin|admin", "张三|家庭主账户|zs2004",
                                      "tom|changed|tom", "jerry||j"}));
    QCOMPARE(ListRows(List()).size(), 4);
  }

  void changingAnAccountThatWentAwayClosesQuietly() {
    auto dialog = AccountDialog(false);
    RemoveAccounts({"tom"});
    Child<QPushButton>(*dialog, "BitBtn2").click();
    QCOMPARE(dialog->result(), int(QDialog::Accepted));
    QVERIFY(!dialog->Failed());
    QVERIFY(Messages().isEmpty());
    QCOMPARE(Accounts(), (QStringList{"admin|admin|admin", "张三|家庭主账户|zs2004"}));
  }
};

MINTORA_APP_TEST(SignIn, TSignInTest);
MINTORA_APP_TEST(Users, TUsersTest);
#include "accounts_test.moc"
