// The chart windows: the months of a range and the days each counts, the comparison bars and
// totals, the category pies, the monthly averages and the daily expense bars, read from a real
// ledger (the sample data plus rows of the case); and what each window hands its charts, its
// toggles and its wiring into the main window.
#include <QBarSeries>
#include <QBarSet>
#include <QChartView>
#include <QLabel>
#include <QPieSeries>
#include <QPieSlice>
#include <QPushButton>
#include <QStackedBarSeries>
#include <QTest>

#include <cmath>

#include "apptests.h"
#include "charts/chartdata.h"
#include "charts/uchart.h"
#include "charts/uchart2.h"
#include "charts/uchart3.h"
#include "fixture.h"
#include "umain.h"

using mt::apptest::TAppFixture;
using mt::apptest::TMainWindowFixture;
using mt::apptest::TSampleEntry;

namespace {

QDate D(const char* text) {
  return QDate::fromString(text, "yyyy-MM-dd");
}

bool Near(double a, double b) {
  return std::fabs(a - b) < 1e-9;
}

QString Values(const std::vector<TChartValue>& values) {
  QStringList parts;
  for (const TChartValue& v : values)
    parts << v.label + "=" + QString::number(v.value, 'f', 4);
  return parts.join(", ");
}

QString Numbers(const std::vector<double>& values) {
  QStringList parts;
  for (double v : values)
    parts << QString::number(v, 'f', 4);
  return parts.join(", ");
}

// Adds ledger rows of the case: day, category, amount, income or not, and the type text.
class TRows {
 public:
  explicit TRows(TAppFixture& fixture) : fixture_(fixture) {}
  TRows& Add(const char* day, const QString& item, double amount, bool income,
             const QString& type = {}) {
    const TSampleEntry e{nextId_++, D(day), 1, item, "", "", "admin", amount, income, 0};
    fixture_.data.AddLedgerRow(e, type.isEmpty() ? (income ? "0" : "1") : type);
    return *this;
  }

 private:
  TAppFixture& fixture_;
  int nextId_ = 1000;
};

}  // namespace

class TChartsTest : public QObject {
  Q_OBJECT
 private:
  std::unique_ptr<TAppFixture> fixture_;

 private Q_SLOTS:
  void init() { fixture_ = std::make_unique<TAppFixture>(); }
  void cleanup() { fixture_.reset(); }

  void monthsOfARange_data() {
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("end");
    QTest::addColumn<QString>("months");  // label: first day counted .. first day not counted
    QTest::addColumn<int>("count");
    QTest::newRow("inside one month") << "2005-03-05"
                                      << "2005-03-20"
                                      << "2005年3月:2005-03-05..2005-03-21" << 1;
    QTest::newRow("partial first and last")
        << "2005-03-15"
        << "2005-05-10"
        << "2005年3月:2005-03-15..2005-04-01 2005年4月:2005-04-01..2005-05-01 "
           "2005年5月:2005-05-01..2005-05-11"
        << 3;
    QTest::newRow("across a year end")
        << "2004-11-20"
        << "2005-02-10"
        << "2004年11月:2004-11-20..2004-12-01 2004年12月:2004-12-01..2005-01-01 "
           "2005年1月:2005-01-01..2005-02-01 2005年2月:2005-02-01..2005-02-11"
        << 4;
    QTest::newRow("december to december") << "2004-12-01"
                                          << "2004-12-31"
                                          << "2004年12月:2004-12-01..2005-01-01" << 1;
    QTest::newRow("end a month before start") << "2005-03-01"
                                              << "2005-02-28"
                                              << "" << 0;
    QTest::newRow("end a year before start") << "2005-03-01"
                                             << "2004-03-31"
                                             << "" << -11;
    QTest::newRow("end before start in one month") << "2005-03-20"
                                                   << "2005-03-10"
                                                   << "2005年3月:2005-03-20..2005-03-11" << 1;
  }
  void monthsOfARange() {
    QFETCH(QString, start);
    QFETCH(QString, end);
    QFETCH(QString, months);
    QFETCH(int, count);
    QStringList got;
    for (const TChartMonth& m : ChartMonths(D(qPrintable(start)), D(qPrintable(end))))
      got << m.label + ":" + ChartDateText(m.from) + ".." + ChartDateText(m.before);
    QCOMPARE(got.join(" "), months);
    QCOMPARE(ChartMonthCount(D(qPrintable(start)), D(qPrintable(end))), count);
  }

