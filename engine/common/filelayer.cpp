// The process-wide file list, physical files (POSIX descriptors with OFD locks) and memory
// files.
#include "filelayer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>
#include <stdexcept>
#include <system_error>
#include <utility>

#include "engineerror.h"
#include "gbk.h"

namespace mt {

static_assert(sizeof(off_t) == 8, "the file layer needs 64-bit file offsets");

namespace {

constexpr uint64_t kMaxOffset = static_cast<uint64_t>(INT64_MAX);
constexpr mode_t kWriteBits = S_IWUSR | S_IWGRP | S_IWOTH;

// An owned file descriptor of a disk.
class TUniqueFd {
 public:
  TUniqueFd(TDisk& disk, int fd) : disk_(disk), fd_(fd) {}
  ~TUniqueFd() {
    if (fd_ >= 0) disk_.Close(fd_);
  }
  TUniqueFd(const TUniqueFd&) = delete;
  TUniqueFd& operator=(const TUniqueFd&) = delete;
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }
  void reset(int fd) {
    if (fd_ >= 0) disk_.Close(fd_);
    fd_ = fd;
  }

 private:
  TDisk& disk_;
  int fd_;
};

struct flock RegionLock(short type, uint64_t start, uint64_t length) {
  struct flock fl {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(start);
  fl.l_len = static_cast<off_t>(length);
  fl.l_pid = 0;  // required for open-file-description locks
  return fl;
}

bool SetOfdLock(TDisk& disk, int fd, short type, uint64_t start, uint64_t length) {
  struct flock fl = RegionLock(type, start, length);
  return disk.Lock(fd, F_OFD_SETLK, &fl) == 0;
}

// True when no other handle holds a lock on the share byte that a lock of `type` would meet.
bool ShareByteFree(TDisk& disk, int fd, short type) {
  struct flock fl = RegionLock(type, kShareLockOffset, 1);
  if (disk.Lock(fd, F_OFD_GETLK, &fl) != 0) return false;
  return fl.l_type == F_UNLCK;
}

// Takes the share-mode lock for a freshly opened descriptor. A descriptor opened only for
// reading cannot hold a write lock; an exclusive opener of such a file checks that nobody has
// the file open and then holds the read lock (nobody can change the file through this layer
// while its write permission is missing).
bool TakeShareLock(TDisk& disk, int fd, bool exclusive, bool readOnly) {
  if (!exclusive) return SetOfdLock(disk, fd, F_RDLCK, kShareLockOffset, 1);
  if (!readOnly) return SetOfdLock(disk, fd, F_WRLCK, kShareLockOffset, 1);
  return ShareByteFree(disk, fd, F_WRLCK) && SetOfdLock(disk, fd, F_RDLCK, kShareLockOffset, 1);
}

[[noreturn]] void RaiseCode(int32_t code, int osError, const std::string& fileName) {
  RaiseEngineErrorOs(code, osError, {.table = fileName});
}

bool IsBlankOrControl(char c) {
  return static_cast<unsigned char>(c) <= ' ';
}

char AsciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameInode(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The name with ASCII letters in lower case and GBK characters as they are: two names are the
// same file name (SameFileName) exactly when their folded forms are equal.
std::string FoldFileName(std::string_view name) {
  std::string folded(name);
  for (std::size_t i = 0; i < folded.size(); ++i) {
    if (IsGbkLeadByte(static_cast<unsigned char>(folded[i])) && i + 1 < folded.size()) {
      ++i;
      continue;
    }
    folded[i] = AsciiLower(folded[i]);
  }
  return folded;
}

// The directory ResolveFileName reads for a path, as it names it: the path up to and with its
// last slash, "/" for a file in the root, "." for a bare name.
std::string DirectoryOf(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return ".";
  if (slash == 0) return "/";
  return std::string(path.substr(0, slash + 1));
}

timespec WallClockNow() {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  return now;
}

bool SameTime(const timespec& a, const timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

std::chrono::nanoseconds SinceEpoch(const timespec& t) {
  return std::chrono::seconds(t.tv_sec) + std::chrono::nanoseconds(t.tv_nsec);
}

}  // namespace

// ---- the disk ---------------------------------------------------------------------------

const std::shared_ptr<TDisk>& TDisk::Real() {
  static const std::shared_ptr<TDisk> disk = std::make_shared<TDisk>();
  return disk;
}

int TDisk::Open(const std::string& path, int flags, mode_t mode) {
  if (flags & O_CREAT) listings_.Forget(DirectoryOf(path));
  int fd;
  do {
    fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  if (fd >= 0) ::posix_fadvise(fd, 0, 0, POSIX_FADV_RANDOM);
  return fd;
}

int TDisk::Close(int fd) {
  return ::close(fd);
}

int TDisk::Stat(const std::string& path, struct stat* st) {
  return ::stat(path.c_str(), st);
}

int TDisk::FStat(int fd, struct stat* st) {
  return ::fstat(fd, st);
}

ssize_t TDisk::ReadAt(int fd, void* buffer, std::size_t count, off_t offset) {
  return ::pread(fd, buffer, count, offset);
}

ssize_t TDisk::WriteAt(int fd, const void* buffer, std::size_t count, off_t offset) {
  return ::pwrite(fd, buffer, count, offset);
}

int TDisk::Truncate(int fd, off_t size) {
  return ::ftruncate(fd, size);
}

int TDisk::Sync(int fd) {
  return ::fsync(fd);
}

int TDisk::Lock(int fd, int command, struct flock* region) {
  return ::fcntl(fd, command, region);
}

int TDisk::Unlink(const std::string& path) {
  listings_.Forget(DirectoryOf(path));
  return ::unlink(path.c_str());
}

int TDisk::Rename(const std::string& from, const std::string& to, bool noReplace) {
  listings_.Forget(DirectoryOf(from));
  listings_.Forget(DirectoryOf(to));
  if (noReplace) return ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE);
  return ::rename(from.c_str(), to.c_str());
}

int TDisk::Exists(const std::string& path) {
  return ::access(path.c_str(), F_OK);
}

bool TDisk::List(const std::string& directory, std::vector<std::string>& names) {
  std::error_code ec;
  std::filesystem::directory_iterator it(directory, ec);
  if (ec) return false;
  for (; it != std::filesystem::directory_iterator(); it.increment(ec)) {
    if (ec) return false;
    names.push_back(it->path().filename().string());
  }
  return !ec;
}

// ---- kept directory listings --------------------------------------------------------------

bool TListingCache::StillHolds(const struct stat& listed, const timespec& listedAt,
                               const struct stat& now, std::chrono::nanoseconds margin) {
  if (!SameInode(listed, now) || listed.st_size != now.st_size ||
      !SameTime(listed.st_mtim, now.st_mtim) || !SameTime(listed.st_ctim, now.st_ctim))
    return false;
  // A change stamped later than the listing (a clock set back, a file server's clock ahead)
  // leaves the listing untrusted as well.
  const std::chrono::nanoseconds lastChange =
      std::max(SinceEpoch(listed.st_mtim), SinceEpoch(listed.st_ctim));
  return SinceEpoch(listedAt) - lastChange >= margin;
}

bool TListingCache::Match(TDisk& disk, const std::string& directory, std::string_view name,
                          bool fresh, std::vector<std::string>& matches, bool& cached) {
  const std::string folded = FoldFileName(name);
  const auto collect = [&](const TListing& listing) {
    auto it = std::lower_bound(
        listing.names.begin(), listing.names.end(), folded,
        [](const auto& entry, const std::string& key) { return entry.first < key; });
    for (; it != listing.names.end() && it->first == folded; ++it)
      matches.push_back(it->second);
  };
  matches.clear();
  cached = false;

  // The clock is read before the directory's stat: the listing is taken no earlier than this.
  const timespec listedAt = WallClockNow();
  struct stat stamp {};
  const bool stamped = disk.Stat(directory, &stamp) == 0 && S_ISDIR(stamp.st_mode);
  if (stamped && !fresh) {
    std::lock_guard<std::mutex> guard(mutex_);
    const auto it = listings_.find(directory);
    if (it != listings_.end() &&
        StillHolds(it->second.stamp, it->second.listedAt, stamp, Margin())) {
      collect(it->second);
      cached = true;
      return true;
    }
  }

  std::vector<std::string> entries;
  if (!disk.List(directory, entries)) {
    Forget(directory);
    return false;
  }
  TListing listing;
  listing.stamp = stamp;
  listing.listedAt = listedAt;
  listing.names.reserve(entries.size());
  for (std::string& entry : entries)
    listing.names.emplace_back(FoldFileName(entry), std::move(entry));
  std::sort(listing.names.begin(), listing.names.end());
  collect(listing);

  std::lock_guard<std::mutex> guard(mutex_);
  // A listing that could not be trusted later is not kept (nor one whose directory could not
  // be stamped).
  if (!stamped || !StillHolds(stamp, listedAt, stamp, Margin())) {
    listings_.erase(directory);
    return true;
  }
  if (listings_.size() >= kMaxListings && !listings_.contains(directory)) listings_.clear();
  listings_.insert_or_assign(directory, std::move(listing));
  return true;
}

void TListingCache::Forget(const std::string& directory) {
  std::lock_guard<std::mutex> guard(mutex_);
  listings_.erase(directory);
}

// ---- names and errors -------------------------------------------------------------------

std::string TrimFileName(std::string_view name) {
  std::size_t first = 0;
  std::size_t last = name.size();
  while (first < last && IsBlankOrControl(name[first]))
    ++first;
  while (last > first && IsBlankOrControl(name[last - 1]))
    --last;
  return std::string(name.substr(first, last - first));
}

bool SameFileName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && FoldFileName(a) == FoldFileName(b);
}

bool SameListedName(std::string_view a, std::string_view b, bool inMemory) {
  if (inMemory) return SameFileName(a, b);
  // On disk only the last component is matched letter case aside; directories differing in
  // case are different directories here.
  const std::size_t slashA = a.rfind('/');
  const std::size_t slashB = b.rfind('/');
  const std::size_t dirA = slashA == std::string_view::npos ? 0 : slashA + 1;
  const std::size_t dirB = slashB == std::string_view::npos ? 0 : slashB + 1;
  return a.substr(0, dirA) == b.substr(0, dirB) && SameFileName(a.substr(dirA), b.substr(dirB));
}

TResolvedFileName ResolveFileName(const std::string& path, const std::string& errorName,
                                  TDisk& disk) {
  const std::size_t slash = path.rfind('/');
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  const std::string prefix = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  const std::string dir = DirectoryOf(path);

  TResolvedFileName exact{path, false, false, {}};
  exact.exists = exact.hasStatus = disk.Stat(path, &exact.status) == 0;
  if (base.empty() || base == "." || base == "..") return exact;

  std::vector<std::string> matches;
  bool cached = false;
  // An unreadable directory: only the exact name can match.
  if (!disk.Listings().Match(disk, dir, base, false, matches, cached)) return exact;
  TResolvedFileName other{std::string(), true, false, {}};
  if (cached) {
    // A kept listing answers only what the disk confirms: its one match still exists, or it
    // has none and the exact name is missing too. Anything else (a file gone, two matches)
    // is read afresh before it is believed.
    bool confirmed = false;
    if (matches.empty()) {
      confirmed = !exact.exists;
    } else if (matches.size() == 1 && matches.front() == base) {
      confirmed = exact.exists;
    } else if (matches.size() == 1) {
      other.hasStatus = confirmed = disk.Stat(prefix + matches.front(), &other.status) == 0;
    }
    if (!confirmed && !disk.Listings().Match(disk, dir, base, true, matches, cached)) return exact;
  }
  if (matches.size() > 1) RaiseCode(err::kAccessDenied, 0, errorName);
  if (matches.empty()) return exact;
  if (matches.front() == base) {
    exact.exists = true;
    return exact;
  }
  // A stat taken before a fresh listing was read belongs to the kept listing's answer only.
  if (!cached) other.hasStatus = false;
  other.path = prefix + matches.front();
  return other;
}

int32_t EngineCodeForOsError(int osError) {
  switch (osError) {
    case ENOENT:
    case ENOTDIR:
      return err::kTableNotFound;
    case EMFILE:
    case ENFILE:
      return err::kTooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EROFS:
    case EAGAIN:
    case EISDIR:
    case ETXTBSY:
    case EBUSY:
      return err::kAccessDenied;
    case EBADF:
      return err::kInvalidHandle;
    case ENOMEM:
      return err::kOutOfMemory;
    case ENXIO:
    case ENODEV:
      return err::kDeviceAccessDenied;
    case EXDEV:
      return err::kTableMoved;
    default:
      return err::kUnknownOsError;
  }
}

void RaiseFileError(int osError, const std::string& fileName) {
  RaiseCode(EngineCodeForOsError(osError), osError, fileName);
}

// ---- TAbstractFile ----------------------------------------------------------------------

std::string TAbstractFile::Name() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return name_;
}

bool TAbstractFile::ReadOnly() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return readOnly_;
}

