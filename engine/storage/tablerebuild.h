// TTableRebuild: replacing a table's files by a rebuilt copy (ALTER TABLE's restructure, an
// index dropped), so that a failure or a process killed at any moment leaves either the old
// table or the new one whole, never a mixture.
//
// Files, for a table T:
//   T.TMP                 the rebuild's marker and lock. Made and held open exclusively before
//                         anything else is written and removed last. While it exists a rebuild
//                         is running (its holder alive) or was cut off (nobody holds it). It
//                         holds one byte: 'K' keep the backup files, 'N' remove them.
//   T.NEW.DAT/.IDX/.BLB   the new table, written in full and flushed before the swap begins.
//   T.DBK/.IBK/.BBK       the old files once swapped out: the backup.
//
// The swap (SwapSteps), once the new table is complete:
//   1. older backup files and the old table's change journal are deleted;
//   2. T.DAT -> T.DBK, then T.IDX -> T.IBK, T.BLB -> T.BBK;
//   3. T.NEW.IDX -> T.IDX, T.NEW.BLB -> T.BLB, then T.NEW.DAT -> T.DAT (the commit point);
//   4. without backup the backup files are deleted; then T.TMP.
// Invariant: T.DAT exists exactly before step 2 began (the old files whole under their live
// names) and after step 3 ended (the new files whole). Between the two, T.NEW.DAT exists and
// the new table is complete, so the swap can always be finished; every rename is atomic.
//
// Mending (MendCutOffRebuild, run by the first opener of a table before it opens the files):
// when T.TMP exists and can be opened exclusively its rebuilder is gone. Then:
//   - T.DAT exists: the rebuild stopped before the swap (or after it): T.NEW.* are deleted;
//   - T.DAT missing, T.NEW.DAT present: the swap is finished: when T.NEW.IDX is still there,
//     step 2 may be incomplete and the old T.IDX and T.BLB go to their backup names first;
//     then the remaining T.NEW files are renamed in, T.NEW.DAT last.
// Backup files are removed when T.TMP says so, and T.TMP is deleted. While another process
// holds T.TMP the open fails with 11013, as it would on the table opened exclusively.
//
// Thread-safety: used by the thread that owns the table (datatable.h).
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "engine/common/filehandler.h"

namespace mt {

class TTableRebuild {
 public:
  // Takes the rebuild's marker for a table the caller has open exclusively: a cut-off rebuild
  // is mended first, left-over work files are deleted, then T.TMP is made and held. 11013
  // when another process holds the marker.
  TTableRebuild(std::string directory, std::string tableName, bool inMemory, bool keepBackup);
  // Without Commit: the work table's files and the marker are deleted; the old table stays.
  ~TTableRebuild();
  TTableRebuild(const TTableRebuild&) = delete;
  TTableRebuild& operator=(const TTableRebuild&) = delete;

  // The table name the new table is written under (in the same directory).
  const std::string& WorkTableName() const { return workName_; }

  // Swaps the work table in; the table and the work table must be closed everywhere. A failure
  // before the commit point puts back what was renamed (the old table stays); from the commit
  // point on the new table is in place. Afterwards the marker is gone.
  void Commit();

 private:
  void DeleteWorkFiles();
  void ReleaseMarker();

  std::string directory_;
  std::string tableName_;
  std::string workName_;
  bool inMemory_;
  bool keepBackup_;
  TFileHandler marker_;
  bool done_ = false;
};

// The work table's name for a table: its name without a ".DAT" extension, plus ".NEW".
std::string RebuildWorkTableName(const std::string& tableName);

// The renames of the swap in order (steps 2 and 3 above), as full file names; the data file's
// renames come first and last. Renames of files that do not exist are skipped when run.
std::vector<std::pair<std::string, std::string>> SwapSteps(const std::string& directory,
                                                           const std::string& tableName);

// See above; nothing when the table has no T.TMP. 11013 while a live rebuild holds it.
void MendCutOffRebuild(const std::string& directory, const std::string& tableName, bool inMemory);

}  // namespace mt
