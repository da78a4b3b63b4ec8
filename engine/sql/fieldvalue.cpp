// Putting expression values into record fields.
#include "fieldvalue.h"

#include <algorithm>
#include <span>

#include "engine/common/expeval.h"
#include "engine/storage/datacursor.h"
#include "engine/storage/fieldtypes.h"
#include "engine/storage/record.h"

namespace mt {
namespace {

bool IsStringValue(const TExpToken& v) {
  return v.type == ftype::kString || (v.type == ftype::kBlob && v.subtype == fsubtype::kMemo);
}

}  // namespace

TPutResult PutFieldValue(const TRecordFormat& format, int fieldNo, uint8_t* image,
                         const TExpToken& value, std::string& blobBytes) {
  const TFieldDescriptor& f = format.Field(fieldNo);
  if (value.isNull || value.type == exptype::kUnknown) {
    format.SetNull(fieldNo, image);
    return TPutResult::Stored;
  }
  if (IsBlobField(f.type)) {
    if (value.type == ftype::kBlob && value.subtype != fsubtype::kMemo) {
      const auto size = static_cast<std::size_t>(std::max(value.size - 1, 0));
      blobBytes.assign(reinterpret_cast<const char*>(value.value.Data()),
                       std::min(size, value.value.Capacity()));
    } else {
      blobBytes = IsStringValue(value) ? value.StringValue() : ValueToText(value);
    }
    return TPutResult::Blob;
  }
  if (f.type == ftype::kString) {
    format.SetString(fieldNo, image,
                     IsStringValue(value) ? value.StringValue() : ValueToText(value));
    return TPutResult::Stored;
  }
  const TExpToken* v = &value;
  TExpTokenPtr converted;
  bool ok = true;
  if (value.type != f.type || (f.type == ftype::kBcd && value.scale != f.scale)) {
    converted = NewExpToken();
    converted->type = f.type;
    converted->subtype = f.subtype;
    converted->size = f.physicalSize;
    converted->scale = f.scale;
    ok = Convert(value, *converted);
    if (converted->isNull) {
      format.SetNull(fieldNo, image);
      return ok ? TPutResult::Stored : TPutResult::Failed;
    }
    v = converted.get();
  }
  format.SetField(fieldNo, image,
                  std::span<const uint8_t>(v->value.Data(),
                                           static_cast<std::size_t>(format.ValueSize(fieldNo))));
  return ok ? TPutResult::Stored : TPutResult::Failed;
}

bool PutCursorFieldValue(TDataCursor& cursor, int fieldNo, uint8_t* image, const TExpToken& value,
                         bool truncateBlob) {
  std::string bytes;
  switch (PutFieldValue(cursor.Format(), fieldNo, image, value, bytes)) {
    case TPutResult::Stored:
      return true;
    case TPutResult::Blob: {
      if (bytes.empty() && !truncateBlob) return true;
      const int handle = cursor.OpenBlob(fieldNo, image, TBlobOpenMode::ReadWrite);
      TBlobBuffer& blob = cursor.Blob(handle);
      blob.Truncate(0);
      blob.Write(0, std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(bytes.data()),
                                             bytes.size()));
      cursor.CloseBlob(handle, true, image);
      return true;
    }
    case TPutResult::Failed:
      break;
  }
  return false;
}

void InsertNewRecord(TDataCursor& cursor, uint8_t* image, const std::function<void()>& fill) {
  cursor.InitRecord(image);
  try {
    fill();
    cursor.InsertRecord(image, false);
  } catch (...) {
    try {
      cursor.DiscardBlobs(image);
    } catch (const std::exception&) {
      // The first failure is the one to report.
    }
    throw;
  }
}

}  // namespace mt
