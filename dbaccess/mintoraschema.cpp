// The program's table definitions, held as the SQL statements that create the tables.
#include "mintoraschema.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>

#include "engine/common/filehandler.h"
#include "engine/sql/dataquery.h"
#include "engine/sql/querystatement.h"
#include "engine/storage/datacursor.h"
#include "engine/storage/tablenames.h"

namespace mt {
namespace {

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

// The program's tables as the engine's SQL creates them. Text sizes are at least what the
// program needs; only columns the program always fills are NOT NULL (szzb.input and
// szzb.output must take null: an income entry has no output amount and an expense entry no
// input amount).
constexpr std::string_view kSchemaSql = R"sql(
CREATE TABLE "User" (name CHAR(20) NOT NULL, fullname CHAR(40), password CHAR(20) NOT NULL);
CREATE NOCASE INDEX name ON "User" (name);
CREATE TABLE system (name CHAR(40) NOT NULL, value CHAR(40));
CREATE NOCASE INDEX name ON system (name);
CREATE TABLE Items (id INTEGER NOT NULL, name CHAR(60) NOT NULL, description CHAR(200),
  type INTEGER NOT NULL, parent INTEGER NOT NULL, PRIMARY KEY (id));
CREATE INDEX type_id ON Items (type, id);
CREATE TABLE szzb (id INTEGER NOT NULL, date DATE NOT NULL, itemid INTEGER, item CHAR(60),
  description CHAR(200), memo CHAR(200), user CHAR(20), input FLOAT, output FLOAT,
  type CHAR(1) NOT NULL, balance FLOAT, PRIMARY KEY (id));
CREATE INDEX date ON szzb (date);
CREATE TABLE diary (date DATE NOT NULL, contents MEMO, user CHAR(20));
CREATE INDEX date ON diary (date);
)sql";

TIndexDef IndexDefOf(const TCreateIndex& index) {
  TIndexDef d{.name = index.primary ? std::string() : index.name,
              .primary = index.primary,
              .unique = index.unique || index.primary,
              .caseInsensitive = index.caseInsensitive,
              .descending = index.descending};
  for (const TIndexColumn& c : index.columns)
    d.fields.push_back(c.name);
  return d;
}

// The definitions the schema's statements state, read by the statement parser.
std::vector<TTableDef> BuildTables() {
  std::vector<TTableDef> tables;
  TQueryStatement statement;
  statement.Prepare(kSchemaSql);
  do {
    const TDataQuery& q = *statement.Master();
    if (q.kind == TStatementKind::CreateTable) {
      TTableDef table{.name = q.Target()->table.name};
      for (const auto& c : q.createFields) {
        TFieldDescriptor f;
        ApplyParsedType(f, c->type, c->subtype, c->size, c->scale);
        table.columns.push_back({c->name, SqlTypeName(f), !c->required});
      }
      for (const auto& index : q.createIndexes)
        table.indexes.push_back(IndexDefOf(*index));
      tables.push_back(std::move(table));
    } else if (q.kind == TStatementKind::CreateIndex) {
      for (TTableDef& table : tables) {
        if (table.name == q.Target()->table.name)
          table.indexes.push_back(IndexDefOf(*q.createIndexes.at(0)));
      }
    }
  } while (statement.ParseNextStatement());
  return tables;
}

}  // namespace

const TColumnDef* TTableDef::FindColumn(std::string_view column) const {
  for (const auto& c : columns)
    if (SameIgnoringCase(c.name, column)) return &c;
  return nullptr;
}

const std::vector<TTableDef>& MintoraTables() {
  static const std::vector<TTableDef> tables = BuildTables();
  return tables;
}

const TTableDef* FindMintoraTable(std::string_view name) {
  for (const auto& t : MintoraTables())
    if (t.name == name) return &t;
  return nullptr;
}

std::string_view MintoraSchemaSql() {
  return kSchemaSql;
}

TTableCreateParams MintoraTableParams(const TTableDef& def) {
  TTableCreateParams p;
  p.userMajor = 1;  // as CREATE TABLE makes it
  for (const TColumnDef& c : def.columns) {
    TFieldDescriptor f;
    f.name = c.name;
    ApplyTypeName(f, c.sqlType);
    f.required = !c.nullable;
    p.fields.push_back(std::move(f));
  }
  for (const TIndexDef& i : def.indexes) {
    TIndexDescriptor d;
    for (const std::string& name : i.fields)
      d.fields.push_back(static_cast<uint16_t>(FieldPosition(p.fields, name)));
    d.unique = i.unique || i.primary;
    d.caseInsensitive = i.caseInsensitive;
    d.descending = i.descending;
    if (i.primary) {
      p.indexes.primary = d;
    } else {
      d.name = i.name;
      p.indexes.secondaries.push_back(d);
    }
  }
  return p;
}

void CreateMintoraTables(const std::string& directory, std::string_view user,
                         std::string_view password) {
  for (const TTableDef& def : MintoraTables()) {
    if (TFileHandler(TableFileName(NormalizeDirectory(directory), def.name, kDataExt)).Exists()) {
      throw std::runtime_error("the table " + def.name + " already exists in " + directory);
    }
  }
  TDataDirectory dir(directory);
  TQueryStatement create(&dir);
  create.Prepare(MintoraSchemaSql());
  create.Execute();

  TDataCursor users(dir);
  users.SetTableName("User");
  users.Open();
  const TRecordFormat& format = users.Format();
  std::vector<uint8_t> image(static_cast<std::size_t>(users.RecordSize()));
  users.InitRecord(image.data());
  format.SetString(format.FindField("name"), image.data(), user);
  format.SetString(format.FindField("fullname"), image.data(), user);
  format.SetString(format.FindField("password"), image.data(), password);
  users.InsertRecord(image.data());
  users.Close();
}

}  // namespace mt
