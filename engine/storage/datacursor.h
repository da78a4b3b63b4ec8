// TDataCursor: one user's view of one table. It opens the table through its database
// directory (sharing the process's TDataTable), keeps a current order and position, moves
// through the visible records, reads the current record, counts records and ordinals, and
// limits the visible records by filters.
//
// Orders. The cursor walks either an index (0 primary, 1-30 secondary, 31 record-identifier)
// or, with no index (kNoIndex), the records in record-number order ("bitmap order"): moving
// then finds the next or previous set bit of the visible-records bitmap, which holds every
// active record that passes the active filters.
//
// Position. One state (TPosition): before the first visible record, on a record, after the
// last, or empty (a table, or a filtered view, without records). Moving past an end stands
// after the last (before the first), from where a step back (forward) gives the last (first)
// visible record. The record number and, in index order, the index entry are kept only while
// the cursor stands on a record.
//
// Change detection. The cursor keeps the data and index change counters it last saw; when the
// table object's counters differ (another cursor of the process, or another process seen
// through the table's change check, changed the table), the cursor re-synchronises: it
// rebuilds its visible records and keeps its current record when that still exists, or stands
// on the record that now follows it.
//
// Return codes of the moving and reading operations: 0 (a record was read), err::kBeginningOf
// Table (8705), err::kEndOfTable (8706), err::kNoCurrentRecord (8709).
//
// Thread-safety: a cursor is used on the thread that owns its table (datatable.h), like
// every other cursor on that table; debug builds check it at every operation.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "blobbuffer.h"
// The storage engine's private types these declarations are made of.
#pragma push_macro("MT_STORAGE_THROUGH_PUBLIC")
#define MT_STORAGE_THROUGH_PUBLIC 1
#include "btree.h"
#include "recordwriter.h"
#include "tablelocks.h"
#pragma pop_macro("MT_STORAGE_THROUGH_PUBLIC")
#include "datadirectory.h"
#include "engine/common/charmaps.h"
#include "engine/common/exptoken.h"
#include "engine/common/recordsbitmap.h"
#include "sessionsettings.h"

namespace mt {

class TExpressionResolver;
class TRecordResolver;
class TRecordScan;

// How a filter text compares strings.
struct TFilterOptions {
  // `=` and `<>` between a string field and a string constant ignore letter case.
  bool caseInsensitive = false;
  // A constant ending in `*` is compared whole instead of as a prefix.
  bool noPartialCompare = false;
};

class TDataCursor {
 public:
  static constexpr int kNoIndex = 255;
  static constexpr int kMaxFilters = 64;
  static constexpr int kRecordRead = 0;

  // A dataset's filter: asked record by record with the record image; true keeps the record.
  using TFilterCallback = std::function<bool(const uint8_t* image)>;
  using TFilterHandle = int;

  explicit TDataCursor(TDataDirectory& directory);
  ~TDataCursor();
  TDataCursor(const TDataCursor&) = delete;
  TDataCursor& operator=(const TDataCursor&) = delete;

  // ---- settings, only while closed (10031 otherwise) ----
  void SetTableName(std::string name);
  void SetExclusive(bool exclusive);
  // With SetExclusive: open as a scratch table (TTableOpenOptions::scratch).
  void SetScratch(bool scratch);
  void SetReadOnly(bool readOnly);
  void SetInMemory(bool inMemory);
  void SetPasswords(TPasswordSource passwords);
  // Open in record-number order instead of the primary index.
  void SetOpenInBitmapOrder(bool bitmapOrder);
  // The session's settings (locking protocol, retries, change detection), handed to the table
  // when the cursor opens it.
  void SetSettings(const TSessionSettings& settings);

  const std::string& TableName() const { return tableName_; }
  bool Exclusive() const { return exclusive_; }
  // Read-only by request or because the table's files could only be opened for reading.
  bool ReadOnly() const { return readOnly_ || tableReadOnly_; }
  bool TableReadOnly() const { return tableReadOnly_; }

  // ---- open and close ----
  // Opens the table and stands before the first record. A failed open holds nothing.
  void Open();
  // Releases the filters and the share of the table. Closing a closed cursor does nothing.
  void Close();
  bool IsOpen() const { return table_ != nullptr; }

  TDataTable& Table();
  const TRecordFormat& Format() const;
  int RecordSize() const;
  uint32_t LocaleId() const { return localeId_; }
  const TCharOrder& CharOrder() const { return *charOrder_; }

