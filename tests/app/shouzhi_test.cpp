// The ledger list window: the periods and their start days, the opening and running balance,
// the totals in the main window's status bar, header sorting (directions, full numbers, the
// arrow images), adding, changing and deleting through the window, the calendar popup's month
// rule and the export file's bytes.
#include <QAbstractButton>
#include <QCalendarWidget>
#include <QFile>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>
#include <stdexcept>
#include <vector>

#include "apptests.h"
#include "categories/uItemlist.h"
#include "clock.h"
#include "datadir.h"
#include "dbaccess/enginequery.h"
#include "fixture.h"
#include "gbktext.h"
#include "globals.h"
#include "ledger/ledgerexport.h"
#include "ledger/ledgerlist.h"
#include "ledger/uAddshouzhi.h"
#include "ledger/uShouzhi.h"
#include "ledger/udatepicker.h"
#include "umain.h"

using mt::apptest::ExecSql;
using mt::apptest::OpenQuery;
using mt::apptest::TMainWindowFixture;
using mt::apptest::TModalAnswerer;
using mt::apptest::TSampleData;
using mt::apptest::TSampleEntry;

namespace {

QStringList StoredIds() {
  const auto query = OpenQuery("select id from szzb order by id");
  QStringList ids;
  for (; !query->Eof(); query->Next())
    ids << QString::fromStdString(query->FieldByName("id").AsString());
  return ids;
}

QStringList Column(const TLedgerList& list, int column) {
  QStringList texts;
  for (int r = 0; r < list.RowCount(); ++r)
    texts << list.Text(r, column);
  return texts;
}

QString Totals(double income, double expense) {
  return QStringLiteral("收入合计:") + FormatMoney(income) + QStringLiteral(" 支出合计:") +
         FormatMoney(expense);
}

// An entry of a hand-made ledger: day, income (true) or expense, amount, description.
struct TEntry {
  const char* date;
  bool income;
  double amount;
  const char* description;
  const char* type = nullptr;  // stored type text when not "0"/"1"
};

}  // namespace

class TLedgerListTest : public QObject {
  Q_OBJECT
 private:
  std::unique_ptr<TMainWindowFixture> fixture_;
  std::unique_ptr<TTodayScope> today_;

  TFrmShouzhi& OpenLedger() {
    fixture_->Window().OpenLedger();
    auto* window = qobject_cast<TFrmShouzhi*>(fixture_->Window().CurrentView());
    if (!window) qFatal("the ledger view did not open");
    return *window;
  }

  // Replaces the sample ledger with these entries, ids from 1 in order.
  void Ledger(const std::vector<TEntry>& entries) {
    ExecSql("delete from szzb");
    int id = 0;
    for (const TEntry& e : entries) {
      const TSampleEntry entry{++id,
                               QDate::fromString(e.date, "yyyy-MM-dd"),
                               e.income ? 1 : 4,
                               e.income ? "工资" : "餐饮",
                               e.description,
                               "",
                               "admin",
                               e.amount,
                               e.income,
                               0};
      fixture_->data.AddLedgerRow(entry, e.type ? e.type : (e.income ? "0" : "1"));
    }
  }

 private Q_SLOTS:
  void init() {
    fixture_ = std::make_unique<TMainWindowFixture>();
    today_ = std::make_unique<TTodayScope>(TSampleData::Today());  // Friday 2004-04-23
  }
  void cleanup() {
    today_.reset();
    fixture_.reset();
  }

  void anEmptyLedgerTotalsZero() {
    ExecSql("delete from szzb");
    TFrmShouzhi& window = OpenLedger();
    window.ShowAll();
    QCOMPARE(window.ListView1()->RowCount(), 0);
    QCOMPARE(fixture_->Window().StatusText(1), QStringLiteral("收入合计:0.00 支出合计:0.00"));
    // Closing the view empties the panel.
    fixture_->Window().OpenHomePage();
    QCOMPARE(fixture_->Window().StatusText(1), QString());
  }

