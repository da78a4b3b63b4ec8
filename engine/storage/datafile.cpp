// TDataFile: the data file, its record cache and its counters.
#include "datafile.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "byteio.h"
#include "engine/common/debugcheck.h"
#include "engine/common/engineerror.h"
#include "engine/common/localetext.h"
#include "fieldtypes.h"
#include "indexlayout.h"
#include "scrambler.h"
#include "tabledef.h"

namespace mt {
namespace {

constexpr std::size_t kCacheGrowth = 64;

constexpr int kReadWindowBytes = 8192;
constexpr int kCacheBytes = 16384;
constexpr std::size_t kMaxCacheRecords = 8192;

// The moment of a header write: days since 30 December 1899 with the time as a fraction.
double HeaderMoment() {
  const TLocalMoment now = CurrentLocalMoment();
  return static_cast<double>(now.day - kDayOf18991230) +
         static_cast<double>(now.timeMs) / kMsPerDay;
}

int32_t NextWrapping(int32_t last) {
  return last >= std::numeric_limits<int32_t>::max() || last < 0 ? 1 : last + 1;
}

}  // namespace

std::unique_ptr<TRecord> TRecordStack::Take() {
  if (spare_.empty()) return std::make_unique<TRecord>();
  std::unique_ptr<TRecord> r = std::move(spare_.back());
  spare_.pop_back();
  return r;
}

void TRecordStack::Give(std::unique_ptr<TRecord> record) {
  if (spare_.size() >= kMaxSpare) return;  // dropped
  record->owner_ = nullptr;
  record->detached_ = false;
  record->dirty_ = false;
  record->pins_ = 0;
  record->number_ = 0;
  record->newer_ = record->older_ = nullptr;
  spare_.push_back(std::move(record));
}

TDataFile::TDataFile(std::string fileName, bool inMemory, std::string tableName)
    : TTableFile(std::move(fileName), inMemory), tableName_(std::move(tableName)) {}

TDataFile::~TDataFile() {
  // A destructor cannot report a failed write; callers close explicitly to see errors.
  try {
    TDataFile::Close();
  } catch (const std::exception&) {
    TFileHandler::Close();
  }
}

void TDataFile::Raise(int32_t code) const {
  RaiseEngineError(code, {.table = tableName_});
}

void TDataFile::RaiseHeaderCorrupt() const {
  Raise(err::kHeaderCorrupt);
}

void TDataFile::EncodeHeader(const TDataFileHeader& h, uint8_t* out) {
  if (h.encrypted == 0) {
    EncodeDataFileHeader(h, out);
    return;
  }
  TDataFileHeader stored = h;
  stored.password = ScrambleText(h.password);
  stored.description = ScrambleText(h.description);
  EncodeDataFileHeader(stored, out);
}

TDataFileHeader TDataFile::DecodeHeader(const uint8_t* in) {
  TDataFileHeader h = DecodeDataFileHeader(in);
  if (h.encrypted != 0) {
    h.password = ScrambleText(h.password);
    h.description = ScrambleText(h.description);
  }
  return h;
}

TDataFileHeader TDataFile::ReadHeader() {
  uint8_t head[dfh::kSize];
  if (ReadAt(0, head, sizeof head, true) != sizeof head) Raise(err::kHeaderCorrupt);
  TDataFileHeader h = DecodeHeader(head);
  storedCounter_ = h.changeCounter;
  return h;
}

int64_t TDataFile::RecordOffset(int32_t n) const {
  return RecordsOffset(header_.fieldCount) + static_cast<int64_t>(n - 1) * header_.recordSize;
}

// ---- creating and loading -------------------------------------------------------------

void TDataFile::CreateTable(const TDataFileHeader& header,
                            const std::vector<TFieldDescriptor>& fields) {
  header_ = header;
  header_.engineVersion = kEngineVersion;
  header_.lastWrite = HeaderMoment();
  fields_ = fields;
  for (std::size_t i = 0; i < fields_.size(); ++i)
    fields_[i].position = static_cast<int>(i + 1);

  std::vector<uint8_t> bytes(RecordsOffset(header_.fieldCount));
  EncodeHeader(header_, bytes.data());
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    uint8_t* d = bytes.data() + dfh::kSize + i * fdl::kSize;
    EncodeFieldDescriptor(fields_[i], d);
    if (Encrypted()) ScrambleBlock(d, fdl::kSize);
  }
  Create();
  WriteAt(0, bytes.data(), bytes.size());
  storedCounter_ = header_.changeCounter;
  headerDirty_ = descriptorsDirty_ = false;
  RebuildFormat();
  ApplyCacheSizing();
  ClearCache();
}