  void comparisonCountsEachMonthsOwnDays() {
    TChartQuery query;
    // Sample ledger, 3 February to 9 April 2004: the 1 February salary and everything after
    // 9 April stay out.
    const TComparisonData d = ComparisonData(query, D("2004-02-03"), D("2004-04-09"));
    QCOMPARE(d.title, QString("收支对比图 从 2004-02-03 到 2004-04-09"));
    QCOMPARE(d.months, (QStringList{"2004年2月", "2004年3月", "2004年4月"}));
    QCOMPARE(Numbers(d.income), Numbers({12.68, 4300, 3600}));
    QCOMPARE(Numbers(d.expense), Numbers({397.8, 581.4, 182}));
    QCOMPARE(Numbers(d.balance), Numbers({12.68 - 397.8, 4300 - 581.4, 3600 - 182}));
    QCOMPARE(d.heading, QString("2004-02-03\n 到\n2004-04-09"));
    QCOMPARE(d.incomeText, QString("7912.68"));
    QCOMPARE(d.expenseText, QString("1161.20"));
    QCOMPARE(d.balanceText, QString("6751.48"));
  }

  void comparisonAcrossAYearEndWithEmptyMonths() {
    TRows(*fixture_)
        .Add("2003-10-31", "工资", 1, true)
        .Add("2003-11-30", "工资", 2, true)
        .Add("2003-12-01", "工资", 4, true)
        .Add("2003-12-31", "餐饮", 8, false)
        .Add("2003-12-31", "工资", 16, true);
    TChartQuery query;
    const TComparisonData d = ComparisonData(query, D("2003-11-30"), D("2004-02-01"));
    QCOMPARE(d.months, (QStringList{"2003年11月", "2003年12月", "2004年1月", "2004年2月"}));
    QCOMPARE(Numbers(d.income), Numbers({2, 20, 0, 3500}));
    QCOMPARE(Numbers(d.expense), Numbers({0, 8, 0, 0}));
    QCOMPARE(Numbers(d.balance), Numbers({2, 12, 0, 3500}));
    QCOMPARE(d.incomeText, QString("3522.00"));
    QCOMPARE(d.balanceText, QString("3514.00"));
  }

  void comparisonOfABackwardRangeIsEmpty() {
    TChartQuery query;
    const TComparisonData d = ComparisonData(query, D("2004-04-01"), D("2004-03-31"));
    QVERIFY(d.months.isEmpty());
    QVERIFY(d.income.empty() && d.expense.empty() && d.balance.empty());
    QCOMPARE(d.incomeText, QString("0.00"));
    QCOMPARE(d.expenseText, QString("0.00"));
    QCOMPARE(d.balanceText, QString("0.00"));
    QVERIFY(SharePie(query, TChartSide::Expense, D("2004-04-01"), D("2004-03-31")).values.empty());
  }

  void pieHasEachCategoryOnceInNameOrder() {
    TChartQuery query;
    const TSideData expense =
        SharePie(query, TChartSide::Expense, D("2004-02-01"), D("2004-04-23"));
    QCOMPARE(expense.title, QString("支出比例饼图 从 2004-02-01 到 2004-04-23"));
    QCOMPARE(expense.toggleCaption, QString("显示 收入"));
    QCOMPARE(expense.toggleTag, 1);
    QCOMPARE(Values(expense.values), Values({{"餐饮", 86.5 + 120 + 32},
                                             {"购物", 199 + 368 + 259},
                                             {"交通", 40 + 65 + 150},
                                             {"水电煤", 72.3 + 28.4},
                                             {"早餐", 6.5}}));
    const TSideData income = SharePie(query, TChartSide::Income, D("2004-02-01"), D("2004-04-23"));
    QCOMPARE(income.title, QString("收入比例饼图 从 2004-02-01 到 2004-04-23"));
    QCOMPARE(income.toggleCaption, QString("显示 支出"));
    QCOMPARE(income.toggleTag, 0);
    QCOMPARE(Values(income.values),
             Values({{"工资", 3500 + 3500 + 3600}, {"奖金", 800}, {"利息", 12.68 + 45.2}}));
    QCOMPARE(OtherSide(1), TChartSide::Income);
    QCOMPARE(OtherSide(0), TChartSide::Expense);
  }

