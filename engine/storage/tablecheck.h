// Consistency checks and repair of a table's files, for `mtdb verify` and `mtdb repair` and for
// recovering a table after a process died in the middle of a change (or its disk kept failing
// until the table was closed, tablelocks.h).
//
// What a dying writer can leave behind. Every change of records writes, in this order
// (TTableLocks::WriteChanges): the change mark in the data header; its new blob values (always
// on blocks no record refers to yet) and the blob header; the change journal with the change's
// record images and data header (changejournal.h); the records; the blocks of the values the
// change freed and the blob header; the index pages and the index header; and last the data
// header, which clears the mark. Killed before the journal was whole, the records are untouched
// (the change is dropped whole); killed later, the journal writes them all again (the change
// is complete). A write of several pages can be cut off between pages, so a record may be half
// written only while the journal holds it. What remains for the next opener is the indexes,
// which may not match the records, and blocks that belong to no value and are not free.
//
// Mending (MendCutOffChange) runs when the data file carries the mark and no live process holds
// the write lock (locks die with their process; tablelocks.h): the first process to open or
// lock the table does it under the write lock, so nobody reads the table in between. It
// replays the journal when it belongs to the change, takes the records as the truth for the
// header counts and the deleted chain, rebuilds the blob free chain from the values the
// records refer to and every index from the records, and clears the mark last.
//
// Repairing the data file (`mtdb repair`) also completes a cut-off change from its journal and
// then takes the records as the truth: the next record number from the file's length (a
// partial record at the end is cut), the deleted chain rebuilt from the records' state bytes,
// the last auto-increment value raised to the largest one a record carries; the header is
// written with a raised change counter. The blob values and the indexes come next.
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

// Checks the blob values of an open table: every blob reference of an active record leads to
// a whole chain (blocks in the file carrying the reference's stamp, linked both ways, as many
// bytes as the first block says), no block belongs to two values, and the free chain holds
// exactly the other blocks. One line per fault.
std::vector<std::string> CheckBlobValues(TDataTable& table);

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

// Deletes the records whose blob values are broken (whole: an insert whose value never got
// written whole goes) and rebuilds the blob free chain from the values left, then rebuilds the
// indexes when records went. Opens the table exclusively (11013 while anyone has it open).
// Returns notes on what was done.
std::vector<std::string> RepairBlobFile(const std::string& directory, const std::string& tableName,
                                        const TPasswordSource& passwords);

// Mends a table cut off in the middle of a change (see above), with its files open and a
// lock held that keeps every other process out (or the table open exclusively). A record
// that is no record (a bad state byte) is 8962, a value a record refers to that is not whole
// 8963, both naming the table, and the mark stays for `mtdb repair`.
void MendCutOffChange(TDataTable& table);

// Whether the table's data file carries the change mark of a change whose writer died (no live
// process holds the table's write lock): the state the next open mends.
bool CutOffChangeLeft(const std::string& directory, const std::string& tableName);

// Makes the index file anew and fills every index from the records. The index definitions
// are kept from the old header page when it is still readable and fits the fields; otherwise
// the new file has only the hidden indexes (a note says so). The table's files must not be
// open anywhere (11013). Returns notes on what was done.
std::vector<std::string> RepairIndexFile(const std::string& directory, const std::string& tableName,
                                         const TPasswordSource& passwords);

}  // namespace mt
