// The comparison chart beside SQLite: building the bars (income and expense of each of 120
// months), the range totals and the expense pie over ten years of a 1,000,000-entry ledger, as
// the comparison window does when asked for 2000-01-01 to 2009-12-31. The engine side runs the
// window's own data code on the data directory; SQLite runs the same statements with the same
// bound dates. Prints each time (best of three) and the ratio; the month sums must agree.
// Goal: under one second on the engine. MINTORA_BENCH_ROWS=N runs it on N entries instead (to
// profile on a smaller ledger).
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <QDate>
#include <QString>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "benchutil.h"
#include "charts/chartdata.h"
#include "datadir.h"
#include "dbaccess/session.h"
#include "ledger.h"

namespace {

const int kRows = mt::bench::BenchRows(1000000);
constexpr int kRuns = 3;
const QDate kStart(2000, 1, 1);
const QDate kEnd(2009, 12, 31);

using mt::bench::Check;
using mt::bench::Seconds;
using mt::bench::TTempDir;

struct TOutcome {
  double seconds = 1e30;
  double check = 0;  // sum of every month's income and expense and the pie's slices
};
TOutcome engineOut;
TOutcome sqliteOut;

void BM_Engine(benchmark::State& state) {
  for (auto _ : state) {
    TTempDir dir;
    mt::bench::FillEngineLedger(dir.Path(), "szzb", 1, kRows, kRows);
    TDataDirectoryScope scope(QString::fromStdString(dir.Path()));
    for (int run = 0; run < kRuns; ++run) {
      const auto start = std::chrono::steady_clock::now();
      TChartQuery query;
      const TComparisonData bars = ComparisonData(query, kStart, kEnd);
      const TSideData pie = SharePie(query, TChartSide::Expense, kStart, kEnd);
      TOutcome o;
      o.seconds = Seconds(start);
      for (std::size_t m = 0; m < bars.income.size(); ++m)
        o.check += bars.income[m] + bars.expense[m];
      for (const TChartValue& v : pie.values)
        o.check += v.value;
      if (o.seconds < engineOut.seconds) engineOut = o;
    }
    mt::DefaultSession().Close();
  }
}

// One statement with its two dates bound, the first column of each row summed.
double Run(sqlite3* db, const char* sql, const std::string& from, const std::string& to,
           int column) {
  sqlite3_stmt* st = nullptr;
  Check(sqlite3_prepare_v2(db, sql, -1, &st, nullptr), db);
  sqlite3_bind_text(st, 1, from.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(st, 2, to.c_str(), -1, SQLITE_TRANSIENT);
  double sum = 0;
  while (sqlite3_step(st) == SQLITE_ROW)
    sum += sqlite3_column_double(st, column);
  sqlite3_finalize(st);
  return sum;
}

std::string Text(const QDate& d) {
  return d.toString("yyyy-MM-dd").toStdString();
}

void BM_Sqlite(benchmark::State& state) {
  for (auto _ : state) {
    TTempDir dir;
    sqlite3* db = mt::bench::OpenSqlite(dir, "ledger.db");
    mt::bench::FillSqliteLedger(db, "szzb", 1, kRows, kRows);
    for (int run = 0; run < kRuns; ++run) {
      const auto start = std::chrono::steady_clock::now();
      TOutcome o;
      for (const TChartMonth& m : ChartMonths(kStart, kEnd)) {
        o.check += Run(db, "select sum(input) as allinput from szzb where date>=? and date<?",
                       Text(m.from), Text(m.before), 0);
        o.check += Run(db, "select sum(output) as alloutput from szzb where date>=? and date<?",
                       Text(m.from), Text(m.before), 0);
      }
      benchmark::DoNotOptimize(
          Run(db, "select sum(input) as allinput from szzb where date>=? and date<=?", Text(kStart),
              Text(kEnd), 0));
      benchmark::DoNotOptimize(
          Run(db, "select sum(output) as alloutput from szzb where date>=? and date<=?",
              Text(kStart), Text(kEnd), 0));
      o.check += Run(db,
                     "select item,sum(output) as allinput from szzb  where date>=? and date<=? "
                     "and type='1' group by item order by item",
                     Text(kStart), Text(kEnd), 1);
      o.seconds = Seconds(start);
      if (o.seconds < sqliteOut.seconds) sqliteOut = o;
    }
    sqlite3_close(db);
  }
}

BENCHMARK(BM_Engine)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Sqlite)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (!mt::bench::RunBenchmarks(argc, argv)) return 1;
  std::printf("\n%d entries, comparison chart 2000-01-01 to 2009-12-31, best of %d:\n", kRows,
              kRuns);
  std::printf("engine %.4f s, sqlite %.4f s, ratio %.2f (goal: engine under 1 s)\n",
              engineOut.seconds, sqliteOut.seconds, engineOut.seconds / sqliteOut.seconds);
  if (std::fabs(engineOut.check - sqliteOut.check) > 1e-6 * std::fabs(sqliteOut.check)) {
    std::fprintf(stderr, "the results disagree: %.6f / %.6f\n", engineOut.check, sqliteOut.check);
    return 1;
  }
  return 0;
}
