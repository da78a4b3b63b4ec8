// mtdb verify and repair.
#include "cmd_check.h"

#include <dirent.h>

#include <algorithm>
#include <iostream>
#include <memory>

#include "cmdline.h"
#include "engine/common/engineerror.h"
#include "engine/common/filehandler.h"
#include "engine/storage/datatable.h"
#include "engine/storage/tablecheck.h"
#include "engine/storage/tablenames.h"

namespace mt::mtdb {
namespace {

struct TDirCloser {
  void operator()(DIR* d) const { closedir(d); }
};

// The tables of a directory: its files ending in ".DAT" (any letter case), sorted.
std::vector<std::string> TablesIn(const std::string& dir) {
  std::unique_ptr<DIR, TDirCloser> d(opendir(dir.empty() ? "." : dir.c_str()));
  if (!d) throw std::runtime_error("cannot read the directory " + dir);
  std::vector<std::string> names;
  while (dirent* e = readdir(d.get())) {
    std::string name = e->d_name;
    if (name.size() <= 4 || name[0] == '.') continue;
    std::string ext = name.substr(name.size() - 4);
    for (char& c : ext) {
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    if (ext == kDataExt) names.push_back(name.substr(0, name.size() - 4));
  }
  std::sort(names.begin(), names.end());
  return names;
}

TTableOpenOptions OptionsWith(const std::vector<std::string>& passwords, bool exclusive) {
  TTableOpenOptions o;
  o.exclusive = exclusive;
  o.passwords.known = passwords;
  return o;
}

}  // namespace

std::vector<std::string> VerifyTable(const std::string& dir, const std::string& tableName,
                                     const std::vector<std::string>& passwords) {
  std::vector<std::string> faults;
  TDataTable table(dir, tableName);
  // A missing index file is a fault; opening would make a new one.
  if (!TFileHandler(table.FileName(kIndexExt)).Exists()) {
    faults.push_back("the index file is missing");
    return faults;
  }
  // Opening would complete a change cut off by a dead writer: that state is reported as it is.
  try {
    if (CutOffChangeLeft(dir, tableName)) {
      faults.push_back(
          "a change was cut off in the middle (the next open of the table completes it)");
      return faults;
    }
    table.Open(OptionsWith(passwords, false));
  } catch (const EEngineError& e) {
    faults.push_back(e.what());
    return faults;
  }
  try {
    faults = CheckDataRecords(table);
    for (std::string& f : CheckIndexes(table))
      faults.push_back(std::move(f));
    for (std::string& f : CheckBlobValues(table))
      faults.push_back(std::move(f));
  } catch (const EEngineError& e) {
    faults.push_back(e.what());
  }
  table.Close();
  return faults;
}

int RunVerify(const std::vector<std::string>& argList) {
  TArgs args(argList, {"--password"}, {});
  if (args.Positionals().empty()) throw EUsage("verify: wrong number of arguments");
  const bool raw = args.Raw();
  const std::string dir = args.Positionals()[0];
  std::vector<std::string> tables;
  for (std::size_t i = 1; i < args.Positionals().size(); ++i)
    tables.push_back(ToTable(args.Positionals()[i], raw));
  if (tables.empty()) tables = TablesIn(dir);
  std::vector<std::string> passwords;
  for (const std::string& p : args.Values("--password"))
    passwords.push_back(ToTable(p, raw));
  bool sound = true;
  for (const std::string& t : tables) {
    for (const std::string& fault : VerifyTable(dir, t, passwords)) {
      std::cout << ToTerminal(t, raw) << ": " << ToTerminal(fault, raw) << "\n";
      sound = false;
    }
  }
  return sound ? 0 : 1;
}

int RunRepair(const std::vector<std::string>& argList) {
  TArgs args(argList, {"--password"}, {});
  args.RequirePositionals(2, 2, "repair");
  const bool raw = args.Raw();
  const std::string dir = args.Positionals()[0];
  const std::string tableName = ToTable(args.Positionals()[1], raw);
  const TDataRepairReport report = RepairDataFile(dir, tableName);
  for (const std::string& note : report.notes)
    std::cout << ToTerminal(note, raw) << "\n";
  std::vector<std::string> passwords;
  for (const std::string& p : args.Values("--password"))
    passwords.push_back(ToTable(p, raw));
  int32_t records = report.records - report.deleted;
  for (const std::string& note : RepairIndexFile(dir, tableName, {passwords, {}}))
    std::cout << ToTerminal(note, raw) << "\n";
  for (const std::string& note : RepairBlobFile(dir, tableName, {passwords, {}})) {
    std::cout << ToTerminal(note, raw) << "\n";
    if (note.find("deleted") != std::string::npos) --records;
  }
  std::cout << records << " records\n";
  return 0;
}

}  // namespace mt::mtdb
