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

namespace {

constexpr int kRows = 1000000;
constexpr int kRuns = 3;

using mt::bench::Check;
using mt::bench::Exec;
using mt::bench::OpenSqlite;
using mt::bench::RunBenchmarks;
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

// One ledger entry: ids in date order over the years 2000 to 2009, about six entries a day;
// 15 in 100 are income in 6 categories, the rest expenses in 24.
struct TEntry {
  int32_t day = 0;
  std::string item;
  bool income = false;
  double amount = 0;
};

TEntry EntryOf(int i) {
  static const int32_t first = [] {
    int32_t d = 0;
    mt::EncodeDay(2000, 1, 1, d);
    return d;
  }();
  static const std::vector<std::string> items = [] {
    std::vector<std::string> v;
    for (int n = 0; n < 30; ++n)
      v.push_back(mt::Utf8ToGbk("类别") + std::to_string(n));
    return v;
  }();
  TEntry e;
  e.day = first + static_cast<int32_t>(static_cast<int64_t>(i) * 3652 / kRows);
  const uint32_t h = static_cast<uint32_t>(i) * 2654435761u;
  e.income = h % 100 < 15;
  e.item = items[e.income ? h % 6 : 6 + (h >> 8) % 24];
  e.amount = static_cast<double>((h >> 12) % 100000) / 100.0;
  return e;
}

double NumberOf(const mt::TRecordFormat& f, int fieldNo, const uint8_t* image) {
  const mt::TFieldDescriptor& d = f.Field(fieldNo);
  if (d.type == mt::ftype::kFloat) return f.GetFloat(fieldNo, image).value_or(0);
  if (d.type == mt::ftype::kString || d.type == mt::ftype::kDate) return 0;
  return static_cast<double>(f.GetInteger(fieldNo, image).value_or(0));
}

void FillEngine(const std::string& dir) {
  mt::TDataTable(dir, "szzb").Create(mt::MintoraTableParams(*mt::FindMintoraTable("szzb")));
  mt::TDataDirectory directory(dir);
  mt::TDataCursor c(directory);
  c.SetTableName("szzb");
  c.Open();
  const mt::TRecordFormat& f = c.Format();
  std::vector<uint8_t> image(static_cast<std::size_t>(c.RecordSize()));
  mt::TTransaction tx;
  tx.Start({&c.Table()});
  double balance = 0;
  for (int i = 1; i <= kRows; ++i) {
    const TEntry e = EntryOf(i);
    balance += e.income ? e.amount : -e.amount;
    c.InitRecord(image.data());
    f.SetInteger(1, image.data(), i);
    f.SetInteger(2, image.data(), e.day);
    f.SetInteger(3, image.data(), 1);
    f.SetString(4, image.data(), e.item);
    f.SetString(5, image.data(), "entry " + std::to_string(i));
    f.SetString(7, image.data(), "admin");
    f.SetFloat(e.income ? 8 : 9, image.data(), e.amount);
    f.SetString(10, image.data(), e.income ? "0" : "1");
    f.SetFloat(11, image.data(), balance);
    c.InsertRecord(image.data(), false);
  }
  tx.Commit();
}

void BM_Engine(benchmark::State& state) {
  for (auto _ : state) {
    TTempDir dir;
    FillEngine(dir.Path());
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
    sqlite3* db = OpenSqlite(dir, "ledger.db");
    Exec(db,
         "CREATE TABLE szzb (id INTEGER PRIMARY KEY, date TEXT NOT NULL, itemid INTEGER, item "
         "TEXT, description TEXT, memo TEXT, user TEXT, input DOUBLE, output DOUBLE, type TEXT "
         "NOT NULL, balance DOUBLE)");
    Exec(db, "CREATE INDEX szzb_date ON szzb (date)");
    sqlite3_stmt* st = nullptr;
    Check(sqlite3_prepare_v2(db, "INSERT INTO szzb VALUES (?,?,1,?,?,NULL,'admin',?,?,?,?)", -1,
                             &st, nullptr),
          db);
    Exec(db, "BEGIN");
    double balance = 0;
    for (int i = 1; i <= kRows; ++i) {
      const TEntry e = EntryOf(i);
      balance += e.income ? e.amount : -e.amount;
      const std::string day = mt::DateToText(e.day);
      const std::string description = "entry " + std::to_string(i);
      sqlite3_bind_int(st, 1, i);
      sqlite3_bind_text(st, 2, day.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_text(st, 3, e.item.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_text(st, 4, description.c_str(), -1, SQLITE_TRANSIENT);
      if (e.income) {
        sqlite3_bind_double(st, 5, e.amount);
        sqlite3_bind_null(st, 6);
      } else {
        sqlite3_bind_null(st, 5);
        sqlite3_bind_double(st, 6, e.amount);
      }
      sqlite3_bind_text(st, 7, e.income ? "0" : "1", -1, SQLITE_STATIC);
      sqlite3_bind_double(st, 8, balance);
      Check(sqlite3_step(st), db, SQLITE_DONE);
      sqlite3_reset(st);
    }
    Exec(db, "COMMIT");
    sqlite3_finalize(st);
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
  if (!RunBenchmarks(argc, argv)) return 1;
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
