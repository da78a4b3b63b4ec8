// Encoding of the data file header and the field descriptors.
#include "tablelayout.h"

#include <cstring>

#include "byteio.h"

namespace mt {

void EncodeDataFileHeader(const TDataFileHeader& h, uint8_t* out) {
  using namespace le;
  std::memset(out, 0, dfh::kSize);
  PutI32(out, dfh::kChangeCounter, h.changeCounter);
  PutI32(out, dfh::kBlobBlockSize, h.blobBlockSize);
  PutU8(out, dfh::kVersion, h.version);
  PutI32(out, dfh::kDeletedHead, h.deletedHead);
  PutI32(out, dfh::kNextRecord, h.nextRecord);
  PutI32(out, dfh::kLastAutoInc, h.lastAutoInc);
  PutU16(out, dfh::kRecordSize, h.recordSize);
  PutU16(out, dfh::kFieldCount, h.fieldCount);
  PutU16(out, dfh::kBlobFieldCount, h.blobFieldCount);
  PutF64(out, dfh::kLastWrite, h.lastWrite);
  PutPString(out, dfh::kDescription, kMaxDescriptionLength, h.description);
  PutU8(out, dfh::kEncrypted, h.encrypted);
  PutPString(out, dfh::kPassword, kMaxPasswordLength, h.password);
  PutU16(out, dfh::kLanguageId, h.languageId);
  PutU16(out, dfh::kSortOrderId, h.sortOrderId);
  PutU16(out, dfh::kUserMajor, h.userMajor);
  PutU16(out, dfh::kUserMinor, h.userMinor);
  PutU8(out, dfh::kPending, h.pending);
  PutI32(out, dfh::kLastBlobStamp, h.lastBlobStamp);
  PutI64(out, dfh::kEngineVersion, h.engineVersion);
  std::memcpy(out + dfh::kUnused, h.unused.data(), h.unused.size());
}

TDataFileHeader DecodeDataFileHeader(const uint8_t* in) {
  using namespace le;
  TDataFileHeader h;
  h.changeCounter = GetI32(in, dfh::kChangeCounter);
  h.blobBlockSize = GetI32(in, dfh::kBlobBlockSize);
  h.version = GetU8(in, dfh::kVersion);
  h.deletedHead = GetI32(in, dfh::kDeletedHead);
  h.nextRecord = GetI32(in, dfh::kNextRecord);
  h.lastAutoInc = GetI32(in, dfh::kLastAutoInc);
  h.recordSize = GetU16(in, dfh::kRecordSize);
  h.fieldCount = GetU16(in, dfh::kFieldCount);
  h.blobFieldCount = GetU16(in, dfh::kBlobFieldCount);
  h.lastWrite = GetF64(in, dfh::kLastWrite);
  h.description = GetPString(in, dfh::kDescription, kMaxDescriptionLength);
  h.encrypted = GetU8(in, dfh::kEncrypted);
  h.password = GetPString(in, dfh::kPassword, kMaxPasswordLength);
  h.languageId = GetU16(in, dfh::kLanguageId);
  h.sortOrderId = GetU16(in, dfh::kSortOrderId);
  h.userMajor = GetU16(in, dfh::kUserMajor);
  h.userMinor = GetU16(in, dfh::kUserMinor);
  h.pending = 0;  // the stored byte means nothing
  h.lastBlobStamp = GetI32(in, dfh::kLastBlobStamp);
  h.engineVersion = GetI64(in, dfh::kEngineVersion);
  std::memcpy(h.unused.data(), in + dfh::kUnused, h.unused.size());
  return h;
}

void EncodeFieldDescriptor(const TFieldDescriptor& d, uint8_t* out) {
  using namespace le;
  std::memset(out, 0, fdl::kSize);
  PutU16(out, fdl::kNumber, d.number);
  PutPString(out, fdl::kName, kMaxFieldNameLength, d.name);
  PutPString(out, fdl::kDescription, kMaxDescriptionLength, d.description);
  PutU8(out, fdl::kType, d.type);
  PutU8(out, fdl::kSubtype, d.subtype);
  PutU8(out, fdl::kSize_, d.size);
  PutU8(out, fdl::kScale, d.scale);
  PutU8(out, fdl::kPhysicalSize, d.physicalSize);
  PutU8(out, fdl::kPhysicalScale, d.physicalScale);
  PutU16(out, fdl::kOffset, d.offset);
  PutU8(out, fdl::kRequired, d.required ? 1 : 0);
  PutU8(out, fdl::kCase, d.caseMode);
  PutPString(out, fdl::kMinimum, fdl::kTextCapacity, d.minText);
  PutPString(out, fdl::kMaximum, fdl::kTextCapacity, d.maxText);
  PutPString(out, fdl::kDefault, fdl::kTextCapacity, d.defaultText);
  PutU8(out, fdl::kVirtual, d.isVirtual ? 1 : 0);
}

TFieldDescriptor DecodeFieldDescriptor(const uint8_t* in) {
  using namespace le;
  TFieldDescriptor d;
  d.number = GetU16(in, fdl::kNumber);
  d.name = GetPString(in, fdl::kName, kMaxFieldNameLength);
  d.description = GetPString(in, fdl::kDescription, kMaxDescriptionLength);
  d.type = GetU8(in, fdl::kType);
  d.subtype = GetU8(in, fdl::kSubtype);
  d.size = GetU8(in, fdl::kSize_);
  d.scale = GetU8(in, fdl::kScale);
  d.physicalSize = GetU8(in, fdl::kPhysicalSize);
  d.physicalScale = GetU8(in, fdl::kPhysicalScale);
  d.offset = GetU16(in, fdl::kOffset);
  d.required = GetU8(in, fdl::kRequired) != 0;
  d.caseMode = GetU8(in, fdl::kCase);
  d.minText = GetPString(in, fdl::kMinimum, fdl::kTextCapacity);
  d.maxText = GetPString(in, fdl::kMaximum, fdl::kTextCapacity);
  d.defaultText = GetPString(in, fdl::kDefault, fdl::kTextCapacity);
  d.isVirtual = GetU8(in, fdl::kVirtual) != 0;
  d.textLengthDamaged =
      in[fdl::kName] > kMaxFieldNameLength || in[fdl::kDescription] > kMaxDescriptionLength ||
      in[fdl::kMinimum] > fdl::kTextCapacity || in[fdl::kMaximum] > fdl::kTextCapacity ||
      in[fdl::kDefault] > fdl::kTextCapacity;
  return d;
}

}  // namespace mt
