// The program's table definitions. Text sizes are at least what the program needs; only
// columns the program always fills are marked not nullable (szzb.input and szzb.output must
// take null: an income entry has no output amount and an expense entry no input amount).
#include "mintoraschema.h"

#include <algorithm>
#include <cctype>

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

}  // namespace mt
