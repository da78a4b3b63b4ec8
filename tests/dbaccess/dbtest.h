// Helpers shared by the dataset layer's tests: a data directory holding the program's five
// tables (made by the same code as `mtdb init-mintora`), ledger rows written through a table
// dataset, small tables of any column types, the message of a failure, and a run of the
// second-process probe.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "dbaccess/dataset.h"
#include "dbaccess/enginetable.h"
#include "dbaccess/mintoraschema.h"
#include "dbaccess/session.h"
#include "engine/common/gbk.h"
#include "engine/storage/datatable.h"
#include "storagetest.h"
#include "tests/childprocess.h"

namespace mt::test {

// The message of the exception fn raised, or "" when it raised none.
inline std::string MessageOf(const std::function<void()>& fn) {
  try {
    fn();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "";
}

// One ledger entry: amounts and texts as a person types them ("" for none).
struct TEntry {
  int id;
  std::string date;
  std::string item;
  std::string input;
  std::string output;
  std::string type;
};

// Four ledger entries of both types over two months, GBK text among them.
inline const std::vector<TEntry> kEntries = {
    {1, "2004-01-05", Utf8ToGbk("工资"), "5000", "", "1"},
    {2, "2004-01-05", Utf8ToGbk("午饭"), "", "12.5", "2"},
    {3, "2004-01-07", "Books", "", "80", "2"},
    {4, "2004-02-01", "Bonus", "300.25", "", "1"},
};

// Creates a table from column types of the SQL dialect; primary and index fields by name.
inline void CreateTable(const std::string& dir, const std::string& name,
                        const std::vector<std::pair<std::string, std::string>>& columns,
                        const std::vector<std::string>& primary = {},
                        const std::vector<std::pair<std::string, std::string>>& indexes = {},
                        bool caseInsensitive = false) {
  TTableCreateParams p;
  for (const auto& [column, type] : columns) {
    TFieldDescriptor f;
    f.name = column;
    ApplyTypeName(f, type);
    p.fields.push_back(f);
  }
  if (!primary.empty()) {
    TIndexDescriptor d;
    for (const std::string& c : primary)
      d.fields.push_back(static_cast<uint16_t>(FieldPosition(p.fields, c)));
    p.indexes.primary = d;
  }
  for (const auto& [index, column] : indexes) {
    TIndexDescriptor d;
    d.name = index;
    d.fields.push_back(static_cast<uint16_t>(FieldPosition(p.fields, column)));
    d.caseInsensitive = caseInsensitive;
    p.indexes.secondaries.push_back(d);
  }
  TDataTable(dir, name).Create(p);
}

// A scratch data directory with the program's five tables and the account admin/admin. The
// default session's temporary databases are dropped after each test.
class TMintoraFixture : public ::testing::Test {
 protected:
  void SetUp() override { CreateMintoraTables(dir_.Path(), "admin", "admin"); }
  void TearDown() override { DefaultSession().Close(); }

  const std::string& Dir() const { return dir_.Path(); }

  // A closed table dataset on a table of the data directory.
  std::unique_ptr<TEngineTable> Table(const std::string& name, TComponent* owner = nullptr) {
    auto t = std::make_unique<TEngineTable>(owner);
    t->SetDatabaseName(Dir());
    t->SetTableName(name);
    return t;
  }

  static void Add(TEngineTable& szzb, const TEntry& e) {
    szzb.Append();
    szzb.FieldByName("id").SetAsInteger(e.id);
    szzb.FieldByName("date").SetAsString(e.date);
    szzb.FieldByName("item").SetAsString(e.item);
    szzb.FieldByName("input").SetAsString(e.input);
    szzb.FieldByName("output").SetAsString(e.output);
    szzb.FieldByName("type").SetAsString(e.type);
    szzb.Post();
  }

  // szzb with the given entries, open.
  std::unique_ptr<TEngineTable> Ledger(const std::vector<TEntry>& entries) {
    auto t = Table("szzb");
    t->Open();
    for (const TEntry& e : entries)
      Add(*t, e);
    t->First();
    return t;
  }

  // The ids of the visible rows from the current one on.
  static std::vector<int64_t> IdsFromHere(TEngineDataSet& ds, const std::string& field = "id") {
    std::vector<int64_t> ids;
    for (; !ds.Eof(); ds.Next())
      ids.push_back(ds.FieldByName(field).AsInteger());
    return ids;
  }

  TScratchDir dir_{"mt-dataset"};
};

// Runs the dataset probe with the arguments and returns its first output line.
inline std::string RunDataSetProbe(const std::vector<std::string>& args) {
  std::vector<std::string> argv = args;
  argv.insert(argv.begin(), MT_DATASET_PROBE);
  const TChildProcess child = StartChild(argv);
  const std::string text = ReadToEnd(child.out);
  int status = 0;
  waitpid(child.pid, &status, 0);
  return text.substr(0, text.find('\n'));
}

}  // namespace mt::test
