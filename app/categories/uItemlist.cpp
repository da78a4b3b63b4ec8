// The category picker and its field; see uItemlist.h.
#include "uItemlist.h"

#include <QEvent>
#include <QHeaderView>
#include <QMouseEvent>
#include <QTreeWidget>
#include <QVBoxLayout>

TCategoryField::TCategoryField(QWidget* parent) : QLineEdit(parent) {
  setReadOnly(true);
}

void TCategoryField::mousePressEvent(QMouseEvent* event) {
  QLineEdit::mousePressEvent(event);
  Q_EMIT Clicked();
}

TfrmItemList::TfrmItemList(QWidget* parent)
    : QWidget(parent, Qt::Popup | Qt::FramelessWindowHint), list_(new QTreeWidget(this)) {
  setObjectName("frmItemList");
  setAttribute(Qt::WA_DeleteOnClose);
  list_->setObjectName("ListView1");
  list_->setColumnCount(ItemsColumn::Count);
  list_->setHeaderHidden(true);
  list_->setColumnWidth(NameColumn, 100);
  list_->setColumnHidden(ItemsColumn::Description, true);
  list_->setColumnHidden(TypeColumn, true);
  list_->setColumnHidden(IdColumn, true);
  SetUpCategoryList(*list_);
  list_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  list_->viewport()->installEventFilter(this);
  list_->installEventFilter(this);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(list_);
  resize(240, 251);
}

void TfrmItemList::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  Load();
  list_->setFocus();
}

void TfrmItemList::Load() {
  LoadItemsList(*list_, "select * from Items where parent =-1 order by type,id");
}

void TfrmItemList::Choose() {
  const QList<QTreeWidgetItem*> selected = list_->selectedItems();
  if (target_) {
    if (!selected.isEmpty()) {
      const QTreeWidgetItem* row = selected.first();
      target_->setText(row->text(NameColumn));
      target_->SetItemType(row->text(TypeColumn).toInt());
      target_->SetItemId(row->text(IdColumn));
    }
    target_->setFocus();
  }
  close();
}

bool TfrmItemList::eventFilter(QObject* watched, QEvent* event) {
  if (watched == list_->viewport() && event->type() == QEvent::MouseButtonRelease) {
    // The list has taken the press (and selected the row under it) by now.
    Choose();
    return true;
  }
  if (watched == list_ && event->type() == QEvent::FocusOut) close();
  return QWidget::eventFilter(watched, event);
}