  void periodsStartAtTheirDayWithTheBalanceBeforeIt_data() {
    QTest::addColumn<QString>("item");
    QTest::addColumn<QString>("startDate");
    QTest::addColumn<int>("firstId");  // 0: no rows
    QTest::newRow("month (first showing)") << ""
                                           << "2004-04-01" << 13;
    QTest::newRow("month") << "mnuMonth"
                           << "2004-04-01" << 13;
    QTest::newRow("week: back to Sunday") << "mnuWeek"
                                          << "2004-04-18" << 17;
    QTest::newRow("today: nothing yet") << "mnuToday"
                                        << "2004-04-23" << 0;
    QTest::newRow("all") << "mnuAll"
                         << "" << 1;
  }
  void periodsStartAtTheirDayWithTheBalanceBeforeIt() {
    QFETCH(QString, item);
    QFETCH(QString, startDate);
    QFETCH(int, firstId);
    TFrmShouzhi& window = OpenLedger();
    if (!item.isEmpty()) window.ShowMenu()->findChild<QAction*>(item)->trigger();
    QCOMPARE(window.StartDate(), startDate);
    const QString checked = item.isEmpty() ? QStringLiteral("mnuMonth") : item;
    for (QAction* a : window.ShowMenu()->actions())
      QCOMPARE(a->isChecked(), a->objectName() == checked);

    // Shown rows: every entry from the start day on, in date order; their balance cells are
    // the running balance over the whole ledger, so the opening balance is in them.
    const std::vector<TSampleEntry>& entries = fixture_->data.Entries();
    QStringList ids, balances, incomes, expenses;
    double income = 0, expense = 0;
    for (const TSampleEntry& e : entries) {
      if (firstId == 0 || e.id < firstId) continue;
      ids << QString::number(e.id);
      balances << GeneralNumber(e.balance);
      incomes << (e.income ? GeneralNumber(e.amount) : QString());
      expenses << (e.income ? QString() : GeneralNumber(e.amount));
      (e.income ? income : expense) += e.amount;
    }
    const TLedgerList& list = *window.ListView1();
    QCOMPARE(Column(list, LedgerColumn::Id), ids);
    QCOMPARE(Column(list, LedgerColumn::Balance), balances);
    QCOMPARE(Column(list, LedgerColumn::Income), incomes);
    QCOMPARE(Column(list, LedgerColumn::Expense), expenses);
    QCOMPARE(fixture_->Window().StatusText(1), Totals(income, expense));
    if (firstId == 13) {
      // The whole row of the first April entry.
      const TLedgerRow& row = list.Row(0);
      QCOMPARE(row[LedgerColumn::Date], QString("2004-04-01"));
      QCOMPARE(row[LedgerColumn::Item], QString("工资"));
      QCOMPARE(row[LedgerColumn::Description], QString("四月工资"));
      QCOMPARE(row[LedgerColumn::User], QString("admin"));
      QCOMPARE(row[LedgerColumn::Type], QString("0"));
      QCOMPARE(row[LedgerColumn::ItemId], QString("1"));
      QCOMPARE(list.Row(3)[LedgerColumn::Memo], QString("旧的坏了"));
      QCOMPARE(row[LedgerColumn::DisplayDate], QString("2004/4/1"));
    }
  }

  void theBalanceCellIsEmptyAtExactlyZero() {
    Ledger({{"2004-04-01", true, 100.5, "收"},
            {"2004-04-02", false, 100.5, "支"},
            {"2004-04-03", true, 7, "其他类型", "2"},  // changes neither balance nor totals
            {"2004-04-04", false, 0.25, "再支"}});
    TFrmShouzhi& window = OpenLedger();
    window.ShowAll();
    QCOMPARE(Column(*window.ListView1(), LedgerColumn::Balance),
             QStringList({"100.5", "", "", "-0.25"}));
    QCOMPARE(fixture_->Window().StatusText(1), Totals(100.5, 100.75));
  }

