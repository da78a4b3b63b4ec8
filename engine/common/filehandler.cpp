// TFileHandler: open/create/close/delete/rename through the file list, transfers with the
// engine's error codes, and the chunked (optionally deflated) copy to and from a disk file.
#include "filehandler.h"

#include <zlib.h>

#include <cerrno>
#include <stdexcept>
#include <vector>

#include "engineerror.h"

namespace mt {
namespace {

void PutU32(unsigned char* p, uint32_t v) {
  for (int i = 0; i < 4; ++i)
    p[i] = static_cast<unsigned char>(v >> (8 * i));
}

uint32_t GetU32(const unsigned char* p) {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i)
    v |= static_cast<uint32_t>(p[i]) << (8 * i);
  return v;
}

// Reports the percentage done whenever it has grown by the step since the last report.
class TProgress {
 public:
  TProgress(const TCopyOptions& options, uint64_t total) : options_(options), total_(total) {}
  void Advance(uint64_t done) {
    if (!options_.progress || total_ == 0) return;
    const int percent =
        static_cast<int>(static_cast<double>(done) * 100.0 / static_cast<double>(total_));
    const bool due = options_.progressStep <= 0 ? true : percent - last_ >= options_.progressStep;
    if (!due) return;
    last_ = percent;
    options_.progress(percent);
  }

 private:
  const TCopyOptions& options_;
  uint64_t total_;
  int last_ = 0;
};

}  // namespace

TFileHandler::TFileHandler(std::string name, bool inMemory, std::shared_ptr<TFileList> list)
    : list_(std::move(list)), name_(std::move(name)), inMemory_(inMemory) {
  if (!list_) throw std::invalid_argument("TFileHandler needs a file list");
}

TFileHandler::~TFileHandler() {
  // Close never fails on its own; the list's bookkeeping cannot throw here.
  TFileHandler::Close();
}

void TFileHandler::RequireClosed(const char* what) const {
  if (IsOpen()) throw std::logic_error(std::string("TFileHandler: ") + what + " while open");
}

void TFileHandler::SetName(std::string name) {
  RequireClosed("changing the name");
  name_ = std::move(name);
}

void TFileHandler::SetInMemory(bool inMemory) {
  RequireClosed("changing the kind");
  inMemory_ = inMemory;
}

void TFileHandler::SetTemporary(bool temporary) {
  RequireClosed("changing the temporary flag");
  temporary_ = temporary;
}

bool TFileHandler::Exists() const {
  return list_->Exists(name_, inMemory_);
}

void TFileHandler::Raise(int32_t code, int osError) const {
  RaiseEngineErrorOs(code, osError, {.table = name_});
}

TAbstractFile& TFileHandler::OpenFile() const {
  if (!file_) Raise(err::kInvalidHandle, EBADF);
  return *file_;
}

void TFileHandler::Open(bool exclusive) {
  if (IsOpen()) return;
  TFileList::TOpened opened = list_->Open(name_, inMemory_, exclusive);
  file_ = std::move(opened.file);
  openerId_ = opened.openerId;
  exclusive_ = exclusive;
  readOnly_ = file_->ReadOnly();
  readOnlyAttribute_ = file_->ReadOnlyAttribute();
}

void TFileHandler::Create(bool exclusive) {
  TFileList::TOpened opened = list_->Create(name_, inMemory_, exclusive, temporary_);
  file_ = std::move(opened.file);
  openerId_ = opened.openerId;
  exclusive_ = exclusive;
  readOnly_ = false;
  readOnlyAttribute_ = false;
}

void TFileHandler::Close() {
  if (!file_) return;
  std::shared_ptr<TAbstractFile> file = std::move(file_);
  file_.reset();
  list_->Close(file, openerId_);
  openerId_ = 0;
  exclusive_ = false;
}

void TFileHandler::Delete() {
  list_->Delete(name_, inMemory_);
}

void TFileHandler::Rename(const std::string& newName) {
  list_->Rename(name_, newName, inMemory_);
  name_ = newName;
}

std::size_t TFileHandler::ReadAt(uint64_t offset, void* buffer, std::size_t count,
                                 bool allowShort) {
  const TIoResult r = OpenFile().Read(openerId_, offset, buffer, count);
  if (r.osError) Raise(err::kReadError, r.osError);
  if (r.value < count && !allowShort) Raise(err::kReadError, 0);
  return static_cast<std::size_t>(r.value);
}

void TFileHandler::WriteAt(uint64_t offset, const void* buffer, std::size_t count) {
  const TIoResult r = OpenFile().Write(openerId_, offset, buffer, count);
  if (r.osError) Raise(err::kWriteError, r.osError);
  if (r.value < count) Raise(err::kWriteError, 0);
}

void TFileHandler::Flush() {
  const TIoResult r = OpenFile().Flush();
  if (r.osError) Raise(err::kWriteError, r.osError);
}

