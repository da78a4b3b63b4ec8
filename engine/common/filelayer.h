// The engine's file layer, lower half: the process-wide list of open files and the shared
// file objects in it. Every table file (data, index, blob) of every session and cursor in the
// process goes through one TFileList, so all openers of one file name share one file object
// and, for files on disk, one operating-system handle. TFileHandler (filehandler.h) is the
// interface the table layer uses; the classes here are its machinery.
//
// Files on disk (TPhysicalFile):
//  - One open file description per file object, opened read-write, or read-only when the file
//    carries no write permission bit (the "read-only attribute") or a read-write open fails.
//  - Share modes between processes: every file object holds an open-file-description (OFD)
//    lock on the byte at kShareLockOffset: a read lock for shared openers, a write lock for an
//    exclusive opener. So an exclusive open anywhere refuses shared opens everywhere and the
//    reverse (11013), and the kernel drops the lock when the handle closes or the process dies.
//    A handle open only for reading cannot hold a write lock: an exclusive open of such a file
//    is refused while anyone has it open, but holds only the read lock itself, so later shared
//    openers (who cannot write the file either) are not kept out.
//  - Region locks are OFD write locks (fcntl F_OFD_SETLK), never classic POSIX record locks,
//    which a process loses when it closes any descriptor of the file. They never wait.
// Files in memory (TMemoryFile) keep their bytes in one block that grows in 4096-byte steps;
// they outlive their last opener (an in-memory table lives until deleted or the process ends)
// unless created temporary.
//
// Region locks follow one rule for both kinds: a region that overlaps any region already locked
// through the same file object is refused (so two openers in one process exclude each other as
// well as other processes), and an unlock must name exactly a region that was locked. Regions
// may not touch the byte at kShareLockOffset, which the share mode owns.
//
// File names: the list matches names after trimming, without regard to the letter case of the
// file name (ASCII letters only; two-byte GBK characters are compared as they are); for files
// on disk the directory part must match exactly, as directories differing in case differ here.
// On disk, ResolveFileName finds the file whose name matches letter case aside, and refuses a
// name that matches two. It reads the directory for that, and keeps what it read (per disk,
// TListingCache) so that the files of one table, and the next statement's, are found without
// reading the directory again while it stays unchanged.
//
// The disk. Files on disk reach the operating system only through the TDisk of their file
// list: opening, reading, writing, truncating, flushing, locking, deleting, renaming and
// listing directories. It is the engine's one contact with the disk, so a test can put a disk
// in its place that fails chosen calls (TFileList::SetDisk).
//
// Thread-safety: TFileList and TAbstractFile are safe to use from any thread. The list's mutex
// (recursive) guards the list and is held during open, create, close, delete, rename and copy
// operations; each file's own mutex guards its openers, positions, regions and every transfer.
// Lock order is always list before file; nothing holding a file mutex takes the list mutex.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace mt {

enum class TSeekOrigin { Begin, Current, End };

// Offset argument of a transfer that means "at the opener's current position".
inline constexpr uint64_t kCurrentPosition = UINT64_MAX;

// The byte whose OFD lock carries a physical file's share mode. Engine locks lie below 2^32.
inline constexpr uint64_t kShareLockOffset = uint64_t{1} << 32;

// A locked byte range: start, last byte (inclusive) and length.
struct TLockedRegion {
  uint64_t start = 0;
  uint64_t end = 0;
  uint64_t length = 0;
  bool operator==(const TLockedRegion&) const = default;
};

// Outcome of one file operation: a count, size or position, and the OS error number (errno
// values; 0 on success).
struct TIoResult {
  uint64_t value = 0;
  int osError = 0;
};

class TDisk;

