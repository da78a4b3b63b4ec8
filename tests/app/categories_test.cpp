// The category window and dialog, and the category picker: new ids, changing and deleting,
// moving within a type group (and a move whose second statement fails while another process
// holds a row), and the picker's offer and choice.
#include <QLineEdit>
#include <QPointer>
#include <QProcess>
#include <QRadioButton>
#include <QTest>
#include <QTreeWidget>

#include "apptests.h"
#include "categories/uItemlist.h"
#include "categories/uItems.h"
#include "categories/uadditem.h"
#include "datadir.h"
#include "dbaccess/enginequery.h"
#include "dbaccess/enginetable.h"
#include "fixture.h"
#include "gbktext.h"

using mt::apptest::ExecSql;
using mt::apptest::OpenQuery;
using mt::apptest::OpenTable;
using mt::apptest::RunDeferredDeletes;
using mt::apptest::TAppFixture;
using mt::apptest::TModalAnswerer;

namespace {

// Items as "id name type parent" lines in id order.
QStringList StoredItems() {
  const auto query = OpenQuery("select * from Items order by id");
  QStringList rows;
  for (; !query->Eof(); query->Next())
    rows << QString("%1 %2 %3 %4")
                .arg(query->FieldByName("id").AsInteger())
                .arg(FromGbk(query->FieldByName("name").AsString()))
                .arg(query->FieldByName("type").AsInteger())
                .arg(query->FieldByName("parent").AsInteger());
  return rows;
}

void AddItemRow(int id, const QString& name, int type, int parent) {
  const auto items = OpenTable("Items");
  items->Append();
  items->FieldByName("id").SetAsInteger(id);
  items->FieldByName("name").SetAsString(ToGbk(name));
  items->FieldByName("type").SetAsInteger(type);
  items->FieldByName("parent").SetAsInteger(parent);
  items->Post();
}

QStringList Column(const QTreeWidget& list, int column) {
  QStringList texts;
  for (int i = 0; i < list.topLevelItemCount(); ++i)
    texts << list.topLevelItem(i)->text(column);
  return texts;
}

void Select(QTreeWidget& list, int index) {
  QTreeWidgetItem* row = list.topLevelItem(index);
  list.setCurrentItem(row);
  row->setSelected(true);
}

int RowOfId(const QTreeWidget& list, int id) {
  for (int i = 0; i < list.topLevelItemCount(); ++i)
    if (list.topLevelItem(i)->text(ItemsColumn::Id).toInt() == id) return i;
  return -1;
}

// Answers the category dialog: name it, choose the type and press "保存并关闭".
TModalAnswerer::TAnswer SaveCategory(const QString& name, bool expense) {
  return [name, expense](QDialog& dialog) {
    auto& d = static_cast<TfrmAddItem&>(dialog);
    d.NameEdit()->setText(name);
    (expense ? d.ExpenseButton() : d.IncomeButton())->setChecked(true);
    d.SaveAndClose();
  };
}

// Another process editing one row, so its record is locked until the process ends.
class TRowHolder {
 public:
  TRowHolder(const char* table, int id) {
    process_.start(MINTORA_LOCKPROBE, {DataDirectory(), table, QString::number(id)});
  }
  bool Holding() {
    return process_.waitForReadyRead(10000) && process_.readLine().trimmed() == "locked";
  }
  ~TRowHolder() {
    process_.closeWriteChannel();
    if (!process_.waitForFinished(10000)) process_.kill();
  }

 private:
  QProcess process_;
};

}  // namespace

class TCategoriesTest : public QObject {
  Q_OBJECT
 private:
  std::unique_ptr<TAppFixture> fixture_;

 private Q_SLOTS:
  void init() { fixture_ = std::make_unique<TAppFixture>(); }
  void cleanup() {
    fixture_.reset();
    RunDeferredDeletes();
  }

  void theListIsGroupedByTypeInIdOrder() {
    AddItemRow(20, "红包", 0, -1);
    TfrmItems window;
    const QTreeWidget& list = *window.ListView1();
    QCOMPARE(Column(list, ItemsColumn::Id),
             (QStringList{"1", "2", "3", "20", "4", "5", "6", "7", "8"}));
    QCOMPARE(Column(list, ItemsColumn::TypeName).mid(3, 2), (QStringList{"收入", "支出"}));
    QCOMPARE(list.topLevelItem(0)->text(ItemsColumn::Description), QString("每月工资收入"));
    QVERIFY(list.isColumnHidden(ItemsColumn::Type) && list.isColumnHidden(ItemsColumn::Id));
  }

