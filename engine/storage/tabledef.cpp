// Table definitions: creation checks and data file validation.
#include "tabledef.h"

#include <algorithm>

#include "engine/common/engineerror.h"
#include "engine/common/expparser.h"
#include "engine/common/literals.h"
#include "engine/common/localetext.h"
#include "engine/common/numeric.h"
#include "fieldtypes.h"
#include "record.h"

namespace mt {
namespace {

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
    s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
    s.remove_suffix(1);
  return s;
}

std::string UpperName(std::string_view name) {
  std::string upper(TrimBlanks(name));
  UpperCaseGbk(upper);
  return upper;
}

}  // namespace

std::string TrimPassword(std::string_view password) {
  const std::string_view trimmed = TrimBlanks(password);
  if (trimmed.empty() || trimmed.size() > static_cast<std::size_t>(kMaxPasswordLength)) return {};
  return std::string(trimmed);
}

int PrepareTableCreation(TTableCreateParams& params, const std::string& tableName) {
  if (params.encrypted) {
    params.password = TrimPassword(params.password);
    if (params.password.empty()) RaiseEngineError(err::kInvalidPassword, {.table = tableName});
  } else {
    params.password.clear();
  }
  const uint32_t localeId = MakeLocaleId(params.languageId, params.sortOrderId);
  if (localeId != 0 && !IsLocaleInstalled(localeId)) {
    RaiseEngineError(err::kLanguageDriver, {.table = tableName});
  }
  if (params.fields.size() > static_cast<std::size_t>(kMaxFields)) {
    RaiseEngineError(err::kFieldLimits, {.table = tableName});
  }
  if (params.indexes.secondaries.size() > static_cast<std::size_t>(kMaxSecondaryIndexes)) {
    RaiseEngineError(err::kIndexLimits, {.table = tableName});
  }
  if (params.blobBlockSize < kMinBlobBlockSize) {
    RaiseEngineError(err::kBlobFieldsOrBlockSize, {.table = tableName});
  }

  std::vector<std::string> names;
  int64_t offset = rec::kFirstField;
  int blobFields = 0;
  for (std::size_t i = 0; i < params.fields.size(); ++i) {
    TFieldDescriptor& f = params.fields[i];
    const int position = static_cast<int>(i + 1);
    f.name = std::string(CutGbk(TrimBlanks(f.name), kMaxFieldNameLength));
    if (f.name.empty() || !IsValidNameStart(f.name)) {
      RaiseEngineError(err::kInvalidFieldName, {.table = tableName, .field = f.name});
    }
    const std::string upper = UpperName(f.name);
    for (const std::string& n : names) {
      if (n == upper)
        RaiseEngineError(err::kInvalidFieldName, {.table = tableName, .field = f.name});
    }
    names.push_back(upper);
    auto badDefinition = [&]() {
      RaiseEngineError(err::kInvalidFieldDef, {.table = tableName, .field = f.name});
    };
    // A descriptor's number must be its position, or the table would not open again.
    if (f.number == 0) f.number = static_cast<uint16_t>(position);
    if (f.number != position) badDefinition();
    if (f.type == 0 || !IsKnownFieldType(f.type)) badDefinition();
    if (IsSizedFieldType(f.type)) {
      if (f.size < 1 || f.size > kMaxSizedFieldSize) badDefinition();
    } else {
      f.size = 0;
    }
    if (f.type == ftype::kBcd) {
      if (f.scale > kBcdMaxScale) badDefinition();
    } else {
      f.scale = 0;
    }
    if (f.caseMode > kCaseUpper) badDefinition();
    if (!IsValidFieldText(f, f.defaultText) || !IsValidFieldText(f, f.minText) ||
        !IsValidFieldText(f, f.maxText)) {
      RaiseEngineError(err::kInvalidValidityCheck, {.table = tableName, .field = f.name});
    }
    if (f.isVirtual && !params.allowVirtualFields) badDefinition();
    f.physicalSize = static_cast<uint8_t>(FieldPhysicalSize(f.type, f.subtype, f.size));
    f.physicalScale = f.scale;
    f.position = position;
    if (IsAutoIncField(f.type, f.subtype)) {
      f.offset = rec::kAutoInc;
    } else if (f.isVirtual) {
      f.offset = 0;
    } else {
      if (offset > 0xFFFF) RaiseEngineError(err::kMaxRecordSize, {.table = tableName});
      f.offset = static_cast<uint16_t>(offset);
      offset += f.physicalSize + 1;
    }
    if (IsBlobField(f.type)) ++blobFields;
  }

  PrepareIndexDefinitions(params.indexes, params.fields, tableName);

  if (blobFields > kMaxBlobFields) {
    RaiseEngineError(err::kBlobFieldsOrBlockSize, {.table = tableName});
  }
  // The header keeps the record size in 16 bits, so 65535 is the largest that can be stored.
  if (offset > 0xFFFF) RaiseEngineError(err::kMaxRecordSize, {.table = tableName});
  return static_cast<int>(offset);
}

