// TIndexFile: the index file's header page.
#include "indexfile.h"

#include "engine/common/engineerror.h"
#include "scrambler.h"

namespace mt {

TIndexFile::TIndexFile(std::string fileName, bool inMemory, std::string tableName)
    : TFileHandler(std::move(fileName), inMemory), tableName_(std::move(tableName)) {}

TIndexFile::~TIndexFile() {
  // A destructor cannot report a failed write; callers close explicitly to see errors.
  try {
    TIndexFile::Close();
  } catch (const std::exception&) {
    TFileHandler::Close();
  }
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
  if (ReadAt(0, page.data(), page.size(), true) != page.size()) {
    RaiseEngineError(err::kHeaderCorrupt, {.table = tableName_});
  }
  if (encrypted_) ScrambleBlock(page.data(), page.size());
  TIndexFileHeader h = DecodeIndexFileHeader(page.data());
  if (h.version != kFormatVersion) RaiseEngineError(err::kWrongVersion, {.table = tableName_});
  header_ = h;
  headerDirty_ = false;
}

void TIndexFile::Validate(const std::vector<TFieldDescriptor>& fields) const {
  ValidateIndexFileHeader(header_, fields, tableName_);
}

void TIndexFile::Close() {
  if (IsOpen() && !ReadOnly()) {
    try {
      FlushHeader();
    } catch (...) {
      TFileHandler::Close();
      throw;
    }
  }
  TFileHandler::Close();
}

bool TIndexFile::FlushHeader(bool force) {
  if (!headerDirty_ && !force) return false;
  TIndexFileHeader h = header_;
  h.changeCounter = static_cast<int32_t>(static_cast<uint32_t>(h.changeCounter) + 1);
  h.pending = false;
  WriteHeaderPage(h);
  header_.changeCounter = h.changeCounter;
  headerDirty_ = false;
  if (forceFlush_) Flush();
  return true;
}

void TIndexFile::RaiseChangeCounterInMemory() {
  header_.changeCounter = static_cast<int32_t>(static_cast<uint32_t>(header_.changeCounter) + 1);
  headerDirty_ = true;
}

void TIndexFile::Empty() {
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

}  // namespace mt
