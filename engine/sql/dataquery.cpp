// TDataQuery: facts read from the parse result.
#include "dataquery.h"

namespace mt {

bool TDataQuery::SelectsAllColumnsOnly() const {
  if (resultFields.size() != 1) return false;
  const TResultField& f = resultFields.front();
  return f.aggregate == TAggregateKind::None && !f.computed && f.columnName == "*" &&
         f.correlationName.empty() && f.alias.empty();
}

}  // namespace mt