uint64_t TFileHandler::Seek(int64_t offset, TSeekOrigin origin) {
  const TIoResult r = OpenFile().Seek(openerId_, offset, origin);
  if (r.osError) RaiseFileError(r.osError, name_);
  return r.value;
}

uint64_t TFileHandler::Position() const {
  const TIoResult r = OpenFile().Position(openerId_);
  if (r.osError) RaiseFileError(r.osError, name_);
  return r.value;
}

uint64_t TFileHandler::Size() const {
  const TIoResult r = OpenFile().Size();
  if (r.osError) RaiseFileError(r.osError, name_);
  return r.value;
}

bool TFileHandler::LockRegion(uint64_t start, uint64_t length) {
  return OpenFile().LockRegion(start, length);
}

bool TFileHandler::UnlockRegion(uint64_t start, uint64_t length) {
  return OpenFile().UnlockRegion(start, length);
}

bool TFileHandler::LockAdjacentRegions(uint64_t start, uint64_t length) {
  return OpenFile().LockAdjacentRegions(start, length);
}

bool TFileHandler::UnlockAdjacentRegions(uint64_t start, uint64_t length) {
  return OpenFile().UnlockAdjacentRegions(start, length);
}

// ---- copies -----------------------------------------------------------------------------

void TFileHandler::SaveToFile(const std::string& target, const TCopyOptions& options) {
  OpenFile();
  auto guard = list_->Lock();
  TFileHandler out(target, false, list_);
  out.Create(true);
  try {
    CopyOut(out, options);
    out.Close();
  } catch (...) {
    out.Close();
    try {
      out.Delete();
    } catch (const EEngineError&) {
      // The copy's own error is the one to report.
    }
    throw;
  }
}

void TFileHandler::CopyOut(TFileHandler& target, const TCopyOptions& options) {
  const uint64_t total = Size();
  TProgress progress(options, total);
  std::vector<unsigned char> chunk(kCopyChunkSize);
  std::vector<unsigned char> frame;
  uint64_t done = 0;
  uint64_t written = 0;
  while (done < total) {
    const std::size_t n =
        static_cast<std::size_t>(std::min<uint64_t>(kCopyChunkSize, total - done));
    ReadAt(done, chunk.data(), n);
    if (options.compressed) {
      uLongf packed = compressBound(static_cast<uLong>(n));
      frame.resize(kCopyFrameHeaderSize + packed);
      if (compress2(frame.data() + kCopyFrameHeaderSize, &packed, chunk.data(),
                    static_cast<uLong>(n), 9) != Z_OK)
        RaiseEngineErrorOs(err::kCompressError, 0, {.table = name_});
      PutU32(frame.data(), static_cast<uint32_t>(n));
      PutU32(frame.data() + 4, static_cast<uint32_t>(packed));
      const std::size_t frameSize = kCopyFrameHeaderSize + packed;
      target.WriteAt(written, frame.data(), frameSize);
      written += frameSize;
    } else {
      target.WriteAt(written, chunk.data(), n);
      written += n;
    }
    done += n;
    progress.Advance(done);
  }
}

void TFileHandler::LoadFromFile(const std::string& source, const TCopyOptions& options) {
  OpenFile();
  auto guard = list_->Lock();
  TFileHandler in(source, false, list_);
  in.Open(false);
  if (in.File() == file_) Raise(err::kAccessDenied, EBUSY);
  CopyIn(in, options);
  in.Close();
}

void TFileHandler::CopyIn(TFileHandler& source, const TCopyOptions& options) {
  const uint64_t total = source.Size();
  TProgress progress(options, total);
  std::vector<unsigned char> chunk(kCopyChunkSize);
  std::vector<unsigned char> packed;
  const uLong maxPacked = compressBound(kCopyChunkSize);
  auto damaged = [&] { RaiseEngineErrorOs(err::kUncompressError, 0, {.table = source.Name()}); };
  uint64_t done = 0;
  uint64_t written = 0;
  while (done < total) {
    std::size_t n;
    if (options.compressed) {
      unsigned char header[kCopyFrameHeaderSize];
      if (total - done < kCopyFrameHeaderSize) damaged();
      source.ReadAt(done, header, sizeof header);
      const uint32_t raw = GetU32(header);
      const uint32_t size = GetU32(header + 4);
      if (raw == 0 || raw > kCopyChunkSize || size == 0 || size > maxPacked ||
          size > total - done - kCopyFrameHeaderSize)
        damaged();
      packed.resize(size);
      source.ReadAt(done + kCopyFrameHeaderSize, packed.data(), size);
      uLongf out = raw;
      if (uncompress(chunk.data(), &out, packed.data(), size) != Z_OK || out != raw) damaged();
      n = raw;
      done += kCopyFrameHeaderSize + size;
    } else {
      n = static_cast<std::size_t>(std::min<uint64_t>(kCopyChunkSize, total - done));
      source.ReadAt(done, chunk.data(), n);
      done += n;
    }
    WriteAt(written, chunk.data(), n);
    written += n;
    progress.Advance(done);
  }
  Truncate(written);
}

}  // namespace mt