  void theWeekStartsOnSunday_data() {
    QTest::addColumn<QDate>("day");
    QTest::addColumn<QDate>("sunday");
    QTest::newRow("Sunday itself") << QDate(2004, 4, 18) << QDate(2004, 4, 18);
    QTest::newRow("Monday") << QDate(2004, 4, 19) << QDate(2004, 4, 18);
    QTest::newRow("Saturday") << QDate(2004, 4, 24) << QDate(2004, 4, 18);
    QTest::newRow("across the year") << QDate(2004, 1, 1) << QDate(2003, 12, 28);
  }
  void theWeekStartsOnSunday() {
    QFETCH(QDate, day);
    QFETCH(QDate, sunday);
    QCOMPARE(TFrmShouzhi::WeekStart(day), sunday);
  }

  void headerClicksSortByFullValues_data() {
    QTest::addColumn<QList<int>>("clicks");
    QTest::addColumn<QStringList>("ids");
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("image");
    // Rows 1..5: incomes 12.9, 12.5, (expense 5), -30, 100; balances 12.9, 25.4, 20.4,
    // -9.6, 90.4; descriptions b, A, c, d, E.
    QTest::newRow("as opened: by date, ascending")
        << QList<int>{} << QStringList{"1", "2", "3", "4", "5"} << 0 << "ARROWDOWN";
    QTest::newRow("date again: descending")
        << QList<int>{0} << QStringList{"5", "4", "3", "2", "1"} << 0 << "ARROWUP";
    QTest::newRow("income ascending")
        << QList<int>{3} << QStringList{"4", "3", "2", "1", "5"} << 3 << "ARROWDOWN";
    QTest::newRow("income descending")
        << QList<int>{3, 3} << QStringList{"5", "1", "2", "3", "4"} << 3 << "ARROWUP";
    QTest::newRow("then date keeps descending")
        << QList<int>{3, 3, 0} << QStringList{"5", "4", "3", "2", "1"} << 0 << "ARROWUP";
    QTest::newRow("balance, negative first")
        << QList<int>{5} << QStringList{"4", "1", "3", "2", "5"} << 5 << "ARROWDOWN";
    QTest::newRow("expense: empty cells as 0, in their order")
        << QList<int>{4} << QStringList{"1", "2", "4", "5", "3"} << 4 << "ARROWDOWN";
    QTest::newRow("text ignores case")
        << QList<int>{2} << QStringList{"2", "1", "3", "4", "5"} << 2 << "ARROWDOWN";
  }
  void headerClicksSortByFullValues() {
    QFETCH(QList<int>, clicks);
    QFETCH(QStringList, ids);
    QFETCH(int, column);
    QFETCH(QString, image);
    Ledger({{"2004-04-01", true, 12.9, "b"},
            {"2004-04-02", true, 12.5, "A"},
            {"2004-04-03", false, 5, "c"},
            {"2004-04-04", true, -30, "d"},
            {"2004-04-05", true, 100, "E"}});
    TFrmShouzhi& window = OpenLedger();
    window.ShowAll();
    TLedgerList& list = *window.ListView1();
    list.SelectRow(1);  // id 2 stays selected wherever it goes
    for (int c : clicks) {
      const QHeaderView& header = *list.horizontalHeader();
      QTest::mouseClick(header.viewport(), Qt::LeftButton, {},
                        QPoint(header.sectionViewportPosition(c) + 5, header.height() / 2));
    }
    QCOMPARE(Column(list, LedgerColumn::Id), ids);
    QCOMPARE(list.Text(list.SelectedRow(), LedgerColumn::Id), QString("2"));
    for (int c = 0; c < LedgerColumn::Visible; ++c) {
      QCOMPARE(list.HeaderImage(c), c == column ? image : QString());
      const QPixmap arrow =
          list.model()->headerData(c, Qt::Horizontal, TLedgerModel::kArrowRole).value<QPixmap>();
      QCOMPARE(arrow.isNull(), c != column);
      if (c != column) continue;
      // 7 by 4 triangles: "ARROWDOWN" is wide at the top, "ARROWUP" at the bottom.
      const QImage picture = arrow.toImage();
      QCOMPARE(picture.size(), QSize(7, 4));
      const bool down = image == TLedgerList::kArrowDown;
      QCOMPARE(qAlpha(picture.pixel(0, 0)) != 0, down);
      QCOMPARE(qAlpha(picture.pixel(0, 3)) != 0, !down);
    }
  }

