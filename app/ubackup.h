// The backup and restore commands ("数据备份", "数据恢复") and the work behind them.
//
// Backup writes every file directly in the data directory (names beginning with "." left out)
// into one ZIP archive ending in ".mtb". While it copies, it holds the read lock of every table
// it can open, so a change by another running copy of the program waits until the copy is
// done or came before it: the archive never holds a half-written change.
//
// Restore first lets go of the program's own tables (every dataset and database of the
// session is closed), so its own open files never keep a table from being replaced. Then the
// archive is checked whole, every entry's data against its CRC-32 and every table file it
// would replace against being held by another program, and the tables are replaced only when
// all of it checks out: a damaged archive, or one whose tables another running copy holds,
// changes nothing and says why. Files of the data directory that the archive does not hold
// stay as they are.
#pragma once

#include <QDate>
#include <QString>
#include <QStringList>

class QWidget;

// "yyyy-mm-dd.mtb" for the day.
QString ProposedBackupName(const QDate& day);
// The chosen name with ".mtb" appended unless its extension already is ".mtb" (any case).
QString BackupArchiveName(const QString& chosen);
// Full paths of the entries directly in the data directory whose names do not begin with
// "." (subfolders included: the archive writer adds files only), in the listing's order.
QStringList BackupFileList(const QString& dataDirectory);
// Writes the archive from the data directory's files under the tables' read locks. An
// existing archive of that name must be gone. Archive errors arrive as exceptions.
void WriteBackup(const QString& archiveName, const QString& dataDirectory);

// Closes every dataset and database of the program's session, so that no table file of the
// data directory is held open by the program itself.
void ReleaseTables();

struct TRestoreResult {
  enum class TOutcome {
    Restored,    // every entry written
    Unreadable,  // not an archive, or its directory cannot be read: nothing changed
    Refused,     // the check failed (bad entry data, a file that cannot be replaced):
                 // nothing changed
    Incomplete,  // some entries were written, those in `problems` were not
  };
  TOutcome outcome = TOutcome::Restored;
  QStringList problems;  // "file name: reason" for each entry that failed
};
// Restores the archive into the data directory as described above (ReleaseTables first).
TRestoreResult RestoreBackup(const QString& archiveName, const QString& dataDirectory);

// The commands with their dialogs and messages. RunRestore returns true when tables were
// replaced, so that the caller asks the user to sign in again.
void RunBackup(QWidget* parent);
bool RunRestore(QWidget* parent);