bool TAbstractFile::ReadOnlyAttribute() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return readOnlyAttribute_;
}

bool TAbstractFile::Exclusive() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return exclusive_;
}

bool TAbstractFile::Temporary() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return temporary_;
}

std::size_t TAbstractFile::OpenerCount() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return openers_.size();
}

std::vector<TLockedRegion> TAbstractFile::LockedRegions() const {
  std::lock_guard<std::mutex> guard(mutex_);
  std::vector<TLockedRegion> out;
  for (const auto& [start, region] : regions_)
    out.push_back(region);
  return out;
}

TAbstractFile::TOpener* TAbstractFile::FindOpener(uint32_t id) {
  for (auto& o : openers_)
    if (o.id == id) return &o;
  return nullptr;
}

uint32_t TAbstractFile::AddOpener(bool exclusive) {
  std::lock_guard<std::mutex> guard(mutex_);
  if (!openers_.empty() && (exclusive_ || exclusive)) return 0;
  if (nextOpenerId_ == 0) return 0;  // ids exhausted (after 2^32 - 1 opens)
  const uint32_t id = nextOpenerId_++;
  openers_.push_back({id, 0});
  exclusive_ = exclusive;
  return id;
}

bool TAbstractFile::RemoveOpener(uint32_t id) {
  std::lock_guard<std::mutex> guard(mutex_);
  auto it =
      std::find_if(openers_.begin(), openers_.end(), [id](const TOpener& o) { return o.id == id; });
  if (it == openers_.end()) return false;
  openers_.erase(it);
  if (!openers_.empty()) return false;
  exclusive_ = false;
  regions_.clear();
  DoLastOpenerClosed();
  return true;
}

