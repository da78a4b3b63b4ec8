// The archive writer: local headers with their data, central directory, end record.
#include "archive/zipwriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <optional>
#include <vector>

#include "engine/common/crc32.h"

namespace mt {
namespace {

// Writes go through a buffer of this size; after each block the GUI may process messages.
constexpr std::size_t kWriteBuffer = 8192;
constexpr std::size_t kReadChunk = 64 * 1024;
// A file that ends within this many bytes fits the first deflate block; such a file is stored
// when compression would not make it smaller.
constexpr std::size_t kFirstBlock = 32768;
constexpr uint64_t kMax32 = 0xFFFFFFFFu;
constexpr std::size_t kMaxEntries = 0xFFFF;

// The archive file being written: an 8 KiB write buffer over the descriptor, the logical
// position, and the 32-bit size limit of the format.
class TArchiveOutput {
 public:
  TArchiveOutput(int fd, uint64_t limit, const std::function<void()>& afterBlock)
      : fd_(fd), limit_(limit), afterBlock_(afterBlock) {
    buffer_.reserve(kWriteBuffer);
  }

  uint64_t Position() const { return position_; }

  void Write(const void* data, std::size_t n) {
    if (n > limit_ - position_) {
      throw EArchiveLimit("The archive would be larger than the zip format allows");
    }
    const auto* in = static_cast<const unsigned char*>(data);
    while (n > 0) {
      const std::size_t take = std::min(n, kWriteBuffer - buffer_.size());
      buffer_.insert(buffer_.end(), in, in + take);
      in += take;
      n -= take;
      position_ += take;
      if (buffer_.size() == kWriteBuffer) Flush();
    }
  }

  void Flush() {
    if (buffer_.empty()) return;
    if (!WriteAll(fd_, buffer_.data(), buffer_.size())) throw ENotEnoughRoom();
    buffer_.clear();
    afterBlock_();
  }

  // Overwrites bytes already written (a completed local header).
  void Patch(uint64_t offset, const void* data, std::size_t n) {
    Flush();
    if (!WriteAllAt(fd_, data, n, offset)) throw ENotEnoughRoom();
  }

  // Drops everything from offset on (an entry that could not be completed).
  void Truncate(uint64_t offset) {
    Flush();
    if (::ftruncate(fd_, static_cast<off_t>(offset)) != 0 ||
        ::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) < 0) {
      throw ENotEnoughRoom();
    }
    position_ = offset;
  }

  // Flushes and makes the archive durable.
  void Finish() {
    Flush();
    if (::fsync(fd_) != 0 && errno != EINVAL) throw ENotEnoughRoom();
  }

 private:
  int fd_;
  uint64_t limit_;
  const std::function<void()>& afterBlock_;
  std::vector<unsigned char> buffer_;
  uint64_t position_ = 0;
};

class TDeflater {
 public:
  explicit TDeflater(int level) {
    if (deflateInit2(&stream_, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
      throw EZipError("Out of memory");
    }
  }
  ~TDeflater() { deflateEnd(&stream_); }
  TDeflater(const TDeflater&) = delete;
  TDeflater& operator=(const TDeflater&) = delete;
  z_stream& Stream() { return stream_; }

 private:
  z_stream stream_{};
};

// Deletes the archive being written unless it was completed.
class TPartialArchive {
 public:
  explicit TPartialArchive(std::string path) : path_(std::move(path)) {}
  ~TPartialArchive() {
    if (!path_.empty()) ::unlink(path_.c_str());
  }
  TPartialArchive(const TPartialArchive&) = delete;
  TPartialArchive& operator=(const TPartialArchive&) = delete;
  void Keep() { path_.clear(); }

