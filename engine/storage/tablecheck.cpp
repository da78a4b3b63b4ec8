// Data-file consistency checks and the data-file part of a repair.
#include "tablecheck.h"

#include <algorithm>

#include "btree.h"
#include "byteio.h"
#include "changejournal.h"
#include "engine/common/engineerror.h"
#include "fieldtypes.h"
#include "recordscan.h"
#include "tabledef.h"
#include "tablelocks.h"
#include "tablenames.h"

namespace mt {

namespace {

// Calls fn(n, image) for every record slot in order, the slots known when the check began.
// The slots are read in runs, each under one read lock. False, with the fault noted, when the
// table changed while it was read.
template <class F>
bool ForEachRecordSlot(TDataTable& table, std::vector<std::string>& faults, F fn) {
  const int32_t count = table.Data().RecordCount();
  TRecordScan scan(table);
  while (const uint8_t* image = scan.Next()) {
    if (scan.Changed()) break;
    if (scan.RecordNumber() > count) break;
    fn(scan.RecordNumber(), image);
  }
  if (!scan.Changed()) return true;
  faults.push_back("the table changed while it was checked");
  return false;
}

// The same over the data file alone, record by record through its cache, for callers that
// already hold the table's write lock or have it open exclusively (repair, mending).
template <class F>
bool ForEachDataSlot(TDataFile& data, std::vector<std::string>& faults, F fn) {
  const int32_t count = data.RecordCount();
  for (int32_t n = 1; n <= count; ++n) {
    TPinnedRecord r(data.GetRecord(n, TReadAhead::Forward));
    if (!r) {
      faults.push_back("the table changed while it was checked");
      return false;
    }
    fn(n, r->Image());
  }
  return true;
}

}  // namespace

std::vector<std::string> CheckDataRecords(TDataTable& table) {
  std::vector<std::string> faults;
  TDataFile& data = table.Data();
  const int32_t count = data.RecordCount();
  std::vector<uint8_t> state(static_cast<std::size_t>(count) + 1, 0);
  std::vector<int32_t> link(static_cast<std::size_t>(count) + 1, 0);
  int32_t deleted = 0;
  const int32_t lastAutoInc = data.LastAutoInc();
  const bool read = ForEachRecordSlot(table, faults, [&](int32_t n, const uint8_t* image) {
    state[n] = image[rec::kState];
    const int32_t number = le::GetI32(image, rec::kNumber);
    if (state[n] == rec::kActive) {
      if (number != n) {
        faults.push_back("record " + std::to_string(n) + " carries the record number " +
                         std::to_string(number));
      }
      const int32_t autoInc = le::GetI32(image, rec::kAutoInc);
      if (autoInc > lastAutoInc && lastAutoInc > 0) {
        faults.push_back("record " + std::to_string(n) + " has the auto-increment value " +
                         std::to_string(autoInc) + " above the header's last value " +
                         std::to_string(lastAutoInc));
      }
      for (const TFieldDescriptor& f : data.Format().Fields()) {
        if (f.isVirtual || IsAutoIncField(f.type, f.subtype)) continue;
        const uint8_t flag = image[f.offset];
        if (flag > 1) {
          faults.push_back("record " + std::to_string(n) + " field " + f.name +
                           " has a bad null flag");
        } else if (f.type == ftype::kString && flag == 1 && image[f.offset + f.physicalSize] != 0) {
          faults.push_back("record " + std::to_string(n) + " field " + f.name +
                           " has an unterminated string");
        }
      }
    } else if (state[n] == rec::kDeleted) {
      ++deleted;
      link[n] = number;
    } else {
      faults.push_back("record " + std::to_string(n) + " has the bad state " +
                       std::to_string(state[n]));
    }
  });
  if (!read) return faults;
  // The deleted chain: every deleted record exactly once, nothing else.
  std::vector<bool> seen(static_cast<std::size_t>(count) + 1, false);
  int32_t onChain = 0;
  for (int32_t n = data.DeletedHead(); n != 0; n = link[n]) {
    if (n < 0 || n > count) {
      faults.push_back("the deleted chain leads to record " + std::to_string(n) +
                       ", which does not exist");
      break;
    }
    if (state[n] != rec::kDeleted) {
      faults.push_back("the deleted chain leads to record " + std::to_string(n) +
                       ", which is not deleted");
      break;
    }
    if (seen[n]) {
      faults.push_back("the deleted chain runs in a circle at record " + std::to_string(n));
      break;
    }
    seen[n] = true;
    ++onChain;
  }
  if (onChain != deleted && faults.empty()) {
    faults.push_back("the deleted chain holds " + std::to_string(onChain) + " of " +
                     std::to_string(deleted) + " deleted records");
  }
  return faults;
}

std::vector<std::string> CheckIndexes(TDataTable& table) {
  std::vector<std::string> faults;
  TDataFile& data = table.Data();
  TIndexFile& index = table.Index();
  auto nameOf = [&](int slot) {
    if (slot == kPrimarySlot) return std::string("primary index");
    return "index '" + index.Descriptor(slot).name + "'";
  };
  std::vector<int> slots;
  for (int slot = 0; slot < kIndexSlots; ++slot) {
    if (index.SlotInUse(slot)) slots.push_back(slot);
  }
  std::vector<int64_t> entries(kIndexSlots, 0);
  std::vector<bool> sound(kIndexSlots, false);
  for (int slot : slots) {
    const std::vector<std::string> found = index.Tree(slot).CheckStructure(&entries[slot]);
    for (const std::string& f : found)
      faults.push_back(nameOf(slot) + ": " + f);
    sound[slot] = found.empty();
  }
  const int32_t count = data.RecordCount();
  int64_t active = 0;
  std::vector<uint8_t> key(kMaxKeyLength);
  const bool read = ForEachRecordSlot(table, faults, [&](int32_t n, const uint8_t* image) {
    const bool isActive = image[rec::kState] == rec::kActive;
    if (isActive) ++active;
    auto lookFor = [&](int slot) {
      TBTree& tree = index.Tree(slot);
      const TFindResult at = tree.Find(key.data());
      if (!at.found || tree.RecordAt(at.pos) != n) {
        faults.push_back(nameOf(slot) + ": no entry for record " + std::to_string(n));
      }
    };
    if (sound[kRecordIdSlot]) {
      BuildRecordIdKey(isActive ? rec::kActive : rec::kDeleted, le::GetI32(image, rec::kAutoInc),
                       key.data());
      lookFor(kRecordIdSlot);
    }
    if (!isActive) return;
    for (int slot : slots) {
      if (slot > kMaxSecondaryIndexes || !sound[slot]) continue;
      index.Tree(slot).KeyDef().Build(image, key.data());
      lookFor(slot);
    }
  });
  if (!read) return faults;
  for (int slot : slots) {
    if (slot == kTextSlot || !sound[slot]) continue;
    const int64_t expected = slot == kRecordIdSlot ? count : active;
    if (entries[slot] != expected) {
      faults.push_back(nameOf(slot) + " holds " + std::to_string(entries[slot]) + " entries for " +
                       std::to_string(expected) + " records");
    }
  }
  if (index.Header().activeRecords != active) {
    faults.push_back("the index header counts " + std::to_string(index.Header().activeRecords) +
                     " active records for " + std::to_string(active));
  }
  return faults;
}

namespace {

// Rewrites the header counts and the deleted chain of a data file whose header was read by
// LoadHeaderForRepair, taking the records as the truth (see tablecheck.h). When mending (a
// change cut off by a kill), a record with a bad state is torn: 8962 before anything is
// written. The header is left to the caller to write.
TDataRepairReport RebuildDataFile(TDataFile& file, bool mending) {
  TDataRepairReport report;
  const TDataFileHeader h = file.Header();
  const std::string& errorName = file.TableName();
  if (h.recordSize <= kRecordOverhead || h.fieldCount == 0) {
    RaiseEngineError(err::kHeaderCorrupt, {.table = errorName});
  }
  const int64_t first = RecordsOffset(h.fieldCount);
  const int64_t length = static_cast<int64_t>(file.Size());
  if (length < first) RaiseEngineError(err::kHeaderCorrupt, {.table = errorName});
  const int64_t size = h.recordSize;
  int64_t records = (length - first) / size;
  if (records > kMaxRecordNumber) records = kMaxRecordNumber;
  report.oldNextRecord = h.nextRecord;
  report.records = static_cast<int32_t>(records);

  // Read every slot first: the deleted chain, the largest auto-increment value, the records
  // whose number or state needs writing.
  std::vector<uint8_t> image(static_cast<std::size_t>(size));
  int32_t maxAutoInc = 0;
  std::vector<int32_t> deletedRecords;
  std::vector<int32_t> renumbered;
  for (int32_t n = 1; n <= report.records; ++n) {
    file.ReadSlot(n, image.data());
    const uint8_t state = image[rec::kState];
    if (state == rec::kActive) {
      if (le::GetI32(image.data(), rec::kNumber) != n) renumbered.push_back(n);
      maxAutoInc = std::max(maxAutoInc, le::GetI32(image.data(), rec::kAutoInc));
    } else {
      if (state != rec::kDeleted) {
        if (mending) RaiseEngineError(err::kRecordBuffersCorrupt, {.table = errorName});
        report.notes.push_back("record " + std::to_string(n) + " with the bad state " +
                               std::to_string(state) + " marked deleted");
      }
      deletedRecords.push_back(n);
    }
  }
  const int64_t keep = first + records * size;
  if (keep != length) {
    report.cutBytes = static_cast<int32_t>(length - keep);
    file.Truncate(static_cast<uint64_t>(keep));
    report.notes.push_back("cut " + std::to_string(report.cutBytes) +
                           " bytes of a partial record at the end");
  }
  if (h.nextRecord != report.records + 1) {
    report.notes.push_back("next record number " + std::to_string(h.nextRecord) + " set to " +
                           std::to_string(report.records + 1));
  }
  for (int32_t n : renumbered) {
    file.ReadSlot(n, image.data());
    le::PutI32(image.data(), rec::kNumber, n);
    file.WriteSlot(n, image.data());
    report.notes.push_back("record " + std::to_string(n) + " given its own number");
  }
  // Chain: each deleted record points to the next higher one; the head is the lowest.
  for (std::size_t i = 0; i < deletedRecords.size(); ++i) {
    const int32_t n = deletedRecords[i];
    const int32_t next = i + 1 < deletedRecords.size() ? deletedRecords[i + 1] : 0;
    file.ReadSlot(n, image.data());
    if (image[rec::kState] == rec::kDeleted && le::GetI32(image.data(), rec::kNumber) == next) {
      continue;
    }
    image[rec::kState] = rec::kDeleted;
    le::PutI32(image.data(), rec::kNumber, next);
    file.WriteSlot(n, image.data());
  }
  const int32_t chainHead = deletedRecords.empty() ? 0 : deletedRecords.front();
  report.deleted = static_cast<int32_t>(deletedRecords.size());
  if (h.deletedHead != chainHead) {
    report.notes.push_back("deleted chain rebuilt with " + std::to_string(report.deleted) +
                           " records");
  }
  int32_t lastAutoInc = h.lastAutoInc;
  if (maxAutoInc > lastAutoInc) {
    report.notes.push_back("last auto-increment value " + std::to_string(lastAutoInc) +
                           " raised to " + std::to_string(maxAutoInc));
    lastAutoInc = maxAutoInc;
  }
  report.lastAutoInc = lastAutoInc;
  file.SetRepairedCounts(report.records + 1, chainHead, lastAutoInc);
  return report;
}

// Follows the blob references of every active record (see CheckBlobValues); the blocks the
// sound values own are marked in `owned`, and each record with a broken value is listed.
struct TBlobScan {
  std::vector<std::string> faults;
  std::vector<int32_t> brokenRecords;
  std::vector<bool> owned;  // by block number
};

TBlobScan ScanBlobValues(TDataFile& data, TBlobFile& blob) {
  TBlobScan scan;
  const int32_t blocks = blob.BlockCount();
  scan.owned.assign(static_cast<std::size_t>(blocks) + 1, false);
  std::vector<int32_t> chain;
  auto follow = [&](int32_t first, int32_t stamp) -> std::string {
    chain.clear();
    if (first < 0 || first > blocks) return "refers to block " + std::to_string(first);
    int64_t total = -1;
    int64_t have = 0;
    int32_t prev = 0;
    for (int32_t n = first; n != 0;) {
      if (n < 1 || n > blocks) return "leads to block " + std::to_string(n);
      if (scan.owned[static_cast<std::size_t>(n)] ||
          std::find(chain.begin(), chain.end(), n) != chain.end()) {
        return "shares block " + std::to_string(n) + " with another value";
      }
      TBlobFile::TBlockHead head;
      try {
        head = blob.BlockHead(n);
      } catch (const EEngineError&) {
        return "leads to block " + std::to_string(n) + ", which is not in the file";
      }
      if (head.stamp != stamp) return "block " + std::to_string(n) + " has another stamp";
      if (head.prev != prev) return "block " + std::to_string(n) + " has a wrong back link";
      if (head.used < 0 || head.used > blob.DataPerBlock()) {
        return "block " + std::to_string(n) + " has a bad length";
      }
      if (total < 0) total = head.total;
      chain.push_back(n);
      have += head.used;
      prev = n;
      n = head.next;
    }
    if (have != total) {
      return "holds " + std::to_string(have) + " of " + std::to_string(total) + " bytes";
    }
    return {};
  };
  const TRecordFormat& format = data.Format();
  std::vector<int> fields;
  for (int no = 1; no <= format.FieldCount(); ++no) {
    const TFieldDescriptor& f = format.Field(no);
    if (IsBlobField(f.type) && !f.isVirtual) fields.push_back(no);
  }
  std::vector<std::string> ignored;
  ForEachDataSlot(data, ignored, [&](int32_t n, const uint8_t* image) {
    if (image[rec::kState] != rec::kActive) return;
    bool broken = false;
    std::vector<int32_t> mine;  // owned once the whole record is sound
    for (int no : fields) {
      const auto ref = format.GetBlobRef(no, image);
      if (!ref || ref->first == 0) continue;
      std::string fault = follow(ref->first, ref->second);
      for (int32_t b : chain) {
        if (fault.empty() && std::find(mine.begin(), mine.end(), b) != mine.end()) {
          fault = "shares block " + std::to_string(b) + " with another value";
        }
      }
      if (fault.empty()) {
        mine.insert(mine.end(), chain.begin(), chain.end());
        continue;
      }
      scan.faults.push_back("record " + std::to_string(n) + " field " + format.Field(no).name +
                            ": the blob value " + fault);
      broken = true;
    }
    if (broken) {
      scan.brokenRecords.push_back(n);
      return;
    }
    for (int32_t b : mine)
      scan.owned[static_cast<std::size_t>(b)] = true;
  });
  scan.faults.insert(scan.faults.begin(), ignored.begin(), ignored.end());
  return scan;
}

}  // namespace

std::vector<std::string> CheckBlobValues(TDataTable& table) {
  TBlobFile* blob = table.BlobFile();
  if (!table.HasBlobFields() || blob == nullptr) return {};
  TBlobScan scan = ScanBlobValues(table.Data(), *blob);
  // The free chain: blocks of no value, each once; together they are every other block.
  const int32_t blocks = blob->BlockCount();
  std::vector<bool> free(static_cast<std::size_t>(blocks) + 1, false);
  int32_t onChain = 0;
  for (int32_t n = blob->Header().freeHead; n != 0;) {
    if (n < 1 || n > blocks) {
      scan.faults.push_back("the blob free chain leads to block " + std::to_string(n) +
                            ", which does not exist");
      break;
    }
    if (scan.owned[static_cast<std::size_t>(n)]) {
      scan.faults.push_back("the blob free chain holds block " + std::to_string(n) + " of a value");
      break;
    }
    if (free[static_cast<std::size_t>(n)]) {
      scan.faults.push_back("the blob free chain runs in a circle at block " + std::to_string(n));
      break;
    }
    free[static_cast<std::size_t>(n)] = true;
    ++onChain;
    try {
      n = blob->BlockHead(n).next;
    } catch (const EEngineError&) {
      scan.faults.push_back("the blob free chain leads to block " + std::to_string(n) +
                            ", which is not in the file");
      break;
    }
  }
  int32_t lost = 0;
  for (int32_t n = 1; n <= blocks; ++n) {
    if (!scan.owned[static_cast<std::size_t>(n)] && !free[static_cast<std::size_t>(n)]) ++lost;
  }
  if (lost > 0) {
    scan.faults.push_back(std::to_string(lost) +
                          " blob blocks belong to no value and are not on the free chain");
  }
  return scan.faults;
}

TDataRepairReport RepairDataFile(const std::string& directory, const std::string& tableName) {
  const std::string errorName = TableFileName(NormalizeDirectory(directory), tableName, "");
  TDataFile file(TableFileName(NormalizeDirectory(directory), tableName, kDataExt), false,
                 errorName);
  file.Open(true);
  file.LoadHeaderForRepair();
  TDataRepairReport report;
  // A change cut off while its records were written is completed from its journal first.
  if (file.ReadStoredState().changeMark) {
    if (ReplayChangeJournal(TableFileName(NormalizeDirectory(directory), tableName, kJournalExt),
                            file)) {
      report.notes.push_back("the change cut off in the middle was completed from its journal");
    }
    file.LoadHeaderForRepair();
  }
  TDataRepairReport rebuilt = RebuildDataFile(file, false);
  rebuilt.notes.insert(rebuilt.notes.begin(), report.notes.begin(), report.notes.end());
  // Written with a raised change counter, so that nobody keeps the old state cached; the
  // write clears the change mark.
  file.FlushHeader(true);
  file.Flush();
  file.Close();
  return rebuilt;
}

std::vector<std::string> RepairBlobFile(const std::string& directory, const std::string& tableName,
                                        const TPasswordSource& passwords) {
  std::vector<std::string> notes;
  TDataTable table(directory, tableName);
  TTableOpenOptions options;
  options.exclusive = true;
  options.passwords = passwords;
  table.Open(options);
  TBlobFile* blob = table.BlobFile();
  if (!table.HasBlobFields() || blob == nullptr) {
    table.Close();
    return notes;
  }
  TDataFile& data = table.Data();
  const bool faulty = !CheckBlobValues(table).empty();
  const TBlobScan scan = ScanBlobValues(data, *blob);
  for (int32_t n : scan.brokenRecords) {
    // A record whose value was never written whole goes whole; its other values are freed by
    // the free chain rebuilt below.
    TPinnedRecord r(data.GetRecord(n));
    data.DeleteRecord(r.Get());
    notes.push_back("record " + std::to_string(n) + " with a broken blob value deleted");
  }
  if (faulty) {
    const int32_t free = blob->RebuildFreeChain(scan.owned);
    notes.push_back("blob free chain rebuilt with " + std::to_string(free) + " blocks");
  }
  if (!scan.brokenRecords.empty()) table.RebuildIndexes();
  table.Close();
  return notes;
}

void MendCutOffChange(TDataTable& table) {
  TDataFile& data = table.Data();
  TIndexFile& index = table.Index();
  TBlobFile* blob = table.BlobFile();
  data.ClearCache();
  index.ClearCache();
  if (blob != nullptr) blob->ClearCache();
  data.LoadHeaderForRepair();
  ReplayChangeJournal(table.FileName(kJournalExt), data);
  data.LoadHeaderForRepair();
  // Until the end the header keeps the mark: a mend cut off in turn is done again.
  struct TKeepMark {
    TDataFile& data;
    ~TKeepMark() { data.KeepChangeMark(false); }
  } keep{data};
  data.KeepChangeMark(true);
  RebuildDataFile(data, true);
  data.FlushHeader(true);
  data.Load();
  index.Load(data.Encrypted());
  index.Validate(data.Format().Fields());
  index.AttachTable(data.Format().Fields(), data.LocaleId());
  if (table.HasBlobFields()) {
    if (blob == nullptr) RaiseEngineError(err::kTableNotFound, {.table = table.ErrorName()});
    blob->Load(data.Header().EffectiveBlobBlockSize(), data.Encrypted());
    const TBlobScan scan = ScanBlobValues(data, *blob);
    // The order of writes never lets a record refer to a value that is not whole.
    if (!scan.brokenRecords.empty()) {
      RaiseEngineError(err::kBlobBuffersCorrupt, {.table = table.ErrorName()});
    }
    blob->RebuildFreeChain(scan.owned);
    blob->WriteBack();
    blob->FlushHeader(true);
  }
  table.RebuildIndexes();
  data.KeepChangeMark(false);
  data.FlushHeader(true);
  if (data.ForceFlush()) {
    data.Flush();
    index.Flush();
    if (blob != nullptr) blob->Flush();
  }
}

bool CutOffChangeLeft(const std::string& directory, const std::string& tableName) {
  const std::string dir = NormalizeDirectory(directory);
  TDataFile data(TableFileName(dir, tableName, kDataExt), false, tableName);
  data.Open();
  const bool marked = data.ReadStoredState().changeMark;
  bool writerLive = false;
  if (marked) {
    // A live writer holds the index file's write range for its whole change.
    TFileHandler index(TableFileName(dir, tableName, kIndexExt));
    if (index.Exists() && !data.ReadOnly()) {
      index.Open();
      writerLive = !index.LockRegion(lockofs::kWriteRange, lockofs::kWriteRangeLength);
      if (!writerLive) index.UnlockRegion(lockofs::kWriteRange, lockofs::kWriteRangeLength);
      index.Close();
    }
  }
  data.TFileHandler::Close();
  return marked && !writerLive;
}

}  // namespace mt

