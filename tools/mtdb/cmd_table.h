// mtdb create and info: making a table from a command-line definition, and describing a
// table's header, fields, indexes and counts (as text or JSON).
#pragma once

#include <string>
#include <vector>

#include "engine/storage/tabledef.h"

namespace mt::mtdb {

int RunCreate(const std::vector<std::string>& args);
int RunInfo(const std::vector<std::string>& args);

// The index definition over named fields (letter case ignored); EUsage for an unknown field.
TIndexDescriptor IndexOver(const std::vector<TFieldDescriptor>& fields,
                           const std::vector<std::string>& names);

}  // namespace mt::mtdb
