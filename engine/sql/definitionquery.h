// TDefinitionQuery: the execution of CREATE TABLE, CREATE INDEX, ALTER TABLE, DROP TABLE and
// DROP INDEX. The statement's master TDataQuery is run by one of these at execution time.
//
// Every statement works on the named table opened exclusively (or, for CREATE TABLE, on a
// table that must not exist yet): it fails with 11013 while any other cursor, in this or
// another process, has the table open, and its cursors are closed afterwards, also on failure.
// The statements report no rows.
//
// ALTER TABLE and DROP INDEX rebuild the table: a new table with the new definition is written
// under a work name, every record is copied into it (values converted to their new columns'
// types by the expression conversion rules, blob values copied, auto-increment values kept)
// and its indexes are filled as the records go in; then the files are swapped in
// (tablerebuild.h), the old ones kept as backup files unless NOBACKUP was given. A value that
// does not convert, a NULL under a column that became NOT NULL, a unique index meeting equal
// keys or a progress callback that answers Stop ends the statement with the old table
// unchanged. CREATE INDEX fills the new index in place (TDataTable::AddIndex).
//
// Thread-safety: used by the one thread that runs its statement.
#pragma once

namespace mt {

class TDataQuery;
class TQueryStatement;

class TDefinitionQuery {
 public:
  TDefinitionQuery(TQueryStatement& statement, TDataQuery& query);
  void Execute();
  double Seconds() const { return seconds_; }

 private:
  TQueryStatement& statement_;
  TDataQuery& query_;
  double seconds_ = 0;
};

}  // namespace mt
