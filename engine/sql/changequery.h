// TChangeQuery: the preparation and execution of INSERT, UPDATE and DELETE. The statement's
// master TDataQuery owns it (TDataQuery::change).
//
// Preparation opens the source tables (the first is the target, opened for writing), resolves
// the target columns to the target's fields, checks the number of values and types them, and
// for UPDATE and DELETE checks WHERE and plans the scan exactly as a canned SELECT does
// (rowscan.h). INSERT ... SELECT reads the canned result of its SELECT, prepared before.
//
// Execution. INSERT ... VALUES appends one record, outside any transaction. The others change
// row after row inside a transaction: their own when the database has none in progress
// (committed at the end, rolled back on any error), else the caller's. Every `interval` rows
// the transaction is committed and a new one begun, which bounds what it holds in memory; a
// caller's transaction is only committed so when COMMIT INTERVAL was given. UPDATE reads each
// row for change (locking it) and evaluates its values in order against the row as changed so
// far, so a value sees the assignments before it; DELETE continues with the row that followed
// the deleted one. Each row of the target is changed at most once, however many rows of the
// other tables match it.
//
// A prepared query may run again; each run starts from the first row. The target cursor stays
// open until Release.
//
// Thread-safety: used by the one thread that runs its statement.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/common/exptoken.h"

namespace mt {

class TDataCursor;
class TDataDirectory;
class TDataQuery;
class TQuerySources;
class TQueryStatement;
class TRowScan;

class TChangeQuery {
 public:
  TChangeQuery(TQueryStatement& statement, TDataQuery& query);
  ~TChangeQuery();
  TChangeQuery(const TChangeQuery&) = delete;
  TChangeQuery& operator=(const TChangeQuery&) = delete;

  void Prepare();
  // Runs the statement; returns the rows affected.
  int64_t Execute();
  void Release();

  // Rows per intermediate commit for the run, and whether they commit a caller's transaction.
  int64_t CommitInterval() const;
  double Seconds() const { return seconds_; }

 private:
  class TValueResolver;
  struct TTargetField {
    int fieldNo = 0;
    std::string name;
  };

  void ResolveFields();
  void CheckValues();
  // A constant of another type than its field must compare with it by the `=` rule; a string
  // going into a date, time or timestamp field is read as one now.
  void CheckConstant(TExpTokenPtr& value, const TTargetField& field);
  // Puts a value into a target field of the image; a blob is written through the cursor.
  void PutValue(const TTargetField& field, uint8_t* image, const TExpToken& value,
                bool truncateBlob);

  // Builds a new record from the value of each target field and appends it.
  void AppendRecord(const std::function<TExpTokenPtr(std::size_t)>& valueOf);
  int64_t InsertValues();
  // INSERT ... SELECT, UPDATE and DELETE: the rows inside the transaction frame.
  int64_t ChangeRows();
  bool NextRow();
  void ChangeRow();
  // Appends the record of one row of the INSERT's source, an image in its result's format.
  void InsertSourceRow(const uint8_t* row);
  // INSERT ... SELECT: the source's columns for the target fields, and which of them go in
  // unconverted.
  void PlanSourceColumns();

  TDataCursor& Target() const;
  TDataDirectory& TargetDirectory() const;

  TQueryStatement& statement_;
  TDataQuery& query_;
  std::unique_ptr<TQuerySources> sources_;
  std::unique_ptr<TValueResolver> noColumns_;
  std::unique_ptr<TRowScan> scan_;
  uint32_t locale_ = 0;
  std::vector<TTargetField> fields_;
  std::vector<uint8_t> record_;
  // INSERT ... SELECT: the source's result while it is read.
  TDataCursor* sourceRows_ = nullptr;
  std::vector<TExpTokenPtr> sourceColumns_;
  // Per target field: the result field whose stored bytes it takes as they are (the same
  // stored form), else 0 when the value is converted.
  std::vector<int> storedCopies_;
  std::vector<uint8_t> sourceImage_;
  int lastProgress_ = 0;
  double seconds_ = 0;
};

}  // namespace mt
