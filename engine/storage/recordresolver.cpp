// The expression owner over one table's record images.
#include "recordresolver.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "blobfile.h"
#include "datatable.h"
#include "engine/common/localetext.h"
#include "fieldtypes.h"
#include "indexfile.h"
#include "record.h"
#include "textindex.h"

namespace mt {

namespace {

std::string Upper(std::string_view text) {
  std::string s(text);
  UpperCaseGbk(s);
  return s;
}

}  // namespace

TRecordResolver::TRecordResolver(TDataTable& table)
    : table_(table), format_(table.Data().Format()) {}

bool TRecordResolver::ResolveColumn(TExpToken& node) {
  if (!node.correlationName.empty() && Upper(node.correlationName) != Upper(table_.TableName()))
    return false;
  const int no = format_.FindField(node.columnName);
  if (no == 0) return false;
  const TFieldDescriptor& f = format_.Field(no);
  if (f.isVirtual) return false;
  node.columnNumber = static_cast<uint16_t>(no);
  node.type = f.type;
  node.subtype = f.subtype;
  node.size = IsAutoIncField(f.type, f.subtype) ? 4 : f.physicalSize;
  node.scale = f.scale;
  node.columnSource = nullptr;
  return true;
}

bool TRecordResolver::ReadColumn(const TExpToken& column, TExpToken& into) {
  if (image_ == nullptr || column.columnNumber == 0 || column.columnNumber > format_.FieldCount())
    return false;
  const int no = column.columnNumber;
  const TFieldDescriptor& f = format_.Field(no);
  if (IsBlobField(f.type)) {
    const auto ref = format_.GetBlobRef(no, image_);
    TBlobFile* blobs = table_.BlobFile();
    if (!ref || blobs == nullptr) {
      into.isNull = true;
      return true;
    }
    const std::vector<uint8_t> bytes = blobs->ReadValue(ref->first, ref->second);
    into.value.Reserve(bytes.size() + 1);
    std::memcpy(into.value.Data(), bytes.data(), bytes.size());
    into.value.Data()[bytes.size()] = 0;
    into.size = static_cast<int32_t>(bytes.size()) + 1;
    into.isNull = bytes.empty();
    return true;
  }
  const int size = format_.ValueSize(no);
  into.value.Reserve(static_cast<std::size_t>(size) + 1);
  std::memset(into.value.Data(), 0, static_cast<std::size_t>(size) + 1);
  into.isNull = format_.GetField(no, image_, into.value.Data());
  return true;
}

std::string TRecordResolver::ColumnText(const TExpToken& column) {
  TExpTokenPtr v = NewExpToken();
  v->type = column.type;
  v->subtype = column.subtype;
  v->size = column.size;
  if (!ReadColumn(column, *v) || v->isNull) return {};
  return v->StringValue();
}

int32_t TRecordResolver::CountWords(const TExpToken& column, std::string_view words, bool all) {
  const TTextParameters& params = table_.Index().Text().Parameters();
  const std::vector<std::string> wanted = SplitWords(params, words);
  if (wanted.empty()) return 0;
  const std::vector<std::string> present = SplitWords(params, ColumnText(column));
  int32_t found = 0;
  for (const std::string& w : wanted) {
    if (std::find(present.begin(), present.end(), w) != present.end())
      ++found;
    else if (all)
      return 0;
  }
  return found;
}

bool TRecordResolver::TextSearch(const TExpToken& column, std::string_view words) {
  return CountWords(column, words, true) > 0;
}

int32_t TRecordResolver::TextOccurs(const TExpToken& column, std::string_view words) {
  return CountWords(column, words, false);
}

int32_t TRecordResolver::LastAutoInc(std::string_view tableName) {
  if (Upper(tableName) != Upper(table_.TableName())) return 0;
  return table_.Data().LastAutoInc();
}

}  // namespace mt