namespace mt {

std::vector<std::string> RepairIndexFile(const std::string& directory, const std::string& tableName,
                                         const TPasswordSource& passwords) {
  std::vector<std::string> notes;
  TTableOpenOptions options;
  options.exclusive = true;
  options.passwords = passwords;
  {
    TDataTable table(directory, tableName);
    try {
      table.Open(options);
      table.RebuildIndexes();
      table.Close();
      notes.push_back("indexes rebuilt");
      return notes;
    } catch (const EEngineError& e) {
      // Only a damaged index header is mended below; other failures stand.
      if (e.ErrorCode() != err::kHeaderCorrupt && e.ErrorCode() != err::kWrongVersion) throw;
    }
  }
  // The index header page itself is damaged: keep its definitions when they still fit.
  TDataTable probe(directory, tableName);
  TDataFile& data = probe.Data();
  data.Open(true);
  data.Load();
  const bool encrypted = data.Encrypted();
  const std::vector<TFieldDescriptor> fields = data.Format().Fields();
  data.TFileHandler::Close();
  TIndexFileHeader header = EmptyIndexFileHeader();
  {
    TIndexFile old(probe.FileName(kIndexExt), false, probe.ErrorName());
    old.Open(true);
    bool kept = false;
    if (old.Size() >= kIndexPageSize) {
      try {
        old.Load(encrypted);
        old.Validate(fields);
        header = old.Header();
        for (TIndexDescriptor& d : header.slots) {
          d.rootPage = 0;
          d.freeChain = 0;
          d.parameterPage = 0;
        }
        header.nextPage = 1;
        header.activeRecords = 0;
        kept = true;
      } catch (const EEngineError& e) {
        // A page that cannot be read at all is not a damaged definition.
        if (e.ErrorCode() == err::kReadError) throw;
      }
    }
    if (!kept) {
      notes.push_back("the index definitions could not be read; only the hidden indexes remain");
    }
    // Nothing of the old file is written back.
    old.TFileHandler::Close();
  }
  TIndexFile fresh(probe.FileName(kIndexExt), false, probe.ErrorName());
  fresh.CreateIndexFile(header, encrypted);
  fresh.Close();
  TDataTable table(directory, tableName);
  table.Open(options);
  table.RebuildIndexes();
  table.Close();
  notes.push_back("index file made anew and indexes rebuilt");
  return notes;
}

}  // namespace mt
