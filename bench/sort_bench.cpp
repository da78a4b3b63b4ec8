// Sorting 1,000,000 rows of about 100 bytes in place (SortTable), by a date and by a string,
// beside SQLite writing the same rows ordered into a new table (CREATE TABLE ... AS SELECT ...
// ORDER BY) in the same run. Also the engine's sort with its runs on disk (a 16 MB bound) and
// by a string under a locale (Chinese collation; SQLite compares the same bytes without one).
// SQLite runs with synchronous=OFF, as the engine does not sync either. Prints every time and
// the ratios.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "benchutil.h"
#include "engine/storage/byteio.h"
#include "engine/storage/datacursor.h"
#include "engine/storage/fieldtypes.h"
#include "engine/storage/tablesort.h"

namespace {

using mt::bench::Check;
using mt::bench::Exec;
using mt::bench::Field;
using mt::bench::OpenSqlite;
using mt::bench::RunBenchmarks;
using mt::bench::Seconds;
using mt::bench::TTempDir;
namespace fs = std::filesystem;
constexpr int kRows = 1000000;

// The row i, the same for both engines: a day over ten years, a name with varied prefixes, an
// amount, a note and a kind, in a scrambled order.
uint32_t Mix(uint32_t i) {
  i ^= i >> 16;
  i *= 0x7feb352d;
  i ^= i >> 15;
  i *= 0x846ca68b;
  i ^= i >> 16;
  return i;
}
int32_t DayOf(int i) {
  return 730000 + static_cast<int32_t>(Mix(static_cast<uint32_t>(i)) % 3650);
}
std::string NameOf(int i) {
  static const char* kinds[] = {"food", "Rent", "salary", "Travel", "books", "gift", "fuel"};
  const uint32_t m = Mix(static_cast<uint32_t>(i) * 2 + 1);
  return std::string(kinds[m % 7]) + "-" + std::to_string(m % 100000);
}
double AmountOf(int i) {
  return static_cast<double>(Mix(static_cast<uint32_t>(i) + 7) % 100000) / 100.0;
}
std::string NoteOf(int i) {
  return "ledger note " + std::to_string(i);
}

struct TTimes {
  double byDate = 0;
  double byName = 0;
  double byDateOnDisk = 0;
  double byNameLocale = 0;
};
TTimes engineTimes;
TTimes sqliteTimes;

// The unsorted table, made once through the data file and indexed like a filled result table.
void MakeEngineTable(const std::string& dir, const std::string& name, uint16_t languageId) {
  mt::TTableCreateParams p;
  p.languageId = languageId;
  p.fields = {Field("id", mt::ftype::kInteger),      Field("day", mt::ftype::kDate),
              Field("name", mt::ftype::kString, 30), Field("amount", mt::ftype::kFloat),
              Field("note", mt::ftype::kString, 40), Field("kind", mt::ftype::kSmallInt)};
  mt::TDataTable table(dir, name);
  table.Create(p);
  table.Open();
  mt::TDataFile& data = table.Data();
  const mt::TRecordFormat& f = data.Format();
  for (int i = 1; i <= kRows; ++i) {
    const int32_t n = data.NextRecordNumber();
    mt::TPinnedRecord r(data.GetRecord(n, mt::TReadAhead::None, true));
    uint8_t* img = r->Image();
    mt::le::PutI32(img, mt::rec::kAutoInc, data.NextAutoInc());
    f.SetInteger(1, img, i);
    f.SetInteger(2, img, DayOf(i));
    f.SetString(3, img, NameOf(i));
    f.SetFloat(4, img, AmountOf(i));
    f.SetString(5, img, NoteOf(i));
    f.SetInteger(6, img, i % 7);
    r->MarkDirty();
  }
  table.RebuildIndexes();
  table.FlushBuffers(true);
  table.Close();
}

// Copies the unsorted table (not timed), then sorts the copy in place; returns the seconds.
double EngineSort(const std::string& dir, const std::string& source, mt::TSortKey key,
                  std::size_t memoryLimit = 0) {
  for (const char* ext : {".DAT", ".IDX"}) {
    fs::copy_file(dir + "/" + source + ext, dir + "/work" + ext,
                  fs::copy_options::overwrite_existing);
  }
  mt::TDataDirectory directory(dir);
  mt::TDataCursor cursor(directory);
  cursor.SetTableName("work");
  cursor.SetOpenInBitmapOrder(true);
  const auto start = std::chrono::steady_clock::now();
  cursor.Open();
  mt::TSortOptions options;
  options.keys = {key};
  options.memoryLimit = memoryLimit;
  const mt::TSortResult r = mt::SortTable(cursor, options);
  cursor.Close();
  const double seconds = Seconds(start);
  if (r.rows != kRows) std::abort();
  return seconds;
}

void BM_EngineSort(benchmark::State& state) {
  for (auto _ : state) {
    TTempDir dir;
    MakeEngineTable(dir.Path(), "ledger", 0);
    MakeEngineTable(dir.Path(), "ledgerzh", 2052);
    engineTimes.byDate = EngineSort(dir.Path(), "ledger", {2});
    engineTimes.byName = EngineSort(dir.Path(), "ledger", {3});
    engineTimes.byDateOnDisk = EngineSort(dir.Path(), "ledger", {2}, std::size_t{16} << 20);
    engineTimes.byNameLocale = EngineSort(dir.Path(), "ledgerzh", {3});
    state.counters["date_s"] = engineTimes.byDate;
    state.counters["string_s"] = engineTimes.byName;
    state.counters["date_16MB_s"] = engineTimes.byDateOnDisk;
    state.counters["string_2052_s"] = engineTimes.byNameLocale;
  }
}

double SqliteSort(sqlite3* db, const char* column) {
  Exec(db, "DROP TABLE IF EXISTS sorted");
  const std::string sql =
      std::string("CREATE TABLE sorted AS SELECT * FROM ledger ORDER BY ") + column;
  const auto start = std::chrono::steady_clock::now();
  Exec(db, sql.c_str());
  return Seconds(start);
}

void BM_SqliteSort(benchmark::State& state) {
  for (auto _ : state) {
    TTempDir dir;
    sqlite3* db = OpenSqlite(dir, "ledger.db");
    Exec(db,
         "CREATE TABLE ledger (id INTEGER, day INTEGER, name VARCHAR(30), amount REAL, "
         "note VARCHAR(40), kind INTEGER)");
    Exec(db, "BEGIN");
    sqlite3_stmt* insert = nullptr;
    Check(sqlite3_prepare_v2(db, "INSERT INTO ledger VALUES (?, ?, ?, ?, ?, ?)", -1, &insert,
                             nullptr),
          db);
    for (int i = 1; i <= kRows; ++i) {
      const std::string name = NameOf(i);
      const std::string note = NoteOf(i);
      sqlite3_bind_int(insert, 1, i);
      sqlite3_bind_int(insert, 2, DayOf(i));
      sqlite3_bind_text(insert, 3, name.c_str(), static_cast<int>(name.size()), SQLITE_STATIC);
      sqlite3_bind_double(insert, 4, AmountOf(i));
      sqlite3_bind_text(insert, 5, note.c_str(), static_cast<int>(note.size()), SQLITE_STATIC);
      sqlite3_bind_int(insert, 6, i % 7);
      Check(sqlite3_step(insert), db, SQLITE_DONE);
      sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    Exec(db, "COMMIT");
    sqliteTimes.byDate = SqliteSort(db, "day");
    sqliteTimes.byName = SqliteSort(db, "name");
    sqliteTimes.byDateOnDisk = sqliteTimes.byDate;
    sqliteTimes.byNameLocale = sqliteTimes.byName;
    state.counters["date_s"] = sqliteTimes.byDate;
    state.counters["string_s"] = sqliteTimes.byName;
    sqlite3_close(db);
  }
}

BENCHMARK(BM_EngineSort)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SqliteSort)->Iterations(1)->Unit(benchmark::kMillisecond);

void Line(const char* what, double engine, double sqlite) {
  std::printf("%-34s %8.3f s %8.3f s %8.2f\n", what, engine, sqlite, engine / sqlite);
}

}  // namespace

int main(int argc, char** argv) {
  if (!RunBenchmarks(argc, argv)) return 1;
  if (engineTimes.byDate > 0 && sqliteTimes.byDate > 0) {
    std::printf("\n%d rows sorted                  engine     sqlite  engine/sqlite\n", kRows);
    Line("by date", engineTimes.byDate, sqliteTimes.byDate);
    Line("by string", engineTimes.byName, sqliteTimes.byName);
    Line("by date, runs on disk (16 MB)", engineTimes.byDateOnDisk, sqliteTimes.byDateOnDisk);
    Line("by string, locale 2052 collation", engineTimes.byNameLocale, sqliteTimes.byNameLocale);
  }
  return 0;
}
