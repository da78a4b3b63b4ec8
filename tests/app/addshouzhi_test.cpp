// The ledger entry dialog: its checks in order and where they leave the focus, the amount's
// key filter and reading, the new id, the base balance (from the list's bottom row or from
// the ledger's sums), the stored row and the row written into the ledger list, and a change
// followed by a new entry.
#include <QDateEdit>
#include <QLineEdit>
#include <QLocale>
#include <QTest>

#include <optional>

#include "apptests.h"
#include "categories/uItemlist.h"
#include "datadir.h"
#include "dbaccess/enginequery.h"
#include "dbaccess/enginetable.h"
#include "fixture.h"
#include "gbktext.h"
#include "globals.h"
#include "ledger/ledgerlist.h"
#include "ledger/uAddshouzhi.h"

using mt::apptest::ExecSql;
using mt::apptest::FillLedgerList;
using mt::apptest::OpenQuery;
using mt::apptest::OpenTable;
using mt::apptest::RunDeferredDeletes;
using mt::apptest::TAppFixture;

namespace {

int LedgerCount() {
  return static_cast<int>(
      OpenQuery("select count(*) as n from szzb")->FieldByName("n").AsInteger());
}

struct TStoredEntry {
  QString date, item, description, memo, user, type;
  int itemId;
  std::optional<double> input, output;
  double balance;
};

std::optional<TStoredEntry> Stored(int id) {
  const auto table = OpenTable("szzb");
  mt::TEngineTable& szzb = *table;
  if (!szzb.Locate("id", mt::TVariant(id))) return std::nullopt;
  const auto amount = [&](const char* name) -> std::optional<double> {
    if (szzb.FieldByName(name).IsNull()) return std::nullopt;
    return szzb.FieldByName(name).AsFloat();
  };
  return TStoredEntry{QString::fromStdString(szzb.FieldByName("date").AsString()),
                      FromGbk(szzb.FieldByName("item").AsString()),
                      FromGbk(szzb.FieldByName("description").AsString()),
                      FromGbk(szzb.FieldByName("memo").AsString()),
                      FromGbk(szzb.FieldByName("user").AsString()),
                      FromGbk(szzb.FieldByName("type").AsString()),
                      static_cast<int>(szzb.FieldByName("itemid").AsInteger()),
                      amount("input"),
                      amount("output"),
                      szzb.FieldByName("balance").AsFloat()};
}

void ChooseCategory(TfrmAddshouzhi& dialog, const QString& name, int type, int id) {
  dialog.Edit1()->setText(name);
  dialog.Edit1()->SetItemType(type);
  dialog.Edit1()->SetItemId(QString::number(id));
}

}  // namespace

class TLedgerEntryTest : public QObject {
  Q_OBJECT
 private:
  std::unique_ptr<TAppFixture> fixture_;
  std::unique_ptr<TLedgerList> list_;

  // A ledger list of the sample entries, as the ledger list shows all of them.
  TLedgerList& SampleList() {
    FillLedgerList(*list_, fixture_->data.Entries());
    return *list_;
  }

 private Q_SLOTS:
  void init() {
    fixture_ = std::make_unique<TAppFixture>();
    list_ = std::make_unique<TLedgerList>();
  }
  void cleanup() {
    RunDeferredDeletes();
    list_.reset();
    fixture_.reset();
  }

  void theChecksRunInOrderAndLeaveTheFocus_data() {
    QTest::addColumn<bool>("category");
    QTest::addColumn<QString>("amount");
    QTest::addColumn<QString>("warning");
    QTest::newRow("no category") << false << ""
                                 << "收支分类不能为空.";
    QTest::newRow("no category, amount typed") << false << "12"
                                               << "收支分类不能为空.";
    QTest::newRow("no amount") << true << ""
                               << "金额不能为空.";
    QTest::newRow("blank amount") << true << "   "
                                  << "金额不能为空.";
    QTest::newRow("two points") << true << "1.2.3"
                                << "金额数字有误.";
    QTest::newRow("only a sign") << true << "-"
                                 << "金额数字有误.";
  }
  void theChecksRunInOrderAndLeaveTheFocus() {
    QFETCH(bool, category);
    QFETCH(QString, amount);
    QFETCH(QString, warning);
    TLedgerList& list = SampleList();
    TfrmAddshouzhi dialog(list);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    if (category) ChooseCategory(dialog, "餐饮", 1, 4);
    dialog.Edit2()->setText(amount);
    dialog.Edit3()->setFocus();
    dialog.SaveAndClose();
    QCOMPARE(fixture_->prompt.messages.size(), 1);
    QCOMPARE(fixture_->prompt.messages[0].text, warning);
    QVERIFY(dialog.isVisible());
    if (category) {
      QCOMPARE(QApplication::focusWidget(), dialog.Edit2());
      QVERIFY(!dialog.Picker());
    } else {
      // The picker drops down as if the field had been clicked.
      QVERIFY(dialog.Picker() && dialog.Picker()->isVisible());
      QCOMPARE(dialog.Picker()->pos(),
               dialog.Edit1()->mapToGlobal(QPoint(0, dialog.Edit1()->height())));
      QCOMPARE(dialog.Picker()->width(), dialog.Edit1()->width());
      dialog.Picker()->close();
    }
    QCOMPARE(LedgerCount(), 18);
    QCOMPARE(list.RowCount(), 18);
  }

