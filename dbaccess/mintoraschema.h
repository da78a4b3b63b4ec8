// The schema of the program's five tables (User, system, Items, szzb, diary): columns with
// their engine SQL types and nullability, and the indexes that serve the program's queries.
// This is the one place that states it; `mtdb init-mintora` creates the tables from it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace mt {

struct TColumnDef {
  std::string name;
  std::string sqlType;  // an SQL type name of the engine's dialect, e.g. "CHAR(20)", "FLOAT"
  bool nullable = true;
};

struct TIndexDef {
  std::string name;  // empty for the primary index
  std::vector<std::string> fields;
  bool primary = false;
  bool unique = false;
  bool caseInsensitive = false;
  bool descending = false;
};

struct TTableDef {
  std::string name;  // written exactly like this by the program
  std::vector<TColumnDef> columns;
  std::vector<TIndexDef> indexes;

  const TColumnDef* FindColumn(std::string_view column) const;  // ignores letter case
};

// The five tables in the order User, system, Items, szzb, diary.
const std::vector<TTableDef>& MintoraTables();

// A table by name (exact spelling), or nullptr.
const TTableDef* FindMintoraTable(std::string_view name);

}  // namespace mt
