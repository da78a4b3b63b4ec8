// TEngineTable: a dataset over one table of a database directory, read and written through an
// engine cursor on that table.
//
// Open needs a table name ("Missing table name."); it binds the database named by DatabaseName
// (normally the data directory's path, turned into a temporary database by the session),
// opens a cursor with the exclusive and read-only flags, the in-memory flag of the "Memory"
// database and the session's passwords and settings, and makes IndexName or IndexFieldNames the
// current order (natural order, the primary index or record order, when both are empty). A
// table whose files could only be opened for reading is read-only.
//
// Thread-safety: used by one thread at a time.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "dataset.h"

namespace mt {

class TEngineTable : public TEngineDBDataSet {
 public:
  explicit TEngineTable(TComponent* owner = nullptr);
  ~TEngineTable() override;

  // Only while closed.
  const std::string& TableName() const { return tableName_; }
  void SetTableName(std::string_view name);
  bool Exclusive() const { return exclusive_; }
  void SetExclusive(bool exclusive);
  // As set, or true when the engine could open the table's files for reading only.
  bool ReadOnly() const;
  void SetReadOnly(bool readOnly);

  // The current order, also while open (the current row stays current). IndexName names an
  // index (empty: natural order); IndexFieldNames lists fields separated by ";" that an index
  // must begin with ("No index for fields '%s'"). Setting one clears the other.
  const std::string& IndexName() const { return indexName_; }
  void SetIndexName(std::string_view name);
  const std::string& IndexFieldNames() const { return indexFieldNames_; }
  void SetIndexFieldNames(std::string_view names);

 protected:
  TCursorLease OpenCursor() override;
  std::unique_ptr<TDataCursor> OpenSearchCursor() override;

 private:
  // A closed cursor on the table with the dataset's flags, passwords and settings.
  std::unique_ptr<TDataCursor> MakeCursor(bool readOnly);
  void ApplyOrder(TDataCursor& cursor, const std::string& indexName,
                  const std::string& fieldNames) const;
  void ChangeOrder(std::string indexName, std::string fieldNames);

  std::string tableName_;
  bool exclusive_ = false;
  bool readOnly_ = false;
  std::string indexName_;
  std::string indexFieldNames_;
};

}  // namespace mt