  void aNewCategoryTakesTheNextId_data() {
    QTest::addColumn<QString>("before");  // what is done to the sample categories first
    QTest::addColumn<int>("expected");
    QTest::newRow("empty table") << "empty" << 1;
    QTest::newRow("after the sample") << "" << 9;
    QTest::newRow("last one deleted") << "delete last" << 8;
    QTest::newRow("left at the free id") << "free id taken" << 1000000;
  }
  void aNewCategoryTakesTheNextId() {
    QFETCH(QString, before);
    QFETCH(int, expected);
    if (before == "empty") ExecSql("delete from Items");
    if (before == "free id taken") AddItemRow(TfrmItems::kSwapId, "中断", 1, -1);
    TfrmItems window;
    if (before == "delete last") {
      Select(*window.ListView1(), window.ListView1()->topLevelItemCount() - 1);
      window.DeleteItem();
    }
    TModalAnswerer answerer(SaveCategory("礼金", false));
    window.AddItem();
    QCOMPARE(answerer.seen, QStringList{"frmAddItem"});
    QVERIFY(StoredItems().contains(QString("%1 礼金 0 -1").arg(expected)));
    const int row = RowOfId(*window.ListView1(), expected);
    QVERIFY(row >= 0);
    QCOMPARE(window.ListView1()->topLevelItem(row)->text(ItemsColumn::Name), QString("礼金"));
  }

  void aChangeKeepsTheIdAndTheNextSaveAddsANewCategory() {
    TfrmItems window;
    TfrmAddItem dialog(*window.ListView1());
    dialog.SetAdding(false);
    dialog.SetItemId(4);
    dialog.show();
    dialog.NameEdit()->setText("外出就餐");
    dialog.ExpenseButton()->setChecked(true);
    dialog.SaveAndNew();
    QVERIFY(StoredItems().contains("4 外出就餐 1 -1"));
    QVERIFY(dialog.Adding());
    QVERIFY(dialog.NameEdit()->text().isEmpty());
    QVERIFY(dialog.ExpenseButton()->isChecked());
    dialog.NameEdit()->setText("零食");
    dialog.SaveAndNew();
    QVERIFY(StoredItems().contains("9 零食 1 -1"));
    QCOMPARE(window.ListView1()->topLevelItemCount(), 9);
    QCOMPARE(window.ListView1()->topLevelItem(RowOfId(*window.ListView1(), 4))->text(0),
             QString("外出就餐"));
  }

  void aBlankNameIsRefusedWithTheFocusOnIt() {
    TfrmItems window;
    TfrmAddItem dialog(*window.ListView1());
    dialog.show();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    dialog.DescriptionEdit()->setFocus();
    dialog.NameEdit()->setText("   ");
    dialog.SaveAndClose();
    QCOMPARE(fixture_->prompt.messages.size(), 1);
    QCOMPARE(fixture_->prompt.messages[0].text, QString("收支项目名称不能为空."));
    QCOMPARE(QApplication::focusWidget(), dialog.NameEdit());
    QVERIFY(dialog.isVisible());
    QCOMPARE(StoredItems().size(), 8);
  }

  void eachActionNeedsASelectedRow_data() {
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("warning");
    QTest::newRow("修改") << "modify"
                          << "请选中要修改的收支项目.";
    QTest::newRow("删除") << "delete"
                          << "请选中要删除的项目.";
    QTest::newRow("上移") << "up"
                          << "请选中需要调整的分类项目.";
    QTest::newRow("下移") << "down"
                          << "请选中需要调整的分类项目.";
  }
  void eachActionNeedsASelectedRow() {
    QFETCH(QString, action);
    QFETCH(QString, warning);
    TfrmItems window;
    TModalAnswerer answerer;
    if (action == "modify") window.ModifyItem();
    if (action == "delete") window.DeleteItem();
    if (action == "up") window.MoveUp();
    if (action == "down") window.MoveDown();
    QCOMPARE(fixture_->prompt.messages.size(), 1);
    QCOMPARE(fixture_->prompt.messages[0].text, warning);
    QVERIFY(answerer.seen.isEmpty());
    QVERIFY(fixture_->prompt.confirmations.isEmpty());
    QCOMPARE(StoredItems().size(), 8);
  }

