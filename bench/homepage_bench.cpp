// The home page's balance beside SQLite: the two totals the home page reads when it opens
// (income of type "0", expense of type "1") over a 1,000,000-entry ledger. The engine side runs
// the page's own statements through the program's sum runner (a query dataset on the data
// directory); SQLite runs the same statements. Prints each time (best of three) and the ratio;
// the totals must agree. MINTORA_BENCH_ROWS=N runs it on N entries instead.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <QString>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>

#include "benchutil.h"
#include "datadir.h"
#include "dbaccess/session.h"
#include "ledger.h"
#include "sumquery.h"
#include "umainpage.h"

namespace {

const int kRows = mt::bench::BenchRows(1000000);
constexpr int kRuns = 3;

using mt::bench::Check;
using mt::bench::Seconds;
using mt::bench::TTempDir;

struct TOutcome {
  double seconds = 1e30;
  double income = 0;
  double expense = 0;
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
      const std::unique_ptr<TSumQuery> query = DataDirectorySumQuery();
      TOutcome o;
      o.income = query->Sum(TfrmMainpage::kIncomeSql, TfrmMainpage::kIncomeColumn);
      o.expense = query->Sum(TfrmMainpage::kExpenseSql, TfrmMainpage::kExpenseColumn);
      o.seconds = Seconds(start);
      if (o.seconds < engineOut.seconds) engineOut = o;
    }
    mt::DefaultSession().Close();
  }
}

double Total(sqlite3* db, std::string_view sql) {
  sqlite3_stmt* st = nullptr;
  Check(sqlite3_prepare_v2(db, std::string(sql).c_str(), -1, &st, nullptr), db);
  double sum = 0;
  if (sqlite3_step(st) == SQLITE_ROW) sum = sqlite3_column_double(st, 0);
  sqlite3_finalize(st);
  return sum;
}

void BM_Sqlite(benchmark::State& state) {
  for (auto _ : state) {
    TTempDir dir;
    sqlite3* db = mt::bench::OpenSqlite(dir, "ledger.db");
    mt::bench::FillSqliteLedger(db, "szzb", 1, kRows, kRows);
    for (int run = 0; run < kRuns; ++run) {
      const auto start = std::chrono::steady_clock::now();
      TOutcome o;
      o.income = Total(db, TfrmMainpage::kIncomeSql);
      o.expense = Total(db, TfrmMainpage::kExpenseSql);
      o.seconds = Seconds(start);
      if (o.seconds < sqliteOut.seconds) sqliteOut = o;
    }
    sqlite3_close(db);
  }
}

BENCHMARK(BM_Engine)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Sqlite)->Iterations(1)->Unit(benchmark::kMillisecond);

bool Agree(double a, double b) {
  return std::fabs(a - b) <= 1e-6 * std::max(1.0, std::fabs(b));
}

}  // namespace

int main(int argc, char** argv) {
  if (!mt::bench::RunBenchmarks(argc, argv)) return 1;
  std::printf("\n%d entries, home page balance (two totals), best of %d:\n", kRows, kRuns);
  std::printf("engine %.4f s, sqlite %.4f s, ratio %.2f\n", engineOut.seconds, sqliteOut.seconds,
              engineOut.seconds / sqliteOut.seconds);
  if (!Agree(engineOut.income, sqliteOut.income) || !Agree(engineOut.expense, sqliteOut.expense)) {
    std::fprintf(stderr, "the totals disagree: %.6f/%.6f and %.6f/%.6f\n", engineOut.income,
                 sqliteOut.income, engineOut.expense, sqliteOut.expense);
    return 1;
  }
  return 0;
}
