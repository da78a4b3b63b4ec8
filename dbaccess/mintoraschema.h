// The schema of the program's five tables (User, system, Items, szzb, diary): columns with
// their engine SQL types and nullability, and the indexes that serve the program's queries.
// One place states it, as the SQL statements that create the tables (MintoraSchemaSql); the
// definitions below are read from that text. CreateMintoraTables (used by `mtdb init-mintora`
// and by tests that need the program's tables) runs the statements.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "engine/storage/tabledef.h"

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

// CREATE TABLE and CREATE INDEX statements of the five tables, separated by ";".
std::string_view MintoraSchemaSql();

// The five tables in the order User, system, Items, szzb, diary.
const std::vector<TTableDef>& MintoraTables();

// A table by name (exact spelling), or nullptr.
const TTableDef* FindMintoraTable(std::string_view name);

// The engine's creation parameters of a table of the schema.
TTableCreateParams MintoraTableParams(const TTableDef& def);

// Creates the five tables in an existing directory and adds the first account to User (name
// and full name `user`, the password). Refuses, before creating anything, when one of the
// tables exists there ("the table NAME already exists in DIR"): existing data is never
// replaced. Engine failures arrive as EEngineError.
void CreateMintoraTables(const std::string& directory, std::string_view user,
                         std::string_view password);

}  // namespace mt