  void averages_data() {
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("end");
    QTest::addColumn<QString>("bars");
    QTest::newRow("three months") << "2005-01-10"
                                  << "2005-03-05"
                                  << "总收入月平均=100.0000, 工资=100.0000";
    QTest::newRow("one month: the sums") << "2005-02-01"
                                         << "2005-02-28"
                                         << "总收入月平均=300.0000, 工资=300.0000";
    QTest::newRow("across a year end") << "2004-12-01"
                                       << "2005-01-31"
                                       << "总收入月平均=40.0000, 奖金=40.0000";
    QTest::newRow("backward: nothing") << "2005-03-05"
                                       << "2005-01-10"
                                       << "";
  }
  void averages() {
    QFETCH(QString, start);
    QFETCH(QString, end);
    QFETCH(QString, bars);
    TRows(*fixture_)
        .Add("2004-12-05", "奖金", 50, true)
        .Add("2005-01-05", "奖金", 30, true)
        .Add("2005-02-01", "工资", 300, true);
    TChartQuery query;
    const QDate from = D(qPrintable(start));
    const QDate to = D(qPrintable(end));
    const TSideData b = AverageBars(query, TChartSide::Income, from, to);
    QCOMPARE(b.title, "收入月平均图 从 " + start + " 到 " + end);
    QCOMPARE(Values(b.values), bars);
    const TSideData p = AveragePie(query, TChartSide::Income, from, to);
    QCOMPARE(p.title, "收入月平均比例饼图 从 " + start + " 到 " + end);
    // The pie has the category bars' slices.
    QCOMPARE(Values(p.values), bars.section(", ", 1));
  }

  void averageOfTheWholeSideCountsEveryTypeTheCategoriesOnlyTheirOwn() {
    TRows(*fixture_)
        .Add("2005-06-02", "餐饮", 30, false)
        .Add("2005-06-03", "餐饮", 6, false, "9")  // neither income nor expense type
        .Add("2005-06-04", "工资", 900, true);
    TChartQuery query;
    const TSideData b = AverageBars(query, TChartSide::Expense, D("2005-06-01"), D("2005-07-31"));
    QCOMPARE(b.title, QString("支出月平均图 从 2005-06-01 到 2005-07-31"));
    QCOMPARE(b.toggleCaption, QString("显示 收入"));
    QCOMPARE(b.toggleTag, 1);
    QCOMPARE(Values(b.values), Values({{"总支出月平均", 18}, {"餐饮", 15}}));
    const TSideData p = AveragePie(query, TChartSide::Expense, D("2005-06-01"), D("2005-07-31"));
    QCOMPARE(p.title, QString("支出月平均比例饼图 从 2005-06-01 到 2005-07-31"));
    QCOMPARE(Values(p.values), Values({{"餐饮", 15}}));
  }

  void dailyExpenses() {
    TRows(*fixture_)
        .Add("2005-06-01", "餐饮", 10, false)
        .Add("2005-06-03", "餐饮", 12.345, false)
        .Add("2005-06-03", "交通", 17.655, false)
        .Add("2005-06-04", "工资", 500, true);
    TChartQuery query;
    const TDailyData d = DailyExpenses(query, D("2005-05-01"), D("2005-06-30"));
    QCOMPARE(d.title, QString("每日支出月平均图 从 2005-05-01 到 2005-06-30"));
    const QLocale locale = QLocale::system();
    QCOMPARE(Values(d.days),
             Values({{locale.toString(D("2005-06-01"), QLocale::ShortFormat), 10},
                     {locale.toString(D("2005-06-03"), QLocale::ShortFormat), 30}}));
    QVERIFY(Near(d.average, 20));
    QCOMPARE(d.averageText, QString("日平均消费:￥20.00"));

    const TDailyData none = DailyExpenses(query, D("2005-07-01"), D("2005-07-31"));
    QVERIFY(none.days.empty());
    QCOMPARE(none.averageText, QString("日平均消费:￥0.00"));
  }