void TDataFile::Load() {
  ClearCache();
  const uint64_t length = Size();
  TDataFileHeader h = ReadHeader();
  ValidateDataFileHeaderStart(h, tableName_);

  std::vector<uint8_t> bytes(static_cast<std::size_t>(h.fieldCount) * fdl::kSize);
  if (!bytes.empty() && ReadAt(dfh::kSize, bytes.data(), bytes.size(), true) != bytes.size()) {
    Raise(err::kHeaderCorrupt);
  }
  std::vector<TFieldDescriptor> fields;
  fields.reserve(h.fieldCount);
  for (std::size_t i = 0; i < h.fieldCount; ++i) {
    uint8_t* d = bytes.data() + i * fdl::kSize;
    if (h.encrypted != 0) ScrambleBlock(d, fdl::kSize);
    fields.push_back(DecodeFieldDescriptor(d));
  }
  ValidateDataFile(h, fields, static_cast<int64_t>(length), tableName_);
  header_ = h;
  fields_ = std::move(fields);
  headerDirty_ = descriptorsDirty_ = false;
  RebuildFormat();
  ApplyCacheSizing();
}

void TDataFile::ReloadHeader() {
  TDataFileHeader h = ReadHeader();
  if (h.version != kFormatVersion) Raise(err::kWrongVersion);
  // Another process may change counters and chains, never the record layout.
  if (h.fieldCount != header_.fieldCount || h.recordSize != header_.recordSize) {
    Raise(err::kHeaderCorrupt);
  }
  header_ = h;
  headerDirty_ = false;
  ClearCache();
}

void TDataFile::Close() {
  CloseAfterWriting([this] { FlushAll(false); }, [this] { ClearCache(); });
}

void TDataFile::RebuildFormat() {
  format_ = TRecordFormat(fields_, header_.recordSize, LocaleId(), tableName_);
  if (virtualEvaluator_) format_.SetVirtualEvaluator(virtualEvaluator_);
}

void TDataFile::ApplyCacheSizing() {
  const int size = std::max<int>(header_.recordSize, 1);
  targetSize_ = std::clamp<std::size_t>(kCacheBytes / size, 1, kMaxCacheRecords);
  windowRecords_ = std::max(1, kReadWindowBytes / size);
  capacity_ = std::max(targetSize_, cache_.Size());
}

// ---- header information -------------------------------------------------------------

std::string TDataFile::Password() const {
  return Encrypted() ? header_.password : std::string();
}

uint32_t TDataFile::LocaleId() const {
  return MakeLocaleId(header_.languageId, header_.sortOrderId);
}

void TDataFile::SetDescription(std::string_view description) {
  const std::string text(CutGbk(description, kMaxDescriptionLength));
  header_.description = text;
  headerDirty_ = true;
}

void TDataFile::SetPassword(std::string_view password) {
  const std::string trimmed = TrimPassword(password);
  if (trimmed.empty() || !Encrypted()) Raise(err::kInvalidPassword);
  header_.password = trimmed;
  headerDirty_ = true;
}

void TDataFile::SetLocale(uint16_t languageId, uint16_t sortOrderId) {
  const uint32_t id = MakeLocaleId(languageId, sortOrderId);
  if (id != 0 && !IsLocaleInstalled(id)) Raise(err::kLanguageDriver);
  header_.languageId = languageId;
  header_.sortOrderId = sortOrderId;
  headerDirty_ = true;
  RebuildFormat();
}

void TDataFile::SetUserVersion(uint16_t major, uint16_t minor) {
  header_.userMajor = major;
  header_.userMinor = minor;
  headerDirty_ = true;
}

void TDataFile::SetLastAutoInc(int32_t value) {
  header_.lastAutoInc = value;
  headerDirty_ = true;
}

// ---- field descriptors ----------------------------------------------------------------

TFieldDescriptor TDataFile::FieldDescriptor(int fieldNo) const {
  return format_.Field(fieldNo);
}

std::optional<TFieldDescriptor> TDataFile::FieldDescriptor(std::string_view name) const {
  const int no = format_.FindField(name);
  if (no == 0) return std::nullopt;
  return format_.Field(no);
}

