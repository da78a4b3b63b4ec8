// Engine errors: the one exception class every storage and SQL failure arrives as.
//
// EEngineError carries a numeric code, the OS and socket error numbers current when it was
// raised, the names of the objects involved and a ready-made English message:
//   "Engine Error # " + code (as unsigned 16-bit) + " " + filled template, the filled template
//   cut to its first 254 bytes.
// EDatabaseError is the plain database error that the dataset layer raises for its own faults.
//
// Thread-safety: raising goes through one process-wide error context guarded by a mutex, so
// concurrent raisers never mix their texts. The exception objects themselves are immutable.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace mt {

// The generic database error: a message text and a help context.
class EDatabaseError : public std::runtime_error {
 public:
  explicit EDatabaseError(const std::string& message, int helpContext = 0)
      : std::runtime_error(message), helpContext_(helpContext) {}
  int HelpContext() const noexcept { return helpContext_; }

 private:
  int helpContext_;
};

// The names and free text a raiser hands over; any of them may be empty.
struct TErrorNames {
  std::string server;
  std::string user;
  std::string database;
  std::string table;
  std::string field;
  std::string index;
  std::string extra;
};

// The process-wide error context as it stood when an error was raised. Each text holds at
// most kMaxContextText bytes.
struct TEngineErrorContext {
  static constexpr std::size_t kMaxContextText = 255;
  int32_t code = 0;
  int32_t osError = 0;
  int32_t socketError = 0;
  TErrorNames names;
};

class EEngineError : public EDatabaseError {
 public:
  explicit EEngineError(const TEngineErrorContext& context);

  int32_t ErrorCode() const noexcept { return context_.code; }
  int32_t OsError() const noexcept { return context_.osError; }
  int32_t SocketError() const noexcept { return context_.socketError; }
  const std::string& Server() const noexcept { return context_.names.server; }
  const std::string& User() const noexcept { return context_.names.user; }
  const std::string& Database() const noexcept { return context_.names.database; }
  const std::string& TableName() const noexcept { return context_.names.table; }
  const std::string& FieldName() const noexcept { return context_.names.field; }
  const std::string& IndexName() const noexcept { return context_.names.index; }
  const std::string& ExtraText() const noexcept { return context_.names.extra; }
  const TEngineErrorContext& Context() const noexcept { return context_; }

 private:
  TEngineErrorContext context_;
};

// Error codes the engine raises, by meaning. The message template of each is in
// engineerror.cpp; EngineErrorTemplate() looks one up.
namespace err {
inline constexpr int32_t kBeginningOfTable = 8705;
inline constexpr int32_t kEndOfTable = 8706;
inline constexpr int32_t kRecordChanged = 8708;
inline constexpr int32_t kNoCurrentRecord = 8709;
inline constexpr int32_t kRecordNotFound = 8710;
inline constexpr int32_t kEndOfBlob = 8711;
inline constexpr int32_t kHeaderCorrupt = 8961;
inline constexpr int32_t kRecordBuffersCorrupt = 8962;
inline constexpr int32_t kBlobBuffersCorrupt = 8963;
inline constexpr int32_t kIndexPageCorrupt = 8965;
inline constexpr int32_t kReadError = 9217;
inline constexpr int32_t kWriteError = 9218;
inline constexpr int32_t kCannotDelete = 9220;
inline constexpr int32_t kHeaderAccess = 9221;
inline constexpr int32_t kMaxRecordSize = 9477;
inline constexpr int32_t kTableFull = 9479;
inline constexpr int32_t kTooManyFilters = 9482;
inline constexpr int32_t kIndexLimits = 9487;
inline constexpr int32_t kFieldLimits = 9492;
inline constexpr int32_t kTooManyBlobs = 9494;
inline constexpr int32_t kBlobFieldsOrBlockSize = 9498;
inline constexpr int32_t kDuplicateKey = 9729;
inline constexpr int32_t kBelowMinimum = 9730;
inline constexpr int32_t kAboveMaximum = 9731;
inline constexpr int32_t kValueRequired = 9732;
inline constexpr int32_t kInvalidField = 9985;
inline constexpr int32_t kPrimaryExists = 9993;
inline constexpr int32_t kInvalidBlobOffset = 9998;
inline constexpr int32_t kInvalidFieldDef = 10000;
inline constexpr int32_t kInvalidValidityCheck = 10006;
inline constexpr int32_t kIndexNameMissing = 10010;
inline constexpr int32_t kInvalidPassword = 10015;
inline constexpr int32_t kInvalidIndexName = 10022;
inline constexpr int32_t kInvalidIndexField = 10023;
inline constexpr int32_t kInvalidKeySize = 10026;
inline constexpr int32_t kIndexExists = 10027;
inline constexpr int32_t kInvalidBlobLength = 10029;
inline constexpr int32_t kInvalidBlobHandle = 10030;
inline constexpr int32_t kTableInUse = 10031;
inline constexpr int32_t kInvalidFieldName = 10038;
inline constexpr int32_t kInvalidFilterHandle = 10050;
inline constexpr int32_t kFilterError = 10051;
inline constexpr int32_t kPrimaryCannotBeRemoved = 10055;
inline constexpr int32_t kTableLocked = 10241;
inline constexpr int32_t kCannotUnlock = 10242;
inline constexpr int32_t kLockFailure = 10249;
inline constexpr int32_t kMustBeExclusive = 10253;
inline constexpr int32_t kRecordInUse = 10258;
inline constexpr int32_t kPasswordRequired = 10498;
inline constexpr int32_t kInvalidBlobField = 10753;
inline constexpr int32_t kNotInitialized = 10758;
inline constexpr int32_t kTableNotFound = 11010;
inline constexpr int32_t kTooManyOpenFiles = 11012;
inline constexpr int32_t kAccessDenied = 11013;
inline constexpr int32_t kInvalidHandle = 11014;
inline constexpr int32_t kOutOfMemory = 11016;
inline constexpr int32_t kInvalidMemoryLength = 11017;
inline constexpr int32_t kDeviceAccessDenied = 11023;
inline constexpr int32_t kTableMoved = 11025;
inline constexpr int32_t kUnknownOsError = 11047;
inline constexpr int32_t kSqlError = 11949;
inline constexpr int32_t kWrongVersion = 12035;
inline constexpr int32_t kInvalidIndexFieldSpec = 12292;
inline constexpr int32_t kTableExists = 13060;
inline constexpr int32_t kCompressError = 15001;
inline constexpr int32_t kUncompressError = 15002;
inline constexpr int32_t kLanguageDriver = 15878;
}  // namespace err

// Raises an engine error: fills the process-wide context under its lock (clearing it first,
// taking errno as the OS error number) and throws the EEngineError built from it.
[[noreturn]] void RaiseEngineError(int32_t code, const TErrorNames& names = {});

// Same, with an explicit OS error number (for callers that mapped errno themselves).
[[noreturn]] void RaiseEngineErrorOs(int32_t code, int32_t osError, const TErrorNames& names = {});

// The full message for a context: "Engine Error # <code> <text>".
std::string EngineErrorMessage(const TEngineErrorContext& context);

// The template of a code, or empty when the code is unknown.
std::string_view EngineErrorTemplate(int32_t code);

// The code of a caught exception: its code for an EEngineError, 11047 for anything else.
int32_t ErrorCodeOf(const std::exception& e) noexcept;

}  // namespace mt
