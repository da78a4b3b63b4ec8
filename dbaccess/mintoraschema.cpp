// The program's table definitions. Text sizes are at least what the program needs; only
// columns the program always fills are marked not nullable (szzb.input and szzb.output must
// take null: an income entry has no output amount and an expense entry no input amount).
#include "mintoraschema.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>

#include "engine/common/filehandler.h"
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

std::vector<TTableDef> BuildTables() {
  return {
      {"User",
       {{"name", "CHAR(20)", false}, {"fullname", "CHAR(40)"}, {"password", "CHAR(20)", false}},
       {{"name", {"name"}, false, false, true}}},
      {"system",
       {{"name", "CHAR(40)", false}, {"value", "CHAR(40)"}},
       {{"name", {"name"}, false, false, true}}},
      {"Items",
       {{"id", "INTEGER", false},
        {"name", "CHAR(60)", false},
        {"description", "CHAR(200)"},
        {"type", "INTEGER", false},
        {"parent", "INTEGER", false}},
       {{"", {"id"}, true, true}, {"type_id", {"type", "id"}}}},
      {"szzb",
       {{"id", "INTEGER", false},
        {"date", "DATE", false},
        {"itemid", "INTEGER"},
        {"item", "CHAR(60)"},
        {"description", "CHAR(200)"},
        {"memo", "CHAR(200)"},
        {"user", "CHAR(20)"},
        {"input", "FLOAT"},
        {"output", "FLOAT"},
        {"type", "CHAR(1)", false},
        {"balance", "FLOAT"}},
       {{"", {"id"}, true, true}, {"date", {"date"}}}},
      {"diary",
       {{"date", "DATE", false}, {"contents", "MEMO"}, {"user", "CHAR(20)"}},
       {{"date", {"date"}}}},
  };
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

TTableCreateParams MintoraTableParams(const TTableDef& def) {
  TTableCreateParams p;
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
  for (const TTableDef& def : MintoraTables())
    TDataTable(directory, def.name).Create(MintoraTableParams(def));

  TDataDirectory dir(directory);
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
