// TDataQuery: the parse result of one statement, of one member of a UNION chain, of the SELECT
// of INSERT ... SELECT, or of one IN (SELECT ...) sub-select.
//
// A statement's queries are owned by its TQueryStatement, in creation order (master first);
// the links between them (union chain, insert source, a sub-select node's query) are plain
// pointers among them. Fields are public: the parser fills them, execution reads them and adds
// its own state. Which fields a kind uses:
//   SELECT          distinct, resultFields, into, sourceTables, joins, where, groupByFields,
//                   having, orderByFields, top, withLocks, locale, encryption, noJoinOptimize,
//                   the union links
//   INSERT          sourceTables[0] (target), updateFields (empty: every column in table
//                   order), updateValues or insertSource, noAutoInc, commit options
//   UPDATE          sourceTables[0] (target) and the FROM tables after it, joins, updateFields,
//                   updateValues, where, noAutoInc, commit options, noJoinOptimize
//   DELETE          sourceTables (rows are deleted from the first), joins, where, commit
//                   options, noJoinOptimize
//   CREATE TABLE    sourceTables[0], ifExistsClause (IF NOT EXISTS), createFields,
//                   createIndexes (the primary key), tableOptions, locale, encryption
//   ALTER TABLE     sourceTables[0], alterActions (with the fields and indexes they name in
//                   createFields and createIndexes), tableOptions, locale, encryption
//   DROP TABLE      sourceTables[0], ifExistsClause (IF EXISTS)
//   CREATE INDEX    sourceTables[0], ifExistsClause (IF NOT EXISTS), createIndexes[0]
//   DROP INDEX      sourceTables[0], ifExistsClause (IF EXISTS), dropIndexName
//   COMMIT          commitFlush (COMMIT [WORK] FLUSH)
//
// Thread-safety: a query is used by the one thread that runs its statement.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/common/debugcheck.h"
#include "engine/common/exptoken.h"
#include "engine/sql/sqlitems.h"

namespace mt {

class TChangeQuery;
class TQueryStatement;
class TSelectQuery;

class TDataQuery : public TExpSubQuery {
 public:
  TDataQuery(TQueryStatement* owner, TStatementKind queryKind);
  ~TDataQuery() override;
  TDataQuery(const TDataQuery&) = delete;
  TDataQuery& operator=(const TDataQuery&) = delete;

  TQueryStatement* statement;
  TStatementKind kind;

  // ---- Place among the statement's queries.
  bool isSubQuery = false;             // the query of an IN (SELECT ...)
  bool inUnion = false;                // a member of a UNION chain after the first
  TDataQuery* unionOwner = nullptr;    // members: the first query of the chain
  TDataQuery* nextUnion = nullptr;     // the member after this one
  bool unionAll = true;                // the UNION after this query was written UNION ALL
  TDataQuery* insertSource = nullptr;  // INSERT ... SELECT: the SELECT
  bool parenthesised = false;          // began with "(" and ended with ")"

  // ---- SELECT list and sources.
  bool distinct = false;
  std::vector<TResultField> resultFields;
  bool hasInto = false;
  TTableName into;  // INTO [MEMORY] name; INTO MEMORY alone leaves into.fileName empty
  std::vector<std::unique_ptr<TSourceTable>> sourceTables;  // FROM order, see TTableJoin
  std::vector<TTableJoin> joins;                            // in the order written
  bool severalTables = false;  // several comma-separated sources or any join

  // ---- Conditions, grouping and ordering.
  TExpTokenPtr where;  // WHERE, with every ON condition ANDed in first
  bool hasWhere = false;
  std::vector<TGroupByField> groupByFields;
  bool hasGroupBy = false;
  TExpTokenPtr having;
  bool hasHaving = false;
  std::vector<TOrderByField> orderByFields;
  bool hasOrderBy = false;
  bool orderByNoCase = false;

  // ---- SELECT options.
  int32_t top = -1;  // TOP n; -1 when absent
  bool withLocks = false;
  bool noJoinOptimize = false;

  // ---- Options shared by SELECT results and table definitions.
  TLocaleChoice locale;  // LANGUAGE ... [SORT ...]
  bool encryptionGiven = false;
  bool encrypted = false;  // ENCRYPTED WITH a non-empty password
  std::string password;

  // ---- INSERT, UPDATE and DELETE.
  std::vector<TUpdateField> updateFields;
  std::vector<TUpdateValue> updateValues;
  bool noAutoInc = false;
  int32_t commitInterval = -1;  // COMMIT INTERVAL n; -1 when absent
  bool commitFlush = false;     // COMMIT ... FLUSH (and COMMIT [WORK] FLUSH)

  // ---- Data definition.
  bool ifExistsClause = false;  // IF EXISTS (DROP) or IF NOT EXISTS (CREATE)
  std::vector<std::unique_ptr<TCreateField>> createFields;
  std::vector<std::unique_ptr<TCreateIndex>> createIndexes;
  std::vector<TAlterAction> alterActions;
  TTableOptions tableOptions;
  std::string dropIndexName;

  // The first source table: the target of INSERT, UPDATE, DELETE and the definition
  // statements; nullptr when there is none.
  TSourceTable* Target() const { return sourceTables.empty() ? nullptr : sourceTables[0].get(); }
  // True when the select list is `*` alone (no correlation name, no alias).
  bool SelectsAllColumnsOnly() const;

  // ---- Execution. A SELECT's preparation and run (selectquery.h), made by the statement's
  // preparation; declared last so that it goes before the trees and tables it refers to.
  std::unique_ptr<TSelectQuery> select;
  // INSERT, UPDATE and DELETE: their preparation and run (changequery.h).
  std::unique_ptr<TChangeQuery> change;
};

// The query of an IN (SELECT ...) node; nullptr when it has none. The parser hangs only data
// queries on sub-select nodes; debug builds check it.
inline TDataQuery* SubQueryOf(const TExpToken& subSelect) {
  MT_ASSERT(subSelect.subQuery == nullptr ||
            dynamic_cast<TDataQuery*>(subSelect.subQuery) != nullptr);
  return static_cast<TDataQuery*>(subSelect.subQuery);
}

}  // namespace mt
