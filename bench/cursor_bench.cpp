// Cursors beside SQLite on the same rows, in one run: 200,000 inserts into a table with a
// primary integer key and a secondary string index, inside one transaction and outside any;
// 200,000 point lookups by find key on the primary index, each reading its record (SQLite: by
// primary key); a full scan summing a float column, read in runs (recordscan.h) in record order
// and in primary key order, and record by record with Next. Prints each time and the engine /
// SQLite ratio.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "benchutil.h"
#include "engine/storage/datacursor.h"
#include "engine/storage/fieldtypes.h"
#include "engine/storage/recordscan.h"
#include "engine/storage/transaction.h"

namespace {

constexpr int kRows = 200000;

using mt::bench::Exec;
using mt::bench::Field;
using mt::bench::Seconds;
using mt::bench::TTempDir;

// The same rows for both: ids in a shuffled order, a name, an amount.
std::vector<int> Ids() {
  std::vector<int> ids(kRows);
  for (int i = 0; i < kRows; ++i)
    ids[i] = i + 1;
  std::shuffle(ids.begin(), ids.end(), std::mt19937(42));
  return ids;
}
std::string NameOf(int id) {
  return "name-" + std::to_string(id * 7919 % 100003);
}
double AmountOf(int id) {
  return id * 0.25;
}

struct TTimes {
  double insertTx = 0;
  double insertPlain = 0;
  double lookups = 0;
  double scan = 0;
  double scanInKeyOrder = 0;
  double scanByNext = 0;
};
TTimes engine;
TTimes sqlite;

void CreateEngineTable(const std::string& dir, const std::string& name) {
  mt::TTableCreateParams p;
  p.fields = {Field("id", mt::ftype::kInteger), Field("name", mt::ftype::kString, 20),
              Field("amount", mt::ftype::kFloat)};
  mt::TIndexDescriptor primary;
  primary.fields = {1};
  p.indexes.primary = primary;
  mt::TIndexDescriptor byName;
  byName.name = "byname";
  byName.fields = {2};
  p.indexes.secondaries = {byName};
  mt::TDataTable(dir, name).Create(p);
}

double EngineInsert(const std::string& dir, const std::string& name, bool transaction) {
  CreateEngineTable(dir, name);
  mt::TDataDirectory directory(dir);
  mt::TDataCursor c(directory);
  c.SetTableName(name);
  c.Open();
  const mt::TRecordFormat& f = c.Format();
  std::vector<uint8_t> image(static_cast<std::size_t>(c.RecordSize()));
  const std::vector<int> ids = Ids();
  const auto start = std::chrono::steady_clock::now();
  mt::TTransaction tx;
  if (transaction) tx.Start({&c.Table()});
  for (int id : ids) {
    c.InitRecord(image.data());
    f.SetInteger(1, image.data(), id);
    f.SetString(2, image.data(), NameOf(id));
    f.SetFloat(3, image.data(), AmountOf(id));
    c.InsertRecord(image.data(), false);
  }
  if (transaction) tx.Commit();
  const double seconds = Seconds(start);
  c.Close();
  return seconds;
}

void BM_Engine(benchmark::State& state) {
  for (auto _ : state) {
    TTempDir dir;
    engine.insertTx = EngineInsert(dir.Path(), "tx", true);
    engine.insertPlain = EngineInsert(dir.Path(), "plain", false);
    mt::TDataDirectory directory(dir.Path());
    mt::TDataCursor c(directory);
    c.SetTableName("tx");
    c.Open();
    const mt::TRecordFormat& f = c.Format();
    std::vector<uint8_t> key(static_cast<std::size_t>(c.RecordSize()));
    std::vector<uint8_t> image(static_cast<std::size_t>(c.RecordSize()));
    std::vector<int> probes = Ids();
    std::shuffle(probes.begin(), probes.end(), std::mt19937(7));
    auto start = std::chrono::steady_clock::now();
    double found = 0;
    for (int id : probes) {
      c.InitRecord(key.data());
      f.SetInteger(1, key.data(), id);
      if (c.FindKey(key.data(), 1, true, image.data())) found += *f.GetFloat(3, image.data());
    }
    engine.lookups = Seconds(start);
    // Each scan sums the same column; all must agree with the lookups.
    auto check = [&](double sum, const char* what) {
      benchmark::DoNotOptimize(sum);
      if (sum != found) std::fprintf(stderr, "engine: %s and lookups disagree\n", what);
    };
    start = std::chrono::steady_clock::now();
    double sum = 0;
    {
      mt::TRecordScan scan(c);
      while (const uint8_t* record = scan.Next())
        sum += *f.GetFloat(3, record);
    }
    engine.scan = Seconds(start);
    check(sum, "scan");
    start = std::chrono::steady_clock::now();
    sum = 0;
    {
      mt::TRecordScan scan(c, mt::TRecordScan::TOrder::Cursor);
      while (const uint8_t* record = scan.Next())
        sum += *f.GetFloat(3, record);
    }
    engine.scanInKeyOrder = Seconds(start);
    check(sum, "scan in key order");
    start = std::chrono::steady_clock::now();
    sum = 0;
    c.First();
    while (c.Next(image.data()) == 0)
      sum += *f.GetFloat(3, image.data());
    engine.scanByNext = Seconds(start);
    check(sum, "scan by Next");
  }
}

double SqliteInsert(sqlite3* db, const std::string& table, bool transaction) {
  Exec(db, ("CREATE TABLE " + table + " (id INTEGER PRIMARY KEY, name VARCHAR(20), amount DOUBLE)")
               .c_str());
  Exec(db, ("CREATE INDEX " + table + "_byname ON " + table + " (name)").c_str());
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, ("INSERT INTO " + table + " VALUES (?, ?, ?)").c_str(), -1, &st, nullptr);
  const std::vector<int> ids = Ids();
  const auto start = std::chrono::steady_clock::now();
  if (transaction) Exec(db, "BEGIN");
  for (int id : ids) {
    const std::string name = NameOf(id);
    sqlite3_bind_int(st, 1, id);
    sqlite3_bind_text(st, 2, name.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_double(st, 3, AmountOf(id));
    sqlite3_step(st);
    sqlite3_reset(st);
  }
  if (transaction) Exec(db, "COMMIT");
  const double seconds = Seconds(start);
  sqlite3_finalize(st);
  return seconds;
}

void BM_Sqlite(benchmark::State& state) {
  for (auto _ : state) {
    TTempDir dir;
    sqlite3* db = nullptr;
    sqlite3_open((dir.Path() + "/bench.db").c_str(), &db);
    // Durability like the engine's: written to the OS, not forced to disk.
    Exec(db, "PRAGMA synchronous=OFF");
    sqlite.insertTx = SqliteInsert(db, "tx", true);
    sqlite.insertPlain = SqliteInsert(db, "plain", false);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "SELECT amount FROM tx WHERE id = ?", -1, &st, nullptr);
    std::vector<int> probes = Ids();
    std::shuffle(probes.begin(), probes.end(), std::mt19937(7));
    auto start = std::chrono::steady_clock::now();
    double found = 0;
    for (int id : probes) {
      sqlite3_bind_int(st, 1, id);
      if (sqlite3_step(st) == SQLITE_ROW) found += sqlite3_column_double(st, 0);
      sqlite3_reset(st);
    }
    sqlite.lookups = Seconds(start);
    sqlite3_finalize(st);
    sqlite3_prepare_v2(db, "SELECT amount FROM tx", -1, &st, nullptr);
    start = std::chrono::steady_clock::now();
    double sum = 0;
    while (sqlite3_step(st) == SQLITE_ROW)
      sum += sqlite3_column_double(st, 0);
    sqlite.scan = Seconds(start);
    sqlite3_finalize(st);
    sqlite3_close(db);
    benchmark::DoNotOptimize(found + sum);
  }
}

BENCHMARK(BM_Engine)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Sqlite)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  auto line = [](const char* what, double e, double s) {
    std::printf("%-44s engine %8.3f s   sqlite %8.3f s   ratio %6.2f\n", what, e, s,
                s > 0 ? e / s : 0.0);
  };
  std::printf("\n%d rows, primary integer key and a secondary string index:\n", kRows);
  line("inserts in one transaction", engine.insertTx, sqlite.insertTx);
  line("inserts, each on its own", engine.insertPlain, sqlite.insertPlain);
  line("point lookups (find key / primary key)", engine.lookups, sqlite.lookups);
  line("full scan summing a float column", engine.scan, sqlite.scan);
  line("  the same in primary key order", engine.scanInKeyOrder, sqlite.scan);
  line("  the same record by record (Next)", engine.scanByNext, sqlite.scan);
  return 0;
}