TIoResult TAbstractFile::Size() {
  std::lock_guard<std::mutex> guard(mutex_);
  return DoSize();
}

TIoResult TAbstractFile::Position(uint32_t opener) {
  std::lock_guard<std::mutex> guard(mutex_);
  const TOpener* o = FindOpener(opener);
  if (!o) return {0, EBADF};
  return {o->position, 0};
}

TIoResult TAbstractFile::Seek(uint32_t opener, int64_t offset, TSeekOrigin origin) {
  std::lock_guard<std::mutex> guard(mutex_);
  TOpener* o = FindOpener(opener);
  if (!o) return {0, EBADF};
  uint64_t base = 0;
  if (origin == TSeekOrigin::Current) base = o->position;
  if (origin == TSeekOrigin::End) {
    TIoResult size = DoSize();
    if (size.osError) return size;
    base = size.value;
  }
  uint64_t target;
  if (offset < 0) {
    const uint64_t back = uint64_t{0} - static_cast<uint64_t>(offset);
    if (back > base) return {o->position, EINVAL};
    target = base - back;
  } else {
    if (static_cast<uint64_t>(offset) > kMaxOffset - std::min(base, kMaxOffset))
      return {o->position, EINVAL};
    target = base + static_cast<uint64_t>(offset);
  }
  o->position = target;
  return {target, 0};
}

