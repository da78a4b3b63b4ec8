// mtdb insert and dump: rows between TSV text and a table, through a cursor.
#pragma once

#include <string>
#include <vector>

namespace mt::mtdb {

int RunInsert(const std::vector<std::string>& args);
int RunDump(const std::vector<std::string>& args);

}  // namespace mt::mtdb