void TDataFile::SetFieldAttributes(int fieldNo, const TFieldDescriptor& attributes) {
  TFieldDescriptor f = format_.Field(fieldNo);
  std::string name(attributes.name);
  while (!name.empty() && (name.front() == ' ' || name.front() == '\t'))
    name.erase(0, 1);
  while (!name.empty() && (name.back() == ' ' || name.back() == '\t'))
    name.pop_back();
  name = std::string(CutGbk(name, kMaxFieldNameLength));
  if (name.empty() || !IsValidNameStart(name)) {
    RaiseEngineError(err::kInvalidFieldName, {.table = tableName_, .field = name});
  }
  const int other = format_.FindField(name);
  if (other != 0 && other != fieldNo) {
    RaiseEngineError(err::kInvalidFieldName, {.table = tableName_, .field = name});
  }
  // A new subtype must keep the field's bytes where they are.
  if (IsAutoIncField(f.type, attributes.subtype) != IsAutoIncField(f.type, f.subtype) ||
      FieldPhysicalSize(f.type, attributes.subtype, f.size) != f.physicalSize) {
    RaiseEngineError(err::kInvalidFieldDef, {.table = tableName_, .field = name});
  }
  f.name = name;
  f.subtype = attributes.subtype;
  f.description = std::string(CutGbk(attributes.description, kMaxDescriptionLength));
  f.required = attributes.required;
  f.minText = attributes.minText;
  f.maxText = attributes.maxText;
  f.defaultText = attributes.defaultText;
  if (f.minText.size() > fdl::kTextCapacity || f.maxText.size() > fdl::kTextCapacity ||
      f.defaultText.size() > fdl::kTextCapacity || !IsValidFieldText(f, f.minText) ||
      !IsValidFieldText(f, f.maxText) || !IsValidFieldText(f, f.defaultText)) {
    RaiseEngineError(err::kInvalidValidityCheck, {.table = tableName_, .field = name});
  }
  fields_[fieldNo - 1] = f;
  descriptorsDirty_ = true;
  RebuildFormat();
}

void TDataFile::SetVirtualEvaluator(TRecordFormat::TVirtualEvaluator evaluator) {
  virtualEvaluator_ = std::move(evaluator);
  RebuildFormat();
}

// ---- the record cache -----------------------------------------------------------------

void TDataFile::MakeRoom() {
  cache_.MakeRoom(
      capacity_, kCacheGrowth, deferWrites_,
      [this](std::unique_ptr<TRecord> r) { pool_.Give(std::move(r)); }, [this] { WriteBack(); });
}

TRecord* TDataFile::AddRecord(int32_t n) {
  MakeRoom();
  std::unique_ptr<TRecord> owned = pool_.Take();
  TRecord* r = owned.get();
  r->owner_ = this;
  r->number_ = n;
  r->dirty_ = false;
  r->pins_ = 0;
  r->image_.assign(header_.recordSize, 0);
  cache_.Insert(std::move(owned));
  return r;
}

void TDataFile::ReadWindow(int32_t n, TReadAhead ahead) {
  // The window ends at the table's last record (no look at the file's size for each read): a
  // record added and not yet written lies past the file's end, where the read comes back
  // short and only what the file holds is taken.
  const int64_t fileRecords = RecordCount();
  const int32_t count = ahead == TReadAhead::None ? 1 : windowRecords_;
  int64_t first = n;
  int64_t last = n;
  if (ahead == TReadAhead::Backward) {
    first = std::max<int64_t>(1, static_cast<int64_t>(n) - count + 1);
  } else {
    last = static_cast<int64_t>(n) + count - 1;
  }
  last = std::min(last, fileRecords);
  if (first > last) return;

  const std::size_t size = header_.recordSize;
  readBuffer_.resize(static_cast<std::size_t>(last - first + 1) * size);
  const std::size_t got = ReadAt(static_cast<uint64_t>(RecordOffset(static_cast<int32_t>(first))),
                                 readBuffer_.data(), readBuffer_.size(), true);
  ++reads_;
  const int32_t complete = static_cast<int32_t>(got / size);

  auto take = [&](int32_t m) {
    const uint8_t* src = readBuffer_.data() + static_cast<std::size_t>(m - first) * size;
    TRecord* r = cache_.Lookup(m);
    if (r != nullptr && r->dirty_) return;
    if (r == nullptr) r = AddRecord(m);
    std::memcpy(r->image_.data(), src, size);
    if (Encrypted()) ScrambleBlock(r->image_.data(), size);
    if (r->image_[rec::kState] == rec::kActive) le::PutI32(r->image_.data(), rec::kNumber, m);
  };
  // The wanted record comes last, so that making room for its neighbours never evicts it.
  for (int32_t i = 0; i < complete; ++i) {
    const int32_t m = static_cast<int32_t>(first) + i;
    if (m != n) take(m);
  }
  if (n >= first && n < first + complete) take(n);
}

