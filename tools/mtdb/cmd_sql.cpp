// mtdb sql DIR [-c TEXT | FILE]: the statements of the text (from -c, a file, or standard
// input) run one after another against the tables of DIR. A SELECT prints its result as TSV
// with a header line (results of several SELECTs are separated by an empty line); INSERT,
// UPDATE and DELETE print the rows they affected, one line each; the first failing statement
// ends the run with its error (a transaction the text started and left open is rolled back).
#include "cmd_sql.h"

#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

#include "cmd_data.h"
#include "cmdline.h"
#include "engine/sql/querystatement.h"
#include "engine/storage/datadirectory.h"

namespace mt::mtdb {

int RunSql(const std::vector<std::string>& argList) {
  std::vector<std::string> rest;
  std::string command;
  bool haveCommand = false;
  for (std::size_t i = 0; i < argList.size(); ++i) {
    if (argList[i] == "-c") {
      if (i + 1 >= argList.size()) throw EUsage("option -c needs a value");
      command = argList[++i];
      haveCommand = true;
    } else {
      rest.push_back(argList[i]);
    }
  }
  TArgs args(rest, {"--password"}, {});
  args.RequirePositionals(1, haveCommand ? 1 : 2, "sql");
  const bool raw = args.Raw();
  std::string text;
  if (haveCommand) {
    text = command;
  } else if (args.Positionals().size() == 2) {
    std::ifstream in(args.Positionals()[1], std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + args.Positionals()[1]);
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  } else {
    text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
  }

  TDataDirectory directory(args.Positionals()[0]);
  TQueryStatement statement(&directory);
  std::vector<std::string> passwords;
  for (const std::string& p : args.Values("--password"))
    passwords.push_back(ToTable(p, raw));
  statement.SetPasswords({passwords, {}});
  statement.Prepare(ToTable(text, raw));
  bool printed = false;
  do {
    TDataCursor* rows = statement.ExecuteStatement();
    if (rows != nullptr) {
      if (printed) std::cout << "\n";
      WriteRows(*rows, statement.ResultColumnCount(), raw, std::cout);
      printed = true;
    } else if (statement.Kind() == TStatementKind::Insert ||
               statement.Kind() == TStatementKind::Update ||
               statement.Kind() == TStatementKind::Delete) {
      std::cout << statement.StatementRowsAffected() << "\n";
    }
    std::cout.flush();
  } while (statement.NextStatement());
  return 0;
}

}  // namespace mt::mtdb
