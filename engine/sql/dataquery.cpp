// TDataQuery: facts read from the parse result.
#include "dataquery.h"

#include "engine/sql/changequery.h"
#include "engine/sql/selectquery.h"

namespace mt {

TDataQuery::TDataQuery(TQueryStatement* owner, TStatementKind queryKind)
    : statement(owner), kind(queryKind) {}

TDataQuery::~TDataQuery() = default;

bool TDataQuery::SelectsAllColumnsOnly() const {
  if (resultFields.size() != 1) return false;
  const TResultField& f = resultFields.front();
  return f.aggregate == TAggregateKind::None && !f.computed && f.columnName == "*" &&
         f.correlationName.empty() && f.alias.empty();
}

}  // namespace mt
