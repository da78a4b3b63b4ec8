// The reading half of the archive component: finds the end record, reads the central
// directory (or rebuilds it from the local headers when it is damaged) and extracts every
// entry into one destination folder, dropping the entries' folder parts.
//
// Extraction writes each entry to a temporary file beside its target and moves it into place
// only after its size and CRC-32 matched, so a bad entry never destroys the file it would
// have replaced, and nothing is ever written outside the destination folder.
//
// Nothing here shows UI: the "process pending window messages" point and the message box are
// callbacks the program connects to its GUI. One object serves one thread at a time.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "archive/zipheaders.h"
#include "archive/zipio.h"

namespace mt {

class TUnzipArchive {
 public:
  // What happens to a file that already exists where an entry goes. Prompt asks the overwrite
  // callback (no callback: keep the file); IfNewer/IfOlder compare the entry's time with the
  // file's.
  enum class TOverwriteMode { Prompt, Always, Never, IfNewer, IfOlder };

  // An entry ExtractAll did not write, with the reason in plain words.
  struct TExtractFailure {
    std::string fileName;
    std::string reason;
  };

  TUnzipArchive() = default;
  virtual ~TUnzipArchive() = default;
  TUnzipArchive(const TUnzipArchive&) = delete;
  TUnzipArchive& operator=(const TUnzipArchive&) = delete;

  const std::string& ZipName() const { return zipName_; }
  // A different name discards the directory read before.
  void SetZipName(const std::string& name);

  TOverwriteMode OverwriteMode() const { return overwriteMode_; }
  void SetOverwriteMode(TOverwriteMode mode) { overwriteMode_ = mode; }

  // Where ExtractAll writes; created with its missing parents when absent. Empty means the
  // working directory.
  const std::string& DestDir() const { return destDir_; }
  void SetDestDir(const std::string& dir) { destDir_ = dir; }

  // When set (the default), a written file takes the entry's read-only attribute.
  bool RetainAttributes() const { return retainAttributes_; }
  void SetRetainAttributes(bool retain) { retainAttributes_ = retain; }

  // Called after every block written or scanned, so a GUI can process pending messages.
  void SetOnProcessMessages(std::function<void()> callback) {
    onProcessMessages_ = std::move(callback);
  }
  // Shows a message box with one OK button: text, then window title.
  void SetOnMessageBox(std::function<void(const std::string&, const std::string&)> callback) {
    onMessageBox_ = std::move(callback);
  }
  // Asked in Prompt mode whether an existing file may be replaced by the entry.
  void SetOnOverwritePrompt(std::function<bool(const TZipEntry&)> callback) {
    onOverwritePrompt_ = std::move(callback);
  }

  // Opens the archive and reads its directory unless the same, unchanged archive was read or
  // written last. A file without end record passes without error and leaves no directory; a
  // file that cannot be opened raises EFileError, a damaged directory that cannot be rebuilt
  // EBadZipFile.
  void ReadDirectory();

  // Reads the directory if needed (a missing end record now raises EIncompleteZip) and writes
  // every entry with a file name into the destination folder. Entries that cannot be written
  // (target read-only or in use, bad data, wrong CRC) are skipped and listed in
  // ExtractFailures(). Returns the number of files written.
  int ExtractAll();

  // Does everything ExtractAll would do except writing: every entry's data are decoded and
  // their CRC-32 compared, and every existing target is checked to be replaceable. Failures
  // are listed in ExtractFailures() as ExtractAll would list them; nothing on disk changes.
  // Returns the number of entries that would be written. A caller that must replace all or
  // nothing runs this first and extracts only when the list stays empty.
  int CheckAll();

  // The directory: entries in central directory order. Empty without a directory.
  const std::vector<TZipEntry>& Entries() const { return entries_; }
  bool HasDirectory() const { return hasDirectory_; }
  const std::vector<TExtractFailure>& ExtractFailures() const { return failures_; }

 protected:
  // The writer hands over the directory of the archive it just wrote.
  void AdoptDirectory(std::vector<TZipEntry> entries);
  void ProcessMessages() const;
  void ClearDirectory();

 private:
  TFileDescriptor OpenArchive(struct stat& st) const;
  // Returns the open archive, its directory loaded.
  TFileDescriptor LoadDirectory(bool tolerateMissingEnd);
  std::vector<TZipEntry> ReadCentralDirectory(int fd, uint64_t size) const;
  std::vector<TZipEntry> RebuildFromLocalHeaders(int fd, uint64_t size) const;
  // The open archive with its directory, its size, and the destination folder's path.
  std::string PrepareDestination(TFileDescriptor& fd, uint64_t& archiveSize);
  // Runs action on every entry with a file name; an entry whose action fails is listed in
  // failures_. Returns the number of entries whose action succeeded.
  int ForEachEntry(const std::function<void(const TZipEntry&)>& action);
  // The entry's target path once the overwrite mode allows replacing an existing file there
  // and nothing keeps it from being replaced.
  std::string CheckTarget(const TZipEntry& entry, const std::string& destDir);
  // Decodes the entry's data into outFd (-1: nowhere) and checks its size and CRC-32.
  void DecodeEntry(int archiveFd, uint64_t archiveSize, const TZipEntry& entry, int outFd);

  std::string zipName_;
  std::string destDir_;
  TOverwriteMode overwriteMode_ = TOverwriteMode::Prompt;
  bool retainAttributes_ = true;
  std::function<void()> onProcessMessages_;
  std::function<void(const std::string&, const std::string&)> onMessageBox_;
  std::function<bool(const TZipEntry&)> onOverwritePrompt_;

  bool hasDirectory_ = false;
  TFileStamp stamp_;
  std::vector<TZipEntry> entries_;
  std::vector<TExtractFailure> failures_;
};

}  // namespace mt