  void expenseRowsAreColoured() {
    TFrmShouzhi& window = OpenLedger();
    const TLedgerList& list = *window.ListView1();
    for (int r = 0; r < list.RowCount(); ++r) {
      const QVariant background = list.model()->data(list.model()->index(r, 1), Qt::BackgroundRole);
      const bool expense = !list.Text(r, LedgerColumn::Expense).isEmpty();
      QCOMPARE(background.isValid(), expense);
      if (expense) QCOMPARE(background.value<QBrush>().color(), QColor(219, 245, 251));
    }
  }

  void deleteRemovesTheSelectedRowAndSelectsItsPlace_data() {
    QTest::addColumn<int>("rows");      // April rows kept (from the top); the rest deleted
    QTest::addColumn<int>("selected");  // -1: none
    QTest::addColumn<bool>("confirm");
    QTest::addColumn<QString>("warning");
    QTest::addColumn<int>("selectedAfter");  // -1: none
    QTest::newRow("nothing selected") << 6 << -1 << true << "请选中要删除的项目." << -1;
    QTest::newRow("cancelled") << 6 << 2 << false << "" << 2;
    QTest::newRow("middle row: the next takes its place") << 6 << 2 << true << "" << 2;
    QTest::newRow("last row: the new last row") << 6 << 5 << true << "" << 4;
    QTest::newRow("only row: no selection") << 1 << 0 << true << "" << -1;
  }
  void deleteRemovesTheSelectedRowAndSelectsItsPlace() {
    QFETCH(int, rows);
    QFETCH(int, selected);
    QFETCH(bool, confirm);
    QFETCH(QString, warning);
    QFETCH(int, selectedAfter);
    if (rows == 1) ExecSql("delete from szzb where id>13");
    TFrmShouzhi& window = OpenLedger();
    TLedgerList& list = *window.ListView1();
    QCOMPARE(list.RowCount(), rows);
    const QString totals = fixture_->Window().StatusText(1);
    const QStringList storedBefore = StoredIds();
    QStringList ids = Column(list, LedgerColumn::Id);
    const QStringList balances = Column(list, LedgerColumn::Balance);
    list.SelectRow(selected);
    fixture_->prompt.confirmAnswer = confirm;
    window.Delete();

    if (!warning.isEmpty()) {
      QCOMPARE(fixture_->prompt.messages.size(), 1);
      QCOMPARE(fixture_->prompt.messages[0].text, warning);
      QVERIFY(fixture_->prompt.confirmations.isEmpty());
    } else {
      QCOMPARE(fixture_->prompt.confirmations, QStringList{"确认要删除吗?"});
    }
    QStringList stored = storedBefore;
    if (warning.isEmpty() && confirm) {
      stored.removeAll(ids[selected]);
      ids.removeAt(selected);
    }
    QCOMPARE(StoredIds(), stored);
    QCOMPARE(Column(list, LedgerColumn::Id), ids);
    QCOMPARE(list.SelectedRow(), selectedAfter);
    // The other rows' balances and the totals wait for the next load.
    for (const QString& b : Column(list, LedgerColumn::Balance))
      QVERIFY(balances.contains(b));
    QCOMPARE(fixture_->Window().StatusText(1), totals);
  }

  void changingNeedsASelectedRow() {
    TFrmShouzhi& window = OpenLedger();
    TModalAnswerer answerer;
    window.Modify();
    QCOMPARE(fixture_->prompt.messages.size(), 1);
    QCOMPARE(fixture_->prompt.messages[0].text, QString("请选中要修改的收支记录."));
    QVERIFY(answerer.seen.isEmpty());
  }

