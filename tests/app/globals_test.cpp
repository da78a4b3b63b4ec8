// The globals helpers: zero padding, money text and month differences.
#include <QLocale>
#include <QTest>

#include "apptests.h"
#include "globals.h"

class TGlobalsTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void initTestCase() { QLocale::setDefault(QLocale::c()); }

  void zeroPad_data() {
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("width");
    QTest::addColumn<QString>("expected");
    QTest::newRow("month") << 7 << 2 << "07";
    QTest::newRow("two digits") << 12 << 2 << "12";
    QTest::newRow("year") << 2004 << 4 << "2004";
    QTest::newRow("longer than width") << 12345 << 2 << "12345";
    QTest::newRow("zero") << 0 << 2 << "00";
  }
  void zeroPad() {
    QFETCH(int, value);
    QFETCH(int, width);
    QFETCH(QString, expected);
    QCOMPARE(ZeroPad(value, width), expected);
  }

  void formatMoney_data() {
    QTest::addColumn<double>("amount");
    QTest::addColumn<QString>("expected");
    QTest::newRow("negative rounds") << -3.456 << "-3.46";
    QTest::newRow("zero") << 0.0 << "0.00";
    QTest::newRow("no grouping") << 1234.5 << "1234.50";
    QTest::newRow("half up on the written value") << 1.005 << "1.01";
    QTest::newRow("sum noise") << (0.1 + 0.2) << "0.30";
    QTest::newRow("carry") << 9.999 << "10.00";
    QTest::newRow("tiny negative is zero") << -0.001 << "0.00";
    QTest::newRow("large") << 12345678.9 << "12345678.90";
    QTest::newRow("below one") << 0.05 << "0.05";
  }
  void formatMoney() {
    QFETCH(double, amount);
    QFETCH(QString, expected);
    QCOMPARE(FormatMoney(amount), expected);
  }

  void formatMoneyUsesLocaleDecimalSeparator() {
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    QCOMPARE(FormatMoney(1234.5), QString("1234,50"));
    QLocale::setDefault(QLocale::c());
  }

  void monthDiff_data() {
    QTest::addColumn<QDate>("first");
    QTest::addColumn<QDate>("second");
    QTest::addColumn<int>("expected");
    QTest::newRow("backwards") << QDate(2004, 3, 31) << QDate(2004, 1, 1) << -2;
    QTest::newRow("same month") << QDate(2004, 1, 15) << QDate(2004, 1, 20) << 0;
    QTest::newRow("across years") << QDate(2004, 11, 10) << QDate(2005, 2, 1) << 3;
    QTest::newRow("whole years") << QDate(2001, 6, 1) << QDate(2004, 6, 30) << 36;
  }
  void monthDiff() {
    QFETCH(QDate, first);
    QFETCH(QDate, second);
    QFETCH(int, expected);
    QCOMPARE(MonthDiff(first, second), expected);
    QCOMPARE(MonthDiff(first.startOfDay(), second.startOfDay()), expected);
  }

  void dateParts() {
    const QDateTime t(QDate(2004, 2, 29), QTime(23, 59));
    QCOMPARE(YearOfDate(t), 2004);
    QCOMPARE(MonthOfDate(t), 2);
    QCOMPARE(DayOfDate(t), 29);
  }

  void globalStateStartsEmpty() {
    QVERIFY(GlobalVars.UserName.isEmpty());
    QVERIFY(GlobalVars.PickedDate.isEmpty());
    QCOMPARE(GlobalVars.DateFormat, QLocale::system().dateFormat(QLocale::ShortFormat));
  }
};

MINTORA_APP_TEST(Globals, TGlobalsTest);
#include "globals_test.moc"