TDataFileHeader BuildDataFileHeader(const TTableCreateParams& params, int recordSize) {
  TDataFileHeader h;
  h.languageId = params.languageId;
  h.sortOrderId = params.sortOrderId;
  h.userMajor = params.userMajor;
  h.userMinor = params.userMinor;
  h.encrypted = params.encrypted ? 1 : 0;
  h.blobBlockSize = params.blobBlockSize;
  h.description = std::string(CutGbk(params.description, kMaxDescriptionLength));
  if (params.encrypted) h.password = params.password.substr(0, kMaxPasswordLength);
  for (const TFieldDescriptor& f : params.fields) {
    if (IsBlobField(f.type)) ++h.blobFieldCount;
  }
  h.fieldCount = static_cast<uint16_t>(params.fields.size());
  h.recordSize = static_cast<uint16_t>(recordSize);
  h.version = kFormatVersion;
  h.deletedHead = 0;
  h.nextRecord = 1;
  h.lastAutoInc = 0;
  h.changeCounter = 0;
  return h;
}

void ValidateDataFileHeaderStart(const TDataFileHeader& h, const std::string& tableName) {
  if (h.version != kFormatVersion) RaiseEngineError(err::kWrongVersion, {.table = tableName});
  if (h.fieldCount > kMaxFields) RaiseEngineError(err::kHeaderCorrupt, {.table = tableName});
}

void ValidateDataFile(const TDataFileHeader& h, std::vector<TFieldDescriptor>& fields,
                      int64_t fileLength, const std::string& tableName) {
  ValidateDataFileHeaderStart(h, tableName);
  const uint32_t localeId = MakeLocaleId(h.languageId, h.sortOrderId);
  if (localeId != 0 && !IsLocaleInstalled(localeId)) {
    RaiseEngineError(err::kLanguageDriver, {.table = tableName});
  }
  auto corrupt = [&]() { RaiseEngineError(err::kHeaderCorrupt, {.table = tableName}); };
  if (fields.size() != h.fieldCount) corrupt();

  std::vector<std::string> names;
  int64_t offset = rec::kFirstField;
  int blobFields = 0;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    TFieldDescriptor& f = fields[i];
    const int position = static_cast<int>(i + 1);
    if (f.textLengthDamaged) corrupt();
    const std::string upper = UpperName(f.name);
    if (upper.empty() || !IsValidNameStart(upper) ||
        upper.size() > static_cast<std::size_t>(kMaxFieldNameLength)) {
      corrupt();
    }
    for (const std::string& n : names) {
      if (n == upper) corrupt();
    }
    names.push_back(upper);
    if (f.number != position) corrupt();
    if (f.type == 0 || !IsKnownFieldType(f.type)) corrupt();
    if (IsSizedFieldType(f.type) ? f.size > kMaxSizedFieldSize : f.size != 0) corrupt();
    if (!IsValidFieldText(f, f.defaultText) || !IsValidFieldText(f, f.minText) ||
        !IsValidFieldText(f, f.maxText)) {
      corrupt();
    }
    if (f.type == ftype::kBcd ? f.scale > kBcdMaxScale : f.scale != 0) corrupt();
    f.physicalSize = static_cast<uint8_t>(FieldPhysicalSize(f.type, f.subtype, f.size));
    f.physicalScale = f.scale;
    f.position = position;
    if (IsAutoIncField(f.type, f.subtype)) {
      if (f.offset != rec::kAutoInc) corrupt();
    } else if (!f.isVirtual) {
      if (f.offset != offset) corrupt();
      offset += f.physicalSize + 1;
    }
    if (IsBlobField(f.type)) ++blobFields;
  }
  if (h.recordSize != offset) corrupt();
  if (h.blobFieldCount != blobFields) corrupt();

  const int64_t recordBytes = fileLength - RecordsOffset(h.fieldCount);
  if (recordBytes < 0) corrupt();
  if (recordBytes % h.recordSize != 0) corrupt();
  const int64_t records = recordBytes / h.recordSize;
  if (records + 1 != h.nextRecord) corrupt();
  if (h.deletedHead < 0 || h.deletedHead > records) corrupt();
}

