// What the three chart windows hand to their charts, computed from the ledger (`szzb`) apart
// from any drawing: the months of a range with their labels and the days each one counts, the
// monthly income / expense / balance bars with the range totals, the per-category pies, the
// monthly averages and the daily expense bars. The windows only turn these into series.
//
// Every date of a range goes into the statements as a parameter, never as statement text.
// A range whose end lies in an earlier month than its start has no months: no month bars,
// and no averages (their month count would be 0 or less).
#pragma once

#include <QDate>
#include <QString>
#include <QStringList>

#include <memory>
#include <string_view>
#include <vector>

namespace mt {
class TEngineQuery;
}

// Which side of the ledger a chart shows; the value is the ledger's `type` and the toggle
// buttons' tag.
enum class TChartSide { Income = 0, Expense = 1 };

// One calendar month of a range: the days it counts are [from, before).
struct TChartMonth {
  int year = 0;
  int month = 0;
  QDate from;
  QDate before;
  QString label;  // "2005年3月"
};

// The months from the start date's month to the end date's month, in order and across year
// ends; the first counts from the start date, the last up to and including the end date. Empty
// when the end date's month lies before the start date's month.
std::vector<TChartMonth> ChartMonths(const QDate& start, const QDate& end);

// Calendar months a range touches (MonthDiff + 1); 0 or less for a backward range.
int ChartMonthCount(const QDate& start, const QDate& end);

// A value as the charts draw it and the totals count it: rounded to two decimals, as its
// "0.00" text reads back.
double Shown(double value);

// "yyyy-mm-dd", as dates appear in the charts' titles.
QString ChartDateText(const QDate& date);

// A bar or a slice: its label and value.
struct TChartValue {
  QString label;
  double value = 0;
};

// The comparison window's bars and totals.
struct TComparisonData {
  QString title;                                 // bar chart title
  QStringList months;                            // one label per month
  std::vector<double> income, expense, balance;  // one value per month
  QString heading;                               // the totals panel's range heading
  QString incomeText;                            // totals, "0.00"
  QString expenseText;
  QString balanceText;
};

// A pie or a set of average bars of one side, with the toggle that asks for the other side.
struct TSideData {
  TChartSide side = TChartSide::Expense;
  QString title;
  QString toggleCaption;  // "显示 收入" on the expense side, "显示 支出" on the income side
  int toggleTag = 1;      // the side shown
  std::vector<TChartValue> values;
};

// The daily expense bars and their average over the days that have expenses.
struct TDailyData {
  QString title;
  std::vector<TChartValue> days;
  double average = 0;
  QString averageText;  // "日平均消费:￥" + average with two decimals
};

// The one query dataset a chart window reads the ledger through, on the data directory as it
// is at each statement. Used by one thread at a time.
class TChartQuery {
 public:
  TChartQuery();
  ~TChartQuery();
  TChartQuery(const TChartQuery&) = delete;
  TChartQuery& operator=(const TChartQuery&) = delete;

  // Statements name their dates ":start" and either ":end" (the last day counted) or
  // ":before" (the first day not counted); `to` is bound to whichever the statement has.
  //
  // Runs the statement and reads one number of its first row; no row or null reads as 0.
  double Sum(std::string_view sql, std::string_view column, const QDate& from, const QDate& to);
  // Runs a grouped statement and reads each row's key and sum: the key as text (a date key in
  // the system's short date format) and the sum as a number (null as 0).
  std::vector<TChartValue> Rows(std::string_view sql, std::string_view key, std::string_view column,
                                const QDate& from, const QDate& to);

 private:
  mt::TEngineQuery& Run(std::string_view sql, const QDate& from, const QDate& to);
  std::unique_ptr<mt::TEngineQuery> query_;
};

// The comparison window: month bars and totals of [start, end].
TComparisonData ComparisonData(TChartQuery& query, const QDate& start, const QDate& end);
// The comparison window's pie: the side's sum per category of that side over [start, end].
TSideData SharePie(TChartQuery& query, TChartSide side, const QDate& start, const QDate& end);
// The monthly average window's bars: the whole side first, then one bar per category.
TSideData AverageBars(TChartQuery& query, TChartSide side, const QDate& start, const QDate& end);
// The monthly average window's pie: one slice per category.
TSideData AveragePie(TChartQuery& query, TChartSide side, const QDate& start, const QDate& end);
// The daily expense window's bars and average.
TDailyData DailyExpenses(TChartQuery& query, const QDate& start, const QDate& end);

// The other side: what a toggle with that tag asks for.
TChartSide OtherSide(int toggleTag);
