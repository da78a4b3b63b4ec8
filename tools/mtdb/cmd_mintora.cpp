// mtdb init-mintora: creates User, system, Items, szzb and diary from the program's schema
// and adds the first account to User.
#include "cmd_mintora.h"

#include <sys/stat.h>

#include <cerrno>
#include <iostream>
#include <system_error>

#include "cmd_table.h"
#include "cmdline.h"
#include "dbaccess/mintoraschema.h"
#include "engine/common/filehandler.h"
#include "engine/storage/datacursor.h"
#include "engine/storage/tablenames.h"

namespace mt::mtdb {
namespace {

TTableCreateParams ParamsOf(const TTableDef& def) {
  TTableCreateParams p;
  std::vector<std::string> names;
  for (const TColumnDef& c : def.columns) {
    TFieldDescriptor f;
    f.name = c.name;
    ApplyTypeName(f, c.sqlType);
    f.required = !c.nullable;
    p.fields.push_back(std::move(f));
  }
  for (const TIndexDef& i : def.indexes) {
    TIndexDescriptor d = IndexOver(p.fields, i.fields);
    d.unique = i.unique || i.primary;
    d.caseInsensitive = i.caseInsensitive;
    d.descending = i.descending;
    if (i.primary) {
      p.indexes.primary = d;
    } else {
      d.name = i.name;
      p.indexes.secondaries.push_back(d);
    }
  }
  return p;
}

}  // namespace

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
  // Existing tables are never replaced.
  for (const TTableDef& def : MintoraTables()) {
    if (TFileHandler(TableFileName(NormalizeDirectory(dir), def.name, kDataExt)).Exists()) {
      throw std::runtime_error("the table " + def.name + " already exists in " + dir);
    }
  }
  for (const TTableDef& def : MintoraTables())
    TDataTable(dir, def.name).Create(ParamsOf(def));

  TDataDirectory directory(dir);
  TDataCursor users(directory);
  users.SetTableName("User");
  users.Open();
  const TRecordFormat& format = users.Format();
  std::vector<uint8_t> image(static_cast<std::size_t>(users.RecordSize()));
  users.InitRecord(image.data());
  format.SetString(format.FindField("name"), image.data(), user);
  format.SetString(format.FindField("fullname"), image.data(), user);
  format.SetString(format.FindField("password"), image.data(), password);
  users.InsertRecord(image.data());
  users.Close();
  std::cout << "created User, system, Items, szzb and diary in " << dir << " with the user "
            << ToTerminal(user, raw) << "\n";
  return 0;
}

}  // namespace mt::mtdb
