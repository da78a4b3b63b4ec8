// The archive reader: end record search, central directory, rebuild from local headers and
// extraction through temporary files.
#include "archive/zipreader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <system_error>

#include "engine/common/crc32.h"

namespace mt {
namespace {

constexpr std::size_t kChunk = 64 * 1024;
// The rebuild scan lets the GUI breathe after this many bytes.
constexpr uint64_t kScanMessageStep = 10240;
// Self-extracting archives carry their program before the first entry.
constexpr uint64_t kSelfExtractorSkip = 14000;
// Share modes of other processes are byte-range locks at and above this offset (the table
// engine's emulation of deny-none and exclusive opening); a write lock there fails while
// any other program holds the file open.
constexpr off_t kShareLockOffset = off_t{1} << 32;

// An entry that cannot be written; caught per entry and listed as a failure.
class EEntryFailed : public EZipError {
 public:
  using EZipError::EZipError;
};

std::string ErrnoText(int error) {
  return std::system_category().message(error);
}

bool EndsWithNoCase(const std::string& text, std::string_view suffix) {
  if (text.size() < suffix.size()) return false;
  return std::equal(suffix.begin(), suffix.end(), text.end() - suffix.size(), [](char a, char b) {
    return std::toupper(static_cast<unsigned char>(a)) ==
           std::toupper(static_cast<unsigned char>(b));
  });
}

// Creates dir and its missing parents.
void MakeDirectories(const std::string& dir) {
  struct stat st {};
  if (::stat(dir.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return;
    throw EFileError::Create(dir, ENOTDIR);
  }
  const std::size_t slash = dir.find_last_of('/');
  if (slash != std::string::npos && slash > 0) MakeDirectories(dir.substr(0, slash));
  if (::mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST) throw EFileError::Create(dir, errno);
}

// A file name that stays inside the destination folder.
bool IsSafeFileName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
         name.find('\0') == std::string::npos;
}

// Removes a temporary file unless it was put in place.
class TTemporaryFile {
 public:
  explicit TTemporaryFile(const std::string& dir) {
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
      path_ = dir + "/.mtzip-" + std::to_string(::getpid()) + "-" +
              std::to_string(counter.fetch_add(1)) + ".tmp";
      const int fd =
          ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
      if (fd >= 0) {
        fd_ = TFileDescriptor(fd);
        return;
      }
      if (errno != EEXIST) break;
    }
    const int error = errno;
    path_.clear();
    throw EEntryFailed("cannot create a temporary file: " + ErrnoText(error));
  }
  ~TTemporaryFile() {
    fd_.Reset();
    if (!path_.empty()) ::unlink(path_.c_str());
  }
  TTemporaryFile(const TTemporaryFile&) = delete;
  TTemporaryFile& operator=(const TTemporaryFile&) = delete;

  int Fd() const { return fd_.Get(); }
  // Closes the file and moves it to target.
  void PutInPlace(const std::string& target) {
    if (const int error = fd_.Close(); error != 0) {
      throw EEntryFailed("cannot write the file: " + ErrnoText(error));
    }
    if (::rename(path_.c_str(), target.c_str()) != 0) {
      throw EEntryFailed("cannot replace the file: " + ErrnoText(errno));
    }
    path_.clear();
  }

 private:
  std::string path_;
  TFileDescriptor fd_;
};

// Receives an entry's decoded bytes: writes them (unless fd is -1: a check that writes
// nothing), sums their CRC-32 and refuses more bytes than the entry announced.
class TEntrySink {
 public:
  TEntrySink(int fd, uint32_t expectedSize, const std::function<void()>& afterBlock)
      : fd_(fd), expectedSize_(expectedSize), afterBlock_(afterBlock) {}

  void Write(const unsigned char* data, std::size_t n) {
    if (n == 0) return;
    if (n > expectedSize_ - written_) throw EEntryTooLarge();
    if (fd_ >= 0 && !WriteAll(fd_, data, n))
      throw EEntryFailed("cannot write the file: " + ErrnoText(errno));
    crc_ = Crc32(crc_, data, n);
    written_ += n;
    afterBlock_();
  }
  uint64_t Written() const { return written_; }
  uint32_t Crc() const { return crc_; }