  void deletingAsksAndSelectsTheRowTakingItsPlace_data() {
    QTest::addColumn<int>("index");
    QTest::addColumn<bool>("confirm");
    QTest::addColumn<QString>("selectedId");
    QTest::newRow("middle row") << 2 << true << "4";
    QTest::newRow("last row") << 7 << true << "7";
    QTest::newRow("cancelled") << 2 << false << "3";
  }
  void deletingAsksAndSelectsTheRowTakingItsPlace() {
    QFETCH(int, index);
    QFETCH(bool, confirm);
    QFETCH(QString, selectedId);
    fixture_->prompt.confirmAnswer = confirm;
    TfrmItems window;
    QTreeWidget& list = *window.ListView1();
    Select(list, index);
    const QString id = list.topLevelItem(index)->text(ItemsColumn::Id);
    window.DeleteItem();
    QCOMPARE(fixture_->prompt.confirmations, QStringList{"确认要删除吗?"});
    QCOMPARE(list.topLevelItemCount(), confirm ? 7 : 8);
    QCOMPARE(StoredItems().size(), confirm ? 7 : 8);
    QCOMPARE(RowOfId(list, id.toInt()) >= 0, !confirm);
    QCOMPARE(list.currentItem()->text(ItemsColumn::Id), selectedId);
    QVERIFY(list.currentItem()->isSelected());
  }

  void movingStaysWithinTheTypeGroup_data() {
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("step");
    QTest::addColumn<QStringList>("names");  // the list's names afterwards
    QTest::addColumn<int>("selected");       // the selected row afterwards
    const QStringList sample{"工资", "奖金", "利息", "餐饮", "交通", "水电煤", "购物", "早餐"};
    QStringList upTwo = sample;
    upTwo.swapItemsAt(0, 1);
    QStringList downFive = sample;
    downFive.swapItemsAt(5, 6);
    QTest::newRow("second income up") << 1 << -1 << upTwo << 0;
    QTest::newRow("水电煤 down") << 5 << +1 << downFive << 6;
    QTest::newRow("first expense up past income") << 3 << -1 << sample << 3;
    QTest::newRow("last income down past expense") << 2 << +1 << sample << 2;
    QTest::newRow("top row up") << 0 << -1 << sample << 0;
    QTest::newRow("bottom row down") << 7 << +1 << sample << 7;
  }
  void movingStaysWithinTheTypeGroup() {
    QFETCH(int, index);
    QFETCH(int, step);
    QFETCH(QStringList, names);
    QFETCH(int, selected);
    TfrmItems window;
    QTreeWidget& list = *window.ListView1();
    Select(list, index);
    step < 0 ? window.MoveUp() : window.MoveDown();
    QCOMPARE(Column(list, ItemsColumn::Name), names);
    QCOMPARE(list.indexOfTopLevelItem(list.currentItem()), selected);
    QVERIFY(list.currentItem()->isSelected());
    // The ids stay in list order, and a reload (what the picker and the window show next
    // time) gives the same order.
    QCOMPARE(Column(list, ItemsColumn::Id), (QStringList{"1", "2", "3", "4", "5", "6", "7", "8"}));
    TfrmItems reloaded;
    QCOMPARE(Column(*reloaded.ListView1(), ItemsColumn::Name), names);
    QVERIFY(fixture_->prompt.messages.isEmpty());
  }

  void aFailedSwapLeavesBothCategoriesAsTheyWere() {
    TfrmItems window;
    QTreeWidget& list = *window.ListView1();
    const QStringList before = StoredItems();
    // Another process is editing 餐饮 (id 4) while 交通 (id 5) moves up: taking the first
    // category's number works, giving 交通 the number 4 cannot.
    TRowHolder holder("Items", 4);
    QVERIFY(holder.Holding());
    Select(list, 4);
    QVERIFY_THROWS_EXCEPTION(std::exception, window.MoveUp());
    QCOMPARE(StoredItems(), before);
    QCOMPARE(Column(list, ItemsColumn::Name),
             (QStringList{"工资", "奖金", "利息", "餐饮", "交通", "水电煤", "购物", "早餐"}));
    QCOMPARE(list.topLevelItem(4)->text(ItemsColumn::Id), QString("5"));
  }

