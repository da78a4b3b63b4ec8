// A date-range filter over 1,000,000 rows, in one run: answered from an index on the date
// field, the same filter evaluated record by record (before that index exists), and SQLite's
// COUNT(*) over the same range with an index on its date column. Each is run three times and
// the best time kept; the three counts must agree. Prints times and ratios.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "benchutil.h"
#include "engine/common/literals.h"
#include "engine/storage/datacursor.h"
#include "engine/storage/fieldtypes.h"
#include "engine/storage/transaction.h"

namespace {

constexpr int kRows = 1000000;
constexpr int kRuns = 3;
constexpr const char* kFilter = "day >= '2004-01-01' and day < '2005-01-01'";

using mt::bench::Check;
using mt::bench::Exec;
using mt::bench::Field;
using mt::bench::RunBenchmarks;
using mt::bench::Seconds;
using mt::bench::TTempDir;

int32_t Day(int year, int month, int day) {
  int32_t n = 0;
  mt::EncodeDay(year, month, day, n);
  return n;
}

// Day numbers spread over ten years, in a shuffled order.
std::vector<int32_t> Days() {
  std::vector<int32_t> days(kRows);
  const int32_t first = Day(2000, 1, 1), span = Day(2010, 1, 1) - first;
  std::mt19937 rng(2004);
  for (int32_t& d : days)
    d = first + static_cast<int32_t>(rng() % static_cast<unsigned>(span));
  return days;
}

struct TResult {
  double seconds = 1e30;
  uint32_t count = 0;
};
TResult indexed, evaluated, sqlite;

// The best of kRuns: add the filter, count the visible rows, remove it.
TResult FilterCount(mt::TDataCursor& c) {
  TResult r;
  for (int run = 0; run < kRuns; ++run) {
    const auto start = std::chrono::steady_clock::now();
    const auto handle = c.AddFilter(std::string_view(kFilter));
    r.count = c.RecordCount();
    r.seconds = std::min(r.seconds, Seconds(start));
    c.RemoveFilter(handle);
  }
  return r;
}

void BM_Engine(benchmark::State& state) {
  for (auto _ : state) {
    TTempDir dir;
    mt::TTableCreateParams p;
    p.fields = {Field("id", mt::ftype::kInteger), Field("day", mt::ftype::kDate),
                Field("amount", mt::ftype::kFloat)};
    mt::TIndexDescriptor primary;
    primary.fields = {1};
    p.indexes.primary = primary;
    mt::TDataTable(dir.Path(), "ledger").Create(p);
    const std::vector<int32_t> days = Days();
    {
      mt::TDataDirectory directory(dir.Path());
      mt::TDataCursor c(directory);
      c.SetTableName("ledger");
      c.Open();
      const mt::TRecordFormat& f = c.Format();
      std::vector<uint8_t> image(static_cast<std::size_t>(c.RecordSize()));
      mt::TTransaction tx;
      tx.Start({&c.Table()});
      for (int i = 0; i < kRows; ++i) {
        c.InitRecord(image.data());
        f.SetInteger(1, image.data(), i + 1);
        f.SetInteger(2, image.data(), days[static_cast<std::size_t>(i)]);
        f.SetFloat(3, image.data(), i * 0.25);
        c.InsertRecord(image.data(), false);
      }
      tx.Commit();
      // No index on the date yet: every record is read and the condition evaluated.
      evaluated = FilterCount(c);
    }
    {
      mt::TDataTable table(dir.Path(), "ledger");
      table.Open({.exclusive = true});
      mt::TIndexDescriptor byDay;
      byDay.name = "byday";
      byDay.fields = {2};
      table.AddIndex(byDay, false);
      table.Close();
    }
    mt::TDataDirectory directory(dir.Path());
    mt::TDataCursor c(directory);
    c.SetTableName("ledger");
    c.Open();
    indexed = FilterCount(c);
  }
}

void BM_Sqlite(benchmark::State& state) {
  for (auto _ : state) {
    TTempDir dir;
    sqlite3* db = nullptr;
    sqlite3_open((dir.Path() + "/bench.db").c_str(), &db);
    Exec(db, "PRAGMA synchronous=OFF");
    Exec(db, "CREATE TABLE ledger (id INTEGER PRIMARY KEY, day INTEGER, amount DOUBLE)");
    Exec(db, "CREATE INDEX ledger_byday ON ledger (day)");
    sqlite3_stmt* st = nullptr;
    Check(sqlite3_prepare_v2(db, "INSERT INTO ledger VALUES (?, ?, ?)", -1, &st, nullptr), db);
    const std::vector<int32_t> days = Days();
    Exec(db, "BEGIN");
    for (int i = 0; i < kRows; ++i) {
      sqlite3_bind_int(st, 1, i + 1);
      sqlite3_bind_int(st, 2, days[static_cast<std::size_t>(i)]);
      sqlite3_bind_double(st, 3, i * 0.25);
      Check(sqlite3_step(st), db, SQLITE_DONE);
      sqlite3_reset(st);
    }
    Exec(db, "COMMIT");
    sqlite3_finalize(st);
    Check(sqlite3_prepare_v2(db, "SELECT COUNT(*) FROM ledger WHERE day >= ? AND day < ?", -1, &st,
                             nullptr),
          db);
    for (int run = 0; run < kRuns; ++run) {
      const auto start = std::chrono::steady_clock::now();
      sqlite3_bind_int(st, 1, Day(2004, 1, 1));
      sqlite3_bind_int(st, 2, Day(2005, 1, 1));
      Check(sqlite3_step(st), db, SQLITE_ROW);
      sqlite.count = static_cast<uint32_t>(sqlite3_column_int(st, 0));
      sqlite3_reset(st);
      sqlite.seconds = std::min(sqlite.seconds, Seconds(start));
    }
    sqlite3_finalize(st);
    sqlite3_close(db);
  }
}

BENCHMARK(BM_Engine)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Sqlite)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (!RunBenchmarks(argc, argv)) return 1;
  std::printf("\n%d rows, filter %s (best of %d):\n", kRows, kFilter, kRuns);
  auto line = [](const char* what, const TResult& r) {
    std::printf("%-40s %8.4f s  %7u rows\n", what, r.seconds, r.count);
  };
  line("engine, answered from the date index", indexed);
  line("engine, evaluated record by record", evaluated);
  line("sqlite COUNT(*) with an index on day", sqlite);
  std::printf("record by record / index     %8.2f\n", evaluated.seconds / indexed.seconds);
  std::printf("engine index / sqlite        %8.2f\n", indexed.seconds / sqlite.seconds);
  if (indexed.count != evaluated.count || indexed.count != sqlite.count) {
    std::fprintf(stderr, "the counts disagree\n");
    return 1;
  }
  return 0;
}
