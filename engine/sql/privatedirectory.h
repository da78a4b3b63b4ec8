// The session's private directory, where SELECT results live as temporary tables, and the
// unique names those tables get.
//
// A session that names no private directory uses one folder per process under the system's
// temporary directory ($TMPDIR, else /tmp): "mintora-<pid>-XXXXXX", made (mode 0700) when it
// is first asked for and removed with whatever is left in it when the process ends normally.
//
// Thread-safety: every function may be called from any thread.
#pragma once

#include <string>

namespace mt {

// The process's own private directory, made on first use; raises 11047 with the OS error
// when it cannot be made. The path ends with "/".
const std::string& DefaultPrivateDirectory();

// A table name no other result of this process uses: "mtq" + process id + "_" + a counter of
// the process. The directory is checked so that a name whose files exist (another process
// sharing a private directory, or a crashed run) is skipped. With inMemory the name is for
// the in-memory database, whose tables alone are looked at (no disk directory).
std::string UniqueTemporaryTableName(const std::string& directory, bool inMemory = false);

}  // namespace mt
