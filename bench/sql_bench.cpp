// SELECT beside SQLite on the bookkeeping program's own queries, over a ledger of 1,000,000
// entries in the program's `szzb` table (its own schema: primary index on id, index on date)
// and in SQLite with the same columns and indexes: the income total over every entry, one
// month's expenses through the date index, the expense pie (group by item over the whole
// range of one type), the daily bars of one year (group by date), every entry in date order,
// and the highest id. Each query is prepared, run and its rows read, best of three; the row
// counts and a checksum must agree. Prints each time and the engine / SQLite ratio.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "benchutil.h"
#include "dbaccess/mintoraschema.h"
#include "engine/common/gbk.h"
#include "engine/common/literals.h"
#include "engine/sql/querystatement.h"
#include "engine/storage/datacursor.h"
#include "engine/storage/transaction.h"
#include "ledgerfill.h"

namespace {

constexpr int kRows = 1000000;
constexpr int kRuns = 3;

using mt::bench::Check;
using mt::bench::Exec;
using mt::bench::FillEngine;
using mt::bench::FillSqlite;
using mt::bench::Seconds;
using mt::bench::TTempDir;

struct TQueryCase {
  const char* name;
  const char* engine;
  const char* sqlite;
  int checkColumn;  // the column summed into the checksum (0-based)
};

const TQueryCase kQueries[] = {
    {"sum of income, all entries", "select sum(input) as allinput from szzb",
     "select sum(input) as allinput from szzb", 0},
    {"sum of one month (date index)",
     "select sum(output) as alloutput from szzb where date>=\"2005-03-01\" and "
     "date<\"2005-04-01\"",
     "select sum(output) as alloutput from szzb where date>='2005-03-01' and date<'2005-04-01'", 0},
    {"expense pie: group by item",
     "select item,sum(output) as allinput from szzb  where date>=\"2000-01-01\" and "
     "date<=\"2009-12-31\" and type=\"1\" group by item order by item",
     "select item,sum(output) as allinput from szzb  where date>='2000-01-01' and "
     "date<='2009-12-31' and type='1' group by item order by item",
     1},
    {"daily bars of a year: group by date",
     "select date,sum(output) as alloutput from szzb  where date>=\"2005-01-01\" and "
     "date<=\"2005-12-31\" and type=\"1\" group by date order by date",
     "select date,sum(output) as alloutput from szzb  where date>='2005-01-01' and "
     "date<='2005-12-31' and type='1' group by date order by date",
     1},
    {"all entries order by date", "select * from szzb order by date",
     "select * from szzb order by date", 0},
    {"max(id)", "select max(id) as id from szzb ", "select max(id) as id from szzb ", 0},
};
constexpr std::size_t kQueryCount = sizeof kQueries / sizeof kQueries[0];

struct TOutcome {
  double seconds = 1e30;
  uint64_t rows = 0;
  double check = 0;
};
TOutcome engineOut[kQueryCount];
TOutcome sqliteOut[kQueryCount];

double NumberOf(const mt::TRecordFormat& f, int fieldNo, const uint8_t* image) {
  const mt::TFieldDescriptor& d = f.Field(fieldNo);
  if (d.type == mt::ftype::kFloat) return f.GetFloat(fieldNo, image).value_or(0);
  if (d.type == mt::ftype::kString || d.type == mt::ftype::kDate) return 0;
  return static_cast<double>(f.GetInteger(fieldNo, image).value_or(0));
}

void BM_Engine(benchmark::State& state) {
  for (auto _ : state) {
    TTempDir dir;
    FillEngine(dir.Path(), kRows);
    mt::TDataDirectory directory(dir.Path());
    for (std::size_t q = 0; q < kQueryCount; ++q) {
      for (int run = 0; run < kRuns; ++run) {
        const auto start = std::chrono::steady_clock::now();
        mt::TQueryStatement statement(&directory);
        statement.Prepare(kQueries[q].engine);
        mt::TDataCursor& rows = *statement.Execute();
        const mt::TRecordFormat& f = rows.Format();
        std::vector<uint8_t> image(static_cast<std::size_t>(rows.RecordSize()));
        TOutcome o;
        rows.First();
        while (rows.Next(image.data()) == mt::TDataCursor::kRecordRead) {
          ++o.rows;
          o.check += NumberOf(f, kQueries[q].checkColumn + 1, image.data());
        }
        o.seconds = Seconds(start);
        if (o.seconds < engineOut[q].seconds) engineOut[q] = o;
      }
    }
  }
}

void BM_Sqlite(benchmark::State& state) {
  for (auto _ : state) {
    TTempDir dir;
    sqlite3* db = nullptr;
    Check(sqlite3_open((dir.Path() + "/ledger.db").c_str(), &db), db);
    FillSqlite(db, kRows);
    sqlite3_stmt* st = nullptr;
    for (std::size_t q = 0; q < kQueryCount; ++q) {
      for (int run = 0; run < kRuns; ++run) {
        const auto start = std::chrono::steady_clock::now();
        Check(sqlite3_prepare_v2(db, kQueries[q].sqlite, -1, &st, nullptr), db);
        TOutcome o;
        while (sqlite3_step(st) == SQLITE_ROW) {
          ++o.rows;
          // Every column is read, as the engine's rows are.
          for (int c = 0; c < sqlite3_column_count(st); ++c)
            benchmark::DoNotOptimize(sqlite3_column_text(st, c));
          o.check += sqlite3_column_double(st, kQueries[q].checkColumn);
        }
        sqlite3_finalize(st);
        o.seconds = Seconds(start);
        if (o.seconds < sqliteOut[q].seconds) sqliteOut[q] = o;
      }
    }
    sqlite3_close(db);
  }
}

BENCHMARK(BM_Engine)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Sqlite)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::printf("\n%d entries, best of %d (prepare, run, read every row):\n", kRows, kRuns);
  std::printf("%-38s %10s %10s %8s %9s\n", "query", "engine s", "sqlite s", "ratio", "rows");
  bool agree = true;
  for (std::size_t q = 0; q < kQueryCount; ++q) {
    const TOutcome& e = engineOut[q];
    const TOutcome& s = sqliteOut[q];
    std::printf("%-38s %10.4f %10.4f %8.2f %9llu\n", kQueries[q].name, e.seconds, s.seconds,
                e.seconds / s.seconds, static_cast<unsigned long long>(e.rows));
    if (e.rows != s.rows ||
        std::fabs(e.check - s.check) > 1e-6 * std::max(1.0, std::fabs(s.check))) {
      std::fprintf(stderr, "%s: the results disagree (rows %llu / %llu, checksum %.6f / %.6f)\n",
                   kQueries[q].name, static_cast<unsigned long long>(e.rows),
                   static_cast<unsigned long long>(s.rows), e.check, s.check);
      agree = false;
    }
  }
  return agree ? 0 : 1;
}
