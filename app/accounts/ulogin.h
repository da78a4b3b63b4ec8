// The sign-in dialog: the gate to the program at start-up and the main window's re-sign-in.
// The user picks an account of the User table and types its password; a successful sign-in
// records the account in GlobalVars.UserName and remembers the password in the system table
// under "pass_" + name (or forgets it), so the next dialog can fill it in. Passwords are kept
// and compared in plain text.
//
// Every typed value reaches the statements as a parameter, never as statement text: a name
// or password holding a quote is compared as typed, and a password that happens to be a
// column's name ("password", "name") is only that text.
//
// Controls (object names): ComboBox1 accounts (pick only), Edit1 password, CheckBox1
// "下次自动记住密码", BitBtn1 "登录" (default, Enter), BitBtn2 "取消" (Esc).
#pragma once

#include <QDialog>
#include <QString>

#include "dbaccess/enginequery.h"
#include "dbaccess/enginetable.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;

class Tfrmlogin : public QDialog {
  Q_OBJECT
 public:
  // Fills the account list from the User table and the password box from a remembered
  // password of the first account. Engine failures (a missing table) arrive as exceptions.
  explicit Tfrmlogin(QWidget* parent = nullptr);
  ~Tfrmlogin() override;

  // The key of an account's remembered password in the system table.
  static QString RememberedKey(const QString& name) { return QStringLiteral("pass_") + name; }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  // "登录": checks name and password; on success stores the user, remembers or forgets the
  // password and closes with OK; otherwise warns and stays open.
  void BitBtn1Click();
  void FillAccounts();
  void FillRememberedPassword(const QString& name);
  bool PasswordMatches(const QString& name, const QString& password);
  void RememberPassword(const QString& name, const QString& password);
  void ForgetPassword(const QString& name);

  QComboBox* ComboBox1;
  QLineEdit* Edit1;
  QCheckBox* CheckBox1;
  QPushButton* BitBtn1;
  QPushButton* BitBtn2;
  mt::TEngineQuery query_;
  mt::TEngineTable table_;
};
