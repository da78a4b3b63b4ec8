// Names of a table's files.
//
// A table is named by a bare name inside a database directory. The directory is trimmed and
// gets a trailing "/" when it lacks one. The file name is the trimmed table name with its
// extension: a name already ending in ".DAT" (any letter case) has that extension replaced,
// any other name gets the extension appended. A name holding "/" is a path of its own and is
// used without the directory.
#pragma once

#include <string>
#include <string_view>

namespace mt {

inline constexpr std::string_view kDataExt = ".DAT";
inline constexpr std::string_view kIndexExt = ".IDX";
inline constexpr std::string_view kBlobExt = ".BLB";
inline constexpr std::string_view kDataBackupExt = ".DBK";
inline constexpr std::string_view kIndexBackupExt = ".IBK";
inline constexpr std::string_view kBlobBackupExt = ".BBK";
inline constexpr std::string_view kWorkExt = ".TMP";
// The journal of the change being written (changejournal.h).
inline constexpr std::string_view kJournalExt = ".JNL";

// The directory, trimmed, with a trailing "/" (empty stays empty).
std::string NormalizeDirectory(std::string_view directory);
// The table's file with the given extension.
std::string TableFileName(std::string_view directory, std::string_view tableName,
                          std::string_view extension);
// The table name without a ".DAT" extension and without a directory, as messages show it.
std::string BareTableName(std::string_view tableName);

}  // namespace mt
