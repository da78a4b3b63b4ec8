// The category picker and its field; see uItemlist.h.
#include "uItemlist.h"

#include <QEvent>
#include <QHeaderView>
#include <QMouseEvent>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "categories/uItems.h"
#include "datadir.h"
#include "dbaccess/enginequery.h"
#include "gbktext.h"

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
  list_->setColumnCount(4);
  list_->setHeaderHidden(true);
  list_->setColumnWidth(NameColumn, 100);
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
  list_->clear();
  mt::TEngineQuery query;
  query.SetDatabaseName(ToGbk(DataDirectory()));
  query.SetSQL("select * from Items where parent =-1 order by type,id");
  query.Open();
  QList<QTreeWidgetItem*> rows;
  for (; !query.Eof(); query.Next()) {
    const int64_t type = query.FieldByName("Type").AsInteger();
    auto* row = new QTreeWidgetItem;
    row->setText(NameColumn, FromGbk(query.FieldByName("name").AsString()));
    row->setText(TypeNameColumn, CategoryTypeName(type));
    row->setText(TypeColumn, QString::number(type));
    row->setText(IdColumn, QString::number(query.FieldByName("id").AsInteger()));
    rows << row;
  }
  query.Close();
  list_->addTopLevelItems(rows);
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
