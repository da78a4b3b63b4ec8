// The statement parser: the recursive-descent grammar of SQL statements above the expression
// grammar, reading from the statement's expression parser token by token.
//
// Statement-level faults raise engine error 11949 with the statement's message and no context
// suffix; faults inside expressions carry the context of the clause being read ("source
// column expression", "WHERE or JOIN clause", ...), which the parser sets around each clause
// and puts back afterwards.
#pragma once

namespace mt {

class TDataQuery;
class TQueryStatement;

// Parses the statement that starts at the parser's current token into master (a new query of
// the statement), including the ";" that ends it; on return the parser stands on the first
// token of the next statement or at the end of the text.
void ParseSqlStatement(TQueryStatement& statement, TDataQuery& master);

// Parses the SELECT of IN (SELECT ...) into query: on entry the current token is SELECT, on
// return the first token after the sub-select (the ")" of the IN operator when it is sound).
void ParseSqlSubSelect(TQueryStatement& statement, TDataQuery& query);

}  // namespace mt
