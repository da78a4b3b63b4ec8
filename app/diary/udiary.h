// The diary window: every note of the diary table, newest day first, one row per day, and the
// buttons that write ("写日记"), change ("修改", also a double click on a row) and delete
// ("删除") notes. Row layout: caption the day "yyyy-mm-dd"; sub-items the summary, the
// author and the day in the user's date format (hidden, read back by "修改").
#pragma once

#include <QDate>
#include <QString>
#include <QWidget>

#include <string_view>

class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

class Tfrmdiary : public QWidget {
  Q_OBJECT
 public:
  // Columns of the list; the last one is hidden.
  enum { kDateColumn, kSummaryColumn, kUserColumn, kFormattedDateColumn };
  static constexpr int kSummaryBytes = 50;

  static constexpr std::string_view kListSql = "select * from diary order by date desc";
  static constexpr std::string_view kDeleteSql = "delete from diary where date=:date";

  // The first 50 bytes of a note's GBK text followed by "...", whatever the length; a
  // two-byte character that the limit would cut in half is left out whole.
  static QString Summary(std::string_view gbkContents);

  explicit Tfrmdiary(QWidget* parent = nullptr);

  QTreeWidget* ListView1() const { return list_; }
  QPushButton* WriteButton() const { return write_; }
  QPushButton* ChangeButton() const { return change_; }
  QPushButton* DeleteButton() const { return delete_; }

  // Reads the list afresh from the table.
  void LoadList();
  // Sets a row's caption and sub-items for a note.
  static void FillRow(QTreeWidgetItem& row, const QDate& day, const QString& summary,
                      const QString& user);

  void WriteClick();
  void ChangeClick();
  void DeleteClick();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  QTreeWidget* list_;
  QPushButton* write_;
  QPushButton* change_;
  QPushButton* delete_;
};
