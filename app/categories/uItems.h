// The category window TfrmItems ("收支分类项目"): every category of the Items table, income
// first and expense after, each group in id order (the order the category picker offers
// them), with adding, changing, deleting and moving a category up or down within its group.
//
// List rows: the caption column holds the name; then "收入"/"支出", the description, and two
// hidden columns with the type and the id as text (the ItemsColumn numbers).
//
// Moving swaps the ids of two neighbouring categories of one type through the free number
// 999999, in one transaction: either both categories have their new ids or, on any failure,
// both keep their old ones (the error then reaches the default error box).
#pragma once

#include <QDialog>

#include <string_view>

class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace ItemsColumn {
enum : int { Name = 0, TypeName = 1, Description = 2, Type = 3, Id = 4, Count = 5 };
}

// "收入" for type 0, "支出" for any other type.
QString CategoryTypeName(long long type);

// Sets a list up as the category lists show rows: one row selected at a time, whole rows,
// read-only, no tree decoration.
void SetUpCategoryList(QTreeWidget& list);

// Empties the list and fills it with the Items rows of `sql` on the data directory (by default
// every category, "select * from Items order by type,id"), in the row layout above.
void LoadItemsList(QTreeWidget& list,
                   std::string_view sql = "select * from Items order by type,id");

class TfrmItems : public QDialog {
  Q_OBJECT
 public:
  // The id kept free for the moment of a swap.
  static constexpr int kSwapId = 999999;

  // Loads the list.
  explicit TfrmItems(QWidget* parent = nullptr);

  QTreeWidget* ListView1() const { return list_; }

  // ---- the buttons ----
  void AddItem();     // "增加"
  void ModifyItem();  // "修改" and a double-click on a row
  void DeleteItem();  // "删除"
  void MoveUp();      // "上移"
  void MoveDown();    // "下移"

 private:
  // Swaps the selected row with its neighbour `step` rows away (-1 above, +1 below) when
  // both are of one type.
  void Move(int step);
  // The selected row; null after warning with `warning` when no row is selected.
  QTreeWidgetItem* SelectedRowOrWarn(const QString& warning);

  QTreeWidget* list_;
};
