// mtdb insert and dump: rows between TSV text and a table, through a cursor; the TSV writer
// mtdb sql shares.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace mt {
class TDataCursor;
}

namespace mt::mtdb {

int RunInsert(const std::vector<std::string>& args);
int RunDump(const std::vector<std::string>& args);

// Prints the cursor's rows from its first on as TSV: a header line with the names of the first
// `columns` fields, then one line per row (memo text and binary blobs as hex included).
void WriteRows(TDataCursor& cursor, int columns, bool raw, std::ostream& out);

}  // namespace mt::mtdb
