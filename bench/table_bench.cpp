// Appending and reading back 1,000,000 records of about 200 bytes through the table storage
// layer (TDataTable / TDataFile record cache), beside SQLite inserting and scanning the same
// rows in one transaction with a prepared statement, in the same run. Prints both times and
// their ratio.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "benchutil.h"
#include "engine/storage/datatable.h"
#include "engine/storage/fieldtypes.h"

namespace {

using mt::bench::Check;
using mt::bench::Seconds;
using mt::bench::TTempDir;
namespace fs = std::filesystem;
constexpr int kRows = 1000000;

mt::bench::TPhaseTimes engineTimes;
mt::bench::TPhaseTimes sqliteTimes;

// The row i: the same values for both engines.
std::string NameOf(int i) {
  return "entry-" + std::to_string(i);
}
std::string NoteOf(int i) {
  return "note for ledger row " + std::to_string(i) +
         " with some text to fill the record to about two hundred bytes";
}
double AmountOf(int i) {
  return (i % 1000) * 1.25 - 300.0;
}
int32_t DayOf(int i) {
  return 730000 + i % 3650;
}

mt::TFieldDescriptor Field(const char* name, uint8_t type, uint8_t size = 0) {
  mt::TFieldDescriptor f;
  f.name = name;
  f.type = type;
  f.size = size;
  return f;
}

void BM_EngineAppendAndScan(benchmark::State& state) {
  for (auto _ : state) {
    TTempDir dir;
    mt::TTableCreateParams p;
    p.fields = {Field("id", mt::ftype::kInteger),       Field("name", mt::ftype::kString, 40),
                Field("amount", mt::ftype::kFloat),     Field("day", mt::ftype::kDate),
                Field("note", mt::ftype::kString, 120), Field("flag", mt::ftype::kBoolean),
                Field("kind", mt::ftype::kSmallInt)};
    mt::TDataTable table(dir.Path(), "ledger");
    table.Create(p);
    table.Open();
    mt::TDataFile& data = table.Data();
    const mt::TRecordFormat& fmt = data.Format();

    auto start = std::chrono::steady_clock::now();
    for (int i = 1; i <= kRows; ++i) {
      mt::TPinnedRecord r(data.GetRecord(data.NextRecordNumber(), mt::TReadAhead::None, true));
      uint8_t* img = r->Image();
      fmt.SetInteger(1, img, i);
      fmt.SetString(2, img, NameOf(i));
      fmt.SetFloat(3, img, AmountOf(i));
      fmt.SetInteger(4, img, DayOf(i));
      fmt.SetString(5, img, NoteOf(i));
      fmt.SetBoolean(6, img, i % 2 == 0);
      fmt.SetInteger(7, img, i % 7);
      r->MarkDirty();
    }
    table.FlushBuffers(true);
    engineTimes.first = Seconds(start);

    start = std::chrono::steady_clock::now();
    int64_t idSum = 0;
    double amountSum = 0;
    std::size_t nameBytes = 0;
    for (int32_t n = 1; n <= kRows; ++n) {
      mt::TPinnedRecord r(data.GetRecord(n, mt::TReadAhead::Forward));
      const uint8_t* img = r->Image();
      idSum += *fmt.GetInteger(1, img);
      amountSum += *fmt.GetFloat(3, img);
      nameBytes += fmt.GetString(2, img)->size() + fmt.GetString(5, img)->size();
    }
    engineTimes.second = Seconds(start);
    benchmark::DoNotOptimize(idSum);
    benchmark::DoNotOptimize(amountSum);
    benchmark::DoNotOptimize(nameBytes);
    state.counters["record_bytes"] = data.RecordSize();
    state.counters["append_s"] = engineTimes.first;
    state.counters["scan_s"] = engineTimes.second;
    table.Close();
  }
}

void BM_SqliteInsertAndScan(benchmark::State& state) {
  for (auto _ : state) {
    TTempDir dir;
    sqlite3* db = nullptr;
    Check(sqlite3_open((dir.Path() + "/ledger.db").c_str(), &db), db);
    Check(sqlite3_exec(db,
                       "CREATE TABLE ledger (id INTEGER, name VARCHAR(40), amount REAL, day "
                       "INTEGER, note VARCHAR(120), flag INTEGER, kind INTEGER)",
                       nullptr, nullptr, nullptr),
          db);

    auto start = std::chrono::steady_clock::now();
    Check(sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr), db);
    sqlite3_stmt* insert = nullptr;
    Check(sqlite3_prepare_v2(db, "INSERT INTO ledger VALUES (?, ?, ?, ?, ?, ?, ?)", -1, &insert,
                             nullptr),
          db);
    for (int i = 1; i <= kRows; ++i) {
      const std::string name = NameOf(i);
      const std::string note = NoteOf(i);
      sqlite3_bind_int(insert, 1, i);
      sqlite3_bind_text(insert, 2, name.c_str(), static_cast<int>(name.size()), SQLITE_STATIC);
      sqlite3_bind_double(insert, 3, AmountOf(i));
      sqlite3_bind_int(insert, 4, DayOf(i));
      sqlite3_bind_text(insert, 5, note.c_str(), static_cast<int>(note.size()), SQLITE_STATIC);
      sqlite3_bind_int(insert, 6, i % 2 == 0);
      sqlite3_bind_int(insert, 7, i % 7);
      Check(sqlite3_step(insert), db, SQLITE_DONE);
      sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    Check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), db);
    sqliteTimes.first = Seconds(start);

    start = std::chrono::steady_clock::now();
    sqlite3_stmt* scan = nullptr;
    Check(sqlite3_prepare_v2(db, "SELECT id, name, amount, note FROM ledger", -1, &scan, nullptr),
          db);
    int64_t idSum = 0;
    double amountSum = 0;
    std::size_t nameBytes = 0;
    while (sqlite3_step(scan) == SQLITE_ROW) {
      idSum += sqlite3_column_int(scan, 0);
      nameBytes += static_cast<std::size_t>(sqlite3_column_bytes(scan, 1));
      amountSum += sqlite3_column_double(scan, 2);
      nameBytes += static_cast<std::size_t>(sqlite3_column_bytes(scan, 3));
    }
    sqlite3_finalize(scan);
    sqliteTimes.second = Seconds(start);
    benchmark::DoNotOptimize(idSum);
    benchmark::DoNotOptimize(amountSum);
    benchmark::DoNotOptimize(nameBytes);
    state.counters["append_s"] = sqliteTimes.first;
    state.counters["scan_s"] = sqliteTimes.second;
    sqlite3_close(db);
  }
}

BENCHMARK(BM_EngineAppendAndScan)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SqliteInsertAndScan)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  return mt::bench::RunAndReport(argc, argv,
                                 std::to_string(kRows) + " rows        append    scan     total",
                                 engineTimes, sqliteTimes);
}