// The directory listings ResolveFileName has read through one disk, kept while the directories
// stay unchanged. A kept listing is used only when a fresh stat of the directory shows the same
// directory (device and inode) with the same modification and change times and size, and when
// the listing was taken at least Margin() after the directory last changed: file systems stamp
// times in ticks (up to 2 seconds on FAT-like ones), so a change made in the tick of the last
// stamp would leave the times as they were; a listing taken a margin later cannot miss such a
// change, since any change after it gets a later stamp.
//
// Thread-safety: safe from any thread; its own mutex guards the kept listings, and is never
// held while the disk is asked anything.
class TListingCache {
 public:
  static constexpr std::chrono::nanoseconds kDefaultMargin = std::chrono::seconds(3);

  TListingCache() = default;
  TListingCache(const TListingCache&) = delete;
  TListingCache& operator=(const TListingCache&) = delete;

  std::chrono::nanoseconds Margin() const { return std::chrono::nanoseconds(margin_.load()); }
  void SetMargin(std::chrono::nanoseconds margin) { margin_.store(margin.count()); }

  // The names in `directory` equal to `name` letter case aside, read through `disk`. Uses the
  // kept listing unless `fresh` or the directory has changed, and then keeps the new one when
  // it may be kept; `cached` says which it was. False when the directory cannot be read.
  bool Match(TDisk& disk, const std::string& directory, std::string_view name, bool fresh,
             std::vector<std::string>& matches, bool& cached);
  // Drops the listing of a directory (one this process has just changed).
  void Forget(const std::string& directory);

  // Whether a listing taken at `listedAt` (wall clock, read before the stat `listed` of the
  // directory) still shows the directory whose stat is now `now`.
  static bool StillHolds(const struct stat& listed, const timespec& listedAt,
                         const struct stat& now, std::chrono::nanoseconds margin);

 private:
  struct TListing {
    struct stat stamp {};
    timespec listedAt{};
    // (name folded to one letter case, name as listed), sorted.
    std::vector<std::pair<std::string, std::string>> names;
  };
  static constexpr std::size_t kMaxListings = 64;

  std::atomic<int64_t> margin_{kDefaultMargin.count()};
  std::mutex mutex_;
  std::map<std::string, TListing, std::less<>> listings_;
};

// The operating system's file interface as the file layer uses it. Each operation stands for
// the POSIX call it names and answers as that does: a result below 0 with errno set on
// failure. The base class is the real disk; a replacement overrides what it wants to change
// and calls the base for the rest.
//
// Thread-safety: the real disk may be used from any thread; a replacement must allow what its
// users do.
class TDisk {
 public:
  TDisk() = default;
  virtual ~TDisk() = default;
  TDisk(const TDisk&) = delete;
  TDisk& operator=(const TDisk&) = delete;

  // The real disk, which every file list starts with.
  static const std::shared_ptr<TDisk>& Real();

  // open (close-on-exec, retried when interrupted), advised for random access.
  virtual int Open(const std::string& path, int flags, mode_t mode = 0);
  virtual int Close(int fd);
  virtual int Stat(const std::string& path, struct stat* st);
  virtual int FStat(int fd, struct stat* st);
  virtual ssize_t ReadAt(int fd, void* buffer, std::size_t count, off_t offset);         // pread
  virtual ssize_t WriteAt(int fd, const void* buffer, std::size_t count, off_t offset);  // pwrite
  virtual int Truncate(int fd, off_t size);  // ftruncate
  virtual int Sync(int fd);                  // fsync
  // fcntl with F_OFD_SETLK or F_OFD_GETLK.
  virtual int Lock(int fd, int command, struct flock* region);
  virtual int Unlink(const std::string& path);
  // renameat2 with RENAME_NOREPLACE when noReplace, else rename.
  virtual int Rename(const std::string& from, const std::string& to, bool noReplace);
  // access(path, F_OK).
  virtual int Exists(const std::string& path);
  // The names in a directory; false when it cannot be read.
  virtual bool List(const std::string& directory, std::vector<std::string>& names);

  // The listings ResolveFileName keeps for this disk. Creating, deleting and renaming files
  // through the base class's calls drop the listings of their directories.
  TListingCache& Listings() { return listings_; }

 private:
  TListingCache listings_;
};

