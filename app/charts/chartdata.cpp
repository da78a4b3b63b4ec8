// The chart windows' data, read from the ledger; see chartdata.h.
#include "chartdata.h"

#include <QLocale>

#include "datadir.h"
#include "dbaccess/enginequery.h"
#include "gbktext.h"
#include "globals.h"

namespace {

// One month's income and expense, counted over [:start, :before).
constexpr std::string_view kMonthIncomeSql =
    "select sum(input) as allinput from szzb where date>=:start and date<:before";
constexpr std::string_view kMonthExpenseSql =
    "select sum(output) as alloutput from szzb where date>=:start and date<:before";
// The range's totals over [:start, :end]; the monthly average window's whole-range sums use
// the same statements. Every entry counts in its column, whatever its type.
constexpr std::string_view kRangeIncomeSql =
    "select sum(input) as allinput from szzb where date>=:start and date<=:end";
constexpr std::string_view kRangeExpenseSql =
    "select sum(output) as alloutput from szzb where date>=:start and date<=:end";
// Per category of one side: only entries of that type count.
constexpr std::string_view kIncomeItemsSql =
    "select item,sum(input) as allinput from szzb  where date>=:start and date<=:end and "
    "type=\"0\" group by item order by item";
constexpr std::string_view kExpenseItemsSql =
    "select item,sum(output) as allinput from szzb  where date>=:start and date<=:end and "
    "type=\"1\" group by item order by item";
// Expense per day.
constexpr std::string_view kDailySql =
    "select date,sum(output) as alloutput from szzb  where date>=:start and date<=:end and "
    "type=\"1\" group by date order by date";

// The engine's date numbers count days from 30 December 1899.
const QDate kDayZero(1899, 12, 30);

mt::TDateTime EngineDate(const QDate& date) {
  return static_cast<mt::TDateTime>(kDayZero.daysTo(date));
}

QString RangeText(const QDate& start, const QDate& end) {
  return QStringLiteral(" 从 ") + ChartDateText(start) + QStringLiteral(" 到") + " " +
         ChartDateText(end);
}

std::string_view ItemsSql(TChartSide side) {
  return side == TChartSide::Expense ? kExpenseItemsSql : kIncomeItemsSql;
}

// Title and toggle of one side; the values are left to the caller.
TSideData Side(TChartSide side, const QString& expenseTitle, const QString& incomeTitle,
               const QDate& start, const QDate& end) {
  TSideData data;
  data.side = side;
  const bool expense = side == TChartSide::Expense;
  data.title = (expense ? expenseTitle : incomeTitle) + RangeText(start, end);
  data.toggleCaption = expense ? QStringLiteral("显示 收入") : QStringLiteral("显示 支出");
  data.toggleTag = static_cast<int>(side);
  return data;
}

}  // namespace

std::vector<TChartMonth> ChartMonths(const QDate& start, const QDate& end) {
  std::vector<TChartMonth> months;
  const int count = ChartMonthCount(start, end);
  QDate first(start.year(), start.month(), 1);
  for (int i = 0; i < count; ++i, first = first.addMonths(1)) {
    TChartMonth m;
    m.year = first.year();
    m.month = first.month();
    m.from = i == 0 ? start : first;
    m.before = i == count - 1 ? end.addDays(1) : first.addMonths(1);
    m.label = QString::asprintf("%d年%d月", m.year, m.month);
    months.push_back(m);
  }
  return months;
}

double Shown(double value) {
  return QLocale().toDouble(FormatMoney(value));
}

int ChartMonthCount(const QDate& start, const QDate& end) {
  return MonthDiff(start, end) + 1;
}

QString ChartDateText(const QDate& date) {
  return ZeroPad(date.year(), 4) + "-" + ZeroPad(date.month(), 2) + "-" + ZeroPad(date.day(), 2);
}

TChartQuery::TChartQuery() : query_(std::make_unique<mt::TEngineQuery>()) {}

TChartQuery::~TChartQuery() = default;

mt::TEngineQuery& TChartQuery::Run(std::string_view sql, const QDate& from, const QDate& to) {
  mt::TEngineQuery& q = *query_;
  q.Close();
  q.SetDatabaseName(ToGbk(DataDirectory()));
  q.SetSQL(sql);
  q.ParamByName("start").SetAsDate(EngineDate(from));
  for (const char* name : {"end", "before"})
    if (mt::TParam* p = q.Params().FindParam(name)) p->SetAsDate(EngineDate(to));
  q.Open();
  return q;
}

