// The account dialog: adds or changes one account of the User table. The opener sets the
// caption, whether it adds, and in changing mode fills the fields with Fill(). Names are stored
// trimmed and kept unique without regard to letter case when added; full names and passwords
// are stored exactly as typed. After every completed save the dialog goes on adding, and the
// application's user management window shows the new list.
//
// Controls (object names): Edit1 "用户名:", Edit2 "全名:", Edit3 "密码:", Edit4
// "请再输入一遍密码::" (15 characters each, the passwords masked), BitBtn4 "保存并新添" (default),
// BitBtn2 "保存并关闭", BitBtn1 "关闭".
#pragma once

#include <QDialog>
#include <QString>

#include "dbaccess/enginetable.h"

class QLineEdit;

class TfrmAdduser : public QDialog {
  Q_OBJECT
 public:
  explicit TfrmAdduser(QWidget* parent = nullptr);
  ~TfrmAdduser() override;

  bool Adding() const { return adding_; }
  void SetAdding(bool adding) { adding_ = adding; }
  // Whether the last save was refused (passwords differing, the name taken).
  bool Failed() const { return failed_; }
  // Changing mode: the account's fields, its password in both password boxes, and the name
  // that finds its row.
  void Fill(const QString& name, const QString& fullName, const QString& password);

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  // The checks and the write of both save buttons; true when the account was saved (or the
  // changed account has gone meanwhile, which is not a refusal).
  bool Save();
  // Writes the account; false when it was refused.
  bool WriteAccount();
  void ClearFields();
  void BitBtn4Click();  // 保存并新添
  void BitBtn2Click();  // 保存并关闭

  QLineEdit* Edit1;
  QLineEdit* Edit2;
  QLineEdit* Edit3;
  QLineEdit* Edit4;
  bool adding_ = true;
  bool failed_ = false;
  QString oldName_;
  mt::TEngineTable table_;
};
