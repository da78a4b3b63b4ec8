// The sample data reads back through the dataset layer as the window tests expect it: Chinese
// text through GBK, null amounts on the other side of each entry, running balances, a child
// category, diary text with line breaks; and it is the data directory only while it lives.
#include <QFile>
#include <QTest>

#include <cmath>

#include "apptests.h"
#include "datadir.h"
#include "dbaccess/enginetable.h"
#include "fixture.h"
#include "gbktext.h"

using mt::apptest::OpenTable;
using mt::apptest::TSampleData;

namespace {

QString Text(const mt::TEngineTable& t, const char* field) {
  return FromGbk(t.FieldByName(field).AsString());
}

}  // namespace

class TFixtureTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void sampleDataReadsBackThroughTheDatasetLayer() {
    const QString programDirectory = DataDirectory();
    {
      TSampleData data;
      QCOMPARE(DataDirectory(), data.Directory());
      QVERIFY(data.Directory() != programDirectory);

      auto users = OpenTable("User");
      QStringList names;
      for (; !users->Eof(); users->Next())
        names << Text(*users, "name");
      QCOMPARE(names, (QStringList{"admin", "张三", "tom"}));

      auto items = OpenTable("Items");
      int income = 0, expense = 0, children = 0;
      for (; !items->Eof(); items->Next()) {
        (items->FieldByName("type").AsInteger() == 0 ? income : expense)++;
        if (items->FieldByName("parent").AsInteger() != -1) ++children;
      }
      QVERIFY(income >= 2 && expense >= 2);
      QCOMPARE(children, 1);

      auto szzb = OpenTable("szzb");
      szzb->SetIndexFieldNames("id");
      QCOMPARE(int(szzb->RecordCount()), int(data.Entries().size()));
      double balance = 0;
      QSet<int> months;
      for (const auto& e : data.Entries()) {
        QCOMPARE(szzb->FieldByName("id").AsInteger(), e.id);
        QCOMPARE(Text(*szzb, "date"), e.date.toString("yyyy-MM-dd"));
        QCOMPARE(Text(*szzb, "item"), e.item);
        QCOMPARE(Text(*szzb, "user"), e.user);
        QCOMPARE(Text(*szzb, "type"), QString(e.income ? "0" : "1"));
        QVERIFY(szzb->FieldByName(e.income ? "output" : "input").IsNull());
        QCOMPARE(szzb->FieldByName(e.income ? "input" : "output").AsFloat(), e.amount);
        balance += e.income ? e.amount : -e.amount;
        QVERIFY(std::fabs(szzb->FieldByName("balance").AsFloat() - balance) < 1e-9);
        months << e.date.month();
        szzb->Next();
      }
      QVERIFY(szzb->Eof());
      QVERIFY(months.size() >= 3);
      QVERIFY(std::fabs(data.TotalIncome() - data.TotalExpense() - balance) < 1e-9);

      auto diary = OpenTable("diary");
      QCOMPARE(Text(*diary, "contents"), TSampleData::Notes()[0].contents);
      QVERIFY(Text(*diary, "Contents").contains("\r\n"));
    }
    QCOMPARE(DataDirectory(), programDirectory);
  }
};

MINTORA_APP_TEST(Fixture, TFixtureTest);
#include "fixture_test.moc"