  // ---- order ----
  // The slot of an index by name: "" the primary index (when the table has one), else a
  // secondary index by name without regard to letter case; 10022 for an unknown name.
  int IndexSlotOf(std::string_view indexName) const;
  int CurrentIndex() const { return currentIndex_; }
  const std::string& CurrentIndexName() const { return currentIndexName_; }
  // Makes an index current by name (IndexSlotOf); the current record stays current and the
  // range is cancelled.
  void ChooseIndex(std::string_view indexName);
  // The same by slot (0 to 31, which must be in use).
  void ChooseIndexSlot(int slot);
  // Record-number order; the current record stays current.
  void ChooseBitmapOrder();

  // ---- keys and ranges (index order only: 10022 in record-number order) ----
  // Builds the search key from the first fieldCount key fields of the image (values set with
  // the format's setters) and stands on the first record whose key starts with them (exact)
  // or on the first record at or after them (nearest; after the last when there is none).
  // Returns whether a record with those leading values was found; an exact find that finds
  // none leaves the position as it was. With a record buffer (RecordSize bytes), the record
  // the cursor comes to stand on is read into it in the same operation (one lock, one change
  // check), as GetCurrentRecord would read it.
  bool FindKey(const uint8_t* image, int fieldCount, bool exact, uint8_t* record = nullptr);
  // Limits the visible records to the keys whose leading fields lie between the low and the
  // high values (both included); stands before the first.
  void SetRange(const uint8_t* lowImage, int lowFields, const uint8_t* highImage, int highFields);
  void CancelRange();
  bool RangeActive() const { return rangeActive_; }

  // ---- moving and reading ----
  void First();
  void Last();
  // Moves one visible record and reads it into buffer (RecordSize bytes) when one is given.
  int Next(uint8_t* buffer = nullptr);
  int Prior(uint8_t* buffer = nullptr);
  // Moves |n| visible records forwards (n > 0) or backwards, counting only visible records;
  // the code of the last step.
  int MoveBy(int n, uint8_t* buffer = nullptr);
  // Copies the current image. With lockForChange (starting an edit) the caller's buffer must
  // hold the image it read before: with pessimistic locking the record is locked first
  // (10258 when another cursor or process holds it); when the table's current image differs
  // from the caller's, the lock is given back and 8708 is raised.
  int GetCurrentRecord(uint8_t* buffer, bool lockForChange = false);
  // Gives back the record lock of an edit that is cancelled.
  void UnlockCurrentRecord();
  int32_t LockedRecord() const { return lockedRecord_; }
  // Stands on the n-th visible record (from 1) and returns true; false (position unchanged)
  // when there is no such record.
  bool GoToOrdinal(uint32_t n);
  // Stands on record number n in the current order and returns true when it is an active,
  // visible record; false (position unchanged) otherwise.
  bool GoToRecord(int32_t n);
  // The ordinal of the current record among the visible ones; 0 without a current record.
  uint32_t CurrentOrdinal();
  uint32_t RecordCount();

  enum class TPosition : uint8_t { BeforeFirst, OnRecord, AfterLast, Empty };
  TPosition Position() const { return position_; }
  // Before the first visible record, or no visible records at all.
  bool BeforeFirst() const {
    return position_ == TPosition::BeforeFirst || position_ == TPosition::Empty;
  }
  // After the last visible record, or no visible records at all.
  bool AfterLast() const {
    return position_ == TPosition::AfterLast || position_ == TPosition::Empty;
  }
  // The current record's number; 0 when the position is on no record.
  int32_t CurrentRecordNumber() const { return current_; }

  // ---- record buffers ----
  void InitRecord(uint8_t* buffer) const;

  // ---- changes (the table's TRecordWriter does them, recordwriter.h) ----
  // Adds a record from an image (its first 9 bytes are ignored). Unless keeping supplied
  // values, the record gets the next auto-increment value. Every unique key is checked before
  // any index changes (9729). Returns the new record's number; with standOn the cursor stands
  // on it. 11013 for a read-only cursor; 9732, 9730, 9731 for values the fields refuse.
  int32_t InsertRecord(const uint8_t* image, bool standOn = true);
  // A scratch table's fast way to add many records (TRecordWriter::CanAppendInBulk): `count`
  // images, RecordSize bytes each, whose first 9 bytes are overwritten. The cursor's position
  // is kept as after InsertRecord without standOn.
  bool CanAppendInBulk() const;
  void AppendInBulk(uint8_t* images, int32_t count);
  // Changes the current record to the image. Its auto-increment value stays (keeping supplied
  // values takes the image's). With standOn the cursor stands on the changed record, which may
  // have moved in the current index.
  void ModifyRecord(const uint8_t* image, bool standOn = true);
  // Deletes the current record; `lastRead` is the image the caller read (8708 when the record
  // changed since; 10258 when another cursor of the process holds its lock). The cursor stands
  // on the record that followed.
  void DeleteRecord(const uint8_t* lastRead);