 private:
  std::string path_;
};

// Text when bytes 0-6 and 128-255 are no more than a quarter (rounded down) of bytes 7-127.
uint16_t GuessText(const unsigned char* data, std::size_t n) {
  std::size_t binary = 0;
  std::size_t text = 0;
  for (std::size_t i = 0; i < n; ++i) {
    if (data[i] <= 6 || data[i] >= 128) {
      ++binary;
    } else {
      ++text;
    }
  }
  return binary > text / 4 ? 0 : zip::kInternalText;
}

struct TEntryData {
  uint16_t method = zip::kMethodDeflated;
  uint32_t crc32 = 0;
  uint64_t compressedSize = 0;
  uint64_t uncompressedSize = 0;
  uint16_t internalAttributes = 0;
};

// Writes one file's data at the output's position. Returns nothing when the file could not
// be read to its end.
std::optional<TEntryData> WriteEntryData(int in, int packLevel, TDeflater* deflater,
                                         TArchiveOutput& out) {
  TEntryData result;
  uint32_t crc = 0;
  std::vector<unsigned char> input(std::max(kReadChunk, kFirstBlock + 1));
  std::size_t got = 0;
  // The first read decides whether the file ends within the first block.
  if (!ReadSome(in, input.data(), kFirstBlock + 1, got)) return std::nullopt;
  result.internalAttributes = GuessText(input.data(), std::min(got, kFirstBlock));
  const uint64_t start = out.Position();

  const auto account = [&](std::size_t n) {
    crc = Crc32(crc, input.data(), n);
    result.uncompressedSize += n;
    if (result.uncompressedSize > kMax32) {
      throw EArchiveLimit("A file is larger than the zip format allows");
    }
  };

  if (packLevel == 0 || deflater == nullptr) {
    result.method = zip::kMethodStored;
    while (got > 0) {
      account(got);
      out.Write(input.data(), got);
      if (!ReadSome(in, input.data(), kReadChunk, got)) return std::nullopt;
    }
  } else {
    z_stream& zs = deflater->Stream();
    deflateReset(&zs);
    std::vector<unsigned char> output(kReadChunk);
    if (got <= kFirstBlock) {
      // The whole file is one block: store it when that is not longer than compressing it.
      account(got);
      std::vector<unsigned char> packed(deflateBound(&zs, static_cast<uLong>(got)));
      zs.next_in = input.data();
      zs.avail_in = static_cast<uInt>(got);
      zs.next_out = packed.data();
      zs.avail_out = static_cast<uInt>(packed.size());
      if (deflate(&zs, Z_FINISH) != Z_STREAM_END) throw EZipError("Compression failed");
      const std::size_t packedSize = packed.size() - zs.avail_out;
      if (got <= packedSize) {
        result.method = zip::kMethodStored;
        out.Write(input.data(), got);
      } else {
        out.Write(packed.data(), packedSize);
      }
    } else {
      bool finished = false;
      while (!finished) {
        account(got);
        const bool last = got == 0;
        zs.next_in = input.data();
        zs.avail_in = static_cast<uInt>(got);
        int status = Z_OK;
        do {
          zs.next_out = output.data();
          zs.avail_out = static_cast<uInt>(output.size());
          status = deflate(&zs, last ? Z_FINISH : Z_NO_FLUSH);
          if (status == Z_STREAM_ERROR) throw EZipError("Compression failed");
          out.Write(output.data(), output.size() - zs.avail_out);
        } while (zs.avail_out == 0 || (last && status != Z_STREAM_END));
        finished = last;
        if (!finished && !ReadSome(in, input.data(), kReadChunk, got)) return std::nullopt;
      }
    }
  }
  result.crc32 = crc;
  result.compressedSize = out.Position() - start;
  return result;
}

}  // namespace

int TZipArchive::WriteArchive() {
  std::vector<std::string> files;
  files.swap(filesList_);  // the list is empty afterwards, whatever happens
  const std::string archiveName = ZipName();
  if (archiveName.find_first_not_of(" \t") == std::string::npos) return 0;

  TFileDescriptor fd(::open(archiveName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
  if (!fd.IsOpen()) throw EFileError::Create(archiveName, errno);
  TPartialArchive partial(archiveName);
  ClearDirectory();
  struct stat archiveStat {};
  if (::fstat(fd.Get(), &archiveStat) != 0) throw EFileError::Create(archiveName, errno);

  const std::function<void()> afterBlock = [this] { ProcessMessages(); };
  TArchiveOutput out(fd.Get(), maxArchiveSize_, afterBlock);
  std::optional<TDeflater> deflater;
  if (packLevel_ > 0) deflater.emplace(packLevel_);
  std::vector<TZipEntry> written;

  for (const std::string& path : files) {
    if (path.empty() || path.back() == '/') continue;  // folders are never added
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    // Non-blocking, so that a file swapped for a FIFO meanwhile cannot hang the open.
    TFileDescriptor in(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!in.IsOpen() || ::fstat(in.Get(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    // The archive itself, listed by mistake, would grow while it is being read.
    if (st.st_dev == archiveStat.st_dev && st.st_ino == archiveStat.st_ino) continue;

    TZipEntry entry;
    entry.storedName = EntryNameFromPath(path);
    if (entry.storedName.empty() || entry.storedName.size() > 0xFFFF) continue;
    bool duplicate = false;
    for (const TZipEntry& other : written) {
      duplicate = duplicate || SameEntryName(other.storedName, entry.storedName);
    }
    if (duplicate) continue;
    if (written.size() == kMaxEntries) {
      throw EArchiveLimit("The archive would hold more files than the zip format allows");
    }

    const std::size_t slash = path.rfind('/');
    const bool hidden = path[slash == std::string::npos ? 0 : slash + 1] == '.';
    const TDosDateTime stamp = DosDateTimeFromUnix(st.st_mtim.tv_sec);
    TLocalHeader local;
    local.time = stamp.time;
    local.date = stamp.date;
    local.crc32 = 0xFFFFFFFFu;
    local.compressedSize = 0;
    local.uncompressedSize = static_cast<uint32_t>(std::min<uint64_t>(st.st_size, kMax32));
    local.nameLength = static_cast<uint16_t>(entry.storedName.size());
    const uint64_t headerOffset = out.Position();
    uint8_t raw[TLocalHeader::kSize];
    local.Encode(raw);
    out.Write(raw, sizeof raw);
    out.Write(entry.storedName.data(), entry.storedName.size());

    const std::optional<TEntryData> data =
        WriteEntryData(in.Get(), packLevel_, deflater ? &*deflater : nullptr, out);
    if (!data) {
      out.Truncate(headerOffset);  // the file could not be read through: leave it out
      continue;
    }
    local.method = data->method;
    local.crc32 = data->crc32;
    local.compressedSize = static_cast<uint32_t>(data->compressedSize);
    local.uncompressedSize = static_cast<uint32_t>(data->uncompressedSize);
    local.Encode(raw);
    out.Patch(headerOffset, raw, sizeof raw);

    TCentralHeader& h = entry.header;
    h.versionMadeBy = zip::kVersion20;
    h.versionNeeded = zip::kVersion20;
    h.flags = 0;
    h.method = local.method;
    h.time = local.time;
    h.date = local.date;
    h.crc32 = local.crc32;
    h.compressedSize = local.compressedSize;
    h.uncompressedSize = local.uncompressedSize;
    h.nameLength = local.nameLength;
    h.internalAttributes = data->internalAttributes;
    h.externalAttributes = zip::kAttrArchive;
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
      h.externalAttributes |= zip::kAttrReadOnly;
    if (hidden) h.externalAttributes |= zip::kAttrHidden;
    h.localHeaderOffset = static_cast<uint32_t>(headerOffset);
    SplitEntryName(entry);
    written.push_back(std::move(entry));
  }

  const uint64_t directoryOffset = out.Position();
  for (const TZipEntry& entry : written) {
    uint8_t raw[TCentralHeader::kSize];
    entry.header.Encode(raw);
    out.Write(raw, sizeof raw);
    out.Write(entry.storedName.data(), entry.storedName.size());
  }
  TEndRecord end;
  end.entriesOnDisk = static_cast<uint16_t>(written.size());
  end.entriesTotal = end.entriesOnDisk;
  end.directorySize = static_cast<uint32_t>(out.Position() - directoryOffset);
  end.directoryOffset = static_cast<uint32_t>(directoryOffset);
  uint8_t raw[TEndRecord::kSize];
  end.Encode(raw);
  out.Write(raw, sizeof raw);
  out.Finish();
  if (fd.Close() != 0) throw ENotEnoughRoom();
  partial.Keep();

  const int count = static_cast<int>(written.size());
  AdoptDirectory(std::move(written));
  return count;
}

}  // namespace mt
