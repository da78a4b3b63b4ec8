// Datasets: TEngineDataSet, rows of an engine cursor one at a time with named, typed fields and
// the browse, edit and insert states; TEngineDBDataSet, a dataset bound to a database of a
// session by name. Tables (enginetable.h) and queries build on them.
//
// The cursor seam. A dataset reads and writes its rows only through the engine cursor
// (TDataCursor) a subclass hands it in OpenCursor: a table opens a cursor on its table; a
// query hands over the result cursor of its statement. The dataset owns that cursor while open
// and releases it on Close, after which CursorClosed lets the subclass drop what it bound
// (the database reference, a statement).
//
// Position. Open stands on the first row. First and Last stand on the first and last row
// (Bof, respectively Eof, set); Next past the last row sets Eof and stays on the last row,
// Prior before the first sets Bof and stays on the first. An empty dataset has Bof and Eof
// set and no current row; its fields read as null. Moving, Locate and Refresh first end a
// pending edit: posted when a field was written, else cancelled.
//
// Changes. Append and Insert enter insert state with a new record image the engine prepared
// (defaults applied); Edit enters edit state on the current row after the engine re-read and
// locked it (8708 when another user changed it since the dataset read it: the dataset then
// shows the row as it is now and stays in browse state); Post writes the insert or the change
// and returns to browse state on the written row; a Post that fails (a duplicate key, a
// record another user changed, a required value) leaves the dataset in its edit or insert
// state with the pending values, and nothing is written. Cancel drops the pending change;
// Delete removes the current row and stands on the next (or the new last) row.
//
// Filters. Filter is an expression of the SQL dialect over the row's columns; it is compiled
// when set on an open dataset or when the dataset opens, and Filtered switches it on and off.
// Either way the dataset then stands on the first visible row. OnFilterRecord adds a
// record-by-record condition while Filtered is on.
//
// Locate finds the first row whose fields equal the given values (letter case ignored and
// prefix comparison of text as asked). When the located fields are the leading fields of the
// current index, or of another index of the table, the index is searched; otherwise a
// temporary filter is built over the cursor. Either way the dataset's own filters still apply.
// Stats() counts what the dataset read, for tests and diagnostics.
//
// Thread-safety: a dataset is used by one thread at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "component.h"
#include "engine/storage/datacursor.h"
#include "field.h"
#include "variant.h"

namespace mt {

class TEngineBlobStream;
class TEngineDatabase;
class TEngineSession;

enum class TDataSetState { Inactive, Browse, Edit, Insert };

// Field names separated by ";" (Locate, IndexFieldNames): each trimmed, empty ones left out.
std::vector<std::string> SplitFieldNames(std::string_view names);

struct TFilterOptionSet {
  bool caseInsensitive = false;
  // A constant ending in "*" is compared whole instead of as a prefix.
  bool noPartialCompare = false;
};

struct TLocateOptions {
  bool caseInsensitive = false;
  // Text values match fields that start with them.
  bool partialKey = false;
};

struct TDataSetStats {
  uint64_t recordsFetched = 0;       // record images read from the cursor (and Locate's searches)
  uint64_t filterRecordsTested = 0;  // records the dataset's own filter conditions were asked about
  uint64_t locateIndexSearches = 0;  // Locate answered by searching an index
  uint64_t locateFilterScans = 0;    // Locate answered by a temporary filter
};

// The cursor an open dataset reads: either owned by the dataset (a table's cursor, closed and
// destroyed with the lease) or lent by an object that outlives the dataset's use of it (a
// statement's result cursor: the dataset closes it, the statement destroys it).
class TCursorLease {
 public:
  TCursorLease() = default;
  TCursorLease(std::unique_ptr<TDataCursor> owned)
      : owned_(std::move(owned)), cursor_(owned_.get()) {}
  static TCursorLease Lent(TDataCursor& cursor) {
    TCursorLease lease;
    lease.cursor_ = &cursor;
    return lease;
  }

  explicit operator bool() const { return cursor_ != nullptr; }
  TDataCursor* operator->() const { return cursor_; }
  TDataCursor& operator*() const { return *cursor_; }
  void reset() {
    cursor_ = nullptr;
    owned_.reset();
  }

 private:
  std::unique_ptr<TDataCursor> owned_;
  TDataCursor* cursor_ = nullptr;
};

class TEngineDataSet : public TComponent {
 public:
  using TNotifyEvent = std::function<void(TEngineDataSet&)>;
  // Returns whether the current record (readable through the fields) is visible.
  using TFilterRecordEvent = std::function<bool(TEngineDataSet&)>;

