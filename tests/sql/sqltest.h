// Helpers shared by the SQL execution tests: a scratch database directory, tables made from
// column definitions and filled from value texts (NULL as nullopt), and statements run to a
// result read back as texts in the dialect's literal formats.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/common/engineerror.h"
#include "engine/common/expeval.h"
#include "engine/sql/querystatement.h"
#include "engine/storage/datacursor.h"
#include "engine/storage/datadirectory.h"
#include "engine/storage/fieldtypes.h"
#include "engine/storage/record.h"
#include "engine/storage/recordresolver.h"
#include "engine/storage/tabledef.h"

namespace mt::sqltest {

using TCell = std::optional<std::string>;
using TRow = std::vector<TCell>;

// A new temporary directory, removed with everything in it when the object goes.
class TScratch {
 public:
  TScratch() {
    std::string pattern = (std::filesystem::temp_directory_path() / "mt-sql-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("no temporary directory");
    path_ = pattern + "/";
  }
  ~TScratch() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TScratch(const TScratch&) = delete;
  TScratch& operator=(const TScratch&) = delete;
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

// A column "name TYPE" with an SQL type name of the dialect ("CHAR(20)", "INTEGER", ...).
inline TFieldDescriptor Column(const std::string& definition) {
  const std::size_t blank = definition.find(' ');
  TFieldDescriptor f;
  f.name = definition.substr(0, blank);
  ApplyTypeName(f, definition.substr(blank + 1));
  return f;
}

// An index over field numbers.
inline TIndexDescriptor Index(const std::string& name, std::vector<uint16_t> fields,
                              bool unique = false) {
  TIndexDescriptor d;
  d.name = name;
  d.fields = std::move(fields);
  d.unique = unique;
  return d;
}

// A test table: its name, column definitions ("name TYPE"), indexes and locale.
struct TTestTable {
  std::string name;
  std::vector<std::string> columns;
  std::vector<TIndexDescriptor> secondaries;
  std::optional<std::vector<uint16_t>> primary;
  uint16_t languageId = 0;
};

// Creates the table and inserts the rows (cells as literal texts, memo text as it is).
inline void MakeTable(const std::string& directory, const TTestTable& table,
                      const std::vector<TRow>& rows) {
  TTableCreateParams p;
  for (const std::string& c : table.columns)
    p.fields.push_back(Column(c));
  if (table.primary) p.indexes.primary = Index("", *table.primary, true);
  p.indexes.secondaries = table.secondaries;
  p.languageId = table.languageId;
  TDataTable(directory, table.name).Create(p);
  TDataDirectory database(directory);
  TDataCursor cursor(database);
  cursor.SetTableName(table.name);
  cursor.Open();
  const TRecordFormat& format = cursor.Format();
  std::vector<uint8_t> image(static_cast<std::size_t>(cursor.RecordSize()));
  for (const TRow& row : rows) {
    cursor.InitRecord(image.data());
    for (std::size_t i = 0; i < row.size(); ++i) {
      const int no = static_cast<int>(i) + 1;
      const TFieldDescriptor& f = format.Field(no);
      if (!row[i]) {
        if (!IsAutoIncField(f.type, f.subtype)) format.SetNull(no, image.data());
        continue;
      }
      if (IsBlobField(f.type)) {
        const int h = cursor.OpenBlob(no, image.data(), TBlobOpenMode::ReadWrite);
        cursor.Blob(h).Write(0, std::vector<uint8_t>(row[i]->begin(), row[i]->end()));
        cursor.CloseBlob(h, true, image.data());
        continue;
      }
      std::vector<uint8_t> value;
      if (!FieldValueFromText(f, *row[i], CurrentLocalMoment(), value))
        throw std::runtime_error("no value of " + f.name + ": " + *row[i]);
      format.SetField(no, image.data(), std::span<const uint8_t>(value));
    }
    cursor.InsertRecord(image.data(), false);
  }
}

// A result read back: column names and types, and the rows as texts.
struct TResult {
  std::vector<std::string> names;
  std::vector<uint8_t> types;
  std::vector<TRow> rows;
};

// Reads the first `columns` fields of every row of a result cursor.
inline TResult ReadResult(TDataCursor& cursor, int columns) {
  TResult r;
  const TRecordFormat& format = cursor.Format();
  for (int no = 1; no <= columns; ++no) {
    r.names.push_back(format.Field(no).name);
    r.types.push_back(format.Field(no).type);
  }
  TRecordResolver reader(cursor.Table());
  std::vector<uint8_t> image(static_cast<std::size_t>(cursor.RecordSize()));
  cursor.First();
  while (cursor.Next(image.data()) == TDataCursor::kRecordRead) {
    reader.SetImage(image.data());
    TRow row;
    for (int no = 1; no <= columns; ++no) {
      const TFieldDescriptor& f = format.Field(no);
      TExpTokenPtr column = NewExpToken();
      column->kind = TNodeKind::Column;
      column->columnName = f.name;
      EXPECT_TRUE(reader.ResolveColumn(*column));
      TExpTokenPtr value = NewExpToken();
      value->type = column->type;
      value->subtype = column->subtype;
      value->size = column->size;
      value->scale = column->scale;
      reader.ReadColumn(*column, *value);
      if (value->isNull)
        row.push_back(std::nullopt);
      else
        row.push_back(ValueToText(*value));
    }
    r.rows.push_back(std::move(row));
  }
  return r;
}

// Runs a statement against the directory and reads its result.
inline TResult Select(TDataDirectory& database, const std::string& sql, int32_t maxRows = -1,
                      std::size_t groupMemory = 0) {
  TQueryStatement statement(&database);
  statement.SetMaxRowCount(maxRows);
  statement.SetGroupMemory(groupMemory);
  statement.Prepare(sql);
  TDataCursor* cursor = statement.Execute();
  if (cursor == nullptr) throw std::runtime_error("no result: " + sql);
  return ReadResult(*cursor, statement.ResultColumnCount());
}

// The full message of the engine error a statement raises (prepared and run), or "" when it
// runs.
inline std::string FaultOf(TDataDirectory& database, const std::string& sql) {
  try {
    TQueryStatement statement(&database);
    statement.Prepare(sql);
    statement.Execute();
  } catch (const EEngineError& e) {
    return e.what();
  }
  return {};
}

inline std::string SqlFault(const std::string& message) {
  return "Engine Error # 11949 SQL error - " + message;
}

}  // namespace mt::sqltest