 private:
  int fd_;
  uint64_t expectedSize_;
  const std::function<void()>& afterBlock_;
  uint64_t written_ = 0;
  uint32_t crc_ = 0;
};

class TInflater {
 public:
  TInflater() {
    if (inflateInit2(&stream_, -MAX_WBITS) != Z_OK) throw EZipError("Out of memory");
  }
  ~TInflater() { inflateEnd(&stream_); }
  TInflater(const TInflater&) = delete;
  TInflater& operator=(const TInflater&) = delete;
  z_stream& Stream() { return stream_; }

 private:
  z_stream stream_{};
};

void CopyStored(int archiveFd, uint64_t offset, uint64_t size, TEntrySink& sink) {
  std::vector<unsigned char> buffer(kChunk);
  while (size > 0) {
    const std::size_t want = static_cast<std::size_t>(std::min<uint64_t>(size, kChunk));
    const std::size_t got = ReadAt(archiveFd, buffer.data(), want, offset);
    if (got == 0) throw EEntryFailed("the archive ends inside the entry");
    sink.Write(buffer.data(), got);
    offset += got;
    size -= got;
  }
}

void Inflate(int archiveFd, uint64_t offset, uint64_t size, TEntrySink& sink) {
  TInflater inflater;
  z_stream& zs = inflater.Stream();
  std::vector<unsigned char> in(kChunk);
  std::vector<unsigned char> out(kChunk);
  int status = Z_OK;
  while (status != Z_STREAM_END) {
    if (zs.avail_in == 0) {
      if (size == 0) throw EEntryFailed("the compressed data end too early");
      const std::size_t want = static_cast<std::size_t>(std::min<uint64_t>(size, kChunk));
      const std::size_t got = ReadAt(archiveFd, in.data(), want, offset);
      if (got == 0) throw EEntryFailed("the archive ends inside the entry");
      offset += got;
      size -= got;
      zs.next_in = in.data();
      zs.avail_in = static_cast<uInt>(got);
    }
    zs.next_out = out.data();
    zs.avail_out = static_cast<uInt>(out.size());
    status = inflate(&zs, Z_NO_FLUSH);
    if (status != Z_OK && status != Z_STREAM_END) {
      throw EEntryFailed("the compressed data are damaged");
    }
    sink.Write(out.data(), out.size() - zs.avail_out);
  }
}

// Whether an existing target may be replaced; throws EEntryFailed when not.
void CheckReplaceable(const std::string& target, const struct stat& st) {
  if (!S_ISREG(st.st_mode)) throw EEntryFailed("the target is not a regular file");
  if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
    throw EEntryFailed("the existing file is read-only");
  }
  TFileDescriptor probe(::open(target.c_str(), O_WRONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
  if (!probe.IsOpen())
    throw EEntryFailed("the existing file cannot be replaced: " + ErrnoText(errno));
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = kShareLockOffset;
  lock.l_len = 0;
  if (::fcntl(probe.Get(), F_OFD_SETLK, &lock) != 0 && (errno == EAGAIN || errno == EACCES)) {
    throw EEntryFailed("the existing file is in use by another program");
  }
}

TZipEntry EntryFromLocalHeader(const TLocalHeader& local, std::string name, uint32_t offset) {
  TZipEntry entry;
  TCentralHeader& h = entry.header;
  h.versionMadeBy = zip::kVersion20;  // a local header does not say; MS-DOS conventions
  h.versionNeeded = local.versionNeeded;
  h.flags = local.flags;
  h.method = local.method;
  const TDosDateTime stamp = ClampDosDateTime({local.time, local.date});
  h.time = stamp.time;
  h.date = stamp.date;
  h.crc32 = local.crc32;
  h.compressedSize = local.compressedSize;
  h.uncompressedSize = local.uncompressedSize;
  h.nameLength = local.nameLength;
  h.extraLength = local.extraLength;
  h.localHeaderOffset = offset;
  entry.storedName = std::move(name);
  SplitEntryName(entry);
  return entry;
}

}  // namespace

void TUnzipArchive::SetZipName(const std::string& name) {
  if (name != zipName_) ClearDirectory();
  zipName_ = name;
}

void TUnzipArchive::ProcessMessages() const {
  if (onProcessMessages_) onProcessMessages_();
}

void TUnzipArchive::ClearDirectory() {
  hasDirectory_ = false;
  stamp_ = {};
  entries_.clear();
}

void TUnzipArchive::AdoptDirectory(std::vector<TZipEntry> entries) {
  ClearDirectory();
  struct stat st {};
  if (::stat(zipName_.c_str(), &st) != 0) return;
  entries_ = std::move(entries);
  stamp_ = StampOf(st);
  hasDirectory_ = true;
}

TFileDescriptor TUnzipArchive::OpenArchive(struct stat& st) const {
  // Non-blocking, so that a FIFO given as archive cannot hang the open.
  TFileDescriptor fd(::open(zipName_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (!fd.IsOpen()) throw EFileError::Open(zipName_, errno);
  if (::fstat(fd.Get(), &st) != 0) throw EFileError::Open(zipName_, errno);
  if (S_ISDIR(st.st_mode)) throw EFileError::Open(zipName_, EISDIR);
  if (!S_ISREG(st.st_mode)) throw EFileError::Open(zipName_, EINVAL);
  return fd;
}

void TUnzipArchive::ReadDirectory() {
  LoadDirectory(true);
}

TFileDescriptor TUnzipArchive::LoadDirectory(bool tolerateMissingEnd) {
  struct stat st {};
  TFileDescriptor fd;
  try {
    fd = OpenArchive(st);
  } catch (...) {
    ClearDirectory();
    throw;
  }
  if (hasDirectory_ && stamp_ == StampOf(st)) return fd;
  ClearDirectory();
  try {
    entries_ = ReadCentralDirectory(fd.Get(), static_cast<uint64_t>(st.st_size));
    hasDirectory_ = true;
    stamp_ = StampOf(st);
  } catch (const EIncompleteZip&) {
    ClearDirectory();
    if (!tolerateMissingEnd) throw;
  } catch (...) {
    ClearDirectory();
    throw;
  }
  return fd;
}

std::vector<TZipEntry> TUnzipArchive::ReadCentralDirectory(int fd, uint64_t size) const {
  // An empty file is an archive without entries.
  if (size == 0) return {};
  if (size < TEndRecord::kSize) throw EIncompleteZip();

  // The end record lies within the last 22 + 65535 bytes; the match nearest the end wins.
  const std::size_t tailSize =
      static_cast<std::size_t>(std::min<uint64_t>(size, TEndRecord::kSize + zip::kMaxComment));
  std::vector<uint8_t> tail(tailSize);
  if (ReadAt(fd, tail.data(), tailSize, size - tailSize) != tailSize) throw EIncompleteZip();
  TEndRecord end;
  bool found = false;
  for (std::size_t pos = tailSize - TEndRecord::kSize + 1; pos-- > 0;) {
    if (end.Decode(tail.data() + pos)) {
      found = true;
      break;
    }
  }
  if (!found || end.thisDisk > 999 || end.directoryDisk > 999 || end.thisDisk < end.directoryDisk ||
      static_cast<int32_t>(end.directoryOffset) < 0) {
    throw EIncompleteZip();
  }

  std::vector<TZipEntry> entries;
  uint64_t pos = end.directoryOffset;
  for (unsigned i = 0; i < end.entriesTotal; ++i) {
    uint8_t raw[TCentralHeader::kSize];
    TZipEntry entry;
    bool ok = ReadAt(fd, raw, sizeof raw, pos) == sizeof raw && entry.header.Decode(raw);
    if (ok) {
      entry.storedName.resize(entry.header.nameLength);
      ok = ReadAt(fd, entry.storedName.data(), entry.storedName.size(), pos + sizeof raw) ==
           entry.storedName.size();
    }
    if (!ok) return RebuildFromLocalHeaders(fd, size);
    pos += TCentralHeader::kSize + entry.header.nameLength + entry.header.extraLength +
           entry.header.commentLength;
    const TDosDateTime stamp = ClampDosDateTime({entry.header.time, entry.header.date});
    entry.header.time = stamp.time;
    entry.header.date = stamp.date;
    SplitEntryName(entry);
    entries.push_back(std::move(entry));
  }
  return entries;
}

std::vector<TZipEntry> TUnzipArchive::RebuildFromLocalHeaders(int fd, uint64_t size) const {
  // Find the first local header: its signature followed by a plausible version needed.
  uint64_t start = EndsWithNoCase(zipName_, ".EXE") ? kSelfExtractorSkip : 0;
  uint64_t first = size;
  std::vector<uint8_t> buffer(kChunk + 6);
  uint64_t nextMessage = start + kScanMessageStep;
  for (uint64_t at = start; at + 6 <= size && first == size;) {
    const std::size_t got = ReadAt(fd, buffer.data(), buffer.size(), at);
    if (got < 6) break;
    for (std::size_t i = 0; i + 6 <= got; ++i) {
      if (GetLe32(buffer.data() + i) == zip::kLocalHeaderSignature &&
          buffer[i + 5] < 10) {  // upper byte of version needed
        first = at + i;
        break;
      }
    }
    at += got - 5;  // the last 5 bytes start the next window: a signature may straddle it
    while (at >= nextMessage) {
      ProcessMessages();
      nextMessage += kScanMessageStep;
    }
  }
  if (first == size) throw EBadZipFile();

  // Read local headers one after the other until one does not read.
  std::vector<TZipEntry> entries;
  for (uint64_t pos = first; pos <= 0xFFFFFFFFu;) {
    uint8_t raw[TLocalHeader::kSize];
    TLocalHeader local;
    if (ReadAt(fd, raw, sizeof raw, pos) != sizeof raw || !local.Decode(raw)) break;
    std::string name(local.nameLength, '\0');
    if (ReadAt(fd, name.data(), name.size(), pos + sizeof raw) != name.size()) break;
    entries.push_back(EntryFromLocalHeader(local, std::move(name), static_cast<uint32_t>(pos)));
    pos += TLocalHeader::kSize + local.nameLength + local.extraLength + local.compressedSize;
    if (local.flags & zip::kFlagDataDescriptor) pos += zip::kDataDescriptorSize;
  }
  if (entries.empty()) throw EBadZipFile();
  return entries;
}

std::string TUnzipArchive::PrepareDestination(TFileDescriptor& fd, uint64_t& archiveSize) {
  failures_.clear();
  fd = LoadDirectory(true);
  if (!hasDirectory_) fd = LoadDirectory(false);  // raises EIncompleteZip

  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0) throw EFileError::Open(zipName_, errno);
  archiveSize = static_cast<uint64_t>(st.st_size);

  std::string dest = destDir_.empty() ? std::string(".") : destDir_;
  while (dest.size() > 1 && dest.back() == '/')
    dest.pop_back();
  return dest;
}

int TUnzipArchive::ForEachEntry(const std::function<void(const TZipEntry&)>& action) {
  int done = 0;
  for (const TZipEntry& entry : entries_) {
    if (entry.fileName.empty()) continue;  // a folder
    try {
      action(entry);
      ++done;
    } catch (const EEntryFailed& e) {
      failures_.push_back({entry.fileName, e.what()});
    } catch (const EEntryTooLarge& e) {
      failures_.push_back({entry.fileName, e.what()});
    }
  }
  return done;
}

int TUnzipArchive::ExtractAll() {
  TFileDescriptor fd;
  uint64_t archiveSize = 0;
  const std::string dest = PrepareDestination(fd, archiveSize);
  MakeDirectories(dest);
  return ForEachEntry([&](const TZipEntry& entry) {
    const std::string target = CheckTarget(entry, dest);
    TTemporaryFile temp(dest);
    DecodeEntry(fd.Get(), archiveSize, entry, temp.Fd());
    const TCentralHeader& h = entry.header;
    const std::time_t when = UnixFromDosDateTime(TDosDateTime{h.time, h.date});
    if (when != static_cast<std::time_t>(-1)) {
      const struct timespec times[2] = {{when, 0}, {when, 0}};
      ::futimens(temp.Fd(), times);
    }
    if (retainAttributes_ && (h.externalAttributes & zip::kAttrReadOnly)) {
      struct stat st {};
      if (::fstat(temp.Fd(), &st) == 0) {
        ::fchmod(temp.Fd(), st.st_mode & 07777 & ~(S_IWUSR | S_IWGRP | S_IWOTH));
      }
    }
    if (::fsync(temp.Fd()) != 0) throw EEntryFailed("cannot write the file: " + ErrnoText(errno));
    temp.PutInPlace(target);
  });
}

int TUnzipArchive::CheckAll() {
  TFileDescriptor fd;
  uint64_t archiveSize = 0;
  const std::string dest = PrepareDestination(fd, archiveSize);
  return ForEachEntry([&](const TZipEntry& entry) {
    CheckTarget(entry, dest);
    DecodeEntry(fd.Get(), archiveSize, entry, -1);
  });
}

std::string TUnzipArchive::CheckTarget(const TZipEntry& entry, const std::string& destDir) {
  const TCentralHeader& h = entry.header;
  if (!IsSafeFileName(entry.fileName)) throw EEntryFailed("the name is not a valid file name");
  const std::string target = destDir + "/" + entry.fileName;
  const TDosDateTime stamp{h.time, h.date};

  struct stat existing {};
  if (::lstat(target.c_str(), &existing) == 0) {
    bool replace = true;
    switch (overwriteMode_) {
      case TOverwriteMode::Always:
        break;
      case TOverwriteMode::Never:
        replace = false;
        break;
      case TOverwriteMode::Prompt:
        replace = onOverwritePrompt_ && onOverwritePrompt_(entry);
        break;
      case TOverwriteMode::IfNewer:
        replace = UnixFromDosDateTime(stamp) > existing.st_mtime;
        break;
      case TOverwriteMode::IfOlder:
        replace = UnixFromDosDateTime(stamp) < existing.st_mtime;
        break;
    }
    if (!replace) throw EEntryFailed("the existing file is kept");
    CheckReplaceable(target, existing);
  } else if (errno != ENOENT) {
    throw EEntryFailed("the target cannot be examined: " + ErrnoText(errno));
  }
  return target;
}

void TUnzipArchive::DecodeEntry(int archiveFd, uint64_t archiveSize, const TZipEntry& entry,
                                int outFd) {
  const TCentralHeader& h = entry.header;
  if (h.flags & zip::kFlagEncrypted) throw EEntryFailed("the entry is encrypted");
  if (h.method != zip::kMethodStored && h.method != zip::kMethodDeflated) {
    if (onMessageBox_) onMessageBox_("Unknown Compression Method", "Zip Error");
    throw EEntryFailed("Unknown Compression Method");
  }

  uint8_t raw[TLocalHeader::kSize];
  TLocalHeader local;
  if (ReadAt(archiveFd, raw, sizeof raw, h.localHeaderOffset) != sizeof raw || !local.Decode(raw)) {
    throw EEntryFailed("the entry's local header is missing");
  }
  const uint64_t dataOffset =
      uint64_t{h.localHeaderOffset} + TLocalHeader::kSize + local.nameLength + local.extraLength;
  if (dataOffset + h.compressedSize > archiveSize) {
    throw EEntryFailed("the archive ends inside the entry");
  }

  const std::function<void()> afterBlock = [this] { ProcessMessages(); };
  TEntrySink sink(outFd, h.uncompressedSize, afterBlock);
  if (h.method == zip::kMethodStored) {
    CopyStored(archiveFd, dataOffset, h.compressedSize, sink);
  } else {
    Inflate(archiveFd, dataOffset, h.compressedSize, sink);
  }
  if (sink.Written() != h.uncompressedSize || sink.Crc() != h.crc32) {
    throw EEntryFailed("CRC error");
  }
}

}  // namespace mt
