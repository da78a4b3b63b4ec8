// Filling indexes from a table's records: rebuilding every index (the index file was missing
// or is being repaired), filling a newly added index, and the text index entries of a record.
//
// "Sys Deleted" gets one entry for every record slot, active or deleted: (state, identifier)
// with the slot as its record number. Every other index gets one entry per active record.
//
// The caller holds the table while an index is built (its write lock or an exclusive open):
// the records are read without change checks.
//
// Memo fields of the text index need the blob file: their text comes from a caller-supplied
// reader; without one they are left out.
#include "engine/storage/privateheader.h"

#ifndef MT_STORAGE_INDEXBUILD_H
#define MT_STORAGE_INDEXBUILD_H

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "datafile.h"
#include "indexfile.h"

namespace mt {

// The text of a memo field of a record image; nullopt when it has none.
using TMemoTextReader =
    std::function<std::optional<std::string>(int fieldNo, const uint8_t* image)>;

// Adds / removes the words of a record's text fields.
void AddRecordText(TIndexFile& index, const TRecordFormat& format, const uint8_t* image,
                   int32_t record, const TMemoTextReader& memo = {});
void RemoveRecordText(TIndexFile& index, const TRecordFormat& format, const uint8_t* image,
                      int32_t record, const TMemoTextReader& memo = {});

// Empties the index file and fills every index from the records; sets the active record
// count. A unique index that meets an equal key fails with 9729.
void RebuildIndexes(TDataFile& data, TIndexFile& index, const TMemoTextReader& memo = {});

// Fills the empty index of one slot from the active records. A unique index is checked for
// equal keys (9729) before anything is written.
void FillIndex(TDataFile& data, TIndexFile& index, int slot, const TMemoTextReader& memo = {});

}  // namespace mt

#endif  // MT_STORAGE_INDEXBUILD_H
