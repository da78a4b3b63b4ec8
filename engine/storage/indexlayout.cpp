// The index file's header page and the checks of its index descriptors.
#include "indexlayout.h"

#include <cstring>

#include "byteio.h"
#include "engine/common/engineerror.h"
#include "engine/common/localetext.h"
#include "fieldtypes.h"
#include "record.h"

namespace mt {
namespace {

void EncodeDescriptor(const TIndexDescriptor& d, uint8_t* out) {
  using namespace le;
  std::memset(out, 0, idl::kSize);
  PutPString(out, idl::kName, kMaxFieldNameLength, d.name);
  PutU16(out, idl::kKeyLength, d.keyLength);
  PutU8(out, idl::kDescending, d.descending ? 1 : 0);
  PutU8(out, idl::kCaseInsensitive, d.caseInsensitive ? 1 : 0);
  PutU8(out, idl::kUnique, d.unique ? 1 : 0);
  PutU8(out, idl::kCompression, d.compression);
  const std::size_t n = std::min<std::size_t>(d.fields.size(), kMaxIndexFields);
  PutU8(out, idl::kFieldCount, static_cast<uint8_t>(n));
  for (std::size_t i = 0; i < kMaxIndexFields; ++i) {
    PutU8(out, idl::kFieldDescending + i, d.fieldDescending[i] ? 1 : 0);
  }
  for (std::size_t i = 0; i < n; ++i)
    PutU16(out, idl::kFields + 2 * i, d.fields[i]);
  PutI32(out, idl::kRootPage, d.rootPage);
  PutI32(out, idl::kFreeChain, d.freeChain);
  PutI32(out, idl::kParameterPage, d.parameterPage);
  PutU8(out, idl::kNoCounts, d.noCounts ? 1 : 0);
}

TIndexDescriptor DecodeDescriptor(const uint8_t* in) {
  using namespace le;
  TIndexDescriptor d;
  d.name = GetPString(in, idl::kName, kMaxFieldNameLength);
  d.keyLength = GetU16(in, idl::kKeyLength);
  d.descending = GetU8(in, idl::kDescending) != 0;
  d.caseInsensitive = GetU8(in, idl::kCaseInsensitive) != 0;
  d.unique = GetU8(in, idl::kUnique) != 0;
  d.compression = GetU8(in, idl::kCompression);
  // A count above 16 is kept visible (as 17 fields) so that validation can refuse it.
  const std::size_t stored = GetU8(in, idl::kFieldCount);
  const std::size_t n = std::min<std::size_t>(stored, kMaxIndexFields);
  for (std::size_t i = 0; i < kMaxIndexFields; ++i) {
    d.fieldDescending[i] = GetU8(in, idl::kFieldDescending + i) != 0;
  }
  for (std::size_t i = 0; i < n; ++i)
    d.fields.push_back(GetU16(in, idl::kFields + 2 * i));
  if (stored > kMaxIndexFields) d.fields.push_back(0);
  d.rootPage = GetI32(in, idl::kRootPage);
  d.freeChain = GetI32(in, idl::kFreeChain);
  d.parameterPage = GetI32(in, idl::kParameterPage);
  d.noCounts = GetU8(in, idl::kNoCounts) != 0;
  return d;
}

std::string TrimName(std::string_view name) {
  while (!name.empty() && (name.front() == ' ' || name.front() == '\t'))
    name.remove_prefix(1);
  while (!name.empty() && (name.back() == ' ' || name.back() == '\t'))
    name.remove_suffix(1);
  return std::string(CutGbk(name, kMaxFieldNameLength));
}

std::string UpperName(std::string name) {
  UpperCaseGbk(name);
  return name;
}

bool IsTextIndexField(const TFieldDescriptor& f) {
  return f.type == ftype::kString || (f.type == ftype::kBlob && f.subtype == fsubtype::kMemo);
}

TIndexDescriptor RecordIdDescriptor() {
  TIndexDescriptor d;
  d.name = kRecordIdIndexName;
  d.keyLength = kRecordIdKeyLength;
  d.unique = true;
  return d;
}

TIndexDescriptor TextDescriptor(std::vector<uint16_t> fields) {
  TIndexDescriptor d;
  d.name = kTextIndexName;
  d.keyLength = kTextKeyLength;
  d.compression = kTextCompression;
  d.fields = std::move(fields);
  return d;
}

}  // namespace

bool IsValidNameStart(std::string_view name) {
  if (name.empty()) return false;
  const auto c = static_cast<unsigned char>(name.front());
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || (c >= 128 && c <= 254);
}

void EncodeIndexFileHeader(const TIndexFileHeader& h, uint8_t* out) {
  using namespace le;
  std::memset(out, 0, kIndexPageSize);
  PutI32(out, ifh::kChangeCounter, h.changeCounter);
  PutU8(out, ifh::kVersion, h.version);
  PutI32(out, ifh::kNextPage, h.nextPage);
  int secondaries = h.secondaryCount;
  for (int slot = 0; slot < kIndexSlots; ++slot) {
    const TIndexDescriptor& d = h.slots[slot];
    if (d.temporary) {
      if (slot >= 1 && slot <= kMaxSecondaryIndexes && secondaries > 0) --secondaries;
      continue;  // temporary indexes never reach the file
    }
    EncodeDescriptor(d, out + ifh::kDescriptors + slot * idl::kSize);
  }
  PutU8(out, ifh::kSecondaryCount, static_cast<uint8_t>(secondaries));
  PutI32(out, ifh::kActiveRecords, h.activeRecords);
  PutU8(out, ifh::kNoPrimary, h.noPrimary ? 1 : 0);
  PutU8(out, ifh::kPending, h.pending ? 1 : 0);
}

TIndexFileHeader DecodeIndexFileHeader(const uint8_t* in) {
  using namespace le;
  TIndexFileHeader h;
  h.changeCounter = GetI32(in, ifh::kChangeCounter);
  h.version = GetU8(in, ifh::kVersion);
  h.nextPage = GetI32(in, ifh::kNextPage);
  h.secondaryCount = GetU8(in, ifh::kSecondaryCount);
  for (int slot = 0; slot < kIndexSlots; ++slot) {
    h.slots[slot] = DecodeDescriptor(in + ifh::kDescriptors + slot * idl::kSize);
  }
  h.activeRecords = GetI32(in, ifh::kActiveRecords);
  h.noPrimary = GetU8(in, ifh::kNoPrimary) != 0;
  h.pending = false;
  return h;
}

std::optional<int> ComputeKeyLength(const std::vector<TFieldDescriptor>& fields,
                                    const TIndexDescriptor& index, bool isPrimary) {
  int length = 0;
  for (uint16_t no : index.fields) {
    if (no < 1 || no > fields.size()) return std::nullopt;
    const TFieldDescriptor& f = fields[no - 1];
    const int keySize = FieldKeySize(f.type, f.subtype, f.size);
    if (keySize == kKeySizeNotIndexable) return std::nullopt;
    length += keySize + 1;
  }
  if (!isPrimary && !index.unique) length += 4;  // the record identifier
  return length;
}

void PrepareIndexDefinitions(TIndexDefinitions& defs, const std::vector<TFieldDescriptor>& fields,
                             const std::string& tableName) {
  if (defs.secondaries.size() > static_cast<std::size_t>(kMaxSecondaryIndexes)) {
    RaiseEngineError(err::kIndexLimits, {.table = tableName});
  }
  std::vector<std::string> seen;
  for (TIndexDescriptor& d : defs.secondaries) {
    d.name = TrimName(d.name);
    if (d.name.empty()) RaiseEngineError(err::kIndexNameMissing, {.table = tableName});
    if (!IsValidNameStart(d.name)) {
      RaiseEngineError(err::kInvalidIndexName, {.table = tableName, .index = d.name});
    }
    const std::string upper = UpperName(d.name);
    for (const std::string& s : seen) {
      if (s == upper) RaiseEngineError(err::kIndexExists, {.table = tableName, .index = d.name});
    }
    seen.push_back(upper);
  }
  if (defs.primary) {
    defs.primary->name.clear();
    defs.primary->unique = true;
  }

  auto checkFields = [&](TIndexDescriptor& d, bool isPrimary) {
    const std::string indexName = isPrimary ? std::string() : d.name;
    if (d.fields.size() > static_cast<std::size_t>(kMaxIndexFields)) {
      RaiseEngineError(err::kIndexLimits, {.table = tableName, .index = indexName});
    }
    for (uint16_t no : d.fields) {
      if (no < 1 || no > fields.size()) {
        RaiseEngineError(err::kInvalidIndexField,
                         {.table = tableName, .field = std::to_string(no), .index = indexName});
      }
      const TFieldDescriptor& f = fields[no - 1];
      if (IsBlobField(f.type) || f.isVirtual) {
        RaiseEngineError(err::kInvalidIndexFieldSpec,
                         {.table = tableName, .field = f.name, .index = indexName});
      }
    }
    if (!isPrimary && d.fields.empty()) {
      RaiseEngineError(err::kInvalidKeySize, {.table = tableName, .index = indexName});
    }
    const std::optional<int> length = ComputeKeyLength(fields, d, isPrimary);
    if (!length || *length > kMaxKeyLength) {
      RaiseEngineError(err::kInvalidKeySize, {.table = tableName, .index = indexName});
    }
    d.keyLength = static_cast<uint16_t>(*length);
    if (d.compression > 3) d.compression = 0;
    d.temporary = false;
  };
  if (defs.primary) checkFields(*defs.primary, true);
  for (TIndexDescriptor& d : defs.secondaries)
    checkFields(d, false);

  if (defs.textFields.size() > static_cast<std::size_t>(kMaxIndexFields)) {
    RaiseEngineError(err::kIndexLimits, {.table = tableName, .index = std::string(kTextIndexName)});
  }
  for (uint16_t no : defs.textFields) {
    if (no < 1 || no > fields.size()) {
      RaiseEngineError(
          err::kInvalidIndexField,
          {.table = tableName, .field = std::to_string(no), .index = std::string(kTextIndexName)});
    }
    if (!IsTextIndexField(fields[no - 1])) {
      RaiseEngineError(
          err::kInvalidIndexFieldSpec,
          {.table = tableName, .field = fields[no - 1].name, .index = std::string(kTextIndexName)});
    }
  }
}

TIndexFileHeader BuildIndexFileHeader(const TIndexDefinitions& defs) {
  TIndexFileHeader h = EmptyIndexFileHeader();
  if (defs.primary && !defs.primary->fields.empty()) {
    h.slots[kPrimarySlot] = *defs.primary;
    h.noPrimary = false;
  }
  for (std::size_t i = 0; i < defs.secondaries.size(); ++i)
    h.slots[1 + i] = defs.secondaries[i];
  h.secondaryCount = static_cast<uint8_t>(defs.secondaries.size());
  h.slots[kTextSlot] = TextDescriptor(defs.textFields);
  return h;
}

TIndexFileHeader EmptyIndexFileHeader() {
  TIndexFileHeader h;
  h.slots[kRecordIdSlot] = RecordIdDescriptor();
  h.slots[kTextSlot] = TextDescriptor({});
  h.noPrimary = true;
  return h;
}

void ValidateIndexFileHeader(const TIndexFileHeader& h, const std::vector<TFieldDescriptor>& fields,
                             const std::string& tableName) {
  if (h.version != kFormatVersion) RaiseEngineError(err::kWrongVersion, {.table = tableName});
  auto corrupt = [&]() { RaiseEngineError(err::kHeaderCorrupt, {.table = tableName}); };
  if (h.nextPage < 1 || h.secondaryCount > kMaxSecondaryIndexes) corrupt();

  auto pageOk = [&](int32_t page) { return page >= 0 && page < h.nextPage; };
  auto checkDescriptor = [&](const TIndexDescriptor& d, bool isPrimary) {
    if (d.fields.size() > static_cast<std::size_t>(kMaxIndexFields)) corrupt();
    for (uint16_t no : d.fields) {
      if (no < 1 || no > fields.size()) corrupt();
      const TFieldDescriptor& f = fields[no - 1];
      if (IsBlobField(f.type) || f.isVirtual) corrupt();
    }
    const std::optional<int> length = ComputeKeyLength(fields, d, isPrimary);
    if (!length || *length > kMaxKeyLength || *length != d.keyLength) corrupt();
    if (!pageOk(d.rootPage) || !pageOk(d.freeChain) || !pageOk(d.parameterPage)) corrupt();
    if (d.compression > 3) corrupt();
  };

  const TIndexDescriptor& primary = h.slots[kPrimarySlot];
  if (!primary.name.empty()) corrupt();
  if (h.noPrimary != primary.fields.empty()) corrupt();
  if (!h.noPrimary) checkDescriptor(primary, true);

  std::vector<std::string> seen;
  for (int slot = 1; slot <= h.secondaryCount; ++slot) {
    const TIndexDescriptor& d = h.slots[slot];
    if (!IsValidNameStart(d.name)) corrupt();
    const std::string upper = UpperName(d.name);
    for (const std::string& s : seen) {
      if (s == upper) corrupt();
    }
    seen.push_back(upper);
    if (d.fields.empty()) corrupt();
    checkDescriptor(d, false);
  }

  const TIndexDescriptor& recordId = h.slots[kRecordIdSlot];
  if (recordId.keyLength != kRecordIdKeyLength || !pageOk(recordId.rootPage) ||
      !pageOk(recordId.freeChain) || recordId.compression > 3 || !recordId.fields.empty()) {
    corrupt();
  }
  const TIndexDescriptor& text = h.slots[kTextSlot];
  if (text.keyLength != kTextKeyLength || text.fields.size() > kMaxIndexFields ||
      text.compression > 3 || !pageOk(text.rootPage) || !pageOk(text.freeChain) ||
      !pageOk(text.parameterPage)) {
    corrupt();
  }
  for (uint16_t no : text.fields) {
    if (no < 1 || no > fields.size() || !IsTextIndexField(fields[no - 1])) corrupt();
  }
}

}  // namespace mt
