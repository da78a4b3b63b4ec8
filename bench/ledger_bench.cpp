// The ledger list window on a large ledger, offscreen, beside SQLite: loading "显示所有的记录"
// (the opening sums are skipped for "all"; the window runs "select * from szzb order by date",
// builds its rows with the running balance and draws once) and then sorting the list by "支出"
// (a header click). SQLite runs the same query reading every column of every row, and sorts
// by output in SQL for the second phase. Best of three each.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <QApplication>

#include <chrono>
#include <cstdio>
#include <string>

#include "app/datadir.h"
#include "app/ledger/ledgerlist.h"
#include "app/ledger/uShouzhi.h"
#include "benchutil.h"
#include "dbaccess/session.h"
#include "ledger.h"

namespace {

constexpr int kEntries = 100000;
constexpr int kRuns = 3;

using mt::bench::Check;
using mt::bench::Seconds;
using mt::bench::TPhaseTimes;
using mt::bench::TTempDir;

TPhaseTimes engineTimes{1e30, 1e30};
TPhaseTimes sqliteTimes{1e30, 1e30};
int windowRows = 0;
int sqliteRows = 0;

void Settle() {
  for (int i = 0; i < 3; ++i)
    QCoreApplication::processEvents();
}

void BM_Window(benchmark::State& state) {
  for (auto _ : state) {
    TTempDir dir;
    mt::bench::FillEngineLedger(dir.Path(), "szzb", 1, kEntries, kEntries);
    {
      TDataDirectoryScope data(QString::fromStdString(dir.Path()));
      for (int run = 0; run < kRuns; ++run) {
        TFrmShouzhi window;
        window.resize(800, 600);
        window.show();  // this month: no entries
        Settle();
        auto start = std::chrono::steady_clock::now();
        window.ShowAll();
        Settle();
        engineTimes.first = std::min(engineTimes.first, Seconds(start));
        windowRows = window.ListView1()->RowCount();
        start = std::chrono::steady_clock::now();
        window.ListView1()->ColumnClick(LedgerColumn::Expense);
        Settle();
        engineTimes.second = std::min(engineTimes.second, Seconds(start));
      }
    }
    mt::DefaultSession().Close();
  }
}

double SqliteRun(sqlite3* db, const char* sql, int& rows) {
  const auto start = std::chrono::steady_clock::now();
  sqlite3_stmt* st = nullptr;
  Check(sqlite3_prepare_v2(db, sql, -1, &st, nullptr), db);
  rows = 0;
  while (sqlite3_step(st) == SQLITE_ROW) {
    ++rows;
    for (int c = 0; c < sqlite3_column_count(st); ++c)
      benchmark::DoNotOptimize(sqlite3_column_text(st, c));
  }
  sqlite3_finalize(st);
  return Seconds(start);
}

void BM_Sqlite(benchmark::State& state) {
  for (auto _ : state) {
    TTempDir dir;
    sqlite3* db = mt::bench::OpenSqlite(dir, "ledger.db");
    mt::bench::FillSqliteLedger(db, "szzb", 1, kEntries, kEntries);
    for (int run = 0; run < kRuns; ++run) {
      sqliteTimes.first = std::min(sqliteTimes.first,
                                   SqliteRun(db, "select * from szzb order by date", sqliteRows));
      int sorted = 0;
      sqliteTimes.second =
          std::min(sqliteTimes.second, SqliteRun(db, "select * from szzb order by output", sorted));
    }
    sqlite3_close(db);
  }
}

BENCHMARK(BM_Window)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Sqlite)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const int result = mt::bench::RunAndReport(
      argc, argv,
      std::to_string(kEntries) +
          " entries, best of 3  (window: load all / sort by expense; sqlite: the query / "
          "order by output)\n               load      sort      total",
      engineTimes, sqliteTimes);
  if (windowRows != kEntries || sqliteRows != kEntries) {
    std::fprintf(stderr, "rows: window %d, sqlite %d, expected %d\n", windowRows, sqliteRows,
                 kEntries);
    return 1;
  }
  return result;
}