TIoResult TAbstractFile::Read(uint32_t opener, uint64_t offset, void* buffer, std::size_t count) {
  std::lock_guard<std::mutex> guard(mutex_);
  TOpener* o = FindOpener(opener);
  if (!o) return {0, EBADF};
  if (offset != kCurrentPosition) o->position = offset;
  TIoResult r = DoRead(o->position, buffer, count);
  o->position += r.value;
  return r;
}

TIoResult TAbstractFile::Write(uint32_t opener, uint64_t offset, const void* buffer,
                               std::size_t count) {
  std::lock_guard<std::mutex> guard(mutex_);
  TOpener* o = FindOpener(opener);
  if (!o) return {0, EBADF};
  if (offset != kCurrentPosition) o->position = offset;
  TIoResult r = DoWrite(o->position, buffer, count);
  o->position += r.value;
  return r;
}

TIoResult TAbstractFile::Flush() {
  std::lock_guard<std::mutex> guard(mutex_);
  return DoFlush();
}

namespace {

bool ValidRegion(uint64_t start, uint64_t length) {
  if (length == 0 || start > kMaxOffset || length - 1 > kMaxOffset - start) return false;
  const uint64_t end = start + length - 1;
  return end < kShareLockOffset || start > kShareLockOffset;
}

}  // namespace

bool TAbstractFile::LockSpan(uint64_t start, uint64_t length, bool byteRegions) {
  std::lock_guard<std::mutex> guard(mutex_);
  if (openers_.empty() || !ValidRegion(start, length)) return false;
  const uint64_t end = start + length - 1;
  // The region starting last at or before `end` is the only one that can overlap, since the
  // locked regions never overlap each other.
  auto it = regions_.upper_bound(end);
  if (it != regions_.begin() && std::prev(it)->second.end >= start) return false;
  if (!DoLock(start, length)) return false;
  if (!byteRegions) {
    regions_.emplace_hint(it, start, TLockedRegion{start, end, length});
    return true;
  }
  for (uint64_t at = start; at <= end; ++at)
    it = std::next(regions_.emplace_hint(it, at, TLockedRegion{at, at, 1}));
  return true;
}

