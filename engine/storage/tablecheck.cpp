// Data-file consistency checks and the data-file part of a repair.
#include "tablecheck.h"

#include <algorithm>

#include "btree.h"
#include "byteio.h"
#include "engine/common/engineerror.h"
#include "fieldtypes.h"
#include "recordscan.h"
#include "tabledef.h"
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

TDataRepairReport RepairDataFile(const std::string& directory, const std::string& tableName) {
  const std::string errorName = TableFileName(NormalizeDirectory(directory), tableName, "");
  auto corrupt = [&]() { RaiseEngineError(err::kHeaderCorrupt, {.table = errorName}); };
  TDataFile file(TableFileName(NormalizeDirectory(directory), tableName, kDataExt), false,
                 errorName);
  file.Open(true);
  TDataRepairReport report;
  file.LoadHeaderForRepair();
  const TDataFileHeader& h = file.Header();
  if (h.recordSize <= kRecordOverhead || h.fieldCount == 0) corrupt();
  const int64_t first = RecordsOffset(h.fieldCount);
  const int64_t length = static_cast<int64_t>(file.Size());
  if (length < first) corrupt();
  const int64_t size = h.recordSize;
  int64_t records = (length - first) / size;
  if (records > kMaxRecordNumber) records = kMaxRecordNumber;
  const int64_t keep = first + records * size;
  report.oldNextRecord = h.nextRecord;
  if (keep != length) {
    report.cutBytes = static_cast<int32_t>(length - keep);
    file.Truncate(static_cast<uint64_t>(keep));
    report.notes.push_back("cut " + std::to_string(report.cutBytes) +
                           " bytes of a partial record at the end");
  }
  report.records = static_cast<int32_t>(records);
  if (h.nextRecord != report.records + 1) {
    report.notes.push_back("next record number " + std::to_string(h.nextRecord) + " set to " +
                           std::to_string(report.records + 1));
  }

  // Rebuild the deleted chain from the state bytes, lowest record first, and find the largest
  // auto-increment value.
  std::vector<uint8_t> image(static_cast<std::size_t>(size));
  int32_t maxAutoInc = 0;
  std::vector<int32_t> deletedRecords;
  for (int32_t n = 1; n <= report.records; ++n) {
    file.ReadSlot(n, image.data());
    const uint8_t state = image[rec::kState];
    if (state == rec::kActive) {
      if (le::GetI32(image.data(), rec::kNumber) != n) {
        le::PutI32(image.data(), rec::kNumber, n);
        file.WriteSlot(n, image.data());
        report.notes.push_back("record " + std::to_string(n) + " given its own number");
      }
      maxAutoInc = std::max(maxAutoInc, le::GetI32(image.data(), rec::kAutoInc));
    } else {
      if (state != rec::kDeleted) {
        report.notes.push_back("record " + std::to_string(n) + " with the bad state " +
                               std::to_string(state) + " marked deleted");
      }
      deletedRecords.push_back(n);
    }
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
  // Written with a raised change counter, so that nobody keeps the old state cached.
  file.FlushHeader();
  file.Flush();
  file.Close();
  return report;
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
