// A second process for the storage tests: one table object of its own, driven by one command
// per line on stdin, each answered by one line on stdout ("ok ..." or "err CODE"). While a
// command waits for a lock, the first failed attempt of each kind is announced by a line
// "waiting KIND" (semaphore, write, read, record, all) before the answer.
//
//   open DIR TABLE              open the table (shared)
//   settings STRICT RETRY WAIT  session settings: strict detection 0/1, record lock retries, ms
//   tableretry TRIES MS         attempts and wait of the table locks
//   read | readunlock | write | writeunlock | locktable | unlocktable
//                               table locks; the lock commands answer "ok CHANGED"
//   lockrec N | unlockrec N     record locks; a failure answers "err CODE attempts K"
//   check                       the change check: "ok CHANGED"
//   op                          one cursor operation's bracket: "ok CHANGED"
//   count                       the record count the table object knows (no file access)
//   get N                       record N through the cache: "ok ID", or "changed" when the
//                               cache miss found the table changed
//   insert ID [K]               K (default 1) inserts of a record with field 1 = ID, each a
//                               whole change: "ok LASTRECORD"
//   blobset N LEN CHAR          sets record N's blob field 2 to LEN bytes CHAR in one change:
//                               "ok FIRSTBLOCK BLOCKCOUNT"
//   image N                     keeps a copy of record N's image, read under the read lock
//   blobget                     under the read lock, loads field 2's value of the kept image:
//                               "ok LENGTH FIRSTBYTE" or "err CODE"
//   begin | commit | rollback   a transaction over the table
//   rawopen EXT                 opens the table's file EXT (".DAT", ...) with a handler of its own
//   rawlock START LEN | rawunlock START LEN   on that handler: "1" or "0"
//   close | quit
#include <cstdint>
#include <cstring>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "engine/common/engineerror.h"
#include "engine/storage/blobbuffer.h"
#include "engine/storage/byteio.h"
#include "engine/storage/datatable.h"
#include "engine/storage/transaction.h"