TRecord* TDataFile::GetRecord(int32_t n, TReadAhead ahead, bool newSlot) {
  if (n <= 0) Raise(err::kRecordBuffersCorrupt);
  if (newSlot && n == header_.nextRecord) {
    if (n > kMaxRecordNumber || RecordOffset(n) + header_.recordSize > kMaxFileSize) {
      Raise(err::kTableFull);
    }
    TRecord* r = cache_.Find(n);
    if (r == nullptr) r = AddRecord(n);
    std::fill(r->image_.begin(), r->image_.end(), 0);
    le::PutI32(r->image_.data(), rec::kNumber, n);
    // Dirty at once: the file grows with the next record number, whatever the caller does.
    r->dirty_ = true;
    ++header_.nextRecord;
    headerDirty_ = true;
    ++r->pins_;
    return r;
  }
  if (TRecord* r = cache_.Find(n)) {
    ++hits_;
    ++r->pins_;
    return r;
  }
  if (changeCheck_ && changeCheck_()) return nullptr;
  ReadWindow(n, ahead);
  TRecord* r = cache_.Find(n);
  if (r == nullptr) Raise(err::kRecordBuffersCorrupt);
  ++r->pins_;
  return r;
}

int32_t TDataFile::ReadSlots(int32_t first, int32_t count, uint8_t* out) {
  if (first <= 0) Raise(err::kRecordBuffersCorrupt);
  count = std::min(count, RecordCount() - first + 1);
  if (count <= 0) return 0;
  const std::size_t size = header_.recordSize;
  const std::size_t got = ReadAt(static_cast<uint64_t>(RecordOffset(first)), out,
                                 static_cast<std::size_t>(count) * size, true);
  ++reads_;
  const int32_t onDisk = static_cast<int32_t>(got / size);
  for (int32_t i = 0; i < onDisk; ++i) {
    uint8_t* image = out + static_cast<std::size_t>(i) * size;
    if (Encrypted()) ScrambleBlock(image, size);
    if (image[rec::kState] == rec::kActive) le::PutI32(image, rec::kNumber, first + i);
  }
  // Cached slots hold what this process changed and has not written yet (and, past the end
  // of the file, the records it added); clean ones equal the file under the caller's lock.
  int32_t pastEnd = 0;
  cache_.ForEachIn(first, first + count - 1, [&](const TRecord& r) {
    std::memcpy(out + static_cast<std::size_t>(r.number_ - first) * size, r.image_.data(), size);
    if (r.number_ >= first + onDisk) ++pastEnd;
  });
  if (onDisk + pastEnd < count) Raise(err::kRecordBuffersCorrupt);
  return count;
}

void TDataFile::ReleaseRecord(TRecord* record) {
  if (record == nullptr) return;
  MT_ASSERT(record->pins_ > 0);  // every release has its pin
  if (record->pins_ == 0) return;
  --record->pins_;
  if (record->pins_ == 0 && record->detached_) {
    // Detached by ClearCache while pinned: its last holder has let go.
    const auto it =
        std::find_if(detachedRecords_.begin(), detachedRecords_.end(),
                     [&](const std::unique_ptr<TRecord>& r) { return r.get() == record; });
    if (it != detachedRecords_.end()) {
      std::unique_ptr<TRecord> owned = std::move(*it);
      detachedRecords_.erase(it);
      pool_.Give(std::move(owned));
    }
  }
}

void TDataFile::ClearCache() {
  for (std::unique_ptr<TRecord>& r : cache_.TakeAll()) {
    if (r->pins_ > 0) {
      // Still held by a caller: keep the object alive, out of the cache, until released.
      r->detached_ = true;
      detachedRecords_.push_back(std::move(r));
    } else {
      pool_.Give(std::move(r));
    }
  }
  capacity_ = targetSize_;
}

void TDataFile::WriteBack(bool pinnedToo) {
  cache_.ForEachRun(
      [pinnedToo](const TRecord& r) { return r.dirty_ && (pinnedToo || r.pins_ == 0); },
      [&](TRecord* const* run, std::size_t count) {
        FillWriteBuffer(run, count);
        WriteAt(static_cast<uint64_t>(RecordOffset(run[0]->number_)), writeBuffer_.data(),
                writeBuffer_.size());
        ++writes_;
        for (std::size_t k = 0; k < count; ++k)
          run[k]->dirty_ = false;
        headerDirty_ = true;
      },
      WriteRunRecords());
}