  static constexpr std::string_view kEngineVersion = "3.24";

  TNotifyEvent BeforeOpen, AfterOpen, BeforeClose, AfterClose;
  TNotifyEvent BeforeInsert, AfterInsert, BeforeEdit, AfterEdit;
  TNotifyEvent BeforePost, AfterPost, BeforeCancel, AfterCancel;
  TNotifyEvent BeforeDelete, AfterDelete, BeforeScroll, AfterScroll;
  TNotifyEvent BeforeRefresh, AfterRefresh;
  // After Append or Insert prepared the new record; fields may be written here.
  TNotifyEvent OnNewRecord;
  TFilterRecordEvent OnFilterRecord;

  explicit TEngineDataSet(TComponent* owner = nullptr);
  ~TEngineDataSet() override;

  // ---- state ----
  bool Active() const { return state_ != TDataSetState::Inactive; }
  void SetActive(bool active);
  // Inactive -> browse, on the first row. A failed open leaves the dataset inactive.
  void Open();
  // Any state -> inactive; a pending insert or edit is dropped; the fields go away.
  void Close();
  TDataSetState State() const { return state_; }
  bool Editing() const { return state_ == TDataSetState::Edit || state_ == TDataSetState::Insert; }
  // A field was written since the edit or insert began.
  bool Modified() const { return modified_; }

  bool AutoDisplayLabels() const { return autoDisplayLabels_; }
  void SetAutoDisplayLabels(bool on) { autoDisplayLabels_ = on; }
  bool CopyOnAppend() const { return copyOnAppend_; }
  void SetCopyOnAppend(bool on) { copyOnAppend_ = on; }

  // ---- moving ----
  void First();
  void Next();
  void Prior();
  void Last();
  // Moves up to |count| rows forwards or backwards; the rows actually moved.
  int MoveBy(int count);
  bool Eof() const { return eof_; }
  bool Bof() const { return bof_; }
  bool IsEmpty() const;
  // The number of rows the engine reports for the open cursor (visible rows when filtered).
  uint32_t RecordCount();
  // Reads the current row again (or the row that took its place).
  void Refresh();

  // ---- fields (while open) ----
  int FieldCount() const { return static_cast<int>(fields_.size()); }
  TField& Fields(int index) const;  // from 0
  TField* FindField(std::string_view name) const;
  // Letter case ignored; "Field '%s' not found" when absent.
  TField& FieldByName(std::string_view name) const;
  TVariant FieldValue(std::string_view name) const { return FieldByName(name).Value(); }
  void SetFieldValue(std::string_view name, const TVariant& value) {
    FieldByName(name).SetValue(value);
  }

  // ---- changes ----
  void Append();
  void Insert();
  void Edit();
  void Post();
  void Cancel();
  void Delete();

  // ---- search and filters ----
  // keyFields: field names separated by ";". True and positioned on the found row, or false
  // with the position unchanged.
  bool Locate(std::string_view keyFields, const std::vector<TVariant>& values,
              TLocateOptions options = {});
  bool Locate(std::string_view keyField, const TVariant& value, TLocateOptions options = {}) {
    return Locate(keyField, std::vector<TVariant>{value}, options);
  }

  const std::string& Filter() const { return filter_; }
  void SetFilter(std::string filter);
  bool Filtered() const { return filtered_; }
  void SetFiltered(bool filtered);
  TFilterOptionSet FilterOptions() const { return filterOptions_; }
  void SetFilterOptions(TFilterOptionSet options);

  const TDataSetStats& Stats() const { return stats_; }
  void ResetStats() { stats_ = {}; }

  // The engine cursor while open ("Cannot perform this operation on a closed dataset").
  TDataCursor& Cursor() const;

 protected:
  // The open cursor over the dataset's rows. Called by Open.
  virtual TCursorLease OpenCursor() = 0;
  // How many of the cursor's columns, from the first, the dataset shows as fields (a query's
  // result table may keep working columns after its visible ones).
  virtual int ShownFieldCount(const TDataCursor& cursor) const;
  // After the cursor was released by Close or by a failed Open.
  virtual void CursorClosed() {}
  // A cursor on the same rows for Locate's searches of another index, or nullptr.
  virtual std::unique_ptr<TDataCursor> OpenSearchCursor() { return nullptr; }
  // Whether rows may be changed.
  virtual bool CanModify() const;