// One open file, shared by all its openers in the process.
//
// Invariants: an opener id is unique for the life of the object and ids count up from 1; while
// the object has openers, either exactly one opener exists and Exclusive() may be true, or
// Exclusive() is false; locked regions never overlap each other.
class TAbstractFile {
 public:
  virtual ~TAbstractFile() = default;
  TAbstractFile(const TAbstractFile&) = delete;
  TAbstractFile& operator=(const TAbstractFile&) = delete;

  virtual bool InMemory() const = 0;

  // The file's name (for a physical file, its path on disk). Changes only by a rename, which
  // requires the file to have no openers.
  std::string Name() const;
  bool ReadOnly() const;           // could only be opened for reading
  bool ReadOnlyAttribute() const;  // the file carries no write permission
  bool Exclusive() const;          // the current opener asked for no sharing
  bool Temporary() const;          // deleted when its last opener closes
  std::size_t OpenerCount() const;
  std::vector<TLockedRegion> LockedRegions() const;

  // Each of these holds the file's mutex for its whole duration. An opener id that is not
  // open gives EBADF.
  TIoResult Size();
  TIoResult Position(uint32_t opener);
  TIoResult Seek(uint32_t opener, int64_t offset, TSeekOrigin origin);
  // Seek to `offset` (or stay, for kCurrentPosition), then transfer; the opener's position
  // ends after the bytes transferred. Read returns fewer bytes than asked only at the end of
  // the file or on an error. A write of 0 bytes sets the file's size to the position.
  TIoResult Read(uint32_t opener, uint64_t offset, void* buffer, std::size_t count);
  TIoResult Write(uint32_t opener, uint64_t offset, const void* buffer, std::size_t count);
  TIoResult Flush();
  // Never wait. False when the region overlaps one already locked (by anyone), when its length
  // is 0, when it runs past the largest file offset or touches kShareLockOffset, and for a
  // file on disk open only for reading (which cannot hold write locks).
  bool LockRegion(uint64_t start, uint64_t length);
  // False unless exactly this region is locked through this object.
  bool UnlockRegion(uint64_t start, uint64_t length);
  // Locks `length` adjacent one-byte regions from `start` in one call; each is then a region of
  // its own, given back alone (UnlockRegion) or in runs (UnlockAdjacentRegions). False, with
  // nothing locked, under the conditions of LockRegion for the whole span.
  bool LockAdjacentRegions(uint64_t start, uint64_t length);
  // Releases, in one call, the regions locked through this object that together cover exactly
  // start to start + length - 1 (many adjacent one-byte locks given back at once). False, with
  // nothing released, unless they cover it without a gap.
  bool UnlockAdjacentRegions(uint64_t start, uint64_t length);

 protected:
  explicit TAbstractFile(std::string name) : name_(std::move(name)) {}

  // Kind-specific parts, called with mutex_ held.
  virtual TIoResult DoSize() = 0;
  virtual TIoResult DoRead(uint64_t position, void* buffer, std::size_t count) = 0;
  virtual TIoResult DoWrite(uint64_t position, const void* buffer, std::size_t count) = 0;
  virtual TIoResult DoFlush() = 0;
  virtual bool DoLock(uint64_t start, uint64_t length) = 0;
  virtual bool DoUnlock(uint64_t start, uint64_t length) = 0;
  // The last opener has gone: release the handle (physical files) and the locks.
  virtual void DoLastOpenerClosed() = 0;
  // The name, for callers that hold mutex_ or own the object alone.
  const std::string& LockedName() const { return name_; }

  mutable std::mutex mutex_;
  bool readOnly_ = false;
  bool readOnlyAttribute_ = false;
  bool temporary_ = false;

 private:
  friend class TFileList;

  struct TOpener {
    uint32_t id;
    uint64_t position;
  };

  // Adds an opener unless the sharing rules forbid it; 0 when refused.
  uint32_t AddOpener(bool exclusive);
  // Removes an opener; returns true when it was the last one (the file then has no openers).
  bool RemoveOpener(uint32_t id);
  TOpener* FindOpener(uint32_t id);
  // LockRegion, and with byteRegions LockAdjacentRegions.
  bool LockSpan(uint64_t start, uint64_t length, bool byteRegions);

