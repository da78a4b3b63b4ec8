// Inserting 1,000,000 random integer keys into a primary index (TBTree through the table's
// index file, pages written back at the end) and then 1,000,000 point searches in another
// random order, beside SQLite inserting the same keys into a table with an index on them (one
// transaction, prepared statement) and looking each one up through the index
// ("SELECT rowid ... WHERE k = ?", answered from the index alone), in the same run. Prints the
// times of both and their ratios.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "benchutil.h"
#include "engine/storage/btree.h"
#include "engine/storage/datatable.h"
#include "engine/storage/fieldtypes.h"
#include "engine/storage/indexkey.h"

namespace {

using mt::bench::Check;
using mt::bench::Seconds;
using mt::bench::TTempDir;
namespace fs = std::filesystem;
constexpr int kKeys = 1000000;

mt::bench::TPhaseTimes engineTimes;
mt::bench::TPhaseTimes sqliteTimes;

// Distinct random int32 keys (a bijection of 1..kKeys scrambled over the whole range), and a
// second random order of them for the searches.
struct TWorkload {
  std::vector<int32_t> keys;
  std::vector<int32_t> searchOrder;
  TWorkload() {
    keys.resize(kKeys);
    for (int i = 0; i < kKeys; ++i)
      keys[i] = static_cast<int32_t>(static_cast<uint32_t>(i + 1) * 2654435761u);
    std::mt19937 rng(7);
    std::shuffle(keys.begin(), keys.end(), rng);
    searchOrder = keys;
    std::shuffle(searchOrder.begin(), searchOrder.end(), rng);
  }
};
const TWorkload& Work() {
  static const TWorkload w;
  return w;
}

void BM_EngineInsertAndSearch(benchmark::State& state) {
  const TWorkload& w = Work();
  for (auto _ : state) {
    TTempDir dir;
    mt::TTableCreateParams p;
    mt::TFieldDescriptor f;
    f.name = "k";
    f.type = mt::ftype::kInteger;
    p.fields = {f};
    mt::TIndexDescriptor primary;
    primary.fields = {1};
    p.indexes.primary = primary;
    mt::TDataTable table(dir.Path(), "keys");
    table.Create(p);
    table.Open();
    mt::TBTree& tree = table.Index().Tree(mt::kPrimarySlot);
    uint8_t key[5] = {1, 0, 0, 0, 0};

    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kKeys; ++i) {
      mt::PutKeyInt(w.keys[i], 4, key + 1);
      tree.Insert(key, i + 1);
    }
    table.FlushBuffers();
    engineTimes.first = Seconds(start);

    start = std::chrono::steady_clock::now();
    int64_t found = 0;
    for (int32_t k : w.searchOrder) {
      mt::PutKeyInt(k, 4, key + 1);
      const mt::TFindResult r = tree.Find(key);
      if (r.found) found += tree.RecordAt(r.pos) > 0 ? 1 : 0;
    }
    engineTimes.second = Seconds(start);
    if (found != kKeys) std::abort();
    state.counters["pages"] = table.Index().Header().nextPage - 1;
    state.counters["height"] = tree.Height();
    state.counters["insert_s"] = engineTimes.first;
    state.counters["search_s"] = engineTimes.second;
    table.Close();
  }
}

void BM_SqliteInsertAndSearch(benchmark::State& state) {
  const TWorkload& w = Work();
  for (auto _ : state) {
    TTempDir dir;
    sqlite3* db = nullptr;
    Check(sqlite3_open((dir.Path() + "/keys.db").c_str(), &db), db);
    Check(sqlite3_exec(db, "CREATE TABLE t (k INTEGER); CREATE INDEX tk ON t (k)", nullptr, nullptr,
                       nullptr),
          db);

    auto start = std::chrono::steady_clock::now();
    Check(sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr), db);
    sqlite3_stmt* insert = nullptr;
    Check(sqlite3_prepare_v2(db, "INSERT INTO t (k) VALUES (?)", -1, &insert, nullptr), db);
    for (int32_t k : w.keys) {
      sqlite3_bind_int(insert, 1, k);
      Check(sqlite3_step(insert), db, SQLITE_DONE);
      sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    Check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), db);
    sqliteTimes.first = Seconds(start);

    start = std::chrono::steady_clock::now();
    Check(sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr), db);
    sqlite3_stmt* search = nullptr;
    Check(sqlite3_prepare_v2(db, "SELECT rowid FROM t WHERE k = ?", -1, &search, nullptr), db);
    int64_t found = 0;
    for (int32_t k : w.searchOrder) {
      sqlite3_bind_int(search, 1, k);
      if (sqlite3_step(search) == SQLITE_ROW && sqlite3_column_int64(search, 0) > 0) ++found;
      sqlite3_reset(search);
    }
    sqlite3_finalize(search);
    Check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), db);
    sqliteTimes.second = Seconds(start);
    if (found != kKeys) std::abort();
    state.counters["insert_s"] = sqliteTimes.first;
    state.counters["search_s"] = sqliteTimes.second;
    sqlite3_close(db);
  }
}

BENCHMARK(BM_EngineInsertAndSearch)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SqliteInsertAndSearch)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  return mt::bench::RunAndReport(argc, argv,
                                 std::to_string(kKeys) + " keys        insert    search     total",
                                 engineTimes, sqliteTimes);
}
