// The category dialog TfrmAddItem ("收支项目"): adds a category or changes one, then rebuilds
// the category window's list. After any completed save it is in adding mode, so a further
// "保存并新添" after a change adds a new category.
//
// New categories take the highest id + 1 (1 in an empty table) and the parent -1 (top level).
#pragma once

#include <QDialog>

class QLineEdit;
class QPushButton;
class QRadioButton;
class QTreeWidget;

class TfrmAddItem : public QDialog {
  Q_OBJECT
 public:
  // `list` is the category window's list, rebuilt after every save.
  explicit TfrmAddItem(QTreeWidget& list, QWidget* parent = nullptr);

  // Set by the opener before showing.
  void SetAdding(bool adding) { adding_ = adding; }
  bool Adding() const { return adding_; }
  void SetItemId(int id) { itemId_ = id; }

  QLineEdit* NameEdit() const { return edtName_; }
  QLineEdit* DescriptionEdit() const { return edtDescription_; }
  QRadioButton* IncomeButton() const { return rbIncome_; }
  QRadioButton* ExpenseButton() const { return rbExpense_; }

  // "保存并新添", "保存并关闭".
  void SaveAndNew();
  void SaveAndClose();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  // Checks the name and writes the category; false when the name check failed.
  bool Save();

  QTreeWidget& list_;
  bool adding_ = true;
  int itemId_ = 0;
  QLineEdit* edtName_;
  QLineEdit* edtDescription_;
  QRadioButton* rbIncome_;
  QRadioButton* rbExpense_;
};