  std::string name_;  // guarded by the owning list's mutex
  bool exclusive_ = false;
  std::vector<TOpener> openers_;
  uint32_t nextOpenerId_ = 1;
  std::map<uint64_t, TLockedRegion> regions_;  // by start
};

// A file on disk with its one OS handle, reached through the disk that opened it.
class TPhysicalFile final : public TAbstractFile {
 public:
  ~TPhysicalFile() override;
  bool InMemory() const override { return false; }
  // The OS file descriptor; -1 once the last opener has closed.
  int Handle() const;

  // The operating-system side of open, create, delete and rename. `path` is the name on disk;
  // failures raise EEngineError with `errorName` in place of the table name.
  // `status`, when given, is a stat of `path` the caller has just taken, which saves taking
  // another.
  static std::shared_ptr<TPhysicalFile> OpenOs(const std::shared_ptr<TDisk>& disk,
                                               const std::string& path, bool exclusive,
                                               const std::string& errorName,
                                               const struct stat* status = nullptr);
  // Creates or truncates the file. Refused (11013) while another handle anywhere has it open,
  // so a file in use is never truncated.
  static std::shared_ptr<TPhysicalFile> CreateOs(const std::shared_ptr<TDisk>& disk,
                                                 const std::string& path, bool exclusive,
                                                 bool temporary, const std::string& errorName);
  // Refused (11013) while another handle anywhere has the file open or when it is read-only.
  static void DeleteOs(TDisk& disk, const std::string& path, const std::string& errorName);
  // Refused (11013) while another handle anywhere has the file open; never replaces an
  // existing file (EEXIST, 11047).
  static void RenameOs(TDisk& disk, const std::string& oldPath, const std::string& newPath,
                       const std::string& errorName);

 protected:
  TIoResult DoSize() override;
  TIoResult DoRead(uint64_t position, void* buffer, std::size_t count) override;
  TIoResult DoWrite(uint64_t position, const void* buffer, std::size_t count) override;
  TIoResult DoFlush() override;
  bool DoLock(uint64_t start, uint64_t length) override;
  bool DoUnlock(uint64_t start, uint64_t length) override;
  void DoLastOpenerClosed() override;

 private:
  TPhysicalFile(std::shared_ptr<TDisk> disk, std::string path, int fd);
  void CloseHandle();

  std::shared_ptr<TDisk> disk_;
  int fd_ = -1;
};

// A file held in memory. Bytes of the block past the logical size are always zero, so growing
// the file (by a write past its end or a truncation upwards) shows zeros.
class TMemoryFile final : public TAbstractFile {
 public:
  static constexpr std::size_t kGrowStep = 4096;

  explicit TMemoryFile(std::string name, bool temporary);
  bool InMemory() const override { return true; }
  // Bytes reserved for the contents: a multiple of kGrowStep.
  std::size_t Capacity() const;
  // Empties the file (create over an existing memory file).
  void Reset(bool temporary);

 protected:
  TIoResult DoSize() override;
  TIoResult DoRead(uint64_t position, void* buffer, std::size_t count) override;
  TIoResult DoWrite(uint64_t position, const void* buffer, std::size_t count) override;
  TIoResult DoFlush() override;
  bool DoLock(uint64_t start, uint64_t length) override;
  bool DoUnlock(uint64_t start, uint64_t length) override;
  void DoLastOpenerClosed() override;

 private:
  // Makes the block hold at least `size` bytes; ENOMEM or EFBIG when it cannot.
  int Reserve(uint64_t size);

  std::vector<unsigned char> block_;  // block_.size() is the capacity
  uint64_t size_ = 0;
};

