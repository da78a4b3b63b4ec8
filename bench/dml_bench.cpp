// INSERT, UPDATE and DELETE beside SQLite on the bookkeeping program's ledger table `szzb` (its
// own schema: primary index on id, index on date), the same work for both in the same run:
//   INSERT ... SELECT  200,000 entries copied from a table of the same schema into a ledger
//                      of 200,000 entries (indexes kept up to date),
//   UPDATE             200,000 entries chosen through the id index, two columns changed,
//   DELETE             the other 200,000 entries, chosen through the id index.
// Each statement is prepared and run as one statement of its own (the engine commits at its
// own commit interval, SQLite in one transaction); files are written without waiting for the
// disk in both. Best of three rounds, each on fresh tables. The rows each statement changed
// and the ledger left at the end must agree. Prints each time and the engine / SQLite ratio.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>

#include "benchutil.h"
#include "engine/sql/querystatement.h"
#include "engine/storage/datacursor.h"
#include "ledger.h"

namespace {

constexpr int kRows = 200000;  // the entries each statement changes
constexpr int kRounds = 3;

using mt::bench::Check;
using mt::bench::Exec;
using mt::bench::OpenSqlite;
using mt::bench::RunBenchmarks;
using mt::bench::Seconds;
using mt::bench::TTempDir;

struct TStep {
  const char* name;
  const char* engine;
  const char* sqlite;
};

const TStep kSteps[] = {
    {"insert ... select", "insert into szzb select * from src",
     "insert into szzb select * from src"},
    {"update through the id index",
     "update szzb set output = output + 1, memo = \"checked\" where id > 200000",
     "update szzb set output = output + 1, memo = 'checked' where id > 200000"},
    {"delete through the id index", "delete from szzb where id <= 200000",
     "delete from szzb where id <= 200000"},
};
constexpr std::size_t kStepCount = sizeof kSteps / sizeof kSteps[0];
// What is left: the entries and their total output.
constexpr const char* kCheck = "select count(*) as n, sum(output) as total from szzb";

struct TOutcome {
  double seconds[kStepCount];
  int64_t rows[kStepCount] = {};
  int64_t left = 0;
  double total = 0;
  TOutcome() {
    for (double& s : seconds)
      s = 1e30;
  }
};
TOutcome engineOut;
TOutcome sqliteOut;

void BM_Engine(benchmark::State& state) {
  for (auto _ : state) {
    for (int round = 0; round < kRounds; ++round) {
      TTempDir dir;
      mt::bench::FillEngineLedger(dir.Path(), "szzb", 1, kRows, 2 * kRows);
      mt::bench::FillEngineLedger(dir.Path(), "src", kRows + 1, 2 * kRows, 2 * kRows);
      mt::TDataDirectory directory(dir.Path());
      for (std::size_t s = 0; s < kStepCount; ++s) {
        const auto start = std::chrono::steady_clock::now();
        mt::TQueryStatement statement(&directory);
        statement.SetPrivateDirectory(dir.Path());
        statement.Prepare(kSteps[s].engine);
        statement.Execute();
        engineOut.rows[s] = statement.RowsAffected();
        statement.Release();
        const double seconds = Seconds(start);
        if (seconds < engineOut.seconds[s]) engineOut.seconds[s] = seconds;
      }
      mt::TQueryStatement check(&directory);
      check.SetPrivateDirectory(dir.Path());
      check.Prepare(kCheck);
      mt::TDataCursor& result = *check.Execute();
      std::vector<uint8_t> image(static_cast<std::size_t>(result.RecordSize()));
      result.First();
      if (result.Next(image.data()) == mt::TDataCursor::kRecordRead) {
        engineOut.left =
            static_cast<int64_t>(mt::bench::NumberOf(result.Format(), 1, image.data()));
        engineOut.total = mt::bench::NumberOf(result.Format(), 2, image.data());
      }
    }
  }
}

void BM_Sqlite(benchmark::State& state) {
  for (auto _ : state) {
    for (int round = 0; round < kRounds; ++round) {
      TTempDir dir;
      sqlite3* db = OpenSqlite(dir, "ledger.db");
      mt::bench::FillSqliteLedger(db, "szzb", 1, kRows, 2 * kRows);
      mt::bench::FillSqliteLedger(db, "src", kRows + 1, 2 * kRows, 2 * kRows);
      for (std::size_t s = 0; s < kStepCount; ++s) {
        const auto start = std::chrono::steady_clock::now();
        Exec(db, kSteps[s].sqlite);
        sqliteOut.rows[s] = sqlite3_changes(db);
        const double seconds = Seconds(start);
        if (seconds < sqliteOut.seconds[s]) sqliteOut.seconds[s] = seconds;
      }
      sqlite3_stmt* st = nullptr;
      Check(sqlite3_prepare_v2(db, kCheck, -1, &st, nullptr), db);
      if (sqlite3_step(st) == SQLITE_ROW) {
        sqliteOut.left = sqlite3_column_int64(st, 0);
        sqliteOut.total = sqlite3_column_double(st, 1);
      }
      sqlite3_finalize(st);
      sqlite3_close(db);
    }
  }
}

BENCHMARK(BM_Engine)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Sqlite)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (!RunBenchmarks(argc, argv)) return 1;
  std::printf("\nledger of %d entries and a source of %d, best of %d rounds:\n", kRows, kRows,
              kRounds);
  std::printf("%-30s %10s %10s %8s %9s\n", "statement", "engine s", "sqlite s", "ratio", "rows");
  bool agree = true;
  for (std::size_t s = 0; s < kStepCount; ++s) {
    const double e = engineOut.seconds[s];
    const double q = sqliteOut.seconds[s];
    std::printf("%-30s %10.4f %10.4f %8.2f %9lld\n", kSteps[s].name, e, q, e / q,
                static_cast<long long>(engineOut.rows[s]));
    if (engineOut.rows[s] != sqliteOut.rows[s]) {
      std::fprintf(stderr, "%s: the rows changed disagree (%lld / %lld)\n", kSteps[s].name,
                   static_cast<long long>(engineOut.rows[s]),
                   static_cast<long long>(sqliteOut.rows[s]));
      agree = false;
    }
  }
  if (engineOut.left != sqliteOut.left ||
      std::fabs(engineOut.total - sqliteOut.total) > 1e-6 * std::fabs(sqliteOut.total)) {
    std::fprintf(stderr, "the ledgers left disagree (%lld / %lld entries, output %.2f / %.2f)\n",
                 static_cast<long long>(engineOut.left), static_cast<long long>(sqliteOut.left),
                 engineOut.total, sqliteOut.total);
    agree = false;
  }
  return agree ? 0 : 1;
}
