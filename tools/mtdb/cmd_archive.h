// mtdb backup and restore: the program's backup of a data directory into one ZIP archive and
// its restore, on the same archive component.
#pragma once

#include <string>

namespace mt::mtdb {

// Writes every file directly in dir whose name does not begin with "." into a new archive,
// replacing an existing file of that name. Returns the exit status.
int RunBackup(const std::string& dir, const std::string& archive);

// Extracts every entry of the archive into dir, replacing files there; files the archive does
// not hold stay. Entries that could not be written are listed on stderr and give status 1.
int RunRestore(const std::string& archive, const std::string& dir);

}  // namespace mt::mtdb