bool TAbstractFile::LockRegion(uint64_t start, uint64_t length) {
  return LockSpan(start, length, false);
}

bool TAbstractFile::LockAdjacentRegions(uint64_t start, uint64_t length) {
  return LockSpan(start, length, true);
}

bool TAbstractFile::UnlockRegion(uint64_t start, uint64_t length) {
  std::lock_guard<std::mutex> guard(mutex_);
  auto it = regions_.find(start);
  if (it == regions_.end() || it->second.length != length) return false;
  if (!DoUnlock(start, length)) return false;
  regions_.erase(it);
  return true;
}

bool TAbstractFile::UnlockAdjacentRegions(uint64_t start, uint64_t length) {
  std::lock_guard<std::mutex> guard(mutex_);
  if (length == 0) return false;
  const uint64_t end = start + length - 1;
  auto first = regions_.find(start);
  if (first == regions_.end()) return false;
  auto last = first;
  while (last->second.end < end) {
    auto next = std::next(last);
    if (next == regions_.end() || next->second.start != last->second.end + 1) return false;
    last = next;
  }
  if (last->second.end != end || !DoUnlock(start, length)) return false;
  regions_.erase(first, std::next(last));
  return true;
}

// ---- TPhysicalFile ----------------------------------------------------------------------

TPhysicalFile::TPhysicalFile(std::shared_ptr<TDisk> disk, std::string path, int fd)
    : TAbstractFile(std::move(path)), disk_(std::move(disk)), fd_(fd) {}

TPhysicalFile::~TPhysicalFile() {
  CloseHandle();
}

int TPhysicalFile::Handle() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return fd_;
}

void TPhysicalFile::CloseHandle() {
  if (fd_ < 0) return;
  // Unlink before closing: once the handle (and its share lock) is gone, another process may
  // create a file of this name, which the unlink must not remove.
  if (temporary_) disk_->Unlink(LockedName());
  disk_->Close(fd_);
  fd_ = -1;
}

std::shared_ptr<TPhysicalFile> TPhysicalFile::OpenOs(const std::shared_ptr<TDisk>& disk,
                                                     const std::string& path, bool exclusive,
                                                     const std::string& errorName,
                                                     const struct stat* status) {
  struct stat st {};
  if (status) {
    st = *status;
  } else if (disk->Stat(path, &st) != 0) {
    RaiseFileError(errno, errorName);
  }
  if (S_ISDIR(st.st_mode)) RaiseFileError(EISDIR, errorName);
  const bool readOnlyAttribute = (st.st_mode & kWriteBits) == 0;
  bool readOnly = readOnlyAttribute;
  TUniqueFd fd(*disk, disk->Open(path, readOnlyAttribute ? O_RDONLY : O_RDWR));
  if (fd.get() < 0 && !readOnlyAttribute) {
    // Writing is refused although the file does not say it is read-only (another owner, a
    // read-only file system): settle for reading.
    const int firstError = errno;
    TUniqueFd retry(*disk, disk->Open(path, O_RDONLY));
    if (retry.get() < 0) RaiseFileError(firstError, errorName);
    fd.reset(retry.release());
    readOnly = true;
  }
  if (fd.get() < 0) RaiseFileError(errno, errorName);
  if (!TakeShareLock(*disk, fd.get(), exclusive, readOnly)) RaiseFileError(EAGAIN, errorName);
  std::shared_ptr<TPhysicalFile> file(new TPhysicalFile(disk, path, fd.release()));
  file->readOnly_ = readOnly;
  file->readOnlyAttribute_ = readOnlyAttribute;
  return file;
}

std::shared_ptr<TPhysicalFile> TPhysicalFile::CreateOs(const std::shared_ptr<TDisk>& disk,
                                                       const std::string& path, bool exclusive,
                                                       bool temporary,
                                                       const std::string& errorName) {
  struct stat st {};
  if (disk->Stat(path, &st) == 0) {
    if (S_ISDIR(st.st_mode)) RaiseFileError(EISDIR, errorName);
    if ((st.st_mode & kWriteBits) == 0) RaiseFileError(EACCES, errorName);
  }
  TUniqueFd fd(*disk, disk->Open(path, O_RDWR | O_CREAT, 0666));
  if (fd.get() < 0) RaiseFileError(errno, errorName);
  // Truncate only once no other handle has the file open; then keep the share mode asked for.
  if (!SetOfdLock(*disk, fd.get(), F_WRLCK, kShareLockOffset, 1)) {
    RaiseFileError(EAGAIN, errorName);
  }
  if (disk->Truncate(fd.get(), 0) != 0) RaiseFileError(errno, errorName);
  if (!exclusive && !SetOfdLock(*disk, fd.get(), F_RDLCK, kShareLockOffset, 1))
    RaiseFileError(errno, errorName);
  std::shared_ptr<TPhysicalFile> file(new TPhysicalFile(disk, path, fd.release()));
  file->temporary_ = temporary;
  return file;
}

