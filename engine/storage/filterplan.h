// TFilterPlanner: answers prepared filter conditions (expeval.h, PrepareFilter) from a table's
// indexes, as sets of record numbers (TRecordsBitmap).
//
// A comparison of a column with a constant is answered from an index whose first field is
// that column: `=`, `<>`, `<`, `<=`, `>`, `>=`, prefix comparisons, BETWEEN, NOT BETWEEN, IN
// and NOT IN lists. The records whose column is not NULL are read from the key range (or
// ranges) of the comparison; whether the NULL entries belong is decided by evaluating the
// comparison itself for a NULL column, so NULL handling always agrees with the row-by-row
// evaluator. AND, OR and NOT combine the sets of their operands.
//
// Each answer is either exact (the set is the condition's records) or a superset (candidates
// the caller still evaluates record by record): a string prefix with non-ASCII characters, for
// instance, is read from the index as a byte prefix, a superset of the character prefix. An
// AND with one unanswered side narrows the candidates to the other side's set.
//
// An index serves a comparison only when its key order is the evaluator's order for the
// column's values: ascending first field; for strings the same letter-case rule (a
// case-insensitive index for comparisons that ignore case, a case-sensitive one otherwise)
// and, under a table locale, no letter-case-free or prefix comparisons. BCD, bytes, blob and
// extended columns are always evaluated record by record.
//
// Thread-safety: used by the cursor that owns it, under the table's read lock.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/common/exptoken.h"
#include "engine/common/recordsbitmap.h"

namespace mt {

class TBTree;
class TDataTable;
class TIndexFile;

// The slot of an index whose key order is the value order of a field that is not a string (a
// regular index with the field first, ascending); -1 when no index orders it so.
int ValueOrderIndexSlot(TIndexFile& index, int fieldNo, uint16_t type);

class TFilterPlanner {
 public:
  TFilterPlanner(TDataTable& table, uint32_t locale);

  struct TAnswer {
    bool answered = false;  // `bits` holds a set for the condition
    bool exact = false;     // ... which is exactly its records (else a superset)
  };

  // Whether the whole condition is answered exactly from indexes (no index is read).
  bool Answerable(const TExpToken& condition);

  // The condition's records, or candidates for them, into `bits` (sized to the table's
  // record count by the caller); nothing answered leaves `bits` unspecified.
  TAnswer Answer(const TExpToken& condition, TRecordsBitmap& bits);

 private:
  enum class TLeafKind : uint8_t { Range, Prefix, List };

  // A comparison an index can answer.
  struct TLeaf {
    const TExpToken* node = nullptr;
    TBTree* tree = nullptr;
    TLeafKind kind = TLeafKind::Range;
    // Range: the bounds (null when open) and whether each is included.
    const TExpToken* low = nullptr;
    const TExpToken* high = nullptr;
    bool lowIncluded = true;
    bool highIncluded = true;
    // List: the values; Prefix: `low` holds the prefix.
    std::vector<const TExpToken*> values;
    bool negate = false;  // the records not matching among those with a value
    bool exact = true;
  };

  // The leaf for a comparison node, when an index answers it.
  bool MatchLeaf(const TExpToken& node, TLeaf& leaf);
  // An index whose first field is the column and whose order serves the comparison.
  TBTree* FindIndex(const TExpToken& column, bool ignoreCase, bool stringRange);
  // Whether a constant can be put into a key of the column.
  bool KeyableConstant(const TExpToken& column, const TExpToken& constant) const;

  // Both sides of an AND as one range of one index: a lower bound and an upper bound.
  bool MergeRange(const TExpToken& conjunction, TLeaf& range);
  TAnswer Plan(const TExpToken& node, TRecordsBitmap* bits);
  void ReadLeaf(const TLeaf& leaf, TRecordsBitmap& bits);
  // Marks the records of entries with a value in the range.
  void ScanRange(TBTree& tree, const TExpToken* low, bool lowIncluded, const TExpToken* high,
                 bool highIncluded, TRecordsBitmap& bits);
  void ScanPrefix(TBTree& tree, const TExpToken& prefix, TRecordsBitmap& bits);
  // Marks the records of entries whose first field is NULL.
  void ScanNulls(TBTree& tree, TRecordsBitmap& bits);
  // The search key of the tree with the first field set to a constant (null: NULL), before
  // every key with that first field.
  void BuildKey(TBTree& tree, const TExpToken* value, std::vector<uint8_t>& key);
  // Every active record (read from the smallest index).
  const TRecordsBitmap& AllRecords(uint32_t size);

  TDataTable& table_;
  uint32_t locale_;
  std::vector<uint8_t> image_;
  std::vector<uint8_t> entry_;
  bool haveAll_ = false;
  TRecordsBitmap all_;
};

}  // namespace mt
