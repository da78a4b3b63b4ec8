// Helpers shared by the benchmarks: wall-clock seconds, a temporary directory per run, field
// definitions for engine tables, and the SQLite result check.
#pragma once

#include <sqlite3.h>
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <benchmark/benchmark.h>

#include "engine/storage/tablelayout.h"

namespace mt::bench {

inline double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// One temporary directory, removed with everything in it at the end.
class TTempDir {
 public:
  TTempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "mt-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    path_ = pattern;
  }
  ~TTempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

// A field of an engine table.
inline mt::TFieldDescriptor Field(std::string name, uint8_t type, uint8_t size = 0) {
  mt::TFieldDescriptor f;
  f.name = std::move(name);
  f.type = type;
  f.size = size;
  return f;
}

// Ends the benchmark with SQLite's message when a call did not give the expected code.
inline void Check(int rc, sqlite3* db, int expected = SQLITE_OK) {
  if (rc != expected) {
    std::fprintf(stderr, "sqlite: %s\n", sqlite3_errmsg(db));
    std::exit(1);
  }
}

// Runs SQL text, ending the benchmark with SQLite's message when it fails.
inline void Exec(sqlite3* db, const char* sql) {
  char* error = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
    std::fprintf(stderr, "sqlite: %s\n", error);
    std::exit(1);
  }
}

// A new SQLite database file in dir, written without waiting for the disk (as the engine's
// tables are written in the benchmarks).
inline sqlite3* OpenSqlite(const TTempDir& dir, const char* file) {
  sqlite3* db = nullptr;
  Check(sqlite3_open((dir.Path() + "/" + file).c_str(), &db), db);
  Exec(db, "PRAGMA synchronous=OFF");
  return db;
}

// The rows a benchmark works on: MINTORA_BENCH_ROWS when it holds a positive number (to
// profile on a smaller table), else `standard`.
inline int BenchRows(int standard) {
  const char* rows = std::getenv("MINTORA_BENCH_ROWS");
  const int n = rows != nullptr ? std::atoi(rows) : 0;
  return n > 0 ? n : standard;
}

// Runs the registered benchmarks; false when the command line held an unknown argument.
inline bool RunBenchmarks(int& argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return false;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return true;
}

// The two phases a benchmark times, for the engine and for SQLite.
struct TPhaseTimes {
  double first = 0;
  double second = 0;
  double Total() const { return first + second; }
};

// Runs the registered benchmarks, then prints both engines' phase times and their ratios, e.g.
// "1000000 keys   insert   search   total".
inline int RunAndReport(int argc, char** argv, const std::string& heading,
                        const TPhaseTimes& engine, const TPhaseTimes& sqlite) {
  if (!RunBenchmarks(argc, argv)) return 1;
  if (engine.Total() > 0 && sqlite.Total() > 0) {
    std::printf("\n%s\n", heading.c_str());
    std::printf("engine      %8.3f s %8.3f s %8.3f s\n", engine.first, engine.second,
                engine.Total());
    std::printf("sqlite      %8.3f s %8.3f s %8.3f s\n", sqlite.first, sqlite.second,
                sqlite.Total());
    std::printf("engine/sqlite  %6.2f     %6.2f     %6.2f\n", engine.first / sqlite.first,
                engine.second / sqlite.second, engine.Total() / sqlite.Total());
  }
  return 0;
}

}  // namespace mt::bench
