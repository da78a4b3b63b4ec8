// TChangeJournal: the journal a table writes before the records of a change go to the data
// file ("<table>.JNL" beside the table's other files), so that a change cut off while its
// records were being written can be completed by the next opener (tablecheck.h).
//
// Records are written in place, and a write of several pages can be cut off between pages
// when its process is killed, so without the journal a dying change could leave a record half
// old and half new, or a transaction's commit half done. The journal holds every write the data
// file gets in the change, records and header alike, with the data header's change counter the
// change starts from. It belongs to that change only while the data file carries the change
// mark and still that counter: the header write that ends the change clears the mark and raises
// the counter, so a journal of an earlier change never matches.
//
// Layout (little-endian); the entries are written first, in pieces, then the header, then the CRC:
//   0   uint32  magic 0x4C4E524A
//   4   int32   the data header's change counter on disk when the change began
//   8   int32   number of entries n
//   12  n entries: uint64 data file offset, uint32 length L, L bytes as the data file takes
//       them (scrambled for encrypted tables)
//   then uint32 CRC-32 of every byte before it
// Bytes after the CRC (left by a longer earlier journal) mean nothing; a tail longer than the
// journal itself (and than 1 MiB) is cut off.
//
// Thread-safety: used under the table's write lock by the thread that owns the table.
#include "engine/storage/privateheader.h"

#ifndef MT_STORAGE_CHANGEJOURNAL_H
#define MT_STORAGE_CHANGEJOURNAL_H

#include <cstdint>
#include <string>

#include "datafile.h"
#include "engine/common/filehandler.h"

namespace mt {

namespace cjl {
inline constexpr uint32_t kMagic = 0x4C4E524A;
inline constexpr std::size_t kMagicAt = 0;
inline constexpr std::size_t kBaseCounter = 4;
inline constexpr std::size_t kEntryCount = 8;
inline constexpr std::size_t kEntries = 12;
inline constexpr std::size_t kEntryHeader = 12;  // offset, length
inline constexpr std::size_t kCrcSize = 4;
}  // namespace cjl

class TChangeJournal : public TFileHandler {
 public:
  using TFileHandler::TFileHandler;
  // Writes the data file's pending writes (TDataFile::ForEachPendingWrite) as the journal of
  // the change, opening or making the file on first use; flushes it when asked.
  void Record(TDataFile& data, bool flush);

 private:
  // The file's size when this handler opened it, grown by its own writes. Another process's
  // longer journal is seen at the next opening; until then it only keeps its space.
  uint64_t size_ = 0;
};

// Writes the journal at `path` onto the data file when it is complete and belongs to the
// change the data file was cut off in (its counter is the one the file holds). The header is
// written with the mark still set and the counter unchanged, so a replay cut off in turn is
// done again. Returns whether it wrote anything.
bool ReplayChangeJournal(const std::string& path, TDataFile& data);

}  // namespace mt

#endif  // MT_STORAGE_CHANGEJOURNAL_H
