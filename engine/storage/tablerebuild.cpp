// TTableRebuild: the marker, the swap of a rebuilt table's files and the mending of a cut-off
// rebuild.
#include "tablerebuild.h"

#include "engine/common/engineerror.h"
#include "tablenames.h"

namespace mt {
namespace {

constexpr char kKeepBackup = 'K';
constexpr char kNoBackup = 'N';

bool Exists(const std::string& file, bool inMemory) {
  return TFileHandler(file, inMemory).Exists();
}

void DeleteIfExists(const std::string& file, bool inMemory) {
  TFileHandler handler(file, inMemory);
  if (handler.Exists()) handler.Delete();
}

// Deletes what it can; a file that stays is harmless here (a stray work or backup file).
void DeleteQuietly(const std::string& file, bool inMemory) {
  try {
    DeleteIfExists(file, inMemory);
  } catch (const EEngineError&) {
  }
}

void Rename(const std::string& from, const std::string& to, bool inMemory) {
  TFileHandler(from, inMemory).Rename(to);
}

std::string FileOf(const std::string& directory, const std::string& tableName,
                   std::string_view extension) {
  return TableFileName(NormalizeDirectory(directory), tableName, extension);
}

void DeleteBackupFiles(const std::string& directory, const std::string& tableName, bool inMemory) {
  for (std::string_view ext : {kDataBackupExt, kIndexBackupExt, kBlobBackupExt})
    DeleteQuietly(FileOf(directory, tableName, ext), inMemory);
}

void DeleteTableFiles(const std::string& directory, const std::string& tableName, bool inMemory) {
  for (std::string_view ext : {kDataExt, kIndexExt, kBlobExt, kJournalExt})
    DeleteIfExists(FileOf(directory, tableName, ext), inMemory);
}

// The decision of a mend, with the marker held by the caller: true when the new table is in
// place (finished here or before), false when the old one stayed.
bool MendHeld(const std::string& directory, const std::string& tableName, bool inMemory) {
  const std::string work = RebuildWorkTableName(tableName);
  if (Exists(FileOf(directory, tableName, kDataExt), inMemory)) {
    DeleteTableFiles(directory, work, inMemory);
    return false;
  }
  if (!Exists(FileOf(directory, work, kDataExt), inMemory)) return false;  // nothing to do
  if (Exists(FileOf(directory, work, kIndexExt), inMemory)) {
    // The new files were not moved in yet: any old file still under its live name goes to
    // its backup name first.
    for (const auto& [live, backup] :
         {std::pair{kIndexExt, kIndexBackupExt}, std::pair{kBlobExt, kBlobBackupExt}}) {
      const std::string file = FileOf(directory, tableName, live);
      if (Exists(file, inMemory)) Rename(file, FileOf(directory, tableName, backup), inMemory);
    }
  }
  for (std::string_view ext : {kIndexExt, kBlobExt, kDataExt}) {
    const std::string file = FileOf(directory, work, ext);
    if (Exists(file, inMemory)) Rename(file, FileOf(directory, tableName, ext), inMemory);
  }
  return true;
}

}  // namespace

std::string RebuildWorkTableName(const std::string& tableName) {
  std::string name = TableFileName("", tableName, "");
  return name + ".NEW";
}

std::vector<std::pair<std::string, std::string>> SwapSteps(const std::string& directory,
                                                           const std::string& tableName) {
  const std::string work = RebuildWorkTableName(tableName);
  const auto live = [&](std::string_view ext) { return FileOf(directory, tableName, ext); };
  const auto next = [&](std::string_view ext) { return FileOf(directory, work, ext); };
  return {
      {live(kDataExt), live(kDataBackupExt)}, {live(kIndexExt), live(kIndexBackupExt)},
      {live(kBlobExt), live(kBlobBackupExt)}, {next(kIndexExt), live(kIndexExt)},
      {next(kBlobExt), live(kBlobExt)},       {next(kDataExt), live(kDataExt)},
  };
}

void MendCutOffRebuild(const std::string& directory, const std::string& tableName, bool inMemory) {
  TFileHandler marker(FileOf(directory, tableName, kWorkExt), inMemory);
  if (!marker.Exists()) return;
  try {
    marker.Open(true);
  } catch (const EEngineError& e) {
    // Gone between the look and the open: its rebuilder finished.
    if (e.ErrorCode() == err::kTableNotFound) return;
    throw;
  }
  char mode = kKeepBackup;
  marker.ReadAt(0, &mode, 1, true);
  const bool replaced = MendHeld(directory, tableName, inMemory);
  if (replaced && mode == kNoBackup) DeleteBackupFiles(directory, tableName, inMemory);
  marker.Close();
  DeleteQuietly(marker.Name(), inMemory);
}

TTableRebuild::TTableRebuild(std::string directory, std::string tableName, bool inMemory,
                             bool keepBackup)
    : directory_(std::move(directory)),
      tableName_(std::move(tableName)),
      workName_(RebuildWorkTableName(tableName_)),
      inMemory_(inMemory),
      keepBackup_(keepBackup),
      marker_(FileOf(directory_, tableName_, kWorkExt), inMemory) {
  MendCutOffRebuild(directory_, tableName_, inMemory_);
  marker_.Create(true);
  try {
    const char mode = keepBackup_ ? kKeepBackup : kNoBackup;
    marker_.WriteAt(0, &mode, 1);
    DeleteTableFiles(directory_, workName_, inMemory_);
  } catch (...) {
    ReleaseMarker();
    throw;
  }
}

TTableRebuild::~TTableRebuild() {
  if (done_) return;
  try {
    // The swap did not reach its commit point and was put back, or never began. Should
    // putting it back have failed (no live data file), everything stays for the next open to
    // finish.
    if (!Exists(FileOf(directory_, tableName_, kDataExt), inMemory_)) {
      marker_.Close();
      return;
    }
    DeleteTableFiles(directory_, workName_, inMemory_);
  } catch (const std::exception&) {
    // Work files that stay are deleted by the next rebuild or open.
  }
  ReleaseMarker();
}

void TTableRebuild::ReleaseMarker() {
  try {
    marker_.Close();
  } catch (const std::exception&) {
  }
  DeleteQuietly(marker_.Name(), inMemory_);
}

void TTableRebuild::Commit() {
  DeleteBackupFiles(directory_, tableName_, inMemory_);
  for (std::string_view ext : {kDataBackupExt, kIndexBackupExt, kBlobBackupExt}) {
    // A backup that could not be deleted would stop the swap half-way: stop here instead.
    if (Exists(FileOf(directory_, tableName_, ext), inMemory_))
      RaiseEngineError(err::kAccessDenied, {.table = FileOf(directory_, tableName_, ext)});
  }
  // The journals: both tables were closed cleanly, nothing in them is needed, and a table's
  // change counters could match a journal that is not its own.
  DeleteIfExists(FileOf(directory_, tableName_, kJournalExt), inMemory_);
  DeleteIfExists(FileOf(directory_, workName_, kJournalExt), inMemory_);
  const auto steps = SwapSteps(directory_, tableName_);
  std::vector<std::size_t> done;
  try {
    for (std::size_t i = 0; i < steps.size(); ++i) {
      if (!Exists(steps[i].first, inMemory_)) continue;
      Rename(steps[i].first, steps[i].second, inMemory_);
      done.push_back(i);
    }
  } catch (...) {
    // Before the commit point: put back what was renamed, last first.
    while (!done.empty()) {
      const auto& [from, to] = steps[done.back()];
      done.pop_back();
      try {
        Rename(to, from, inMemory_);
      } catch (const std::exception&) {
        break;  // the next open finishes the swap instead
      }
    }
    throw;
  }
  done_ = true;
  if (!keepBackup_) DeleteBackupFiles(directory_, tableName_, inMemory_);
  ReleaseMarker();
}

}  // namespace mt