std::size_t TDataFile::WriteRunRecords() const {
  return std::max<std::size_t>(1, kWriteRunBytes / header_.recordSize);
}

void TDataFile::FillWriteBuffer(TRecord* const* run, std::size_t count) {
  const std::size_t size = header_.recordSize;
  writeBuffer_.resize(count * size);
  for (std::size_t k = 0; k < count; ++k) {
    uint8_t* dst = writeBuffer_.data() + k * size;
    std::memcpy(dst, run[k]->image_.data(), size);
    if (Encrypted()) ScrambleBlock(dst, size);
  }
}

void TDataFile::TrimCache() {
  WriteBack();
  cache_.TrimTo(targetSize_, [this](std::unique_ptr<TRecord> p) { pool_.Give(std::move(p)); });
  capacity_ = std::max(targetSize_, cache_.Size());
}

// ---- slots and counters -----------------------------------------------------------------

int32_t TDataFile::AllocateSlot(bool hasPrimaryIndex) {
  if (!hasPrimaryIndex) return header_.nextRecord;
  for (int attempt = 0; attempt < 16; ++attempt) {
    const int32_t head = header_.deletedHead;
    if (head == 0) return header_.nextRecord;
    if (head < 0 || head >= header_.nextRecord) Raise(err::kRecordBuffersCorrupt);
    TPinnedRecord r(GetRecord(head));
    if (!r) continue;  // the table changed under us: the header was re-read, look again
    // Reusing a slot that is not deleted would overwrite a live record.
    const int32_t next = le::GetI32(r->Image(), rec::kNumber);
    if (r->Image()[rec::kState] != rec::kDeleted || next < 0 || next >= header_.nextRecord ||
        next == head) {
      Raise(err::kRecordBuffersCorrupt);
    }
    header_.deletedHead = next;
    headerDirty_ = true;
    return head;
  }
  Raise(err::kRecordBuffersCorrupt);
}

void TDataFile::DeleteRecord(TRecord* record) {
  MT_ASSERT(record->pins_ > 0 && record->number_ < header_.nextRecord);
  uint8_t* image = record->Image();
  image[rec::kState] = rec::kDeleted;
  le::PutI32(image, rec::kNumber, header_.deletedHead);
  header_.deletedHead = record->number_;
  record->dirty_ = true;
  headerDirty_ = true;
}

int32_t TDataFile::FollowingAutoInc() const {
  return NextWrapping(header_.lastAutoInc);
}

int32_t TDataFile::NextAutoInc() {
  header_.lastAutoInc = FollowingAutoInc();
  headerDirty_ = true;
  return header_.lastAutoInc;
}

void TDataFile::KeepAutoInc(int32_t value) {
  if (value > header_.lastAutoInc) {
    header_.lastAutoInc = value;
    headerDirty_ = true;
  }
}

int32_t TDataFile::NextBlobStamp() {
  header_.lastBlobStamp = NextWrapping(header_.lastBlobStamp);
  headerDirty_ = true;
  return header_.lastBlobStamp;
}

// ---- writing --------------------------------------------------------------------------

void TDataFile::WriteCountedHeader(TDataFileHeader& h) {
  h.engineVersion = kEngineVersion;
  h.lastWrite = HeaderMoment();
  h.pending = keepChangeMark_ ? dfh::kChangeMarkSet : 0;
  uint8_t bytes[dfh::kSize];
  EncodeHeader(h, bytes);
  WriteAt(0, bytes, sizeof bytes);
  header_ = h;
  header_.pending = 0;
  storedCounter_ = h.changeCounter;
}

// ---- the change mark ------------------------------------------------------------------

TDataFile::TStoredState TDataFile::ReadStoredState() {
  uint8_t head[dfh::kPending + 1];
  if (ReadAt(0, head, sizeof head, true) != sizeof head) Raise(err::kHeaderCorrupt);
  return {le::GetI32(head, dfh::kChangeCounter), head[dfh::kPending] == dfh::kChangeMarkSet};
}

void TDataFile::WriteChangeMark() {
  const uint8_t mark = dfh::kChangeMarkSet;
  WriteAt(dfh::kPending, &mark, 1);
  if (forceFlush_) Flush();
}

bool TDataFile::HasDirtyRecords() const {
  return std::any_of(cache_.begin(), cache_.end(),
                     [](const std::unique_ptr<TRecord>& r) { return r->dirty_; });
}

