// Inside TSelectQuery: how a result row is built, column by column, and the expression owner
// of HAVING, whose columns are the result's. Only selectprepare.cpp and selectexecute.cpp use
// this header.
#pragma once

#include <cstdint>

#include "engine/common/expeval.h"
#include "engine/sql/querysources.h"
#include "engine/sql/selectquery.h"
#include "engine/storage/recordresolver.h"

namespace mt {

// How one column of a result row gets its value.
enum class TRowStep : uint8_t {
  CopyField,     // the source field's bytes (null flag and value), same type and size
  CopyAutoInc,   // a source auto-increment value into an INTEGER column
  Evaluate,      // the value of an expression, converted to the column's type
  CountStar,     // 1
  CountNotNull,  // 1 when the value is not NULL, else 0
};

struct TSelectQuery::TRowPlan {
  TRowStep step = TRowStep::Evaluate;
  int fieldNo = 0;    // the result column
  int dstOffset = 0;  // its null-flag byte in the result image
  TSourceRow* source = nullptr;
  int srcOffset = -1;  // CopyField, and CountNotNull of a plain column: the null-flag byte
  int length = 0;      // CopyField: the null flag and the value
  const TExpToken* expression = nullptr;
};

// HAVING reads the group's row of the result table. Its column names are resolved like
// GROUP BY items; its aggregates were bound to their result columns during preparation.
class TSelectQuery::THavingResolver : public TExpressionResolver {
 public:
  explicit THavingResolver(TSelectQuery& query) : query_(query) {}

  // Marks a node as the reference to a result column (0-based index).
  void Bind(TExpToken& node, int column) {
    const TResultColumn& c = query_.columns_[static_cast<std::size_t>(column)];
    node.kind = TNodeKind::Column;
    node.op = TOperator::None;
    node.arguments.clear();
    node.left.reset();
    node.right.reset();
    node.columnName = c.name;
    node.correlationName.clear();
    node.columnNumber = static_cast<uint16_t>(c.number);
    node.columnSource = &bound_;
  }

  bool ResolveColumn(TExpToken& node) override;
  bool ReadColumn(const TExpToken& column, TExpToken& into) override {
    if (reader_ == nullptr || image_ == nullptr) return false;
    reader_->SetImage(image_);
    return reader_->ReadColumn(column, into);
  }

  void SetReader(TRecordResolver* reader) { reader_ = reader; }
  void SetImage(const uint8_t* image) { image_ = image; }

 private:
  TSelectQuery& query_;
  TExpColumnSource bound_;
  TRecordResolver* reader_ = nullptr;
  const uint8_t* image_ = nullptr;
};

}  // namespace mt