void TPhysicalFile::DeleteOs(TDisk& disk, const std::string& path, const std::string& errorName) {
  struct stat st {};
  if (disk.Stat(path, &st) != 0) RaiseFileError(errno, errorName);
  if (S_ISDIR(st.st_mode)) RaiseFileError(EISDIR, errorName);
  if ((st.st_mode & kWriteBits) == 0) RaiseFileError(EACCES, errorName);
  TUniqueFd fd(disk, disk.Open(path, O_RDWR));
  if (fd.get() < 0) RaiseFileError(errno, errorName);
  // Held across the unlink: anyone opening the file meanwhile is refused.
  if (!SetOfdLock(disk, fd.get(), F_WRLCK, kShareLockOffset, 1)) {
    RaiseFileError(EAGAIN, errorName);
  }
  if (disk.Unlink(path) != 0) RaiseFileError(errno, errorName);
}

void TPhysicalFile::RenameOs(TDisk& disk, const std::string& oldPath, const std::string& newPath,
                             const std::string& errorName) {
  struct stat st {};
  if (disk.Stat(oldPath, &st) != 0) RaiseFileError(errno, errorName);
  if (S_ISDIR(st.st_mode)) RaiseFileError(EISDIR, errorName);
  bool readOnly = false;
  TUniqueFd fd(disk, disk.Open(oldPath, O_RDWR));
  if (fd.get() < 0) {
    fd.reset(disk.Open(oldPath, O_RDONLY));
    readOnly = true;
  }
  if (fd.get() < 0) RaiseFileError(errno, errorName);
  if (!TakeShareLock(disk, fd.get(), true, readOnly)) RaiseFileError(EAGAIN, errorName);

  struct stat target {};
  const TResolvedFileName resolved = ResolveFileName(newPath, errorName, disk);
  if (resolved.exists && disk.Stat(resolved.path, &target) == 0 && !SameInode(st, target))
    RaiseFileError(EEXIST, errorName);
  if (disk.Rename(oldPath, newPath, true) == 0) return;
  if (errno != EINVAL && errno != ENOSYS) RaiseFileError(errno, errorName);
  // The file system cannot refuse replacing by itself.
  if (disk.Exists(newPath) == 0 && newPath != oldPath) RaiseFileError(EEXIST, errorName);
  if (disk.Rename(oldPath, newPath, false) != 0) RaiseFileError(errno, errorName);
}

TIoResult TPhysicalFile::DoSize() {
  struct stat st {};
  if (disk_->FStat(fd_, &st) != 0) return {0, errno};
  return {static_cast<uint64_t>(st.st_size), 0};
}