  void theEntryDialogWritesIntoTheList() {
    TFrmShouzhi& window = OpenLedger();
    TLedgerList& list = *window.ListView1();
    const QString bottomBalance = list.Text(list.RowCount() - 1, LedgerColumn::Balance);

    // Adding: the new row goes to the bottom, its balance from the bottom row's.
    QString caption;
    TModalAnswerer answerer([&caption](QDialog& dialog) {
      auto& entry = static_cast<TfrmAddshouzhi&>(dialog);
      caption = entry.windowTitle();
      entry.Edit1()->setText("餐饮");
      entry.Edit1()->SetItemType(1);
      entry.Edit1()->SetItemId("4");
      entry.Edit2()->setText("10.50");
      entry.SaveAndClose();
    });
    window.Add();
    QCOMPARE(caption, QString("新添收支"));
    QCOMPARE(list.RowCount(), 7);
    QCOMPARE(list.Text(6, LedgerColumn::Expense), QString("10.50"));
    QCOMPARE(list.Text(6, LedgerColumn::Balance), GeneralNumber(bottomBalance.toDouble() - 10.5));
    QCOMPARE(list.Text(6, LedgerColumn::Id), QString("19"));

    // Changing by a double-click on a row: the dialog comes filled from it and overwrites it.
    QString amountShown;
    answerer.SetAnswer([&](QDialog& dialog) {
      auto& entry = static_cast<TfrmAddshouzhi&>(dialog);
      caption = entry.windowTitle();
      amountShown = entry.Edit2()->text();
      entry.Edit2()->setText("33");
      entry.SaveAndClose();
    });
    const QRect row1 = list.visualRect(list.model()->index(1, 1));
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, row1.center());
    QTest::mouseDClick(list.viewport(), Qt::LeftButton, {}, row1.center());
    QCOMPARE(caption, QString("修改收支记录"));
    QCOMPARE(amountShown, QString("32"));  // 清明节买青团
    QCOMPARE(list.RowCount(), 7);
    QCOMPARE(list.Text(1, LedgerColumn::Expense), QString("33"));
    QCOMPARE(list.Text(1, LedgerColumn::Id), QString("14"));
  }

  void theContextMenuHoldsTheCommands() {
    TFrmShouzhi& window = OpenLedger();
    QStringList items;
    for (QAction* a : window.ContextMenu()->actions())
      items << (a->isSeparator() ? QString("-") : a->text());
    QCOMPARE(items, QStringList({"新添收支", "修改", "-", "删除", "-", "输出Excel"}));
    window.ContextMenu()->findChild<QAction*>("mnuDelete")->trigger();
    QCOMPARE(fixture_->prompt.messages.size(), 1);
    QCOMPARE(fixture_->prompt.messages[0].text, QString("请选中要删除的项目."));
  }

  void theCalendarPicksOnlyInTheRememberedMonth_data() {
    QTest::addColumn<QList<QDate>>("clicks");
    QTest::addColumn<QString>("picked");  // empty: still open
    QTest::addColumn<QDate>("remembered");
    QTest::newRow("a day of this month")
        << QList<QDate>{QDate(2004, 4, 10)} << "2004-04-10" << QDate(2004, 4, 23);
    QTest::newRow("a day of the next month stays open")
        << QList<QDate>{QDate(2004, 5, 2)} << "" << QDate(2004, 5, 2);
    QTest::newRow("then a day of that month")
        << QList<QDate>{QDate(2004, 5, 2), QDate(2004, 5, 20)} << "2004-05-20" << QDate(2004, 5, 2);
    QTest::newRow("the same month number of another year")
        << QList<QDate>{QDate(2003, 4, 5)} << "2003-04-05" << QDate(2004, 4, 23);
  }
  void theCalendarPicksOnlyInTheRememberedMonth() {
    QFETCH(QList<QDate>, clicks);
    QFETCH(QString, picked);
    QFETCH(QDate, remembered);
    GlobalVars.PickedDate.clear();
    QPointer<Tfrmdatepicker> popup = new Tfrmdatepicker;
    popup->show();
    QCOMPARE(popup->size(), QSize(282, 160));
    QCOMPARE(popup->MonthCalendar1()->selectedDate(), QDate(2004, 4, 23));
    QSignalSpy spy(popup.data(), &Tfrmdatepicker::Picked);
    for (const QDate& day : clicks)
      popup->CalendarClicked(day);
    QCOMPARE(popup->Remembered(), remembered);
    QCOMPARE(GlobalVars.PickedDate, picked);
    QCOMPARE(spy.size(), picked.isEmpty() ? 0 : 1);
    QCOMPARE(popup->isVisible(), picked.isEmpty());
    if (picked.isEmpty()) {
      // Losing the focus hands over the calendar's day.
      popup->close();
      QCOMPARE(GlobalVars.PickedDate, clicks.last().toString("yyyy-MM-dd"));
    }
    mt::apptest::RunDeferredDeletes();
  }

  void theCalendarStaysOnTheScreen_data() {
    QTest::addColumn<QPoint>("anchor");
    QTest::addColumn<QPoint>("position");
    QTest::newRow("room enough") << QPoint(100, 50) << QPoint(100, 50);
    QTest::newRow("right edge exactly") << QPoint(1024 - 282, 50) << QPoint(1024 - 282, 50);
    QTest::newRow("moved left") << QPoint(900, 50) << QPoint(1024 - 282, 50);
  }
  void theCalendarStaysOnTheScreen() {
    QFETCH(QPoint, anchor);
    QFETCH(QPoint, position);
    QCOMPARE(Tfrmdatepicker::Position(anchor, QRect(0, 0, 1024, 768)), position);
  }

  void aChosenDayStartsTheList() {
    TFrmShouzhi& window = OpenLedger();
    QTimer::singleShot(50, [&window] {
      QVERIFY(window.DatePicker() && window.DatePicker()->isVisible());
      window.DatePicker()->CalendarClicked(QDate(2004, 4, 12));
    });
    window.ShowMenu()->findChild<QAction*>("mnuFromDay")->trigger();
    QCOMPARE(window.StartDate(), QString("2004-04-12"));
    QCOMPARE(window.ListView1()->Text(0, LedgerColumn::Id), QString("16"));
    QVERIFY(window.ShowMenu()->findChild<QAction*>("mnuFromDay")->isChecked());
  }

  void theExportWritesTheListAsShown_data() {
    QTest::addColumn<bool>("empty");
    QTest::newRow("sorted by expense, descending") << false;
    QTest::newRow("empty list") << true;
  }
  void theExportWritesTheListAsShown() {
    QFETCH(bool, empty);
    Ledger({{"2004-04-01", true, 100, "四月工资"},
            {"2004-04-02", false, 30.5, "午饭"},
            {"2004-04-03", false, 12, ""}});
    if (empty) ExecSql("delete from szzb");
    TFrmShouzhi& window = OpenLedger();
    window.ListView1()->ColumnClick(LedgerColumn::Expense);  // ascending
    window.ListView1()->ColumnClick(LedgerColumn::Expense);  // descending
    QTemporaryDir scratch;
    const QString file = scratch.filePath("tmp.txt");
    window.SetExportFile(file);
    window.findChild<QAbstractButton*>("btnExcel")->click();

    QString expected = QStringLiteral("收支明细\r\n日期\t收支分类\t说明\t收入\t支出\t余额\t记账人");
    if (!empty)
      expected += QStringLiteral(
          "\r\n 2004-04-02\t餐饮\t午饭\t\t30.5\t69.5\tadmin"
          "\r\n 2004-04-03\t餐饮\t\t\t12\t57.5\tadmin"
          "\r\n 2004-04-01\t工资\t四月工资\t100\t\t100\tadmin");
    expected += QStringLiteral("\r\n");
    QFile written(file);
    QVERIFY(written.open(QIODevice::ReadOnly));
    const QByteArray bytes = written.readAll();
    QCOMPARE(bytes, QByteArray::fromStdString(ToGbk(expected)));
    QVERIFY(bytes.startsWith(QByteArray::fromHex("cad5d6a7c3f7cfb8")));  // GBK, no BOM
    QCOMPARE(fixture_->desktop.urls, QList<QUrl>{QUrl::fromLocalFile(file)});
  }

  void anUnwritableExportFileOpensNothing() {
    TFrmShouzhi& window = OpenLedger();
    QTemporaryDir scratch;
    window.SetExportFile(scratch.filePath("missing/tmp.txt"));
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, window.Export());
    QVERIFY(fixture_->desktop.urls.isEmpty());
  }
};

MINTORA_APP_TEST(LedgerList, TLedgerListTest);

#include "shouzhi_test.moc"
