// The dataset layer's own failures: the message texts it raises and the helpers that raise
// them as EDatabaseError (engine/common/engineerror.h). Engine failures keep arriving as
// EEngineError, which derives from EDatabaseError, so callers that show "a database error"
// catch both with one handler.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

#include "engine/common/engineerror.h"

namespace mt {

namespace dbmsg {
// Sessions.
inline constexpr std::string_view kSessionNameInvalid = "Session name %s is not valid.";
inline constexpr std::string_view kSessionNameExists = "Session name %s already exists.";
inline constexpr std::string_view kSessionNameMissing = "Session name is missing.";
inline constexpr std::string_view kSessionActive =
    "Cannot perform this operation on an active session.";
inline constexpr std::string_view kAutoSessionActive =
    "Cannot perform this operation on the active auto-session.";
inline constexpr std::string_view kAutoSessionExclusive =
    "The active auto-session can be the only active session.";
inline constexpr std::string_view kAutoSessionExists = "This auto-session already exists.";
// Databases.
inline constexpr std::string_view kDatabaseNameMissing = "Database name is missing.";
inline constexpr std::string_view kDatabaseNameInvalid = "Database name %s is not valid.";
inline constexpr std::string_view kDatabaseOpen =
    "Cannot perform this operation on an open database.";
inline constexpr std::string_view kDatabaseClosed =
    "Cannot perform this operation on a closed database.";
// Datasets.
inline constexpr std::string_view kDataSetOpen = "Cannot perform this operation on an open dataset";
inline constexpr std::string_view kDataSetClosed =
    "Cannot perform this operation on a closed dataset";
inline constexpr std::string_view kDataSetReadOnly = "Cannot modify a read-only dataset";
inline constexpr std::string_view kTableNameMissing = "Missing table name.";
inline constexpr std::string_view kHandleError = "Error creating table handle.";
inline constexpr std::string_view kNotEditing = "Table is not in edit or insert mode.";
inline constexpr std::string_view kFieldReadOnly = "Field %s cannot be modified.";
inline constexpr std::string_view kFieldNotFound = "Field '%s' not found";
inline constexpr std::string_view kNoIndexForFields = "No index for fields '%s'";
inline constexpr std::string_view kLocateValueCount =
    "Locate needs one value for each of the fields '%s'";
// Queries.
inline constexpr std::string_view kNoSqlStatement = "No SQL statement available";
inline constexpr std::string_view kNoParameterValue = "No value for parameter '%s'";
inline constexpr std::string_view kParameterNotFound = "Parameter '%s' not found";
// Field value conversions.
inline constexpr std::string_view kInvalidInteger = "'%s' is not a valid integer value";
inline constexpr std::string_view kInvalidFloat = "'%s' is not a valid floating point value";
inline constexpr std::string_view kInvalidBoolean = "'%s' is not a valid boolean value";
inline constexpr std::string_view kInvalidDate = "'%s' is not a valid date";
inline constexpr std::string_view kInvalidTime = "'%s' is not a valid time";
inline constexpr std::string_view kInvalidTimestamp = "'%s' is not a valid date and time";
inline constexpr std::string_view kFieldRange =
    "%s is not a valid value for field '%s'. The allowed range is %s to %s";
inline constexpr std::string_view kFieldAccess = "Cannot access field '%s' as type %s";
}  // namespace dbmsg

// The template with each "%s" replaced, in order, by the next argument.
std::string FormatDbMessage(std::string_view format, std::initializer_list<std::string_view> args);

[[noreturn]] void RaiseDatabaseError(std::string_view message);
[[noreturn]] void RaiseDatabaseError(std::string_view format,
                                     std::initializer_list<std::string_view> args);

}  // namespace mt
