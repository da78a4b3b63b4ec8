// A one-line text of a statement's parse result, for tests, the fuzz target and diagnostics.
//
// The text reads like the statement in a normalised form: expression trees in the compact form
// of ExpTreeToText, tables by path with their correlation name when it differs from the table
// name, types as "type/subtype/size/scale", only the clauses and options that were given.
// For example
//   SELECT item, (SUM output) AS allinput FROM szzb WHERE (= type str:'1') GROUP BY item
//   ORDER BY item
// A computed select item carries its source text in braces: "(+ a int:1) {a+1}". Sub-selects
// follow the master query as " | SUB " + their own text, in creation order.
#pragma once

#include <string>

namespace mt {

class TDataQuery;
class TQueryStatement;

std::string QueryToText(const TDataQuery& query);
std::string StatementToText(const TQueryStatement& statement);

}  // namespace mt
