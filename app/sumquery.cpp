// The data directory's runner of sum statements: a query dataset pointed at DataDirectory()
// runs the statement and reads the column of its first row.
#include "sumquery.h"

#include "datadir.h"
#include "dbaccess/enginequery.h"
#include "gbktext.h"

namespace {

class TDataDirectorySumQuery : public TSumQuery {
 public:
  double Sum(std::string_view sql, std::string_view column) override {
    mt::TEngineQuery query;
    query.SetDatabaseName(ToGbk(DataDirectory()));
    query.SetSQL(sql);
    query.Open();
    return query.Eof() ? 0.0 : query.FieldByName(column).AsFloat();
  }
};

}  // namespace

std::unique_ptr<TSumQuery> DataDirectorySumQuery() {
  return std::make_unique<TDataDirectorySumQuery>();
}
