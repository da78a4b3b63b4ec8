// libFuzzer target: SQL texts run against two small scratch tables, one text per line.
//
// Each input starts from the same two tables, t (k INTEGER, unique primary index; a INTEGER
// and s CHAR(10) indexed; d DATE, f FLOAT, m MEMO) and u (id AUTOINC primary; v INTEGER,
// w CHAR(8) with an index on both), a few rows each. Every line is one text run as the
// program runs one (Prepare, Execute, every result row read); a line that fails is discarded
// and the next one runs, so a transaction begun on one line can end on another. Only SELECT,
// INSERT, UPDATE, DELETE and the transaction statements run, on the scratch database alone
// (no table path, no INTO), with at most two table references per statement; the run stops
// when a table grows past a few dozen rows, so that no line can take long.
//
// What must hold:
// - faults arrive as engine errors; anything else escaping, a crash, a sanitizer report or a
//   leak ends the run;
// - a single INSERT, UPDATE or DELETE outside a transaction and without COMMIT INTERVAL that
//   fails leaves both tables as they were;
// - ROLLBACK on a line of its own restores both tables as START TRANSACTION on a line of its
//   own found them (when nothing committed in between);
// - at the end (an open transaction rolled back) every table passes the record, index and
//   blob checks.
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/common/engineerror.h"
#include "engine/sql/querystatement.h"
#include "engine/storage/datacursor.h"
#include "engine/storage/datadirectory.h"
#include "engine/storage/datatable.h"
#include "engine/storage/tablecheck.h"
#include "engine/storage/tabledef.h"

