// TDataTable: table-level operations over the data, index and blob files.
#include "datatable.h"

#include <algorithm>

#include "engine/common/engineerror.h"
#include "indexbuild.h"
#include "tablenames.h"
#include "tablerebuild.h"

namespace mt {

TDataTable::TDataTable(std::string directory, std::string tableName, bool inMemory)
    : directory_(NormalizeDirectory(directory)),
      inMemory_(inMemory),
      locks_(std::make_unique<TTableLocks>(*this)) {
  SetNames(std::move(tableName));
}

TDataTable::~TDataTable() {
  if (locks_->InTransaction()) {
    try {
      locks_->RollbackTransaction();  // nothing of it was written; a pending close completes
    } catch (const std::exception&) {
      // A destructor cannot report it; the files close below regardless.
    }
  }
  if (openers_ > 0) {
    openers_ = 1;
    try {
      Close();
    } catch (const std::exception&) {
      // A destructor cannot report a failed write; the handlers close regardless.
    }
  }
}

void TDataTable::SetNames(std::string tableName) {
  tableName_ = std::move(tableName);
  errorName_ = TableFileName(directory_, tableName_, "");
  data_ = std::make_unique<TDataFile>(FileName(kDataExt), inMemory_, errorName_);
  index_ = std::make_unique<TIndexFile>(FileName(kIndexExt), inMemory_, errorName_);
  blob_ = std::make_unique<TBlobFile>(FileName(kBlobExt), inMemory_, errorName_);
  journal_ = std::make_unique<TChangeJournal>(FileName(kJournalExt), inMemory_);
}

void TDataTable::SetSettings(const TSessionSettings& settings) {
  CheckThread();
  settings_ = settings;
  ApplyFlushSettings();
}

void TDataTable::ApplyFlushSettings() {
  const bool force = settings_.forceBufferFlush || forceFlushOption_;
  data_->SetForceFlush(force);
  index_->SetForceFlush(force);
  blob_->SetForceFlush(force);
  blob_->SetCacheLimits(settings_.blobCacheBytes, settings_.blobCacheBlocks);
}

std::string TDataTable::FileName(std::string_view extension) const {
  return TableFileName(directory_, tableName_, extension);
}

void TDataTable::RequireNotOpen() const {
  if (openers_ > 0) RaiseEngineError(err::kTableInUse, {.table = errorName_});
}

// ---- create ------------------------------------------------------------------------------

void TDataTable::Create(TTableCreateParams params) {
  RequireNotOpen();
  const int recordSize = PrepareTableCreation(params, errorName_);
  const TDataFileHeader header = BuildDataFileHeader(params, recordSize);
  data_->CreateTable(header, params.fields);
  // The change counters start again: a journal of the table this one replaces could match.
  DropJournal();
  try {
    index_->CreateIndexFile(BuildIndexFileHeader(params.indexes), params.encrypted);
    if (header.blobFieldCount > 0) {
      blob_->CreateBlobFile(header.EffectiveBlobBlockSize(), header.encrypted != 0);
    }
  } catch (...) {
    blob_->TFileHandler::Close();
    index_->Close();
    data_->Close();
    throw;
  }
  blob_->Close();
  index_->Close();
  data_->Close();
}

void TDataTable::DropJournal() {
  if (inMemory_ || !journal_->Exists()) return;
  journal_->Open();
  journal_->Truncate(0);
  if (openers_ == 0) journal_->Close();
}

// ---- open and close ----------------------------------------------------------------------

void TDataTable::Open(const TTableOpenOptions& options) {
  CheckThread();
  if (openers_ > 0 || closePending_) {
    // A table whose close waits for the end of a transaction still has its files open.
    if (openers_ > 0 ? options.exclusive || exclusive_ : options.exclusive != exclusive_) {
      RaiseEngineError(err::kAccessDenied, {.table = errorName_});
    }
    CheckPassword(options.passwords);
    ++openers_;
    closePending_ = false;
    return;
  }
  OpenFiles(options);
  try {
    CheckPassword(options.passwords);
  } catch (...) {
    CloseFiles();
    throw;
  }
  if (needsIndexRebuild_ && !index_->ReadOnly()) {
    try {
      // Other processes must neither read the half-built indexes nor change the records
      // while they are read.
      TWriteLockScope lock(*locks_);
      RebuildIndexes();
    } catch (...) {
      // A half-filled index file would be taken as complete by the next open: remove it, so
      // that the next open makes it anew and tries again.
      locks_->ReleaseAll();
      data_->ClearCache();
      index_->ClearCache();
      blob_->ClearCache();
      blob_->TFileHandler::Close();
      index_->TFileHandler::Close();
      data_->TFileHandler::Close();
      try {
        index_->Delete();
      } catch (const EEngineError&) {
        // The open fails with the rebuild's error either way.
      }
      throw;
    }
  }
  exclusive_ = options.exclusive;
  scratch_ = options.exclusive && options.scratch;
  openers_ = 1;
}

void TDataTable::RebuildIndexes() {
  mt::RebuildIndexes(*data_, *index_);
  index_->WriteBackPages();
  index_->FlushHeader(true);
  needsIndexRebuild_ = false;
}

void TDataTable::AddIndex(const TIndexDescriptor& index, bool primary) {
  if (openers_ == 0 || !exclusive_) {
    RaiseEngineError(err::kMustBeExclusive, {.table = errorName_});
  }
  if (readOnly_) RaiseEngineError(err::kAccessDenied, {.table = errorName_});
  const TIndexFileHeader& h = index_->Header();
  if (primary && !h.noPrimary) RaiseEngineError(err::kPrimaryExists, {.table = errorName_});
  // Checked together with the existing secondaries, as at creation.
  TIndexDefinitions defs;
  for (int slot = 1; slot <= h.secondaryCount; ++slot)
    defs.secondaries.push_back(h.slots[slot]);
  if (primary) {
    defs.primary = index;
  } else {
    defs.secondaries.push_back(index);
  }
  PrepareIndexDefinitions(defs, data_->Format().Fields(), errorName_);
  const TIndexDescriptor prepared = primary ? *defs.primary : defs.secondaries.back();
  // Nothing is left unwritten, so that a failed fill can drop every cached page.
  index_->WriteBackPages();
  const TIndexFileHeader before = index_->Header();
  const int slot = index_->AddIndexDescriptor(prepared, primary);
  if (!index_->SlotInUse(slot)) return;  // a primary index without fields
  try {
    FillIndex(*data_, *index_, slot);
  } catch (...) {
    index_->ClearCache();
    index_->MutableHeader() = before;
    index_->AttachTable(data_->Format().Fields(), data_->LocaleId());
    throw;
  }
  index_->WriteBackPages();
  index_->FlushHeader(true);
}

void TDataTable::OpenFiles(const TTableOpenOptions& options) {
  // A rebuild of the table cut off by its process's end is finished or undone first.
  MendCutOffRebuild(directory_, tableName_, inMemory_);
  needsIndexRebuild_ = false;
  forceFlushOption_ = options.forceFlush;
  ApplyFlushSettings();
  try {
    data_->Open(options.exclusive);
    bool indexMissing = false;
    try {
      index_->Open(options.exclusive);
    } catch (const EEngineError& e) {
      if (e.ErrorCode() != err::kTableNotFound) throw;
      indexMissing = true;
    }
    if (indexMissing) {
      // No index file: make an empty one; the cursor rebuilds every index from the records.
      // (The data header tells whether the new file is scrambled.)
      data_->Load();
      index_->CreateIndexFile(EmptyIndexFileHeader(), data_->Encrypted());
      index_->Close();
      index_->Open(options.exclusive);
      needsIndexRebuild_ = true;
    }
    // The blob file's read and write locks join the index file's, so it opens before the
    // read lock is taken; a table without blob fields closes a stray one again below.
    if (blob_->Exists()) blob_->Open(options.exclusive);
    exclusive_ = options.exclusive;
    scratch_ = options.exclusive && options.scratch;
    readOnly_ = data_->ReadOnly() || index_->ReadOnly() || (blob_->IsOpen() && blob_->ReadOnly());
    {
      // Another process may be writing: validate a consistent state. A table cut off in the
      // middle of a change is mended first.
      TReadLockScope lock(*locks_, false);
      if (!inMemory_ && data_->ReadStoredState().changeMark) locks_->MendCutOffChange();
      data_->Load();
      index_->Load(data_->Encrypted());
      index_->Validate(data_->Format().Fields());
      index_->AttachTable(data_->Format().Fields(), data_->LocaleId());
      if (HasBlobFields()) {
        if (!blob_->IsOpen()) RaiseEngineError(err::kTableNotFound, {.table = errorName_});
        blob_->Load(data_->Header().EffectiveBlobBlockSize(), data_->Encrypted());
      }
    }
    if (!HasBlobFields() && blob_->IsOpen()) blob_->TFileHandler::Close();
    data_->SetChangeCheck([this] { return locks_->CheckBeforeDiskRead(); });
    blob_->SetChangeCheck([this] { return locks_->CheckBeforeDiskRead(); });
  } catch (...) {
    // Nothing of a failed open is written back.
    locks_->ReleaseAll();
    data_->ClearCache();
    blob_->ClearCache();
    blob_->TFileHandler::Close();
    index_->TFileHandler::Close();
    data_->TFileHandler::Close();
    journal_->Close();
    exclusive_ = false;
    scratch_ = false;
    readOnly_ = false;
    throw;
  }
  readOnly_ = data_->ReadOnly() || index_->ReadOnly() || (blob_->IsOpen() && blob_->ReadOnly());
}

void TDataTable::CheckPassword(const TPasswordSource& passwords) const {
  if (!data_->Encrypted()) return;
  const std::string stored = data_->Password();
  std::vector<std::string> known = passwords.known;
  for (;;) {
    if (std::find(known.begin(), known.end(), stored) != known.end()) return;
    const std::size_t before = known.size();
    if (!passwords.askMore || !passwords.askMore(known) || known.size() == before) {
      RaiseEngineError(err::kPasswordRequired, {.table = errorName_});
    }
  }
}

void TDataTable::Close() {
  CheckThread();
  if (openers_ == 0) return;
  if (--openers_ > 0) return;
  if (locks_->InTransaction()) {
    closePending_ = true;
    return;
  }
  CloseFiles();
}

void TDataTable::CloseDeferred() {
  if (!closePending_ || openers_ > 0) return;
  closePending_ = false;
  CloseFiles();
}

void TDataTable::CloseFiles() {
  // Every file closes even when writing one of them fails; the first failure is reported.
  std::exception_ptr failure;
  // The rest of a change whose writing failed is written while the table still holds its
  // write lock.
  try {
    locks_->WritePending();
    locks_->WriteScratch();
  } catch (...) {
    failure = std::current_exception();
  }
  locks_->ReleaseAll();
  data_->SetChangeCheck(nullptr);
  blob_->SetChangeCheck(nullptr);
  for (TFileHandler* file :
       {static_cast<TFileHandler*>(data_.get()), static_cast<TFileHandler*>(index_.get()),
        static_cast<TFileHandler*>(blob_.get()), static_cast<TFileHandler*>(journal_.get())}) {
    try {
      file->Close();
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
  }
  // The table is written as it was opened (a scratch table without change mark or journal);
  // only then does it stop being exclusive or scratch.
  exclusive_ = false;
  scratch_ = false;
  readOnly_ = false;
  if (failure) std::rethrow_exception(failure);
}

void TDataTable::FlushBuffers(bool trimCache) {
  if (readOnly_) return;
  locks_->FlushBuffers(trimCache);
}

void TDataTable::FlushToDisk() {
  if (readOnly_ || inMemory_) return;
  for (TFileHandler* file :
       {static_cast<TFileHandler*>(data_.get()), static_cast<TFileHandler*>(index_.get()),
        static_cast<TFileHandler*>(blob_.get())}) {
    if (file->IsOpen()) file->Flush();
  }
}

// ---- delete, rename, empty ---------------------------------------------------------------

std::vector<std::string_view> TDataTable::ExistingExtensions() const {
  std::vector<std::string_view> found;
  for (std::string_view ext : {kDataExt, kIndexExt, kBlobExt, kJournalExt}) {
    if (TFileHandler(FileName(ext), inMemory_).Exists()) found.push_back(ext);
  }
  return found;
}

void TDataTable::RequireFilesFree(const std::vector<std::string_view>& extensions) const {
  // Open each file exclusively for a moment: that fails (11013) while anyone in this or
  // another process has it open, before anything is changed.
  for (std::string_view ext : extensions) {
    TFileHandler probe(FileName(ext), inMemory_);
    probe.Open(true);
    probe.Close();
  }
}

void TDataTable::Delete() {
  RequireNotOpen();
  const std::vector<std::string_view> extensions = ExistingExtensions();
  if (std::find(extensions.begin(), extensions.end(), kDataExt) == extensions.end()) {
    RaiseEngineError(err::kTableNotFound, {.table = errorName_});
  }
  RequireFilesFree(extensions);
  for (std::string_view ext : extensions)
    TFileHandler(FileName(ext), inMemory_).Delete();
}

void TDataTable::RenameFiles(
    const std::string& newTableName,
    const std::vector<std::pair<std::string_view, std::string_view>>& extensions) {
  RequireNotOpen();
  std::vector<std::pair<std::string, std::string>> plan;
  for (const auto& [from, to] : extensions) {
    const std::string source = FileName(from);
    if (!TFileHandler(source, inMemory_).Exists()) {
      if (from == kDataExt || from == kDataBackupExt) {
        RaiseEngineError(err::kTableNotFound, {.table = errorName_});
      }
      continue;
    }
    plan.emplace_back(source, TableFileName(directory_, newTableName, to));
  }
  for (const auto& [source, target] : plan) {
    TFileHandler probe(source, inMemory_);
    probe.Open(true);
    probe.Close();
  }
  // Rename one file after another; a failure puts the ones already renamed back.
  std::size_t done = 0;
  try {
    for (; done < plan.size(); ++done) {
      TFileHandler(plan[done].first, inMemory_).Rename(plan[done].second);
    }
  } catch (...) {
    while (done > 0) {
      --done;
      try {
        TFileHandler(plan[done].second, inMemory_).Rename(plan[done].first);
      } catch (const std::exception&) {
        // Keep undoing the others; the first error is the one reported.
      }
    }
    throw;
  }
}

void TDataTable::Rename(const std::string& newTableName) {
  RenameFiles(newTableName, {{kDataExt, kDataExt},
                             {kIndexExt, kIndexExt},
                             {kBlobExt, kBlobExt},
                             {kJournalExt, kJournalExt}});
  SetNames(newTableName);
}

void TDataTable::RenameToBackup() {
  RenameFiles(
      tableName_,
      {{kDataExt, kDataBackupExt}, {kIndexExt, kIndexBackupExt}, {kBlobExt, kBlobBackupExt}});
}

void TDataTable::RestoreFromBackup() {
  RenameFiles(
      tableName_,
      {{kDataBackupExt, kDataExt}, {kIndexBackupExt, kIndexExt}, {kBlobBackupExt, kBlobExt}});
}

void TDataTable::Empty() {
  if (openers_ == 0 || !exclusive_) {
    RaiseEngineError(err::kMustBeExclusive, {.table = errorName_});
  }
  if (readOnly_) RaiseEngineError(err::kAccessDenied, {.table = errorName_});
  data_->EmptyRecords();
  DropJournal();
  index_->Empty();
  data_->FlushHeader();
  index_->FlushHeader();
  if (TBlobFile* blob = BlobFile()) {
    blob->Empty();
    blob->FlushHeader();
  }
}

}  // namespace mt