namespace {

using namespace mt;

const char* KindName(TLockWait what) {
  switch (what) {
    case TLockWait::TableSemaphore:
      return "semaphore";
    case TLockWait::WriteRange:
      return "write";
    case TLockWait::ReadByte:
      return "read";
    case TLockWait::Record:
      return "record";
    case TLockWait::AllRecords:
      return "all";
  }
  return "?";
}

struct TProbeState {
  std::unique_ptr<TDataTable> table;
  TTransaction transaction;
  std::vector<uint8_t> keptImage;
  int32_t keptRecord = 0;
  std::unique_ptr<TFileHandler> raw;
  int attempts = 0;
  bool announced[5] = {};
  const int owner = 0;  // identifies this process's one "cursor"
};

int32_t Insert(TProbeState& s, int32_t id) {
  TDataTable& t = *s.table;
  TTableLocks& locks = t.Locks();
  TDataFile& data = t.Data();
  TWriteLockScope write(locks);
  const int32_t n = data.AllocateSlot(t.HasPrimaryIndex());
  locks.LockRecord(n, &s.owner);
  {
    TPinnedRecord r(data.GetRecord(n, TReadAhead::None, n == data.NextRecordNumber()));
    data.Format().InitRecord(r->Image());
    le::PutI32(r->Image(), rec::kNumber, n);
    data.Format().SetInteger(1, r->Image(), id);
    r->MarkDirty();
  }
  locks.FinishChange();
  locks.UnlockRecord(n, &s.owner);
  return n;
}

std::string SetBlob(TProbeState& s, int32_t n, std::size_t length, char fill) {
  TDataTable& t = *s.table;
  TTableLocks& locks = t.Locks();
  TDataFile& data = t.Data();
  TWriteLockScope write(locks);
  locks.LockRecord(n, &s.owner);
  TBlobBuffers blobs(t.ErrorName());
  int32_t first = 0;
  {
    TPinnedRecord r(data.GetRecord(n));
    std::vector<uint8_t> image(r->Image(), r->Image() + data.RecordSize());
    const int h =
        blobs.Open(t.BlobFile(), data.Format(), 2, image.data(), n, TBlobOpenMode::ReadWrite);
    blobs.Get(h).Truncate(0);
    const std::vector<uint8_t> value(length, static_cast<uint8_t>(fill));
    blobs.Get(h).Write(0, value);
    blobs.Store(*t.BlobFile(), data, data.Format(), image.data());
    blobs.Close(h, true);
    std::memcpy(r->Image(), image.data(), image.size());
    r->MarkDirty();
    first = data.Format().GetBlobRef(2, image.data()).value_or(std::make_pair(0, 0)).first;
  }
  locks.FinishChange();
  locks.UnlockRecord(n, &s.owner);
  return "ok " + std::to_string(first) + " " + std::to_string(t.BlobFile()->BlockCount());
}

std::string Run(TProbeState& s, const std::string& command, std::istringstream& in) {
  auto changed = [](bool c) { return std::string("ok ") + (c ? "1" : "0"); };
  if (command == "open") {
    std::string dir, name;
    in >> dir >> name;
    s.table = std::make_unique<TDataTable>(dir, name);
    s.table->Open();
    s.table->Locks().SetRetryObserver([&s](TLockWait what, int attempt) {
      s.attempts = attempt;
      const int k = static_cast<int>(what);
      if (!s.announced[k]) {
        s.announced[k] = true;
        std::cout << "waiting " << KindName(what) << std::endl;
      }
    });
    return "ok";
  }
  if (command == "rawopen") {
    std::string ext;
    in >> ext;
    s.raw = std::make_unique<TFileHandler>(s.table->FileName(ext));
    s.raw->Open();
    return "ok";
  }
  if (command == "rawlock" || command == "rawunlock") {
    uint64_t start = 0, length = 0;
    in >> start >> length;
    const bool ok = command == "rawlock" ? s.raw->LockRegion(start, length)
                                         : s.raw->UnlockRegion(start, length);
    return ok ? "1" : "0";
  }
  TDataTable& t = *s.table;
  TTableLocks& locks = t.Locks();
  if (command == "settings") {
    TSessionSettings settings;
    int strict = 0;
    in >> strict >> settings.lockRetryCount >> settings.lockWaitTime;
    settings.strictChangeDetection = strict != 0;
    t.SetSettings(settings);
    return "ok";
  }
  if (command == "tableretry") {
    int tries = 0, ms = 0;
    in >> tries >> ms;
    locks.SetTableLockRetry(tries, ms);
    return "ok";
  }
  if (command == "read") return changed(locks.ReadLock());
  if (command == "readunlock") return locks.ReadUnlock(), "ok";
  if (command == "write") return changed(locks.WriteLock());
  if (command == "writeunlock") return locks.WriteUnlock(), "ok";
  if (command == "locktable") return changed(locks.LockTable());
  if (command == "unlocktable") return locks.UnlockTable(), "ok";
  if (command == "lockrec") {
    int32_t n = 0;
    in >> n;
    return changed(locks.LockRecord(n, &s.owner));
  }
  if (command == "unlockrec") {
    int32_t n = 0;
    in >> n;
    locks.UnlockRecord(n, &s.owner);
    return "ok";
  }
  if (command == "check") return changed(locks.CheckForChanges());
  if (command == "op") {
    TOperationScope op(locks);
    return changed(op.Changed());
  }
  if (command == "count") return "ok " + std::to_string(t.Data().RecordCount());
  if (command == "get") {
    int32_t n = 0;
    in >> n;
    TPinnedRecord r(t.Data().GetRecord(n));
    if (!r) return "changed";
    return "ok " + std::to_string(t.Data().Format().GetInteger(1, r->Image()).value_or(0));
  }
  if (command == "insert") {
    int32_t id = 0;
    int count = 1;
    in >> id;
    if (!(in >> count)) count = 1;
    int32_t last = 0;
    for (int i = 0; i < count; ++i)
      last = Insert(s, id);
    return "ok " + std::to_string(last);
  }
  if (command == "blobset") {
    int32_t n = 0;
    std::size_t length = 0;
    char fill = 'x';
    in >> n >> length >> fill;
    return SetBlob(s, n, length, fill);
  }
  if (command == "image") {
    int32_t n = 0;
    in >> n;
    TReadLockScope read(locks);
    TPinnedRecord r(t.Data().GetRecord(n));
    if (!r) return "changed";
    s.keptImage.assign(r->Image(), r->Image() + t.Data().RecordSize());
    s.keptRecord = n;
    return "ok";
  }
  if (command == "blobget") {
    TReadLockScope read(locks);
    std::vector<uint8_t> image = s.keptImage;
    TBlobBuffers blobs(t.ErrorName());
    const int h = blobs.Open(t.BlobFile(), t.Data().Format(), 2, image.data(), s.keptRecord,
                             TBlobOpenMode::Read);
    const TBlobBuffer& b = blobs.Get(h);
    const int first = b.Length() == 0 ? -1 : b.Data()[0];
    return "ok " + std::to_string(b.Length()) + " " + std::to_string(first);
  }
  if (command == "begin") return s.transaction.Start({&t}), "ok";
  if (command == "commit") return s.transaction.Commit(), "ok";
  if (command == "rollback") return s.transaction.Rollback(), "ok";
  if (command == "close") {
    t.Close();
    return "ok";
  }
  return "?";
}

}  // namespace

int main() {
  TProbeState state;
  std::string line;
  while (std::getline(std::cin, line)) {
    std::istringstream in(line);
    std::string command;
    in >> command;
    if (command == "quit") break;
    state.attempts = 0;
    std::fill(std::begin(state.announced), std::end(state.announced), false);
    std::string reply;
    try {
      reply = Run(state, command, in);
    } catch (const EEngineError& e) {
      reply = "err " + std::to_string(e.ErrorCode());
      if (state.attempts > 0) reply += " attempts " + std::to_string(state.attempts);
    }
    std::cout << reply << std::endl;
  }
  return 0;
}
