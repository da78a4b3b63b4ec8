// TRecordResolver: the expression owner for trees over one table's records (table filters,
// and the SQL layer's conditions on a single table). It resolves column names against the
// table's fields and reads column values from a record image the caller points it at.
//
// Column nodes get the field's number, type, subtype and size (strings: the physical size,
// which holds the terminator); a correlation name must be empty or the table's name. Blob
// values are read from the table's blob file; TEXTSEARCH and TEXTOCCURS split the row's
// text and the search text by the table's text-index word rules.
//
// Thread-safety: one resolver per tree owner, used on its table's thread (datatable.h).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/common/expeval.h"

namespace mt {

class TDataTable;
class TRecordFormat;

class TRecordResolver : public TExpressionResolver {
 public:
  explicit TRecordResolver(TDataTable& table);

  // The record image the following reads take their values from (null: no row).
  void SetImage(const uint8_t* image) { image_ = image; }
  const uint8_t* Image() const { return image_; }

  bool ResolveColumn(TExpToken& node) override;
  bool ReadColumn(const TExpToken& column, TExpToken& into) override;
  bool TextSearch(const TExpToken& column, std::string_view words) override;
  int32_t TextOccurs(const TExpToken& column, std::string_view words) override;
  int32_t LastAutoInc(std::string_view tableName) override;

 private:
  // The text of a string or memo column of the current row ("" for NULL).
  std::string ColumnText(const TExpToken& column);
  int32_t CountWords(const TExpToken& column, std::string_view words, bool all);

  TDataTable& table_;
  const TRecordFormat& format_;
  const uint8_t* image_ = nullptr;
};

}  // namespace mt
