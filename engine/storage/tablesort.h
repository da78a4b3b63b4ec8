// Sorting a table in place: the records of a table are put in the order of a list of fields,
// optionally without duplicate rows, cut after a number of rows, or with each run of equal
// keys folded into one row by the caller's callbacks (grouping). The SQL engine sorts its
// result tables with it for DISTINCT, GROUP BY and ORDER BY.
//
// Order. Each key field compares as the engine's index keys and the expression evaluator
// compare its values: strings by unsigned bytes without a table locale and by the locale's
// collation with one (localetext.h), case-insensitively when asked (ASCII letters only under
// locale 0, GBK two-byte characters never change case); numbers, dates, times and timestamps
// by value, booleans false before true, bytes by unsigned bytes. NULL sorts before every value
// ascending and after every value descending. Rows with equal keys keep their record-number
// order (the sort is stable). BLOB and virtual fields cannot be keys (10753, 9985).
//
// How. Each record's key fields become one byte string whose unsigned byte order is the
// order above (indexkey.h encodes the non-string fields, AppendLocaleSortKey the strings;
// descending fields have their bytes inverted). Records and their keys are sorted in memory
// up to a bound; beyond it sorted runs go to temporary files (in the table's directory, or the
// system's temporary directory for a table in memory, removed again whatever happens) and
// are merged. The kept rows are written to a new data file in the table's directory, which
// then takes the place of the table's data file; the indexes are rebuilt when the records'
// identifiers or slots changed. Blob values of dropped rows are freed.
//
// Failures. Until the new data file takes the old one's place the table is not touched: an
// error in a callback, a key, a temporary file or the new data file leaves every row as it
// was. The swap itself is two renames, undone when the second fails. After it, the rebuilt
// indexes and freed blob values are written as one change of the table (tablelocks.h): what
// fails to be written then is written by the table's next operation or its close. The rebuilt
// indexes are held in memory until that write. A failure while they are built (a record that
// cannot be read) leaves the sorted rows and indexes that `mtdb repair` rebuilds.
//
// Requirements. The cursor must be open (11010) and writable (11013); the table must not be
// in a transaction, locked as a whole, locked for writing or reading by this process, or hold
// record locks (10031), and its files must be open nowhere else in other processes (11013
// from the swap). Filters and ranges of the cursor do not limit the rows: every active record
// of the table is sorted. Afterwards every cursor on the table sees a changed table and
// re-synchronises at its next operation (First to read from the start); reading in
// record-number order (a table without a primary index) gives the sorted order.
//
// Thread-safety: as the cursor's table (used by one thread at a time); the callbacks run on
// the calling thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace mt {

class TDataCursor;

struct TSortKey {
  int fieldNo = 0;  // from 1
  bool descending = false;
  // Strings compare without regard to letter case (other types ignore it).
  bool caseInsensitive = false;
};

// Folding runs of equal keys into one row each. The accumulator is a record image of the
// table (the record size), which starts as a copy of the group's first row.
struct TSortGrouping {
  // Folds the next row of the current group (in record-number order) into the accumulator.
  std::function<void(uint8_t* accumulator, const uint8_t* row)> fold;
  // The group is complete: the accumulator may be finished (averages). False drops the group.
  std::function<bool(uint8_t* accumulator)> finish;
};

struct TSortOptions {
  // Compared in this order. No keys: every row is equal (one group; the first row when
  // removing duplicates; the order kept).
  std::vector<TSortKey> keys;
  // A row whose key fields equal the last kept row's is dropped.
  bool removeDuplicates = false;
  // Rows (or groups) kept after sorting, the first in sorted order; -1 all.
  int64_t maxRows = -1;
  // With grouping, each run of equal keys becomes one row (removeDuplicates adds nothing).
  const TSortGrouping* grouping = nullptr;
  // Bytes of records, keys and bookkeeping sorted in memory before a run goes to a temporary
  // file; 0 for the default (kDefaultSortMemory).
  std::size_t memoryLimit = 0;
};

inline constexpr std::size_t kDefaultSortMemory = std::size_t{64} << 20;

struct TSortResult {
  int64_t inputRows = 0;  // active records before
  int64_t rows = 0;       // records after
  int runs = 0;           // sorted runs written to temporary files (0: sorted in memory)
};

// Sorts the records of the table open in `cursor` in place (see above).
TSortResult SortTable(TDataCursor& cursor, const TSortOptions& options);

}  // namespace mt
