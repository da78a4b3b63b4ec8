// The category picker TfrmItemList: a borderless popup list dropped under a category field,
// offering the top-level categories (parent -1), income first, each type in id order. A mouse
// button released over the list chooses the selected row: the field takes its name, type and
// id. The popup closes itself after that, or when it loses the focus (nothing chosen then),
// and deletes itself once closed.
//
// TCategoryField is that field: read-only text holding the chosen category's name, with the
// category's type (0 income, 1 expense) and id text kept beside it.
#pragma once

#include <QLineEdit>
#include <QWidget>

#include "categories/uItems.h"

class QTreeWidget;

class TCategoryField : public QLineEdit {
  Q_OBJECT
 public:
  explicit TCategoryField(QWidget* parent = nullptr);

  int ItemType() const { return itemType_; }
  void SetItemType(int type) { itemType_ = type; }
  const QString& ItemId() const { return itemId_; }
  void SetItemId(const QString& id) { itemId_ = id; }

 Q_SIGNALS:
  void Clicked();

 protected:
  void mousePressEvent(QMouseEvent* event) override;

 private:
  int itemType_ = 0;
  QString itemId_;
};

class TfrmItemList : public QWidget {
  Q_OBJECT
 public:
  // List columns: the category window's (ItemsColumn, uItems.h); the name and "收入"/"支出"
  // are the visible ones.
  enum : int {
    NameColumn = ItemsColumn::Name,
    TypeNameColumn = ItemsColumn::TypeName,
    TypeColumn = ItemsColumn::Type,
    IdColumn = ItemsColumn::Id
  };

  explicit TfrmItemList(QWidget* parent = nullptr);

  // The field the choice goes to; set before showing.
  void SetTarget(TCategoryField* target) { target_ = target; }
  QTreeWidget* ListView1() const { return list_; }

  // What a mouse button released over the list does: the selected row, if any, goes to the
  // target; the target gets the focus and the popup closes.
  void Choose();

 protected:
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Load();

  QTreeWidget* list_;
  TCategoryField* target_ = nullptr;
};