void ApplyTypeName(TFieldDescriptor& field, std::string_view typeName) {
  TExpressionParser parser;
  parser.SetText(typeName);
  parser.NextToken();
  TExpTokenPtr node = NewExpToken();
  parser.ParseDataType(*node, perm::kNone, false);
  if (!parser.AtEnd()) {
    parser.Raise("Unknown or unexpected symbol '" + parser.TokenText() + "' after the type name");
  }
  ApplyParsedType(field, node->type, node->subtype, node->size, node->scale);
}

void ApplyParsedType(TFieldDescriptor& field, int type, int subtype, int32_t size, int32_t scale) {
  field.type = static_cast<uint8_t>(type);
  field.subtype = static_cast<uint8_t>(subtype);
  field.size = IsSizedFieldType(field.type) ? static_cast<uint8_t>(std::clamp(size, 0, 255)) : 0;
  field.scale = field.type == ftype::kBcd ? static_cast<uint8_t>(std::clamp(scale, 0, 255)) : 0;
}

int FieldPosition(const std::vector<TFieldDescriptor>& fields, std::string_view name) {
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (EqualsKeyword(fields[i].name, name)) return static_cast<int>(i + 1);
  }
  return 0;
}

std::string SqlTypeName(const TFieldDescriptor& f) {
  switch (f.type) {
    case ftype::kString:
      return "CHAR(" + std::to_string(f.size) + ")";
    case ftype::kDate:
      return "DATE";
    case ftype::kBlob:
      switch (f.subtype) {
        case fsubtype::kMemo:
          return "MEMO";
        case fsubtype::kGraphic:
          return "GRAPHIC";
        case fsubtype::kFormattedMemo:
          return "BLOB(0, 3)";
        case fsubtype::kTypedBinary:
          return "BLOB(0, 7)";
        default:
          return "BLOB";
      }
    case ftype::kBoolean:
      return "BOOLEAN";
    case ftype::kSmallInt:
      return "SMALLINT";
    case ftype::kInteger:
      return f.subtype == fsubtype::kAutoInc ? "AUTOINC" : "INTEGER";
    case ftype::kFloat:
      return f.subtype == fsubtype::kMoney ? "MONEY" : "FLOAT";
    case ftype::kBcd:
      return "DECIMAL(" + std::to_string(kBcdMaxDigits) + ", " + std::to_string(f.scale) + ")";
    case ftype::kBytes:
    case ftype::kVarBytes:
      return (f.type == ftype::kBytes ? "BYTES(" : "VARBYTES(") + std::to_string(f.size) + ")";
    case ftype::kTime:
      return "TIME";
    case ftype::kTimestamp:
      return "TIMESTAMP";
    case ftype::kWord:
      return "WORD";
    case ftype::kUInt32:
      return "UNSIGNED";
    case ftype::kExtended:
      return "EXTENDED";
    case ftype::kLargeInt:
      return "LARGEINT";
    default:
      return "TYPE" + std::to_string(f.type);
  }
}

}  // namespace mt
