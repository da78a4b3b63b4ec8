// TIndexFile: the index file's header page.
#include "indexfile.h"

#include <algorithm>

#include "byteio.h"
#include "engine/common/engineerror.h"
#include "indexkey.h"
#include "scrambler.h"
#include "textindex.h"

namespace mt {

TIndexFile::TIndexFile(std::string fileName, bool inMemory, std::string tableName)
    : TTableFile(std::move(fileName), inMemory), tableName_(std::move(tableName)) {}

TIndexFile::~TIndexFile() {
  // A destructor cannot report a failed write; callers close explicitly to see errors.
  try {
    TIndexFile::Close();
  } catch (const std::exception&) {
    TFileHandler::Close();
  }
}

void TIndexFile::RaiseHeaderCorrupt() const {
  RaiseEngineError(err::kHeaderCorrupt, {.table = tableName_});
}

void TIndexFile::WriteHeaderPage(const TIndexFileHeader& h) {
  std::vector<uint8_t> page(kIndexPageSize);
  EncodeIndexFileHeader(h, page.data());
  if (encrypted_) ScrambleBlock(page.data(), page.size());
  WriteAt(0, page.data(), page.size());
}

void TIndexFile::CreateIndexFile(const TIndexFileHeader& header, bool encrypted) {
  header_ = header;
  encrypted_ = encrypted;
  Create();
  WriteHeaderPage(header_);
  headerDirty_ = false;
}

void TIndexFile::Load(bool encrypted) {
  encrypted_ = encrypted;
  std::vector<uint8_t> page(kIndexPageSize);
  if (ReadAt(0, page.data(), page.size(), true) != page.size()) RaiseHeaderCorrupt();
  if (encrypted_) ScrambleBlock(page.data(), page.size());
  TIndexFileHeader h = DecodeIndexFileHeader(page.data());
  if (h.version != kFormatVersion) RaiseEngineError(err::kWrongVersion, {.table = tableName_});
  // Trees whose index kept its definition stay (callers may hold them); their pages go.
  ClearCache();
  for (int slot = 0; slot < kIndexSlots; ++slot) {
    const TIndexDescriptor& was = header_.slots[slot];
    const TIndexDescriptor& now = h.slots[slot];
    const bool same = was.name == now.name && was.keyLength == now.keyLength &&
                      was.descending == now.descending &&
                      was.caseInsensitive == now.caseInsensitive && was.unique == now.unique &&
                      was.compression == now.compression && was.fields == now.fields &&
                      was.fieldDescending == now.fieldDescending && was.noCounts == now.noCounts;
    if (!same) trees_[static_cast<std::size_t>(slot)].reset();
  }
  header_ = h;
  headerDirty_ = false;
}

void TIndexFile::Validate(const std::vector<TFieldDescriptor>& fields) const {
  ValidateIndexFileHeader(header_, fields, tableName_);
}

void TIndexFile::Close() {
  CloseAfterWriting(
      [this] {
        WriteBackPages();
        FlushHeader();
      },
      [this] { ClearCache(); });
}

void TIndexFile::WriteCountedHeader(TIndexFileHeader& h) {
  h.pending = false;
  WriteHeaderPage(h);
}

void TIndexFile::Empty() {
  ClearCache();
  Truncate(kIndexPageSize);
  for (TIndexDescriptor& d : header_.slots) {
    d.rootPage = 0;
    d.freeChain = 0;
    d.parameterPage = 0;
  }
  header_.nextPage = 1;
  header_.activeRecords = 0;
  headerDirty_ = true;
}

// ---- the indexes ----------------------------------------------------------------------

void TIndexFile::ResetTrees() {
  for (std::unique_ptr<TBTree>& t : trees_)
    t.reset();
  text_.reset();
}

void TIndexFile::AttachTable(std::vector<TFieldDescriptor> fields, uint32_t localeId) {
  if (IsOpen() && !ReadOnly()) WriteBackPages();
  ResetTrees();
  fields_ = std::move(fields);
  localeId_ = localeId;
}

bool TIndexFile::SlotInUse(int slot) const {
  if (slot == kPrimarySlot) return !header_.noPrimary;
  if (slot >= 1 && slot <= kMaxSecondaryIndexes) {
    return slot <= header_.secondaryCount && !header_.slots[slot].fields.empty();
  }
  return slot == kRecordIdSlot || slot == kTextSlot;
}

void TIndexFile::MaintainedSlots(std::vector<int>& slots) const {
  slots.clear();
  // Secondary slots are in use from 1 up to the count, so the look ends there.
  const int last = std::min<int>(kMaxSecondaryIndexes, header_.secondaryCount);
  for (int slot = 0; slot <= last; ++slot) {
    if (SlotInUse(slot)) slots.push_back(slot);
  }
}

TBTree& TIndexFile::Tree(int slot) {
  if (!SlotInUse(slot)) {
    RaiseEngineError(err::kInvalidIndexName, {.table = tableName_, .index = std::to_string(slot)});
  }
  std::unique_ptr<TBTree>& tree = trees_[static_cast<std::size_t>(slot)];
  if (!tree) {
    const TIndexDescriptor& d = header_.slots[slot];
    TKeyDef def;
    if (slot == kRecordIdSlot) {
      def = TKeyDef::ForRecordId();
    } else if (slot == kTextSlot) {
      def = TKeyDef::ForText(localeId_);
    } else {
      // The descriptor was validated against these fields when the file was opened.
      for (uint16_t no : d.fields) {
        if (no < 1 || no > fields_.size()) {
          RaiseEngineError(err::kHeaderCorrupt, {.table = tableName_});
        }
      }
      def = TKeyDef::ForIndex(d, fields_, localeId_, slot == kPrimarySlot);
    }
    if (def.Length() != d.keyLength) RaiseEngineError(err::kHeaderCorrupt, {.table = tableName_});
    tree = std::make_unique<TBTree>(*this, slot, std::move(def), d.name);
    tree->SetDeferWrites(deferWrites_);
  }
  return *tree;
}

TTextIndex& TIndexFile::Text() {
  if (!text_) text_ = std::make_unique<TTextIndex>(*this);
  return *text_;
}

int TIndexFile::AddIndexDescriptor(const TIndexDescriptor& descriptor, bool primary) {
  int slot;
  if (primary) {
    if (!header_.noPrimary) RaiseEngineError(err::kPrimaryExists, {.table = tableName_});
    slot = kPrimarySlot;
  } else {
    if (header_.secondaryCount >= kMaxSecondaryIndexes) {
      RaiseEngineError(err::kIndexLimits, {.table = tableName_});
    }
    slot = header_.secondaryCount + 1;
  }
  TIndexDescriptor d = descriptor;
  d.rootPage = 0;
  d.freeChain = 0;
  d.parameterPage = 0;
  trees_[static_cast<std::size_t>(slot)].reset();
  if (primary) {
    d.name.clear();
    d.unique = true;
    header_.noPrimary = d.fields.empty();
    header_.slots[kPrimarySlot] = d.fields.empty() ? TIndexDescriptor{} : d;
  } else {
    header_.slots[static_cast<std::size_t>(slot)] = d;
    ++header_.secondaryCount;
  }
  headerDirty_ = true;
  return slot;
}

void TIndexFile::WriteBackPages(bool trim) {
  for (std::unique_ptr<TBTree>& t : trees_) {
    if (!t) continue;
    if (trim) {
      t->TrimCache();
    } else {
      t->WriteBack();
    }
  }
}

void TIndexFile::ClearCache() {
  for (std::unique_ptr<TBTree>& t : trees_) {
    if (t) t->ClearCache();
  }
  if (text_) text_->Reset();
}

void TIndexFile::SetDeferWrites(bool defer) {
  deferWrites_ = defer;
  for (std::unique_ptr<TBTree>& t : trees_) {
    if (t) t->SetDeferWrites(defer);
  }
}

bool TIndexFile::ReadPage(int32_t n, uint8_t* page) {
  if (n < 1) return false;
  const uint64_t offset = static_cast<uint64_t>(n) * kIndexPageSize;
  if (ReadAt(offset, page, kIndexPageSize, true) != kIndexPageSize) return false;
  if (encrypted_) ScrambleBlock(page, kIndexPageSize);
  return true;
}

void TIndexFile::WritePages(int32_t first, uint8_t* pages, std::size_t count) {
  if (encrypted_) {
    for (std::size_t i = 0; i < count; ++i)
      ScrambleBlock(pages + i * kIndexPageSize, kIndexPageSize);
  }
  WriteAt(static_cast<uint64_t>(first) * kIndexPageSize, pages, count * kIndexPageSize);
}

}  // namespace mt
