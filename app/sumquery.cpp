// The data directory's runner of sum statements. The dataset layer has no query dataset yet, so
// there is no runner: windows that show totals keep their design texts until it comes, and
// then this file runs the statement on a query dataset pointed at DataDirectory().
#include "sumquery.h"

std::unique_ptr<TSumQuery> DataDirectorySumQuery() {
  return nullptr;
}
