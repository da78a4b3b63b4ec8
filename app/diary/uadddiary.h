// The diary dialog "写日记": the note of one day. The picked day's note is looked up when the
// dialog opens and whenever the day changes; "记入" writes it (adding a row when the day had
// none, changing it otherwise) and updates the diary window's list.
#pragma once

#include <QDate>
#include <QDialog>

#include <string_view>

class QDateEdit;
class QPlainTextEdit;
class QPushButton;
class QTreeWidget;

class TfrmAdddiary : public QDialog {
  Q_OBJECT
 public:
  static constexpr std::string_view kLookupSql = "select * from diary where date=:date";

  // list: the diary window's list to update after saving (may be null).
  explicit TfrmAdddiary(QTreeWidget* list, QWidget* parent = nullptr);

  QDateEdit* DateTimePicker1() const { return picker_; }
  QPlainTextEdit* Memo1() const { return memo_; }
  QPushButton* BitBtn1() const { return save_; }
  QPushButton* BitBtn2() const { return cancel_; }
  bool Adding() const { return adding_; }
  QDate PickedDay() const;
  void SetPickedDay(const QDate& day);

  // Looks up the picked day's note and shows it (empties the text when there is none).
  void DayChanged();
  void BitBtn1Click();

 private:
  QTreeWidget* list_;
  QDateEdit* picker_;
  QPlainTextEdit* memo_;
  QPushButton* save_;
  QPushButton* cancel_;
  bool adding_ = false;
};
