// Engine error messages and the process-wide error context.
#include "engineerror.h"

#include <algorithm>
#include <cerrno>
#include <mutex>

namespace mt {
namespace {

// Fill order of a template's "%s" items: S server, U user, D database, T table, F field,
// I index, X extra text, O the OS error number as decimal text.
struct TErrorTemplate {
  int32_t code;
  const char* order;
  const char* text;
};

constexpr TErrorTemplate kTemplates[] = {
    {8705, "T", "Beginning of table '%s' unexpectedly encountered"},
    {8706, "T", "End of table '%s' unexpectedly encountered"},
    {8708, "T",
     "Record has been changed or deleted by another user, session, or table cursor in the table "
     "'%s'"},
    {8709, "T", "No current record in the table '%s'"},
    {8710, "T", "Record not found in the table '%s'"},
    {8711, "T", "End of blob data in the table '%s' reached prematurely"},
    {8961, "T", "Header information corrupt in the table '%s'"},
    {8962, "T", "Data record buffers corrupt in the table '%s'"},
    {8963, "T", "BLOB block buffers corrupt in the table '%s'"},
    {8965, "T", "Index page buffers corrupt in the table '%s'"},
    {9217, "T", "Error reading from the table '%s'"},
    {9218, "T", "Error writing to the table '%s'"},
    {9220, "T", "Cannot delete the table '%s'"},
    {9221, "T", "Error accessing header information for the table '%s'"},
    {9477, "T", "Maximum record size exceeded in the table '%s'"},
    {9479, "T", "The table '%s' is full and cannot contain any more data"},
    {9482, "T", "Too many filters defined for the table '%s'"},
    {9487, "T",
     "Maximum or minimum limits on number of indexes or fields in an index exceeded in the table "
     "'%s'"},
    {9492, "T",
     "Maximum or minimum limits on number of fields, auto-increment field value, or field size "
     "exceeded in the table '%s'"},
    {9494, "T", "Too many blobs opened in the table '%s'"},
    {9498, "T", "Too many blob fields or invalid blob block size specified for the table '%s'"},
    {9729, "IT", "Duplicate key found in the index '%s' of the table '%s'"},
    {9730, "FT",
     "The value for the field '%s' in the table '%s' is below the minimum allowable value"},
    {9731, "FT",
     "The value for the field '%s' in the table '%s' is above the maximum allowable value"},
    {9732, "FT", "A value must be provided for the field '%s' in the table '%s'"},
    {9985, "FT", "Invalid field number or name '%s' specified for the table '%s'"},
    {9993, "T", "A primary index is already defined for the table '%s' and cannot be added again"},
    {9998, "T", "Invalid blob offset into the table '%s' specified"},
    {10000, "FT", "Invalid field definition specified for the field '%s' in the table '%s'"},
    {10006, "FT",
     "Invalid default, min or max validity check, or expression specified for the field '%s' in "
     "the table '%s'"},
    {10010, "T", "The secondary index name is missing or not specified for the table '%s'"},
    {10015, "T", "Password provided for the table '%s' is invalid"},
    {10022, "IT", "Invalid secondary index name '%s' specified for the table '%s'"},
    {10023, "FIT", "Invalid field number '%s' specified in the index '%s' for the table '%s'"},
    {10026, "IT", "Invalid key size specified in the index '%s' for the table '%s'"},
    {10027, "IT", "The secondary index '%s' already exists for the table '%s'"},
    {10029, "T", "Invalid blob length in the table '%s'"},
    {10030, "T", "Invalid blob handle for the table '%s' specified"},
    {10031, "T", "The table '%s' is already in use"},
    {10038, "FT", "Invalid or duplicate field name '%s' specified for the table '%s'"},
    {10050, "T", "Invalid filter handle specified for the table '%s'"},
    {10051, "TX", "Filter error for the table '%s' - %s"},
    {10055, "T", "The primary index cannot be removed from the table '%s'"},
    {10241, "T", "The table '%s' is already locked by another user"},
    {10242, "T", "Cannot unlock table or record in the table '%s'"},
    {10249, "T", "General lock failure with the table '%s'"},
    {10253, "T", "The table '%s' must be opened exclusively"},
    {10258, "T", "Record in the table '%s' is in use by another user"},
    {10498, "T", "Insufficient rights to the table '%s', a password is required"},
    {10753, "FT", "Invalid blob field '%s' specified for the table '%s'"},
    {10758, "", "The database engine is not initialized"},
    {11010, "T", "Table '%s' does not exist"},
    {11012, "T", "Too many operating system files open while attempting to open the table '%s'"},
    {11013, "T", "Access denied to table '%s'"},
    {11014, "T", "Invalid operating system file handle for the table '%s'"},
    {11016, "",
     "There is insufficient operating system memory available for the current operation"},
    {11017, "T", "Invalid length for the in-memory table '%s'"},
    {11023, "T", "Access denied to logical operating system device for the table '%s'"},
    {11025, "T", "The table '%s' has been moved"},
    {11047, "OT", "An unknown operating system error %s occurred with the table '%s'"},
    {11276, "S", "The connection to the database server at '%s' has been lost"},
    {11279, "XS",
     "An unknown error ('%s') occurred with the connection to the database server at '%s', please "
     "check the server log"},
    {11280, "S", "A connection to the database server at '%s' cannot be established"},
    {11281, "S",
     "A connection to the database server at '%s' cannot be established, the server is not "
     "accepting new logins"},
    {11282, "S",
     "A connection to the database server at '%s' cannot be established, the maximum number of "
     "connections has been reached"},
    {11283, "S",
     "A connection to the database server at '%s' cannot be established, the client address is "
     "blocked"},
    {11285, "S", "A server callback error occurred for the database server at '%s'"},
    {11286, "S",
     "A call to the database server at '%s' failed, the client engine version does not match the "
     "server"},
    {11287, "S",
     "A connection to the database server at '%s' cannot be established, the login information "
     "provided is invalid"},
    {11288, "UDS",
     "The user '%s' is not authorized to perform this operation with the database '%s' on the "
     "database server at '%s'"},
    {11289, "US",
     "The user '%s' is not authorized to perform administration functions on the database server "
     "at '%s'"},
    {11290, "", "The user name is either invalid or blank"},
    {11291, "US", "The user '%s' does not exist on the database server at '%s'"},
    {11292, "US", "The user '%s' already exists on the database server at '%s'"},
    {11293, "", "The database name or directory is either invalid or blank"},
    {11294, "DS", "The database '%s' does not exist on the database server at '%s'"},
    {11295, "DS", "The database '%s' already exists on the database server at '%s'"},
    {11296, "", "The database user name is either invalid or blank"},
    {11297, "UDS",
     "The database user '%s' does not exist for the database '%s' on the database server at '%s'"},
    {11298, "UDS",
     "The database user '%s' already exists for the database '%s' on the database server at '%s'"},
    {11299, "S", "An invalid or unknown request was made to the database server at '%s'"},
    {11300, "TX", "An error occurred during the import into the table '%s' - %s"},
    {11301, "TX", "An error occurred during the export from the table '%s' - %s"},
    {11949, "X", "SQL error - %s"},
    {12035, "T", "The table '%s' is not the correct version"},
    {12292, "FIT", "Invalid field '%s' specified for the index '%s' in the table '%s'"},
    {13060, "T", "The table '%s' already exists"},
    {15001, "", "Error compressing data"},
    {15002, "", "Error uncompressing data"},
    {15878, "T", "The language driver for the table '%s' is not available or installed"},
};

constexpr std::string_view kUnknownError = "An unknown error occurred";
constexpr std::size_t kMaxMessageText = 254;

const TErrorTemplate* FindTemplate(int32_t code) {
  for (const auto& t : kTemplates)
    if (t.code == code) return &t;
  return nullptr;
}

std::string ContextItem(const TEngineErrorContext& c, char which) {
  switch (which) {
    case 'S':
      return c.names.server;
    case 'U':
      return c.names.user;
    case 'D':
      return c.names.database;
    case 'T':
      return c.names.table;
    case 'F':
      return c.names.field;
    case 'I':
      return c.names.index;
    case 'X':
      return c.names.extra;
    case 'O':
      return std::to_string(c.osError);
  }
  return {};
}

std::string Cut(const std::string& s, std::size_t n) {
  return s.size() > n ? s.substr(0, n) : s;
}

std::mutex& ContextLock() {
  static std::mutex lock;
  return lock;
}

TEngineErrorContext& SharedContext() {
  static TEngineErrorContext context;
  return context;
}

}  // namespace

std::string_view EngineErrorTemplate(int32_t code) {
  const TErrorTemplate* t = FindTemplate(code);
  return t ? std::string_view(t->text) : std::string_view();
}

std::string EngineErrorMessage(const TEngineErrorContext& context) {
  std::string text;
  if (const TErrorTemplate* t = FindTemplate(context.code)) {
    std::string_view tmpl = t->text;
    const char* order = t->order;
    std::size_t pos = 0;
    while (true) {
      std::size_t hole = tmpl.find("%s", pos);
      if (hole == std::string_view::npos) {
        text.append(tmpl.substr(pos));
        break;
      }
      text.append(tmpl.substr(pos, hole - pos));
      if (*order) text += ContextItem(context, *order++);
      pos = hole + 2;
    }
  } else {
    text = kUnknownError;
  }
  return "Engine Error # " + std::to_string(static_cast<uint16_t>(context.code)) + " " +
         Cut(text, kMaxMessageText);
}

EEngineError::EEngineError(const TEngineErrorContext& context)
    : EDatabaseError(EngineErrorMessage(context)), context_(context) {}

void RaiseEngineErrorOs(int32_t code, int32_t osError, const TErrorNames& names) {
  // Filling the shared context and building the exception is one step under the lock.
  std::unique_lock<std::mutex> guard(ContextLock());
  TEngineErrorContext& c = SharedContext();
  c = TEngineErrorContext{};
  c.code = code;
  c.osError = osError;
  c.socketError = 0;
  const std::size_t n = TEngineErrorContext::kMaxContextText;
  c.names = TErrorNames{Cut(names.server, n), Cut(names.user, n),  Cut(names.database, n),
                        Cut(names.table, n),  Cut(names.field, n), Cut(names.index, n),
                        Cut(names.extra, n)};
  EEngineError error(c);
  guard.unlock();
  throw error;
}

void RaiseEngineError(int32_t code, const TErrorNames& names) {
  RaiseEngineErrorOs(code, errno, names);
}

int32_t ErrorCodeOf(const std::exception& e) noexcept {
  if (const auto* engine = dynamic_cast<const EEngineError*>(&e)) return engine->ErrorCode();
  return err::kUnknownOsError;
}

}  // namespace mt