// The list of open files. One per process (Process()); tests may make their own, which then
// behave like another process's list (separate OS handles, so their locks and share modes
// meet through the kernel).
//
// Open, Create, Delete and Rename raise EEngineError with `name` (the caller's file name) in
// place of the table name.
class TFileList {
 public:
  struct TOpened {
    std::shared_ptr<TAbstractFile> file;
    uint32_t openerId = 0;
  };

  TFileList() = default;
  TFileList(const TFileList&) = delete;
  TFileList& operator=(const TFileList&) = delete;

  static const std::shared_ptr<TFileList>& Process();

  // The disk that files opened or created from now on go through (the real one unless set);
  // files already open keep theirs.
  void SetDisk(std::shared_ptr<TDisk> disk);
  std::shared_ptr<TDisk> Disk();

  // Adds an opener to the file of that name and kind, opening it when not yet in the list.
  // 11010 when no such file exists; 11013 when it is open exclusively, or when an exclusive
  // open meets existing openers (in this process or, for files on disk, any other).
  TOpened Open(const std::string& name, bool inMemory, bool exclusive);
  // Creates the file (emptying an existing one) and adds an opener. 11013 when it is open.
  TOpened Create(const std::string& name, bool inMemory, bool exclusive, bool temporary);
  // Drops an opener. When the last goes, a physical file's handle closes and it leaves the
  // list (a temporary one is deleted from disk); a memory file stays with its contents,
  // except a temporary one, which is deleted.
  void Close(const std::shared_ptr<TAbstractFile>& file, uint32_t openerId);
  // Both refuse (11013) while the file has openers, and 11010 when it does not exist.
  void Delete(const std::string& name, bool inMemory);
  void Rename(const std::string& oldName, const std::string& newName, bool inMemory);

  bool Exists(const std::string& name, bool inMemory);
  std::shared_ptr<TAbstractFile> Find(const std::string& name, bool inMemory);
  std::size_t Count();

  // Holds the list's mutex, e.g. around a whole copy operation.
  std::unique_lock<std::recursive_mutex> Lock() {
    return std::unique_lock<std::recursive_mutex>(mutex_);
  }

 private:
  std::shared_ptr<TAbstractFile> FindLocked(std::string_view key, bool inMemory) const;
  void Remove(const TAbstractFile* file);

  std::recursive_mutex mutex_;
  std::vector<std::shared_ptr<TAbstractFile>> files_;
  std::shared_ptr<TDisk> disk_ = TDisk::Real();
};

// ---- file names and OS errors ----------------------------------------------------------

// The name with leading and trailing blanks and control characters removed.
std::string TrimFileName(std::string_view name);

// True when two names are equal letter case aside: ASCII letters match either case; a GBK
// lead byte (0x81-0xFE) and the byte after it must match exactly.
bool SameFileName(std::string_view a, std::string_view b);

// How the file list matches names (both already trimmed): memory files by SameFileName on the
// whole name; files on disk by the exact directory part and SameFileName on the last component,
// the same rule ResolveFileName applies on disk.
bool SameListedName(std::string_view a, std::string_view b, bool inMemory);

struct TResolvedFileName {
  std::string path;  // the path on disk when found, else the path as given
  bool exists = false;
  // The stat of `path` the lookup took on its way, when it took one (then status holds it).
  bool hasStatus = false;
  struct stat status {};
};

// Looks for the file that `path` names in its directory, letter case aside: table files are
// written as "name.DAT" and still found as "NAME.dat". Only the last path component is
// matched this way. Raises 11013 (with `errorName`) when two files on disk match. Answers
// from a kept listing (TListingCache) only when the disk agrees: the one file found still
// exists, or, when none is found, neither does the exact name; otherwise it reads the
// directory afresh.
TResolvedFileName ResolveFileName(const std::string& path, const std::string& errorName,
                                  TDisk& disk = *TDisk::Real());

// The engine error code for an OS error number (errno).
int32_t EngineCodeForOsError(int osError);

// Raises the engine error for an OS error number, naming the file.
[[noreturn]] void RaiseFileError(int osError, const std::string& fileName);

}  // namespace mt
