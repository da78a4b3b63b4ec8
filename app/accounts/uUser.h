// The user management window: lists the accounts of the User table and adds, changes and
// deletes them through the account dialog (TfrmAdduser). Created once at start-up, hidden
// between uses and shown modally on request; every showing reads the list afresh. There are
// no roles: any signed-in user may change any account. The one rule kept here is that the
// last account cannot be deleted.
//
// Each list row carries the account's name (column "用户名"), full name (column "说明") and,
// unseen, its password, which travels with the row to the account dialog.
//
// Controls (object names): ListView1, BitBtn4 "增加", BitBtn2 "修改", BitBtn3 "删除",
// BitBtn1 "关闭".
#pragma once

#include <QDialog>
#include <QString>

#include "dbaccess/enginequery.h"

class QTableWidget;

class TfrmUser : public QDialog {
  Q_OBJECT
 public:
  // The first user management window made is the application's one (the account dialog
  // refreshes it after each save) for as long as it lives.
  explicit TfrmUser(QWidget* parent = nullptr);
  ~TfrmUser() override;

  // The application's user management window, or nullptr.
  static TfrmUser* ApplicationWindow();

  // Empties the list and reads every account of the User table, in the table's order.
  void FillList();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void BitBtn4Click();  // 增加
  void BitBtn2Click();  // 修改
  void BitBtn3Click();  // 删除
  int SelectedRow() const;

  QTableWidget* ListView1;
  mt::TEngineQuery query_;
};
