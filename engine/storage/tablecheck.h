// Consistency checks and repair of a table's files, for `mtdb verify` and `mtdb repair` and for
// recovering a table after a process died in the middle of a change (or its disk kept failing
// until the table was closed, tablelocks.h).
//
// What a dying writer can leave behind: every change writes its blob blocks and blob header
// first, then its records, then the data file header, then the index pages and the index
// header (each one a single positioned write, which a killed process never leaves half done).
// So a table whose writer was killed can have
// records beyond the header's next record number (the header was not written yet: the file is
// longer than the header says and the table does not open), a deleted-chain head that no
// longer names a deleted record, an auto-increment value below one a record already carries,
// and index pages that do not match the records. Every record whose change had returned is
// complete in the data file.
//
// Repairing the data file takes the records as the truth: the next record number from the
// file's length (a partial record at the end is cut), the deleted chain rebuilt from the
// records' state bytes, the last auto-increment value raised to the largest one a record
// carries; the header is written with a raised change counter. The indexes are then rebuilt
// from the records.
//
// Thread-safety: these run on a table nobody else has open (repair opens it exclusively).
#pragma once

#include <string>
#include <vector>

#include "datatable.h"

namespace mt {

// Checks the records and the deleted chain of an open table; one line per fault, empty when
// the data file is consistent.
std::vector<std::string> CheckDataRecords(TDataTable& table);

// Checks every index of an open table: each tree's structure, one entry per active record
// (the record-identifier index one per record slot, with the slot's state and identifier)
// that leads back to its record, and the header's active record count.
std::vector<std::string> CheckIndexes(TDataTable& table);

struct TDataRepairReport {
  int32_t records = 0;             // physical records after the repair
  int32_t deleted = 0;             // records on the rebuilt deleted chain
  int32_t cutBytes = 0;            // bytes of a partial record cut from the end
  int32_t oldNextRecord = 0;       // the header's next record number before the repair
  int32_t lastAutoInc = 0;         // after the repair
  std::vector<std::string> notes;  // what was changed, one line each
};

// Rewrites the data file's header and deleted chain from its records (see above). The table's
// files must not be open anywhere (11013). The data file header must be readable and describe
// a record size (8961 otherwise).
TDataRepairReport RepairDataFile(const std::string& directory, const std::string& tableName);

// Makes the index file anew and fills every index from the records. The index definitions
// are kept from the old header page when it is still readable and fits the fields; otherwise
// the new file has only the hidden indexes (a note says so). The table's files must not be
// open anywhere (11013). Returns notes on what was done.
std::vector<std::string> RepairIndexFile(const std::string& directory, const std::string& tableName,
                                         const TPasswordSource& passwords);

}  // namespace mt
