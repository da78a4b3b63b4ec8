// TAggregator: the folding of result rows into groups, on record images of a result table.
//
// A result row holds, for each aggregate column, the row's own contribution: SUM, RUNSUM, MIN,
// MAX and AVG the argument's value in the column's type (NULL when the argument is NULL),
// COUNT 1 or 0 (0 for a NULL argument; COUNT(*) always 1), and an AVG's hidden count column
// 1 or 0 likewise. A group starts as a copy of its first row; Fold adds each further row:
//   SUM, RUNSUM, AVG   add non-NULL values (a NULL total takes the value)
//   MIN, MAX           the first non-NULL value, then the smaller (larger) one
//   COUNT, AVG count   add
// Other columns keep the first row's values. Finish completes a group: an AVG becomes its sum
// divided by its count (DATE and TIME truncated toward zero, BCD rounded to its scale; 0 when
// the count is 0), and a RUNSUM becomes the running total of every group finished so far in
// this pass, this one included.
//
// Thread-safety: one aggregator serves one pass over one result on one thread.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/sql/selectquery.h"

namespace mt {

class TRecordFormat;

class TAggregator {
 public:
  TAggregator(const TRecordFormat& format, const std::vector<TResultColumn>& columns);

  // A new pass: running sums start from nothing.
  void Reset();
  void Fold(uint8_t* group, const uint8_t* row) const;
  void Finish(uint8_t* group);
  // The one group of an implicitly grouped query over no rows: every column NULL, except AVG
  // and COUNT columns, which are 0.
  void EmptyGroup(uint8_t* group) const;

 private:
  struct TSlot {
    TAggregateKind kind = TAggregateKind::None;
    uint8_t type = 0;
    int scale = 0;
    int offset = 0;        // the field's null-flag byte; the value follows it
    int size = 0;          // the value's bytes
    int countOffset = -1;  // AVG: its count column's null-flag byte
    bool counter = false;  // COUNT or an AVG's count column
    // RUNSUM: the total carried from group to group.
    bool runningSet = false;
    double runningFloat = 0;
    int64_t runningInteger = 0;
  };

  std::vector<TSlot> slots_;
  int recordSize_ = 0;
};

}  // namespace mt
