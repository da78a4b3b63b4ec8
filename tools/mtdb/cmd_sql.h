// mtdb sql: runs SQL statements against a database directory.
#pragma once

#include <string>
#include <vector>

namespace mt::mtdb {

int RunSql(const std::vector<std::string>& args);

}  // namespace mt::mtdb