namespace {

using namespace mt;

constexpr std::size_t kMaxLines = 12;
constexpr std::size_t kMaxSources = 2;  // table references in one statement
constexpr uint32_t kMaxRows = 64;       // a table holding more ends the input
const char* const kTables[] = {"t", "u"};

void Require(bool condition) {
  if (!condition) std::abort();
}

// The process's scratch folder: "template/" holds the tables as every input starts with them,
// "db/" the database an input works in.
const std::string& Scratch() {
  // Removed with everything in it when the process ends.
  struct TFolder {
    std::string path;
    TFolder() {
      std::string pattern =
          (std::filesystem::temp_directory_path() / "mt-execfuzz-XXXXXX").string();
      Require(mkdtemp(pattern.data()) != nullptr);
      path = pattern + "/";
    }
    ~TFolder() {
      std::error_code ec;
      std::filesystem::remove_all(path, ec);
    }
  };
  static const TFolder folder;
  return folder.path;
}

TFieldDescriptor Column(const std::string& name, std::string_view type) {
  TFieldDescriptor f;
  f.name = name;
  ApplyTypeName(f, type);
  return f;
}

TIndexDescriptor Index(const std::string& name, std::vector<uint16_t> fields, bool unique) {
  TIndexDescriptor d;
  d.name = name;
  d.fields = std::move(fields);
  d.unique = unique;
  return d;
}

// Runs a text, every result row read; the engine's error passes on.
void Run(TDataDirectory& database, std::string_view text) {
  TQueryStatement statement(&database);
  statement.SetPrivateDirectory(database.Path());
  statement.Prepare(text);
  if (TDataCursor* rows = statement.Execute()) {
    std::vector<uint8_t> image(static_cast<std::size_t>(rows->RecordSize()));
    rows->First();
    while (rows->Next(image.data()) == TDataCursor::kRecordRead) {
    }
  }
}

void MakeTemplate(const std::string& dir) {
  std::filesystem::create_directories(dir);
  TTableCreateParams t;
  t.fields = {Column("k", "INTEGER"), Column("a", "INTEGER"), Column("s", "CHAR(10)"),
              Column("d", "DATE"),    Column("f", "FLOAT"),   Column("m", "MEMO")};
  t.indexes.primary = Index("", {1}, true);
  t.indexes.secondaries = {Index("a", {2}, false), Index("s", {3}, false)};
  TDataTable(dir, "t").Create(t);
  TTableCreateParams u;
  u.fields = {Column("id", "AUTOINC"), Column("v", "INTEGER"), Column("w", "CHAR(8)")};
  u.indexes.primary = Index("", {1}, true);
  u.indexes.secondaries = {Index("vw", {2, 3}, false)};
  TDataTable(dir, "u").Create(u);
  TDataDirectory database(dir);
  Run(database,
      "insert into t values (1, 10, 'one', '2004-01-01', 1.5, 'first memo');"
      "insert into t values (2, 11, 'two', '2004-01-02', NULL, NULL);"
      "insert into t values (3, NULL, 'three', NULL, -2.25, 'x');"
      "insert into t values (4, 13, NULL, '2004-02-29', 0, NULL);"
      "insert into t values (5, 11, 'Two', '2005-12-31', 1e10, '');"
      "insert into u (v, w) values (1, 'a'); insert into u (v, w) values (2, 'b');"
      "insert into u (v, w) values (NULL, 'c'); insert into u (v, w) values (11, NULL)");
}

// A fresh copy of the template tables, as the directory the input works in.
std::string FreshDatabase() {
  static const std::string templ = [] {
    const std::string dir = Scratch() + "template/";
    MakeTemplate(dir);
    return dir;
  }();
  const std::string dir = Scratch() + "db/";
  std::filesystem::remove_all(dir);
  std::filesystem::copy(templ, dir);
  return dir;
}

// What the statements of one line are, as far as they parse; nullopt when the line may not
// run (a statement of another kind, a table outside the database, INTO, too many tables).
struct TLineFacts {
  std::size_t statements = 0;
  TStatementKind kind = TStatementKind::Unknown;  // of the first statement
  bool commitInterval = false;                    // some statement gives COMMIT INTERVAL
  bool whole = true;  // the text parsed to its end (else a later statement fails to parse)
};

bool Allowed(TStatementKind kind) {
  switch (kind) {
    case TStatementKind::Select:
    case TStatementKind::Insert:
    case TStatementKind::Update:
    case TStatementKind::Delete:
    case TStatementKind::StartTransaction:
    case TStatementKind::Commit:
    case TStatementKind::Rollback:
      return true;
    default:
      return false;
  }
}

std::optional<TLineFacts> Inspect(std::string_view line) {
  TLineFacts facts;
  TQueryStatement s;
  try {
    s.Prepare(line);
    do {
      if (!Allowed(s.Kind())) return std::nullopt;
      if (facts.statements++ == 0) facts.kind = s.Kind();
      std::size_t sources = 0;
      for (const auto& q : s.Queries()) {
        if (q->hasInto) return std::nullopt;
        for (const auto& t : q->sourceTables)
          if (!t->table.directory.empty()) return std::nullopt;
        sources += q->sourceTables.size();
        facts.commitInterval = facts.commitInterval || q->commitInterval >= 0;
      }
      if (sources > kMaxSources) return std::nullopt;
    } while (s.ParseNextStatement());
  } catch (const EEngineError&) {
    // The statements before the fault run; execution meets the same fault.
    facts.whole = false;
  }
  return facts;
}

// Every table's records in record-number order, as stored.
using TSnapshot = std::vector<std::vector<uint8_t>>;

TSnapshot Snapshot(TDataDirectory& database, uint32_t* largest = nullptr) {
  TSnapshot out;
  for (const char* name : kTables) {
    TDataCursor c(database);
    c.SetTableName(name);
    c.Open();
    if (largest != nullptr) *largest = std::max(*largest, c.RecordCount());
    std::vector<uint8_t> image(static_cast<std::size_t>(c.RecordSize()));
    c.First();
    while (c.Next(image.data()) == TDataCursor::kRecordRead)
      out.push_back(image);
    out.emplace_back();  // the end of a table
  }
  return out;
}

void CheckTables(TDataDirectory& database) {
  for (const char* name : kTables) {
    TDataCursor c(database);
    c.SetTableName(name);
    c.Open();
    Require(CheckDataRecords(c.Table()).empty());
    Require(CheckIndexes(c.Table()).empty());
    Require(CheckBlobValues(c.Table()).empty());
  }
}

void RunLines(std::string_view text) {
  TDataDirectory database(FreshDatabase());
  std::optional<TSnapshot> atStart;  // the tables when the open transaction began
  std::size_t lines = 0;
  while (!text.empty() && lines < kMaxLines) {
    const std::size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    const std::optional<TLineFacts> facts = Inspect(line);
    if (!facts || facts->statements == 0) continue;
    ++lines;
    const bool inTransaction = database.InTransaction();
    const bool single = facts->statements == 1 && facts->whole;
    const bool changing = facts->kind == TStatementKind::Insert ||
                          facts->kind == TStatementKind::Update ||
                          facts->kind == TStatementKind::Delete;
    // A failed change taken back whole is checked against the tables before it.
    std::optional<TSnapshot> before;
    if (single && changing && !inTransaction && !facts->commitInterval) before = Snapshot(database);
    if (single && facts->kind == TStatementKind::StartTransaction && !inTransaction)
      atStart = Snapshot(database);
    bool failed = false;
    try {
      Run(database, line);
    } catch (const EEngineError&) {
      failed = true;
    }
    if (failed && before) Require(Snapshot(database) == *before);
    if (single && facts->kind == TStatementKind::Rollback && !failed && atStart)
      Require(Snapshot(database) == *atStart);
    // Anything that may have committed part of the transaction, or ended it, forgets the
    // state it began with.
    if (!database.InTransaction() || facts->commitInterval || !single) atStart.reset();
    uint32_t largest = 0;
    Snapshot(database, &largest);
    if (largest > kMaxRows) break;
  }
  if (database.InTransaction()) {
    database.Rollback();
    if (atStart) Require(Snapshot(database) == *atStart);
  }
  CheckTables(database);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  RunLines(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
