// mtdb create and info: making a table from a command-line definition, and describing a
// table's header, fields, indexes and counts (as text or JSON).
#pragma once

#include <string>
#include <vector>

#include "engine/storage/tabledef.h"

namespace mt::mtdb {

int RunCreate(const std::vector<std::string>& args);
int RunInfo(const std::vector<std::string>& args);

// Turns an SQL type name into a field definition's type, subtype, size and scale; raises the
// SQL engine's error for a malformed or unknown name.
void ApplyTypeName(TFieldDescriptor& field, const std::string& typeName);
// The index definition over named fields (letter case ignored); EUsage for an unknown field.
TIndexDescriptor IndexOver(const std::vector<TFieldDescriptor>& fields,
                           const std::vector<std::string>& names);

}  // namespace mt::mtdb