void TDataFile::ForEachPendingWrite(
    const std::function<void(uint64_t offset, const uint8_t* bytes, std::size_t length)>& fn) {
  cache_.ForEachRun([](const TRecord& r) { return r.dirty_; },
                    [&](TRecord* const* run, std::size_t count) {
                      FillWriteBuffer(run, count);
                      fn(static_cast<uint64_t>(RecordOffset(run[0]->number_)), writeBuffer_.data(),
                         writeBuffer_.size());
                    },
                    WriteRunRecords());
  TDataFileHeader h = header_;
  h.changeCounter = storedCounter_;
  h.pending = dfh::kChangeMarkSet;
  uint8_t bytes[dfh::kSize];
  EncodeHeader(h, bytes);
  fn(0, bytes, sizeof bytes);
}

bool TDataFile::FlushDescriptors() {
  if (!descriptorsDirty_) return false;
  std::vector<uint8_t> bytes(fields_.size() * fdl::kSize);
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    uint8_t* d = bytes.data() + i * fdl::kSize;
    EncodeFieldDescriptor(fields_[i], d);
    if (Encrypted()) ScrambleBlock(d, fdl::kSize);
  }
  if (!bytes.empty()) WriteAt(dfh::kSize, bytes.data(), bytes.size());
  descriptorsDirty_ = false;
  if (forceFlush_) Flush();
  return true;
}

void TDataFile::FlushAll(bool trimCache) {
  WriteBack();
  FlushHeader();
  FlushDescriptors();
  if (trimCache) TrimCache();
}

void TDataFile::EmptyRecords() {
  ClearCache();
  Truncate(static_cast<uint64_t>(RecordsOffset(header_.fieldCount)));
  header_.changeCounter = 0;
  header_.deletedHead = 0;
  header_.lastAutoInc = 0;
  header_.nextRecord = 1;
  headerDirty_ = true;
}

// ---- repair ---------------------------------------------------------------------------

void TDataFile::LoadHeaderForRepair() {
  ClearCache();
  const TDataFileHeader h = ReadHeader();
  ValidateDataFileHeaderStart(h, tableName_);
  header_ = h;
  headerDirty_ = descriptorsDirty_ = false;
}

void TDataFile::ReadFileSlots(int32_t first, int32_t count, uint8_t* images) {
  if (count <= 0) return;
  if (first <= 0) Raise(err::kRecordBuffersCorrupt);
  const std::size_t size = header_.recordSize;
  ReadAt(static_cast<uint64_t>(RecordOffset(first)), images,
         static_cast<std::size_t>(count) * size);
  ++reads_;
  if (Encrypted()) {
    for (int32_t i = 0; i < count; ++i)
      ScrambleBlock(images + static_cast<std::size_t>(i) * size, size);
  }
}

void TDataFile::WriteSlots(int32_t first, int32_t count, const uint8_t* images) {
  const std::size_t size = header_.recordSize;
  const std::size_t bytes = static_cast<std::size_t>(count) * size;
  const uint8_t* source = images;
  if (Encrypted()) {
    writeBuffer_.assign(images, images + bytes);
    for (int32_t i = 0; i < count; ++i)
      ScrambleBlock(writeBuffer_.data() + static_cast<std::size_t>(i) * size, size);
    source = writeBuffer_.data();
  }
  WriteAt(static_cast<uint64_t>(RecordOffset(first)), source, bytes);
  ++writes_;
}

void TDataFile::AppendSlots(const uint8_t* images, int32_t count) {
  if (count <= 0) return;
  const int64_t last = static_cast<int64_t>(header_.nextRecord) + count - 1;
  const int64_t end = RecordsOffset(header_.fieldCount) + last * header_.recordSize;
  if (last > kMaxRecordNumber || end > kMaxFileSize) Raise(err::kTableFull);
  WriteSlots(header_.nextRecord, count, images);
  header_.nextRecord = static_cast<int32_t>(last + 1);
  headerDirty_ = true;
}

void TDataFile::SetRepairedCounts(int32_t nextRecord, int32_t deletedHead, int32_t lastAutoInc) {
  header_.nextRecord = nextRecord;
  header_.deletedHead = deletedHead;
  header_.lastAutoInc = lastAutoInc;
  headerDirty_ = true;
}

TRecordCacheStats TDataFile::CacheStats() const {
  return {hits_, reads_, writes_, cache_.Size(), capacity_};
}

}  // namespace mt
