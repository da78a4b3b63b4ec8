// The ledger entry dialog TfrmAddshouzhi: records one income or expense entry in szzb, or
// changes one, and writes the saved row straight into the ledger list it was handed (row
// layout: ledgerrow.h), so the list shows it without a reload.
//
// Saving checks, in order: a category was chosen (else the picker opens), an amount was typed,
// the amount is a number ("." is the decimal separator whatever the desktop's locale; the
// amount field lets only digits, "-", "." and Backspace through). The entry's balance is the
// balance of the list's bottom row as displayed (the ledger's sums when the list is empty)
// plus or minus the amount; other rows' balances are never revised. After any completed save
// the dialog is in adding mode.
#pragma once

#include <QDialog>
#include <QPointer>

#include "ledger/ledgerrow.h"

class QDateEdit;
class QLineEdit;
class QPushButton;
class QToolButton;
class TCategoryField;
class TLedgerList;
class TfrmItemList;

class TfrmAddshouzhi : public QDialog {
  Q_OBJECT
 public:
  // `ledgerList` is the list a save updates; it must outlive the dialog.
  explicit TfrmAddshouzhi(TLedgerList& ledgerList, QWidget* parent = nullptr);

  // Set by the opener before showing: adding (true) or changing the entry of that id.
  void SetAdding(bool adding) { adding_ = adding; }
  bool Adding() const { return adding_; }
  void SetEntryId(int id) { entryId_ = id; }
  // Changing mode's fields from a row of the ledger list: date, category (name, type, id),
  // amount, description, memo and the entry id.
  void FillFromRow(const TLedgerRow& row);

  QDateEdit* DateTimePicker1() const { return date_; }
  TCategoryField* Edit1() const { return category_; }
  QLineEdit* Edit2() const { return amount_; }
  QLineEdit* Edit3() const { return description_; }
  QLineEdit* Edit5() const { return memo_; }
  QLineEdit* Edit4() const { return user_; }

  // Drops the category picker under the category field (btnlist, a click on the field).
  void ShowPicker();
  // The open picker, or nullptr.
  TfrmItemList* Picker() const { return picker_; }
  // SpeedButton1: the category window, modally.
  void ShowItems();

  // "保存并新添" and "保存并关闭".
  void SaveAndNew();
  void SaveAndClose();

  // The amount text as a number: "." as the decimal separator, blanks around it allowed;
  // false for anything else, including values too large to be finite.
  static bool ReadAmount(const QString& text, double& amount);

 protected:
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // The three checks and the write; false when a check failed.
  bool Save();
  // Writes the entry and updates the list.
  void WriteEntry(double amount);
  // The balance before this entry.
  double BaseBalance() const;
  void UpdateList(int id, double balance);

  TLedgerList& ledgerList_;
  bool adding_ = true;
  int entryId_ = 0;
  QDateEdit* date_;
  TCategoryField* category_;
  QToolButton* btnlist_;
  QLineEdit* amount_;
  QLineEdit* description_;
  QLineEdit* memo_;
  QLineEdit* user_;
  QPointer<TfrmItemList> picker_;
};
