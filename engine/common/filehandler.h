// TFileHandler: one table file (data, index or blob) as the table layer sees it. It opens,
// creates, reads, writes, locks, renames, deletes and copies its file through the process-wide
// file list (filelayer.h) and turns every failure into an EEngineError that names the file.
//
// Usage:
//   TFileHandler data(dir + "/szzb.DAT");
//   data.Open();                       // or Open(true) for no sharing; Create() for a new file
//   data.ReadAt(0, &header, sizeof header);
//   if (data.LockRegion(0xFFFFFFFF, 1)) { ...; data.UnlockRegion(0xFFFFFFFF, 1); }
//   data.Close();
//
// Each handler is one opener of its file: it has its own read/write position, while the OS
// handle, the share mode and the locked regions belong to the file, shared by every handler of
// the process that names the same file. ReadAt and WriteAt seek and transfer as one step under
// the file's mutex; Read and Write use the handler's current position.
//
// Errors: open of a missing file 11010; sharing conflicts, files in use, read-only files that
// would need writing and names matching two files on disk 11013; a short read 9217 (unless
// allowed); a short or failed write and a failed flush 9218; any transfer on a closed handler
// 11014; other OS failures by their errno (EngineCodeForOsError).
//
// Thread-safety: transfers, seeks, size, flush and locks of one open handler may be called
// from several threads. Open, Create, Close, Delete, Rename, the copy operations and the
// setters change the handler itself and must not run concurrently with any other call on the
// same handler. Different handlers are independent.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "filelayer.h"

namespace mt {

// Options of SaveToFile and LoadFromFile.
struct TCopyOptions {
  // Deflate (zlib format, level 9) each 64 KB chunk on the way out / inflate on the way in.
  bool compressed = false;
  // The progress callback gets the percentage copied each time it has grown by at least
  // progressStep since the last call (after every chunk when progressStep <= 0).
  int progressStep = 10;
  std::function<void(int percent)> progress;
};

// Layout of a compressed copy: a sequence of frames, one per chunk of the source, each
//   offset 0  uint32 LE  length of the chunk (1..kCopyChunkSize)
//   offset 4  uint32 LE  length n of the compressed data
//   offset 8  n bytes    the chunk in zlib format
inline constexpr std::size_t kCopyChunkSize = 65536;
inline constexpr std::size_t kCopyFrameHeaderSize = 8;

class TFileHandler {
 public:
  explicit TFileHandler(std::string name = {}, bool inMemory = false,
                        std::shared_ptr<TFileList> list = TFileList::Process());
  virtual ~TFileHandler();
  TFileHandler(const TFileHandler&) = delete;
  TFileHandler& operator=(const TFileHandler&) = delete;

  // ---- settings (only while closed) ----
  const std::string& Name() const { return name_; }
  void SetName(std::string name);
  bool InMemory() const { return inMemory_; }
  void SetInMemory(bool inMemory);
  // Create makes a temporary file, deleted when its last opener closes.
  bool Temporary() const { return temporary_; }
  void SetTemporary(bool temporary);

  // ---- state ----
  bool IsOpen() const { return file_ != nullptr; }
  bool Exclusive() const { return exclusive_; }
  // After open: the file could only be opened for reading / it carries no write permission.
  bool ReadOnly() const { return readOnly_; }
  bool ReadOnlyAttribute() const { return readOnlyAttribute_; }
  uint32_t OpenerId() const { return openerId_; }
  // The shared file object, null while closed.
  const std::shared_ptr<TAbstractFile>& File() const { return file_; }
  // Whether a file of this name and kind exists (open in the list or, on disk, letter case
  // aside).
  bool Exists() const;

  // ---- open and close ----
  // Nothing when already open.
  virtual void Open(bool exclusive = false);
  // Creates the file, emptying an existing one, and opens it.
  virtual void Create(bool exclusive = false);
  // Nothing when not open.
  virtual void Close();
  // Both need the file to be closed everywhere in the process (this handler included).
  virtual void Delete();
  // On success the handler carries the new name.
  virtual void Rename(const std::string& newName);

  // ---- copies ----
  // Copies this open file, from its start, to a newly created file on disk, in 64 KB chunks.
  // The target must not be open anywhere; a failed copy removes the partial target. Holds the
  // file list's mutex throughout, so the progress callback runs under it.
  virtual void SaveToFile(const std::string& target, const TCopyOptions& options = {});
  // Replaces the contents of this open file with those of `source` (a file on disk), the
  // reverse of SaveToFile; a compressed source that is damaged gives 15002.
  virtual void LoadFromFile(const std::string& source, const TCopyOptions& options = {});

  // ---- transfers ----
  // Reads `count` bytes at `offset` (kCurrentPosition: at the current position). Returns the
  // bytes read; fewer than asked is 9217 unless allowShort.
  virtual std::size_t ReadAt(uint64_t offset, void* buffer, std::size_t count,
                             bool allowShort = false);
  std::size_t Read(void* buffer, std::size_t count, bool allowShort = false) {
    return ReadAt(kCurrentPosition, buffer, count, allowShort);
  }
  // Writes `count` bytes at `offset` (kCurrentPosition: at the current position). A write of 0
  // bytes truncates (or extends with zeros) the file to that offset.
  virtual void WriteAt(uint64_t offset, const void* buffer, std::size_t count);
  void Write(const void* buffer, std::size_t count) { WriteAt(kCurrentPosition, buffer, count); }
  void Truncate(uint64_t size) { WriteAt(size, nullptr, 0); }
  // Asks the OS to write its buffers for the file to disk.
  virtual void Flush();

  uint64_t Seek(int64_t offset, TSeekOrigin origin = TSeekOrigin::Begin);
  uint64_t Position() const;
  uint64_t Size() const;

  // ---- region locks ----
  // One byte range; true when locked. Never waits. See TAbstractFile::LockRegion.
  bool LockRegion(uint64_t start, uint64_t length);
  bool UnlockRegion(uint64_t start, uint64_t length);
  // See TAbstractFile::LockAdjacentRegions and UnlockAdjacentRegions.
  bool LockAdjacentRegions(uint64_t start, uint64_t length);
  bool UnlockAdjacentRegions(uint64_t start, uint64_t length);

 protected:
  // The open file; raises 11014 while closed.
  TAbstractFile& OpenFile() const;
  [[noreturn]] void Raise(int32_t code, int osError) const;

 private:
  void RequireClosed(const char* what) const;
  void CopyOut(TFileHandler& target, const TCopyOptions& options);
  void CopyIn(TFileHandler& source, const TCopyOptions& options);

  std::shared_ptr<TFileList> list_;
  std::string name_;
  bool inMemory_ = false;
  bool temporary_ = false;
  bool exclusive_ = false;
  bool readOnly_ = false;
  bool readOnlyAttribute_ = false;
  std::shared_ptr<TAbstractFile> file_;
  uint32_t openerId_ = 0;
};

}  // namespace mt
