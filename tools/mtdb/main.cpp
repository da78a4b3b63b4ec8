// mtdb: inspect, script and back up tables of the Mintora engine from the command line.
// Terminal side UTF-8, table side GBK. Engine errors go to stderr with exit status 1; bad
// usage prints the usage text to stderr and exits 2.
#include <cstring>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "cmd_archive.h"
#include "cmd_check.h"
#include "cmd_data.h"
#include "cmd_mintora.h"
#include "cmd_sql.h"
#include "cmd_table.h"
#include "cmdline.h"

namespace {

constexpr const char* kUsage =
    R"(usage: mtdb COMMAND ...

  mtdb create DIR TABLE --field NAME:TYPE [--field ...] [--required NAME]...
              [--primary F[,F...]] [--index NAME:F[,F...][:unique][:nocase][:desc]]...
              [--blob-block-size N] [--password P] [--locale NAME]
  mtdb insert DIR TABLE [--password P]          rows as TSV on stdin, first line the columns
  mtdb dump DIR TABLE [--index NAME] [--filter EXPR] [--password P]
  mtdb info DIR TABLE [--json] [--password P]
  mtdb verify DIR [TABLE...] [--password P]...
  mtdb repair DIR TABLE [--password P]
  mtdb sql DIR [-c TEXT | FILE] [--password P]...   statements from TEXT, FILE or stdin;
                                                     each SELECT prints its rows as TSV
  mtdb backup DIR ARCHIVE
  mtdb restore ARCHIVE DIR
  mtdb init-mintora DIR --user NAME --password PW

Options common to all commands: --raw passes table text bytes unchanged (no GBK conversion).
)";

int Usage(const std::string& complaint) {
  if (!complaint.empty()) std::cerr << "mtdb: " << complaint << "\n";
  std::cerr << kUsage;
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage("");
  std::string_view command = argv[1];
  if (command == "--help" || command == "-h" || command == "help") {
    std::cout << kUsage;
    return 0;
  }
  if (command == "backup" || command == "restore") {
    std::vector<std::string> args;
    for (int i = 2; i < argc; ++i) {
      if (std::strcmp(argv[i], "--raw") != 0) args.emplace_back(argv[i]);
    }
    if (args.size() != 2) return Usage(std::string(command) + " takes two arguments");
    return command == "backup" ? mt::mtdb::RunBackup(args[0], args[1])
                               : mt::mtdb::RunRestore(args[0], args[1]);
  }
  std::vector<std::string> args(argv + 2, argv + argc);
  using TRunner = int (*)(const std::vector<std::string>&);
  static const std::pair<std::string_view, TRunner> kCommands[] = {
      {"create", mt::mtdb::RunCreate},
      {"info", mt::mtdb::RunInfo},
      {"insert", mt::mtdb::RunInsert},
      {"dump", mt::mtdb::RunDump},
      {"verify", mt::mtdb::RunVerify},
      {"repair", mt::mtdb::RunRepair},
      {"init-mintora", mt::mtdb::RunInitMintora},
      {"sql", mt::mtdb::RunSql},
  };
  for (const auto& [name, run] : kCommands) {
    if (command == name) return mt::mtdb::RunCommand([&] { return run(args); }, kUsage);
  }
  return Usage("unknown command '" + std::string(command) + "'");
}