double TChartQuery::Sum(std::string_view sql, std::string_view column, const QDate& from,
                        const QDate& to) {
  mt::TEngineQuery& q = Run(sql, from, to);
  const double sum = q.Eof() ? 0.0 : q.FieldByName(column).AsFloat();
  q.Close();
  return sum;
}

std::vector<TChartValue> TChartQuery::Rows(std::string_view sql, std::string_view key,
                                           std::string_view column, const QDate& from,
                                           const QDate& to) {
  mt::TEngineQuery& q = Run(sql, from, to);
  std::vector<TChartValue> rows;
  for (; !q.Eof(); q.Next()) {
    const mt::TField& keyField = q.FieldByName(key);
    QString label = FromGbk(keyField.AsString());
    if (keyField.Kind() == mt::TFieldKind::Date) {
      const QDate day = QDate::fromString(label, "yyyy-MM-dd");
      label = QLocale::system().toString(day, QLocale::ShortFormat);
    }
    rows.push_back({label, q.FieldByName(column).AsFloat()});
  }
  q.Close();
  return rows;
}

TComparisonData ComparisonData(TChartQuery& query, const QDate& start, const QDate& end) {
  TComparisonData data;
  data.title = QStringLiteral("收支对比图") + RangeText(start, end);
  for (const TChartMonth& m : ChartMonths(start, end)) {
    const double income = query.Sum(kMonthIncomeSql, "allinput", m.from, m.before);
    const double expense = query.Sum(kMonthExpenseSql, "alloutput", m.from, m.before);
    data.months << m.label;
    data.income.push_back(income);
    data.expense.push_back(expense);
    data.balance.push_back(income - expense);
  }
  data.heading = ChartDateText(start) + "\n" + QStringLiteral(" 到") + "\n" + ChartDateText(end);
  const double income = Shown(query.Sum(kRangeIncomeSql, "allinput", start, end));
  const double expense = Shown(query.Sum(kRangeExpenseSql, "alloutput", start, end));
  data.incomeText = FormatMoney(income);
  data.expenseText = FormatMoney(expense);
  data.balanceText = FormatMoney(income - expense);
  return data;
}

TSideData SharePie(TChartQuery& query, TChartSide side, const QDate& start, const QDate& end) {
  TSideData data =
      Side(side, QStringLiteral("支出比例饼图"), QStringLiteral("收入比例饼图"), start, end);
  data.values = query.Rows(ItemsSql(side), "item", "allinput", start, end);
  return data;
}

TSideData AverageBars(TChartQuery& query, TChartSide side, const QDate& start, const QDate& end) {
  const bool expense = side == TChartSide::Expense;
  TSideData data =
      Side(side, QStringLiteral("支出月平均图"), QStringLiteral("收入月平均图"), start, end);
  const int months = ChartMonthCount(start, end);
  if (months <= 0) return data;
  const double whole = expense ? query.Sum(kRangeExpenseSql, "alloutput", start, end)
                               : query.Sum(kRangeIncomeSql, "allinput", start, end);
  data.values.push_back(
      {expense ? QStringLiteral("总支出月平均") : QStringLiteral("总收入月平均"), whole / months});
  for (TChartValue& v : query.Rows(ItemsSql(side), "item", "allinput", start, end))
    data.values.push_back({v.label, v.value / months});
  return data;
}

TSideData AveragePie(TChartQuery& query, TChartSide side, const QDate& start, const QDate& end) {
  TSideData data = Side(side, QStringLiteral("支出月平均比例饼图"),
                        QStringLiteral("收入月平均比例饼图"), start, end);
  const int months = ChartMonthCount(start, end);
  if (months <= 0) return data;
  data.values = query.Rows(ItemsSql(side), "item", "allinput", start, end);
  for (TChartValue& v : data.values)
    v.value /= months;
  return data;
}

TDailyData DailyExpenses(TChartQuery& query, const QDate& start, const QDate& end) {
  TDailyData data;
  data.title = QStringLiteral("每日支出月平均图") + RangeText(start, end);
  double total = 0;
  for (TChartValue& day : query.Rows(kDailySql, "date", "alloutput", start, end)) {
    day.value = Shown(day.value);
    total += day.value;
    data.days.push_back(day);
  }
  data.average = data.days.empty() ? 0.0 : total / static_cast<double>(data.days.size());
  data.averageText = QStringLiteral("日平均消费:￥") + FormatMoney(data.average);
  return data;
}

TChartSide OtherSide(int toggleTag) {
  return toggleTag == 1 ? TChartSide::Income : TChartSide::Expense;
}