  void dailyValuesAreRoundedToCents() {
    TRows(*fixture_)
        .Add("2005-06-01", "餐饮", 0.1, false)
        .Add("2005-06-01", "餐饮", 0.2, false)
        .Add("2005-06-02", "餐饮", 2.345, false);
    TChartQuery query;
    const TDailyData d = DailyExpenses(query, D("2005-06-01"), D("2005-06-02"));
    QCOMPARE(d.days.size(), std::size_t(2));
    QVERIFY(d.days[0].value == 0.3);
    QVERIFY(d.days[1].value == 2.35);
    QCOMPARE(d.averageText, QString("日平均消费:￥1.33"));
  }
};

// The windows inside the main window, on the sample data.
class TChartWindowsTest : public QObject {
  Q_OBJECT
 private:
  std::unique_ptr<TMainWindowFixture> fixture_;
  Tfrmmain& Window() { return fixture_->Window(); }

  template <class T>
  T& Open(const QString& item) {
    const bool chosen = Window().Choose(item);
    Q_ASSERT(chosen);
    Q_UNUSED(chosen);
    auto* view = qobject_cast<T*>(Window().CurrentView());
    Q_ASSERT(view);
    return *view;
  }

  static QAbstractSeries* Series(QWidget& window, const QString& chart) {
    auto* view = window.findChild<QChartView*>(chart);
    Q_ASSERT(view);
    const QList<QAbstractSeries*> series = view->chart()->series();
    return series.size() == 1 ? series[0] : nullptr;
  }

  static QStringList SliceLabels(QWidget& window, const QString& chart) {
    QStringList labels;
    for (QPieSlice* s : qobject_cast<QPieSeries*>(Series(window, chart))->slices())
      labels << s->label();
    return labels;
  }

  static QStringList BarLegend(QWidget& window, const QString& chart) {
    QStringList labels;
    for (QBarSet* s : qobject_cast<QStackedBarSeries*>(Series(window, chart))->barSets())
      labels << s->label();
    return labels;
  }

  static void Click(QWidget& window, const QString& button) {
    auto* b = window.findChild<QPushButton*>(button);
    Q_ASSERT(b);
    QTest::mouseClick(b, Qt::LeftButton);
  }

 private Q_SLOTS:
  void init() { fixture_ = std::make_unique<TMainWindowFixture>(); }
  void cleanup() { fixture_.reset(); }

  void comparisonWindow() {
    auto& w = Open<Tfrmchart>("mnuSzdb");
    QCOMPARE(w.objectName(), QString("frmchart"));
    QCOMPARE(w.windowTitle(), QString("收支对比图"));
    QCOMPARE(Window().PressedButton()->objectName(), QString("btnhztb"));
    w.SetRange(D("2004-03-01"), D("2004-04-23"));
    Click(w, "btnrefresh");
    auto* bars = w.findChild<QChartView*>("Chart1")->chart();
    QCOMPARE(bars->title(), QString("收支对比图 从 2004-03-01 到 2004-04-23"));
    auto* series = qobject_cast<QBarSeries*>(Series(w, "Chart1"));
    QVERIFY(series);
    QStringList sets;
    for (QBarSet* s : series->barSets())
      sets << s->label() + ":" + QString::number(s->at(0)) + "," + QString::number(s->at(1));
    QCOMPARE(sets, (QStringList{"收入:4300,3645.2", "支出:581.4,447.5", "余额:3718.6,3197.7"}));
    QCOMPARE(series->barSets()[0]->color(), QColor(255, 0, 0));
    QCOMPARE(w.findChild<QLabel*>("lblshouru")->text(), QString("7945.20"));
    QCOMPARE(w.findChild<QLabel*>("lblzhichu")->text(), QString("1028.90"));
    QCOMPARE(w.findChild<QLabel*>("lblyue")->text(), QString("6916.30"));
    QCOMPARE(w.findChild<QLabel*>("lbltitle")->text(), QString("2004-03-01\n 到\n2004-04-23"));
    QCOMPARE(SliceLabels(w, "Chart2"),
             (QStringList{"餐饮 14.8%", "购物 60.9%", "交通 20.9%", "水电煤 2.8%", "早餐 0.6%"}));
    QCOMPARE(w.findChild<QPushButton*>("btnSz")->text(), QString("显示 收入"));
    Click(w, "btnSz");
    QCOMPARE(w.findChild<QChartView*>("Chart2")->chart()->title(),
             QString("收入比例饼图 从 2004-03-01 到 2004-04-23"));
    QCOMPARE(SliceLabels(w, "Chart2"), (QStringList{"工资 89.4%", "奖金 10.1%", "利息 0.6%"}));
    QCOMPARE(w.findChild<QPushButton*>("btnSz")->text(), QString("显示 支出"));
    Click(w, "btnSz");
    QCOMPARE(SliceLabels(w, "Chart2").size(), 5);
    // A backward range: no bars, no slices, zero totals.
    w.SetRange(D("2004-04-01"), D("2004-03-31"));
    Click(w, "btnrefresh");
    QCOMPARE(qobject_cast<QBarSeries*>(Series(w, "Chart1"))->barSets()[0]->count(), 0);
    QCOMPARE(SliceLabels(w, "Chart2"), QStringList());
    QCOMPARE(w.findChild<QLabel*>("lblyue")->text(), QString("0.00"));
  }