  void theAmountFieldTakesOnlyNumberKeys() {
    TfrmAddshouzhi dialog(*list_);
    dialog.show();
    QTest::keyClicks(dialog.Edit2(), "a1b,2.5x-");
    QCOMPARE(dialog.Edit2()->text(), QString("12.5-"));
    QTest::keyClick(dialog.Edit2(), Qt::Key_Backspace);
    QCOMPARE(dialog.Edit2()->text(), QString("12.5"));
  }

  void theAmountIsReadWithAPointWhateverTheLocale_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<double>("amount");
    QTest::newRow("negative") << "-5" << true << -5.0;
    QTest::newRow("decimal point") << "1.5" << true << 1.5;
    QTest::newRow("as typed") << "12.50" << true << 12.5;
    QTest::newRow("blanks around") << " 7 " << true << 7.0;
    QTest::newRow("decimal comma") << "1,5" << false << 0.0;
    QTest::newRow("two points") << "1.2.3" << false << 0.0;
    QTest::newRow("too large") << "1" + QString(400, '0') << false << 0.0;
  }
  void theAmountIsReadWithAPointWhateverTheLocale() {
    QFETCH(QString, text);
    QFETCH(bool, ok);
    QFETCH(double, amount);
    const QLocale previous;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    double read = 0;
    const bool result = TfrmAddshouzhi::ReadAmount(text, read);
    QLocale::setDefault(previous);
    QCOMPARE(result, ok);
    if (ok) QCOMPARE(read, amount);
  }

  void theNewEntryAndItsBalance_data() {
    QTest::addColumn<QString>("ledger");         // "empty", "sample" (table only) or "listed"
    QTest::addColumn<QString>("bottomBalance");  // the list's bottom balance cell, when listed
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("amount");
    QTest::addColumn<int>("id");
    QTest::addColumn<double>("balance");
    const double sampleNet =
        3500 + 3500 + 800 + 3600 + 12.68 + 45.2 -
        (86.5 + 40 + 199 + 72.3 + 120 + 368 + 65 + 28.4 + 32 + 150 + 259 + 6.5);
    QTest::newRow("first entry") << "empty"
                                 << "" << 0 << "100" << 1 << 100.0;
    QTest::newRow("empty list: the sums") << "sample"
                                          << "" << 1 << "50" << 19 << sampleNet - 50;
    QTest::newRow("bottom row income") << "listed"
                                       << "200" << 0 << "50" << 19 << 250.0;
    QTest::newRow("bottom row expense") << "listed"
                                        << "200" << 1 << "50" << 19 << 150.0;
    QTest::newRow("empty bottom cell") << "listed"
                                       << "" << 0 << "50" << 19 << 50.0;
    QTest::newRow("typed with zeros") << "listed"
                                      << "10" << 1 << "12.50" << 19 << -2.5;
  }
  void theNewEntryAndItsBalance() {
    QFETCH(QString, ledger);
    QFETCH(QString, bottomBalance);
    QFETCH(int, type);
    QFETCH(QString, amount);
    QFETCH(int, id);
    QFETCH(double, balance);
    if (ledger == "empty") ExecSql("delete from szzb");
    if (ledger == "listed") {
      SampleList();
      TLedgerRow bottom = list_->Row(list_->RowCount() - 1);
      bottom[LedgerColumn::Balance] = bottomBalance;
      list_->Model().SetRow(list_->RowCount() - 1, bottom);
    }
    const int rowsBefore = list_->RowCount();
    TfrmAddshouzhi dialog(*list_);
    dialog.show();
    dialog.DateTimePicker1()->setDate(QDate(2004, 4, 22));
    ChooseCategory(dialog, type == 0 ? "工资" : "餐饮", type, type == 0 ? 1 : 4);
    dialog.Edit2()->setText(amount);
    dialog.Edit3()->setText("说明文字");
    dialog.Edit5()->setText("备注");
    dialog.SaveAndClose();
    QVERIFY(fixture_->prompt.messages.isEmpty());
    QCOMPARE(dialog.result(), int(QDialog::Accepted));

    const std::optional<TStoredEntry> e = Stored(id);
    QVERIFY(e);
    QCOMPARE(e->date, QString("2004-04-22"));
    QCOMPARE(e->item, type == 0 ? QString("工资") : QString("餐饮"));
    QCOMPARE(e->itemId, type == 0 ? 1 : 4);
    QCOMPARE(e->description, QString("说明文字"));
    QCOMPARE(e->memo, QString("备注"));
    QCOMPARE(e->user, QString("admin"));
    QCOMPARE(e->type, QString::number(type));
    // The other amount holds no value, not 0.
    QCOMPARE(e->input.has_value(), type == 0);
    QCOMPARE(e->output.has_value(), type == 1);
    QCOMPARE(e->input.value_or(0) + e->output.value_or(0), amount.toDouble());
    QCOMPARE(e->balance, balance);

    QCOMPARE(list_->RowCount(), rowsBefore + 1);
    const TLedgerRow& row = list_->Row(rowsBefore);
    QCOMPARE(row[LedgerColumn::Date], QString("2004-04-22"));
    QCOMPARE(row[type == 0 ? LedgerColumn::Income : LedgerColumn::Expense], amount);
    QVERIFY(row[type == 0 ? LedgerColumn::Expense : LedgerColumn::Income].isEmpty());
    QCOMPARE(row[LedgerColumn::Balance], GeneralNumber(balance));
    QCOMPARE(row[LedgerColumn::Id], QString::number(id));
    QCOMPARE(row[LedgerColumn::Type], QString::number(type));
    QCOMPARE(row[LedgerColumn::ItemId], QString::number(type == 0 ? 1 : 4));
    QCOMPARE(row[LedgerColumn::Memo], QString("备注"));
    QCOMPARE(row[LedgerColumn::User], QString("admin"));
    QCOMPARE(row[LedgerColumn::DisplayDate], QString("2004/4/22"));
  }

  void saveAndNewAfterAChangeAddsANewEntry() {
    TLedgerList& list = SampleList();
    list.SelectRow(1);  // 超市买菜, expense 86.5, id 2
    const auto changed = [&list](int column) { return list.Text(1, column); };
    TfrmAddshouzhi dialog(list);
    dialog.SetAdding(false);
    dialog.FillFromRow(list.Row(1));
    dialog.show();
    QCOMPARE(dialog.Edit1()->text(), QString("餐饮"));
    QCOMPARE(dialog.Edit2()->text(), QString("86.5"));
    QCOMPARE(dialog.DateTimePicker1()->date(), QDate(2004, 2, 3));
    dialog.Edit2()->setText("90.00");
    dialog.SaveAndNew();
    QVERIFY(dialog.Adding());
    QVERIFY(dialog.Edit1()->text().isEmpty() && dialog.Edit2()->text().isEmpty());
    QCOMPARE(Stored(2)->output, std::optional<double>(90));
    QCOMPARE(LedgerCount(), 18);
    QCOMPARE(list.RowCount(), 18);
    QCOMPARE(changed(LedgerColumn::Expense), QString("90.00"));
    QCOMPARE(changed(LedgerColumn::Id), QString("2"));

    ChooseCategory(dialog, "交通", 1, 5);
    dialog.Edit2()->setText("3");
    dialog.SaveAndNew();
    QCOMPARE(LedgerCount(), 19);
    QVERIFY(Stored(19));
    QCOMPARE(list.RowCount(), 19);
    QCOMPARE(list.Text(18, LedgerColumn::Id), QString("19"));
    QCOMPARE(changed(LedgerColumn::Item), QString("餐饮"));
  }

  void aChangeOfAVanishedEntryIsDropped() {
    TLedgerList& list = SampleList();
    list.SelectRow(1);
    const auto changed = [&list](int column) { return list.Text(1, column); };
    ExecSql("delete from szzb where id=2");
    TfrmAddshouzhi dialog(list);
    dialog.SetAdding(false);
    dialog.FillFromRow(list.Row(1));
    dialog.show();
    dialog.Edit2()->setText("1");
    dialog.SaveAndClose();
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QVERIFY(!dialog.Adding());
    QVERIFY(!Stored(2));
    QCOMPARE(LedgerCount(), 17);
    QCOMPARE(changed(LedgerColumn::Expense), QString("86.5"));
  }

  void showingInAddingModeEmptiesTheFields() {
    TfrmAddshouzhi dialog(*list_);
    ChooseCategory(dialog, "工资", 0, 1);
    dialog.Edit2()->setText("5");
    dialog.Edit3()->setText("x");
    dialog.Edit5()->setText("y");
    dialog.show();
    QVERIFY(dialog.Edit1()->text().isEmpty() && dialog.Edit2()->text().isEmpty() &&
            dialog.Edit3()->text().isEmpty() && dialog.Edit5()->text().isEmpty());
    QCOMPARE(dialog.Edit4()->text(), QString("admin"));
    QVERIFY(dialog.Edit4()->isReadOnly() && dialog.Edit1()->isReadOnly());
  }
};

MINTORA_APP_TEST(LedgerEntry, TLedgerEntryTest);

#include "addshouzhi_test.moc"
