// TQuerySources: the source tables of one query while it runs, and the expression owner of the
// query's trees (select items, WHERE and ON conditions).
//
// It opens a cursor on every TSourceTable (FROM order) and on the tables that LASTAUTOINC and
// IDENT_CURRENT name, keeps each table's current row image, resolves column names across the
// tables (a correlation name picks its table; a bare name the first table, in FROM order, that
// has such a column) and reads column values from the current rows. A table without a current
// row (the inner table of an outer join that found no match) reads as NULL in every column.
// IN (SELECT ...) nodes are answered by the sub-query's own TSelectQuery.
//
// Thread-safety: used by the one thread that runs the statement.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/common/expeval.h"
#include "engine/sql/sqlitems.h"

namespace mt {

class TDataCursor;
class TDataQuery;
class TQueryStatement;
class TRecordResolver;

// One source table's current row.
struct TSourceRow {
  TSourceTable* table = nullptr;
  std::unique_ptr<TRecordResolver> reader;  // the table's fields, read from `image`
  std::vector<uint8_t> image;
  // The current row's record when the scan reads it in place from its own buffer (valid until
  // the scan moves on); null when the record is in `image`.
  const uint8_t* inPlace = nullptr;
  bool onRow = false;  // false: no row, every column reads NULL

  const uint8_t* Current() const { return inPlace != nullptr ? inPlace : image.data(); }

  TDataCursor& Cursor() const { return *table->cursor; }
};

class TQuerySources : public TExpressionResolver {
 public:
  TQuerySources(TQueryStatement& statement, TDataQuery& query);
  ~TQuerySources() override;
  TQuerySources(const TQuerySources&) = delete;
  TQuerySources& operator=(const TQuerySources&) = delete;

  // Opens every source table, read-only unless told otherwise. Tables already open stay.
  void Open(bool readOnly);
  // Opens the tables named by LASTAUTOINC and IDENT_CURRENT in these checked trees that are
  // no source of the query; a name no table answers to raises "Illegal use of LASTAUTOINC()
  // or IDENT_CURRENT() functions".
  void OpenNamedTables(const std::vector<const TExpToken*>& trees);
  // Closes every cursor this object opened.
  void Close();
  // Checks the query's WHERE tree (with the ON conditions in it) against the open tables:
  // correlation names, columns and types; a string literal may name a column, and a bare
  // BOOLEAN column is a condition. The joins follow their conditions' nodes.
  void CheckWhere();

  std::size_t Count() const { return rows_.size(); }
  // By FROM position - 1.
  TSourceRow& Row(std::size_t i) { return rows_[i]; }
  TSourceRow& RowOf(const TSourceTable& table) { return rows_[table.position - 1]; }
  // The source table with this correlation name (letter case ignored), or nullptr.
  TSourceTable* FindCorrelation(std::string_view correlation) const;
  // The locale of the first table.
  uint32_t FirstLocale() const;

  // TExpressionResolver
  bool ResolveColumn(TExpToken& node) override;
  bool ReadColumn(const TExpToken& column, TExpToken& into) override;
  bool CheckSubSelect(TExpToken& subSelect) override;
  bool SubSelectContains(const TExpToken& subSelect, const TExpToken& value) override;
  bool TextSearch(const TExpToken& column, std::string_view words) override;
  int32_t TextOccurs(const TExpToken& column, std::string_view words) override;
  int32_t LastAutoInc(std::string_view tableName) override;

 private:
  // The row a resolved column node of this query reads from; nullptr for any other node.
  TSourceRow* RowOfColumn(const TExpToken& column);
  void OpenCursor(TSourceTable& source, bool readOnly);
  // The open table (source or named) with this table or correlation name, or nullptr.
  TSourceTable* FindOpenTable(std::string_view name) const;

  TQueryStatement& statement_;
  TDataQuery& query_;
  std::vector<TSourceRow> rows_;
  std::vector<std::unique_ptr<TSourceTable>> namedTables_;
};

}  // namespace mt