  void averageWindow() {
    auto& w = Open<TfrmChart2>("mnuYpjsz");
    QCOMPARE(w.objectName(), QString("frmChart2"));
    w.SetRange(D("2004-02-01"), D("2004-03-31"));
    Click(w, "btnrefresh");
    QCOMPARE(w.findChild<QChartView*>("Chart3")->chart()->title(),
             QString("收入月平均图 从 2004-02-01 到 2004-03-31"));
    QCOMPARE(BarLegend(w, "Chart3"),
             (QStringList{"3906.34  总收入月平均", "3500.00  工资", "400.00  奖金", "6.34  利息"}));
    QCOMPARE(SliceLabels(w, "Chart4"), (QStringList{"工资 89.6%", "奖金 10.2%", "利息 0.2%"}));
    Click(w, "btnchart3");
    QCOMPARE(w.findChild<QPushButton*>("btnchart3")->text(), QString("显示 收入"));
    QCOMPARE(BarLegend(w, "Chart3").first(), QString("489.60  总支出月平均"));
    // The pie keeps its own side.
    QCOMPARE(SliceLabels(w, "Chart4").size(), 3);
    Click(w, "btnchart4");
    QCOMPARE(w.findChild<QPushButton*>("btnchart4")->text(), QString("显示 收入"));
    QCOMPARE(SliceLabels(w, "Chart4").size(), 4);
    // "刷新显示" goes back to income on both.
    Click(w, "btnrefresh");
    QCOMPARE(w.findChild<QPushButton*>("btnchart3")->text(), QString("显示 支出"));
    QCOMPARE(w.findChild<QPushButton*>("btnchart4")->text(), QString("显示 支出"));
    w.SetRange(D("2004-03-01"), D("2004-02-01"));
    Click(w, "btnrefresh");
    QCOMPARE(BarLegend(w, "Chart3"), QStringList());
    QCOMPARE(SliceLabels(w, "Chart4"), QStringList());
  }

  void dailyWindow() {
    auto& w = Open<Tfrmchart3>("N14");
    QCOMPARE(w.objectName(), QString("frmchart3"));
    QCOMPARE(w.windowTitle(), QString("每月支出对比图"));
    w.SetRange(D("2004-04-01"), D("2004-04-30"));
    Click(w, "btnrefresh");
    const QLocale locale = QLocale::system();
    QCOMPARE(BarLegend(w, "chart1"),
             (QStringList{"32.00  " + locale.toString(D("2004-04-05"), QLocale::ShortFormat),
                          "150.00  " + locale.toString(D("2004-04-09"), QLocale::ShortFormat),
                          "259.00  " + locale.toString(D("2004-04-12"), QLocale::ShortFormat),
                          "6.50  " + locale.toString(D("2004-04-18"), QLocale::ShortFormat)}));
    QCOMPARE(w.findChild<QLabel*>("Label1")->text(), QString("日平均消费:￥111.88"));
    // Every bar its own colour, each at its own place only.
    auto* series = qobject_cast<QStackedBarSeries*>(Series(w, "chart1"));
    QCOMPARE(series->barSets()[1]->at(1), 150.0);
    QCOMPARE(series->barSets()[1]->at(0), 0.0);
    QVERIFY(series->barSets()[0]->color() != series->barSets()[1]->color());
  }
};

MINTORA_APP_TEST(Charts, TChartsTest);
MINTORA_APP_TEST(ChartWindows, TChartWindowsTest);
#include "charts_test.moc"
