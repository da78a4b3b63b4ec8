// Names and codes of the parse items.
#include "sqlitems.h"

#include "engine/common/localetext.h"
#include "engine/storage/datacursor.h"

namespace mt {

std::string NameKey(std::string_view name) {
  std::string key(name);
  UpperCaseGbk(key);
  return key;
}

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && NameKey(a) == NameKey(b);
}

TSourceTable::TSourceTable() = default;
TSourceTable::~TSourceTable() = default;

std::string_view StatementKindName(TStatementKind kind) {
  switch (kind) {
    case TStatementKind::Select:
      return "SELECT";
    case TStatementKind::Insert:
      return "INSERT";
    case TStatementKind::Update:
      return "UPDATE";
    case TStatementKind::Delete:
      return "DELETE";
    case TStatementKind::CreateTable:
      return "CREATE TABLE";
    case TStatementKind::AlterTable:
      return "ALTER TABLE";
    case TStatementKind::DropTable:
      return "DROP TABLE";
    case TStatementKind::CreateIndex:
      return "CREATE INDEX";
    case TStatementKind::DropIndex:
      return "DROP INDEX";
    case TStatementKind::StartTransaction:
      return "START TRANSACTION";
    case TStatementKind::Rollback:
      return "ROLLBACK";
    case TStatementKind::Commit:
      return "COMMIT";
    case TStatementKind::Unknown:
      break;
  }
  return "UNKNOWN";
}

TAggregateKind AggregateKindOf(TOperator op) {
  switch (op) {
    case TOperator::Sum:
      return TAggregateKind::Sum;
    case TOperator::RunSum:
      return TAggregateKind::RunSum;
    case TOperator::Min:
      return TAggregateKind::Min;
    case TOperator::Max:
      return TAggregateKind::Max;
    case TOperator::Avg:
      return TAggregateKind::Avg;
    case TOperator::Count:
      return TAggregateKind::Count;
    default:
      return TAggregateKind::None;
  }
}

}  // namespace mt
