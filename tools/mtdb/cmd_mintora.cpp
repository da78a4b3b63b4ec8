// mtdb init-mintora: creates User, system, Items, szzb and diary from the program's schema
// and adds the first account to User.
#include "cmd_mintora.h"

#include <sys/stat.h>

#include <cerrno>
#include <iostream>
#include <system_error>

#include "cmdline.h"
#include "dbaccess/mintoraschema.h"

namespace mt::mtdb {

int RunInitMintora(const std::vector<std::string>& argList) {
  TArgs args(argList, {"--user", "--password"}, {});
  args.RequirePositionals(1, 1, "init-mintora");
  if (!args.Has("--user") || !args.Has("--password")) {
    throw EUsage("init-mintora needs --user and --password");
  }
  const bool raw = args.Raw();
  const std::string dir = args.Positionals()[0];
  const std::string user = ToTable(args.Value("--user"), raw);
  const std::string password = ToTable(args.Value("--password"), raw);
  if (user.empty()) throw EUsage("init-mintora needs a user name");
  if (mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST) {
    throw std::runtime_error("cannot make the directory " + dir + ": " +
                             std::system_category().message(errno));
  }
  CreateMintoraTables(dir, user, password);
  std::cout << "created User, system, Items, szzb and diary in " << dir << " with the user "
            << ToTerminal(user, raw) << "\n";
  return 0;
}

}  // namespace mt::mtdb