  // ---- blob values (blobbuffer.h) ----
  // Opens the value of a blob field of a record image (the current record's, or a new one's
  // with record number 0) and returns its handle; the image's reference then holds the handle
  // until the record is posted or the value closed.
  int OpenBlob(int fieldNo, uint8_t* image, TBlobOpenMode mode);
  TBlobBuffer& Blob(int handle);
  void CloseBlob(int handle, bool keepChanges, uint8_t* image = nullptr);
  // Cancels a record's change: the image's references come back, changed values are dropped.
  void DiscardBlobs(uint8_t* image);

  // ---- filters ----
  // The visible records are those every active filter keeps. Expression filters are answered
  // from the indexes where they can be (filterplan.h) and evaluated record by record where
  // not; callback filters are asked for each record the expression filters keep.
  //
  // Adds a callback filter (10051 when it is empty; 9482 past 64 filters); activates it when
  // asked. Returns its handle.
  TFilterHandle AddFilter(TFilterCallback callback, bool activate = true);
  // Compiles an expression text over the table's fields into a filter; faults are 10051 with
  // the table's name and the context "filter expression" (an empty text too).
  TFilterHandle AddFilter(std::string_view text, TFilterOptions options = {}, bool activate = true);
  // A checked condition whose column numbers are this table's field numbers (the SQL layer's
  // conditions on one table); it is copied and prepared without the string options.
  TFilterHandle AddFilter(const TExpToken& condition, bool activate = true);
  // Whether a checked condition would be answered from the indexes alone.
  bool CanAnswerFromIndexes(const TExpToken& condition);
  // The resolver of this cursor's fields, for checking conditions the SQL layer hands over.
  TExpressionResolver& Resolver();
  // 10050 for a handle this cursor did not give out.
  void RemoveFilter(TFilterHandle handle);
  void ActivateFilter(TFilterHandle handle);
  void DeactivateFilter(TFilterHandle handle);
  bool FiltersActive() const;
  // Re-evaluates the filters (the dataset's filter conditions changed).
  void RefreshFilters();

  // ---- modes ----
  void SetKeepSuppliedValues(bool keep) { keepSuppliedValues_ = keep; }
  bool KeepSuppliedValues() const { return keepSuppliedValues_; }

 private:
  // Reads runs of the visible records under one lock each (recordscan.h).
  friend class TRecordScan;

  struct TFilter {
    TFilterHandle handle = 0;
    TFilterCallback callback;
    TExpTokenPtr condition;   // prepared; null for a callback filter
    std::vector<int> fields;  // the fields the condition reads
    bool active = false;
  };

  TFilterHandle AddPrepared(TExpTokenPtr condition, bool activate);
  // Whether the active filters may judge the two images of a record differently: a callback
  // filter is active, or a field some active condition reads differs between them.
  bool FilteredFieldsDiffer(const uint8_t* before, const uint8_t* after) const;
  // Gives the filter its handle and adds it; activates it when asked. A filter whose
  // activation fails is taken out again before the error goes on.
  TFilterHandle AddFilterEntry(TFilter filter, bool activate);
  // Fills the visible-records bitmap from the filters; false when the table changed while
  // its records were read.
  bool FillVisible(int32_t count);

  void RequireClosed() const;
  void RequireOpen() const;
  [[noreturn]] void Raise(int32_t code) const;
  bool OnRecord() const { return position_ == TPosition::OnRecord; }
  TFilter& FindFilter(TFilterHandle handle);