  void aSwapCommitsForOtherProcesses() {
    TfrmItems window;
    Select(*window.ListView1(), 4);
    window.MoveUp();
    // Once the move is done another process can edit both rows.
    TRowHolder first("Items", 4);
    QVERIFY(first.Holding());
    TRowHolder second("Items", 5);
    QVERIFY(second.Holding());
    QVERIFY(StoredItems().contains("4 交通 1 -1"));
    QVERIFY(StoredItems().contains("5 餐饮 1 -1"));
  }
};

MINTORA_APP_TEST(Categories, TCategoriesTest);

class TItemPickerTest : public QObject {
  Q_OBJECT
 private:
  std::unique_ptr<TAppFixture> fixture_;
  std::unique_ptr<QWidget> host_;
  TCategoryField* field_ = nullptr;
  QPointer<TfrmItemList> picker_;

  void Open() {
    picker_ = new TfrmItemList(host_.get());
    picker_->SetTarget(field_);
    picker_->move(field_->mapToGlobal(QPoint(0, field_->height())));
    picker_->show();
    QVERIFY(QTest::qWaitForWindowExposed(picker_));
  }
  QRect RowRect(int index) const {
    QTreeWidget& list = *picker_->ListView1();
    return list.visualItemRect(list.topLevelItem(index));
  }

 private Q_SLOTS:
  void init() {
    fixture_ = std::make_unique<TAppFixture>();
    host_ = std::make_unique<QWidget>();
    field_ = new TCategoryField(host_.get());
    field_->setText("工资");
    field_->SetItemType(0);
    field_->SetItemId("1");
    host_->resize(300, 60);
    host_->show();
  }
  void cleanup() {
    if (picker_) picker_->close();
    RunDeferredDeletes();
    host_.reset();
    fixture_.reset();
  }

  void onlyTopLevelCategoriesInTypeThenIdOrder() {
    AddItemRow(9, "礼金", 0, -1);
    AddItemRow(10, "零食", 1, 7);
    Open();
    const QTreeWidget& list = *picker_->ListView1();
    QCOMPARE(Column(list, TfrmItemList::NameColumn),
             (QStringList{"工资", "奖金", "利息", "礼金", "餐饮", "交通", "水电煤", "购物"}));
    QCOMPARE(Column(list, TfrmItemList::TypeNameColumn).mid(3, 2), (QStringList{"收入", "支出"}));
    QVERIFY(list.isHeaderHidden());
    QVERIFY(list.isColumnHidden(TfrmItemList::TypeColumn));
    QCOMPARE(picker_->size(), QSize(240, 251));
  }

  void aMouseReleaseChoosesTheRow() {
    Open();
    QTreeWidget& list = *picker_->ListView1();
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, RowRect(6).center());
    QCOMPARE(field_->text(), QString("购物"));
    QCOMPARE(field_->ItemType(), 1);
    QCOMPARE(field_->ItemId(), QString("7"));
    RunDeferredDeletes();
    QVERIFY(!picker_);
  }

  void theKeyboardAloneChoosesNothing() {
    Open();
    QTreeWidget& list = *picker_->ListView1();
    Select(list, 4);
    QTest::keyClick(&list, Qt::Key_Down);
    QTest::keyClick(&list, Qt::Key_Return);
    QCOMPARE(list.currentItem()->text(0), QString("水电煤"));
    QCOMPARE(field_->text(), QString("工资"));
    QCOMPARE(field_->ItemId(), QString("1"));
    QVERIFY(picker_ && picker_->isVisible());
  }

  void aReleaseBelowTheRowsWithNoSelectionClosesWithoutChoosing() {
    Open();
    QTreeWidget& list = *picker_->ListView1();
    const QPoint below(10, RowRect(list.topLevelItemCount() - 1).bottom() + 20);
    QVERIFY(below.y() < list.viewport()->height());
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, below);
    QCOMPARE(field_->text(), QString("工资"));
    QCOMPARE(field_->ItemType(), 0);
    QCOMPARE(field_->ItemId(), QString("1"));
    RunDeferredDeletes();
    QVERIFY(!picker_);
  }
};

MINTORA_APP_TEST(ItemPicker, TItemPickerTest);

#include "categories_test.moc"