TIoResult TPhysicalFile::DoRead(uint64_t position, void* buffer, std::size_t count) {
  auto* out = static_cast<unsigned char*>(buffer);
  std::size_t done = 0;
  while (done < count) {
    if (position + done > kMaxOffset) return {done, EINVAL};
    const ssize_t n =
        disk_->ReadAt(fd_, out + done, count - done, static_cast<off_t>(position + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return {done, errno};
    }
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return {done, 0};
}

TIoResult TPhysicalFile::DoWrite(uint64_t position, const void* buffer, std::size_t count) {
  if (position > kMaxOffset || count > kMaxOffset - position) return {0, EFBIG};
  if (count == 0) {
    if (disk_->Truncate(fd_, static_cast<off_t>(position)) != 0) return {0, errno};
    return {0, 0};
  }
  const auto* in = static_cast<const unsigned char*>(buffer);
  std::size_t done = 0;
  while (done < count) {
    const ssize_t n =
        disk_->WriteAt(fd_, in + done, count - done, static_cast<off_t>(position + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return {done, errno};
    }
    if (n == 0) return {done, EIO};
    done += static_cast<std::size_t>(n);
  }
  return {done, 0};
}

TIoResult TPhysicalFile::DoFlush() {
  if (disk_->Sync(fd_) != 0) return {0, errno};
  return {0, 0};
}

bool TPhysicalFile::DoLock(uint64_t start, uint64_t length) {
  return SetOfdLock(*disk_, fd_, F_WRLCK, start, length);
}

bool TPhysicalFile::DoUnlock(uint64_t start, uint64_t length) {
  return SetOfdLock(*disk_, fd_, F_UNLCK, start, length);
}

void TPhysicalFile::DoLastOpenerClosed() {
  CloseHandle();
}

// ---- TMemoryFile ------------------------------------------------------------------------

TMemoryFile::TMemoryFile(std::string name, bool temporary) : TAbstractFile(std::move(name)) {
  temporary_ = temporary;
}

std::size_t TMemoryFile::Capacity() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return block_.size();
}

void TMemoryFile::Reset(bool temporary) {
  std::lock_guard<std::mutex> guard(mutex_);
  std::vector<unsigned char>().swap(block_);
  size_ = 0;
  temporary_ = temporary;
}

int TMemoryFile::Reserve(uint64_t size) {
  if (size <= block_.size()) return 0;
  if (size > kMaxOffset - kGrowStep) return EFBIG;
  const uint64_t capacity = (size + kGrowStep - 1) / kGrowStep * kGrowStep;
  if (capacity > block_.max_size()) return EFBIG;
  try {
    block_.resize(static_cast<std::size_t>(capacity));
  } catch (const std::bad_alloc&) {
    return ENOMEM;
  } catch (const std::length_error&) {
    return EFBIG;
  }
  return 0;
}

TIoResult TMemoryFile::DoSize() {
  return {size_, 0};
}

TIoResult TMemoryFile::DoRead(uint64_t position, void* buffer, std::size_t count) {
  if (position >= size_) return {0, 0};
  const std::size_t n = static_cast<std::size_t>(std::min<uint64_t>(count, size_ - position));
  if (n) std::memcpy(buffer, block_.data() + position, n);
  return {n, 0};
}

TIoResult TMemoryFile::DoWrite(uint64_t position, const void* buffer, std::size_t count) {
  if (position > kMaxOffset || count > kMaxOffset - position) return {0, EFBIG};
  const uint64_t end = position + count;
  if (const int e = Reserve(end)) return {0, e};
  if (count == 0) {
    // Truncation: clear what lies past the new end so later growth shows zeros.
    if (end < size_) std::fill(block_.begin() + end, block_.begin() + size_, 0);
    size_ = end;
    return {0, 0};
  }
  std::memcpy(block_.data() + position, buffer, count);
  size_ = std::max(size_, end);
  return {count, 0};
}

TIoResult TMemoryFile::DoFlush() {
  return {0, 0};
}

bool TMemoryFile::DoLock(uint64_t, uint64_t) {
  return true;
}

bool TMemoryFile::DoUnlock(uint64_t, uint64_t) {
  return true;
}

void TMemoryFile::DoLastOpenerClosed() {}

// ---- TFileList --------------------------------------------------------------------------

const std::shared_ptr<TFileList>& TFileList::Process() {
  static const std::shared_ptr<TFileList> list = std::make_shared<TFileList>();
  return list;
}

void TFileList::SetDisk(std::shared_ptr<TDisk> disk) {
  std::lock_guard<std::recursive_mutex> guard(mutex_);
  disk_ = disk ? std::move(disk) : TDisk::Real();
}

std::shared_ptr<TDisk> TFileList::Disk() {
  std::lock_guard<std::recursive_mutex> guard(mutex_);
  return disk_;
}

std::shared_ptr<TAbstractFile> TFileList::FindLocked(std::string_view key, bool inMemory) const {
  for (const auto& f : files_)
    if (f->InMemory() == inMemory && SameListedName(f->name_, key, inMemory)) return f;
  return nullptr;
}

void TFileList::Remove(const TAbstractFile* file) {
  files_.erase(std::remove_if(files_.begin(), files_.end(),
                              [file](const auto& f) { return f.get() == file; }),
               files_.end());
}

std::shared_ptr<TAbstractFile> TFileList::Find(const std::string& name, bool inMemory) {
  std::lock_guard<std::recursive_mutex> guard(mutex_);
  return FindLocked(TrimFileName(name), inMemory);
}

std::size_t TFileList::Count() {
  std::lock_guard<std::recursive_mutex> guard(mutex_);
  return files_.size();
}

bool TFileList::Exists(const std::string& name, bool inMemory) {
  std::lock_guard<std::recursive_mutex> guard(mutex_);
  const std::string key = TrimFileName(name);
  if (FindLocked(key, inMemory)) return true;
  if (inMemory) return false;
  return ResolveFileName(key, name, *disk_).exists;
}

TFileList::TOpened TFileList::Open(const std::string& name, bool inMemory, bool exclusive) {
  std::lock_guard<std::recursive_mutex> guard(mutex_);
  const std::string key = TrimFileName(name);
  std::shared_ptr<TAbstractFile> file = FindLocked(key, inMemory);
  if (file) {
    const uint32_t id = file->AddOpener(exclusive);
    if (id == 0) RaiseCode(err::kAccessDenied, EAGAIN, name);
    return {file, id};
  }
  if (inMemory) RaiseCode(err::kTableNotFound, ENOENT, name);
  const TResolvedFileName resolved = ResolveFileName(key, name, *disk_);
  if (!resolved.exists) RaiseCode(err::kTableNotFound, ENOENT, name);
  file = TPhysicalFile::OpenOs(disk_, resolved.path, exclusive, name,
                               resolved.hasStatus ? &resolved.status : nullptr);
  const uint32_t id = file->AddOpener(exclusive);
  files_.push_back(file);
  return {file, id};
}

TFileList::TOpened TFileList::Create(const std::string& name, bool inMemory, bool exclusive,
                                     bool temporary) {
  std::lock_guard<std::recursive_mutex> guard(mutex_);
  const std::string key = TrimFileName(name);
  std::shared_ptr<TAbstractFile> file = FindLocked(key, inMemory);
  if (file && file->OpenerCount() > 0) RaiseCode(err::kAccessDenied, EAGAIN, name);
  if (inMemory) {
    if (file) {
      static_cast<TMemoryFile&>(*file).Reset(temporary);
    } else {
      file = std::make_shared<TMemoryFile>(key, temporary);
      files_.push_back(file);
    }
    const uint32_t id = file->AddOpener(exclusive);
    if (id == 0) RaiseCode(err::kAccessDenied, EAGAIN, name);
    return {file, id};
  }
  const TResolvedFileName resolved = ResolveFileName(key, name, *disk_);
  file = TPhysicalFile::CreateOs(disk_, resolved.path, exclusive, temporary, name);
  const uint32_t id = file->AddOpener(exclusive);
  files_.push_back(file);
  return {file, id};
}

void TFileList::Close(const std::shared_ptr<TAbstractFile>& file, uint32_t openerId) {
  if (!file) return;
  std::lock_guard<std::recursive_mutex> guard(mutex_);
  if (!file->RemoveOpener(openerId)) return;
  if (!file->InMemory() || file->Temporary()) Remove(file.get());
}

void TFileList::Delete(const std::string& name, bool inMemory) {
  std::lock_guard<std::recursive_mutex> guard(mutex_);
  const std::string key = TrimFileName(name);
  std::shared_ptr<TAbstractFile> file = FindLocked(key, inMemory);
  if (file && file->OpenerCount() > 0) RaiseCode(err::kAccessDenied, EAGAIN, name);
  if (inMemory) {
    if (!file) RaiseCode(err::kTableNotFound, ENOENT, name);
    Remove(file.get());
    return;
  }
  const TResolvedFileName resolved = ResolveFileName(key, name, *disk_);
  if (!resolved.exists) RaiseCode(err::kTableNotFound, ENOENT, name);
  TPhysicalFile::DeleteOs(*disk_, resolved.path, name);
}

void TFileList::Rename(const std::string& oldName, const std::string& newName, bool inMemory) {
  std::lock_guard<std::recursive_mutex> guard(mutex_);
  const std::string oldKey = TrimFileName(oldName);
  const std::string newKey = TrimFileName(newName);
  std::shared_ptr<TAbstractFile> file = FindLocked(oldKey, inMemory);
  if (file && file->OpenerCount() > 0) RaiseCode(err::kAccessDenied, EAGAIN, oldName);
  std::shared_ptr<TAbstractFile> target = FindLocked(newKey, inMemory);
  if (target && target != file) {
    if (target->OpenerCount() > 0) RaiseCode(err::kAccessDenied, EAGAIN, oldName);
    RaiseCode(err::kUnknownOsError, EEXIST, oldName);
  }
  if (inMemory) {
    if (!file) RaiseCode(err::kTableNotFound, ENOENT, oldName);
    std::lock_guard<std::mutex> fileGuard(file->mutex_);
    file->name_ = newKey;
    return;
  }
  const TResolvedFileName resolved = ResolveFileName(oldKey, oldName, *disk_);
  if (!resolved.exists) RaiseCode(err::kTableNotFound, ENOENT, oldName);
  TPhysicalFile::RenameOs(*disk_, resolved.path, newKey, oldName);
}

}  // namespace mt