  // "Cannot perform this operation on an open dataset" / "... on a closed dataset".
  void CheckInactive() const;
  void CheckActive() const;
  // Posts a modified edit or insert, cancels an unmodified one.
  void CheckBrowseMode();
  // After the subclass changed the cursor's order: the current row is read again.
  void CursorOrderChanged();
  // For destructors: closes without running the dataset's handlers, whose captures may
  // already be gone, and without reporting a failure.
  void CloseOnDestroy() noexcept;

 private:
  friend class TField;
  friend class TEngineBlobStream;
  struct TLocateKey;

  const uint8_t* ActiveBuffer() const;
  void BuildFields();
  void InstallFilters();
  // Compiles the filter text with the options in place of the current filter.
  void ReplaceFilter(const std::string& text, TFilterOptionSet options);
  void RemoveFilterHandle(TDataCursor::TFilterHandle& handle);
  TDataCursor::TFilterCallback RecordFilterCallback();
  void ReleaseCursor();
  template <class F>
  void Scroll(F move);
  // Takes the fetched image in scratch_ as the current row.
  void Accept();
  void SetEmpty();
  void StandAtEnd(bool start);
  // Next (forward) or Prior.
  void Step(bool forward);
  // Reads the cursor's current record as the current row, or the record that took its place.
  void Settle();
  [[noreturn]] void RaiseCursorCode(int code) const;
  void RequireModifiable() const;
  // Ends an edit without events: written blob values dropped, the record lock given back.
  void DropEdit();
  // Blob values opened for writing in this edit: held open until the post or cancel.
  void AddEditBlob(int handle);
  void RemoveEditBlob(int handle);
  void CloseEditBlobs();
  uint64_t OpenBlobLength(int handle) const;

  std::vector<TField*> LocateFields(std::string_view keyFields) const;
  bool RowMatches(const TLocateKey& key, const uint8_t* image) const;
  // True when the index path answered; `found` then tells the answer.
  bool LocateByIndex(const TLocateKey& key, bool& found);
  bool LocateByFilter(const TLocateKey& key);

  TDataSetState state_ = TDataSetState::Inactive;
  TCursorLease cursor_;
  std::vector<std::unique_ptr<TField>> fields_;
  std::vector<uint8_t> current_;  // the current row's image as last read
  std::vector<uint8_t> edit_;     // the pending insert or change
  std::vector<uint8_t> scratch_;
  const uint8_t* filterImage_ = nullptr;  // the record OnFilterRecord is asked about
  bool bof_ = true;
  bool eof_ = true;
  bool modified_ = false;
  bool autoDisplayLabels_ = true;
  bool copyOnAppend_ = false;

  std::string filter_;
  bool filtered_ = false;
  TFilterOptionSet filterOptions_;
  TDataCursor::TFilterHandle filterHandle_ = 0;
  TDataCursor::TFilterHandle recordFilterHandle_ = 0;

  std::vector<int> editBlobs_;  // blob values opened for writing in this edit
  uint64_t cursorEpoch_ = 0;    // changes when the cursor is opened or released
  uint64_t editEpoch_ = 0;      // changes when an edit or insert begins or ends
  TDataSetStats stats_;
};

class TEngineDBDataSet : public TEngineDataSet {
 public:
  explicit TEngineDBDataSet(TComponent* owner = nullptr);
  ~TEngineDBDataSet() override;

  // The database's name, normally a directory path. A different name needs a closed dataset.
  const std::string& DatabaseName() const { return databaseName_; }
  void SetDatabaseName(std::string_view name);
  // The session's name; empty for the default session. A different name needs a closed dataset.
  const std::string& SessionName() const { return sessionName_; }
  void SetSessionName(std::string_view name);

  // The database while open, else nullptr.
  TEngineDatabase* Database() const { return database_; }
  // The session named by SessionName ("Session name %s is not valid.").
  TEngineSession& DBSession() const;

 protected:
  // Finds or makes the database through the session and counts one more user; the
  // directory object and the session's settings and passwords are then at hand.
  TEngineDatabase& BindDatabase();
  void ReleaseDatabase();
  const std::shared_ptr<TDataDirectory>& DirectoryObject() const { return directory_; }
  // Called after DatabaseName or SessionName changed (a query unprepares).
  virtual void DatabaseChanged() {}
  void CursorClosed() override;

 private:
  std::string databaseName_;
  std::string sessionName_;
  TEngineDatabase* database_ = nullptr;
  std::shared_ptr<TDataDirectory> directory_;
};

}  // namespace mt
