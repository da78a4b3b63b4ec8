// TTableFile: what the data, index and blob files of a table share on top of the file layer.
//
// Each of them has a header whose first field, changeCounter, counts the header's writes
// (other processes compare it to see that their caches are stale), a mark that the header has
// changes to write, and the force-flush setting. Scrambling of encrypted tables happens inside
// the file objects only: what they hand out and take in is always clear. Writing the header gives
// it the next counter (NextChangeCounter); inside a transaction the counter is raised in memory
// only and the header is written at the commit. Closing writes back what the file holds and then
// closes; a failed write still drops the cache and closes the file before the failure goes on.
//
// Thread-safety: as the file that derives from it (its table's thread, datatable.h).
#include "engine/storage/privateheader.h"

#ifndef MT_STORAGE_TABLEFILE_H
#define MT_STORAGE_TABLEFILE_H

#include <cstdint>

#include "byteio.h"
#include "engine/common/filehandler.h"
#include "scrambler.h"

namespace mt {

template <class THeader>
class TTableFile : public TFileHandler {
 public:
  using TFileHandler::TFileHandler;

  const THeader& Header() const { return header_; }
  int32_t ChangeCounter() const { return header_.changeCounter; }

  // The header has changes to write at the end of the change.
  void MarkHeaderDirty() { headerDirty_ = true; }
  bool HeaderDirty() const { return headerDirty_; }
  void SetForceFlush(bool force) { forceFlush_ = force; }
  bool ForceFlush() const { return forceFlush_; }

  // Inside a transaction: raises the change counter in memory only (other cursors of the
  // process see the change) and marks the header for writing at the commit.
  void RaiseChangeCounterInMemory() {
    header_.changeCounter = NextChangeCounter(header_.changeCounter);
    headerDirty_ = true;
  }

  // When the header has changes or force: writes it with the next change counter, then
  // flushes the OS buffers when forced flushes are on. Returns whether it wrote. The header
  // stays marked until both succeeded, so a failed write or flush is done again.
  bool FlushHeader(bool force = false) {
    if (!headerDirty_ && !force) return false;
    THeader h = header_;
    h.changeCounter = NextChangeCounter(h.changeCounter);
    WriteCountedHeader(h);
    header_.changeCounter = h.changeCounter;
    if (forceFlush_) Flush();
    headerDirty_ = false;
    return true;
  }

  // The change counter the header on disk carries now (other processes may have raised it).
  int32_t StoredChangeCounter() {
    uint8_t bytes[4];
    if (ReadAt(0, bytes, sizeof bytes, true) != sizeof bytes) RaiseHeaderCorrupt();
    // The scrambler's state at the first bytes depends only on its start values, so the
    // counter descrambles on its own.
    if (HeaderScrambled()) ScrambleBlock(bytes, sizeof bytes);
    return le::GetI32(bytes, 0);
  }

 protected:
  // Writes a copy of the header that carries the next change counter; the file may fill
  // further fields of the copy (and keep them) first.
  virtual void WriteCountedHeader(THeader& h) = 0;
  // Whether the header is scrambled on disk (an encrypted table's index and blob headers).
  virtual bool HeaderScrambled() const = 0;
  [[noreturn]] virtual void RaiseHeaderCorrupt() const = 0;

  // Closes after write() has written back what the file holds (when the file is open and
  // writable); drop() empties the cache, whether the writes succeeded or not.
  template <class TWrite, class TDrop>
  void CloseAfterWriting(TWrite write, TDrop drop) {
    if (IsOpen() && !ReadOnly()) {
      try {
        write();
      } catch (...) {
        drop();
        TFileHandler::Close();
        throw;
      }
    }
    drop();
    TFileHandler::Close();
  }

  THeader header_;
  bool headerDirty_ = false;
  bool forceFlush_ = false;
};

}  // namespace mt

#endif  // MT_STORAGE_TABLEFILE_H