  // Re-synchronises when the table changed since the cursor last looked (or the operation's
  // lock reported a change).
  void Sync(bool changed = false);
  void Resync();
  void SaveCounters();
  // Rebuilds the visible-records bitmap from the records and the active filters.
  void BuildVisible();
  // Whether an active record passes the active filters (expression filters included unless
  // told they are already answered).
  bool PassesFilters(const uint8_t* image, bool expressions = true);
  // Reads record n through the cache into buffer; false when it is no longer active (the
  // bitmap is corrected).
  bool ReadRecord(int32_t n, uint8_t* buffer, TReadAhead ahead);
  // Stands on the visible record found from `from` in a direction; the return code.
  int Step(bool forward, uint8_t* buffer);
  void StandOn(int32_t n);
  // Before the first, after the last or empty: on no record.
  void StandAt(TPosition position);
  void StandNowhere();
  // Record-number order, when the current record is no longer visible: stands on the visible
  // record that now follows it, after the last when none follows, nowhere when none is left.
  void StandOnFollowing();
  // Debug builds: the position's invariants hold.
  void CheckPosition() const;
  // Before the first (start) or after the last visible record; nowhere when there is none.
  void StandAtEnd(bool start);

  // ---- index order ----
  // The current index's tree, asked for anew each time: the index file makes its trees anew
  // when another process's change made it reload its header.
  TBTree* Tree() const { return &table_->Index().Tree(currentIndex_); }
  bool UseBitmap() const { return currentIndex_ == kNoIndex || FiltersActive(); }
  TLeafPos RangeStart();
  TLeafPos RangeEnd();
  // Whether an entry key lies beyond the range's high (forward) or low bound.
  bool PastRange(const uint8_t* key, bool forward) const;
  int IndexStep(bool forward, uint8_t* buffer);
  // Re-finds the current key in the current index after a change.
  void RefindPosition();
  // After this cursor's own change: keeps the position or moves to what follows it.
  void RefreshPosition();
  // Stands on record n in the current order (its key built from its image).
  void StandOnRecord(int32_t n);
  // Raises the string fields after the given ones of a high search key to the locale's
  // highest character.
  void FillHighStrings(const TKeyDef& def, int givenFields, uint8_t* key) const;
  int64_t RangeFirstOrdinal();
  int64_t RangeLastOrdinal();
  void RequireIndexOrder() const;
  void RequireWritable() const;
  // The cursor's part of a change: its record locks, open blob values and mode.
  TRecordWriteOptions WriteOptions();
  // After a change of record n: the edit is over and its record lock given back.
  void FinishEdit(int32_t n);

  TDataDirectory& directory_;
  std::string tableName_;
  bool exclusive_ = false;
  bool scratchTable_ = false;
  bool readOnly_ = false;
  bool inMemory_ = false;
  bool openInBitmapOrder_ = false;
  TPasswordSource passwords_;

  TDataTable* table_ = nullptr;
  bool tableReadOnly_ = false;
  uint32_t localeId_ = 0;
  const TCharOrder* charOrder_ = nullptr;
  int currentIndex_ = kNoIndex;
  std::string currentIndexName_;
  TLeafPos pos_;                 // the current entry in the current index (while OnRecord)
  std::vector<uint8_t> curKey_;  // key of the current entry in the current index
  // Scratch keys of the current index's length, so that steps and finds allocate nothing:
  // entries read while walking, range bounds looked at, a search key built.
  std::vector<uint8_t> entryKey_;
  std::vector<uint8_t> boundKey_;
  std::vector<uint8_t> searchKey_;

  bool rangeActive_ = false;
  std::vector<uint8_t> rangeLow_;
  std::vector<uint8_t> rangeHigh_;
  int rangeLowFields_ = 0;
  int rangeHighFields_ = 0;

  TPosition position_ = TPosition::Empty;
  int32_t current_ = 0;  // while OnRecord, else 0

  std::vector<TFilter> filters_;
  TFilterHandle nextHandle_ = 1;
  std::unique_ptr<TRecordResolver> resolver_;
  TRecordsBitmap visible_;

  TChangeCounters savedCounters_;
  bool synced_ = false;
  bool resynced_ = false;  // set by every re-synchronisation

  bool keepSuppliedValues_ = false;
  bool haveSettings_ = false;
  TSessionSettings settings_;
  int32_t lockedRecord_ = 0;        // the record this cursor's edit holds locked
  std::vector<uint8_t> editImage_;  // the image the edit started from
  int32_t editRecord_ = 0;
  std::unique_ptr<TBlobBuffers> blobs_;
  std::vector<uint8_t> scratch_;
};

}  // namespace mt
