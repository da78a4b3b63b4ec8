// Table datasets on the program's tables: opening and closing, moving and the ends, field
// lookup, typed reads and writes with their null rules and conversions, the change states and
// failed posts, filters, the current order, and Locate through an index or a filter.
#include <gtest/gtest.h>

#include "dbaccess/database.h"
#include "dbtest.h"
#include "engine/common/gbk.h"
#include "engine/storage/tablecheck.h"

namespace mt {
namespace {

using test::ErrorCodeOf;
using test::kEntries;
using test::MessageOf;
using test::TEntry;

class DataSetTest : public test::TMintoraFixture {};

TEST_F(DataSetTest, MovesThroughRowsAndStaysOnTheLastPastTheEnd) {
  auto t = Ledger(kEntries);
  EXPECT_EQ(t->State(), TDataSetState::Browse);
  EXPECT_TRUE(t->Bof());
  EXPECT_FALSE(t->Eof());
  EXPECT_EQ(t->RecordCount(), 4u);
  EXPECT_EQ(IdsFromHere(*t), (std::vector<int64_t>{1, 2, 3, 4}));
  EXPECT_TRUE(t->Eof());
  EXPECT_EQ(t->FieldByName("id").AsInteger(), 4);
  t->Next();
  EXPECT_EQ(t->FieldByName("id").AsInteger(), 4);
  t->Prior();
  EXPECT_FALSE(t->Eof());
  EXPECT_EQ(t->FieldByName("id").AsInteger(), 3);
  t->First();
  t->Prior();
  EXPECT_TRUE(t->Bof());
  EXPECT_EQ(t->FieldByName("id").AsInteger(), 1);
  t->Last();
  EXPECT_TRUE(t->Eof());
  EXPECT_EQ(t->FieldByName("id").AsInteger(), 4);
  t->Prior();
  EXPECT_EQ(t->FieldByName("id").AsInteger(), 3);
  t->First();
  EXPECT_EQ(t->MoveBy(2), 2);
  EXPECT_EQ(t->FieldByName("id").AsInteger(), 3);
  EXPECT_EQ(t->MoveBy(5), 1);
  EXPECT_TRUE(t->Eof());

  // Scroll events come around each move.
  std::vector<int64_t> seen;
  t->AfterScroll = [&](TEngineDataSet& ds) { seen.push_back(ds.FieldByName("id").AsInteger()); };
  t->First();
  t->Next();
  EXPECT_EQ(seen, (std::vector<int64_t>{1, 2}));
}

TEST_F(DataSetTest, AnEmptyTableHasNoRowAndItsFieldsReadAsNull) {
  auto t = Table("Items");
  t->Open();
  EXPECT_TRUE(t->Eof());
  EXPECT_TRUE(t->Bof());
  EXPECT_TRUE(t->IsEmpty());
  EXPECT_EQ(t->RecordCount(), 0u);
  TField& id = t->FieldByName("id");
  EXPECT_TRUE(id.IsNull());
  EXPECT_EQ(id.AsString(), "");
  EXPECT_EQ(id.AsInteger(), 0);
  t->Next();
  t->Last();
  EXPECT_TRUE(t->IsEmpty());
  EXPECT_FALSE(t->Locate("id", 1));
}

TEST_F(DataSetTest, OpenCloseFieldsAndTheRulesOfAnOpenDataset) {
  auto t = Table("szzb");
  EXPECT_EQ(MessageOf([&] { t->RecordCount(); }),
            "Cannot perform this operation on a closed dataset");
  t->Open();
  EXPECT_EQ(t->FieldCount(), 11);
  EXPECT_EQ(&t->FieldByName("Type"), &t->FieldByName("type"));
  EXPECT_EQ(t->FieldByName("BALANCE").FieldName(), "balance");
  EXPECT_EQ(MessageOf([&] { t->FieldByName("nope"); }), "Field 'nope' not found");
  EXPECT_EQ(MessageOf([&] { t->SetTableName("User"); }),
            "Cannot perform this operation on an open dataset");
  // The windows set the same database name before every use, also on an open dataset.
  t->SetDatabaseName(Dir());
  t->SetDatabaseName(Dir() + "/");
  EXPECT_EQ(MessageOf([&] { t->SetDatabaseName("/elsewhere"); }),
            "Cannot perform this operation on an open dataset");
  EXPECT_EQ(TEngineDataSet::kEngineVersion, "3.24");
  t->Close();
  EXPECT_FALSE(t->Active());
  EXPECT_EQ(MessageOf([&] { t->FieldByName("id"); }), "Field 'id' not found");

  t->SetTableName("");
  EXPECT_EQ(MessageOf([&] { t->Open(); }), "Missing table name.");
  t->SetTableName("nope");
  EXPECT_EQ(MessageOf([&] { t->Open(); }),
            "Engine Error # 11010 Table '" + Dir() + "/nope.DAT' does not exist");
  EXPECT_FALSE(t->Active());
  EXPECT_EQ(t->Database(), nullptr);
}

// Every column kind through text, numbers, dates and variants, and the null rules.
TEST_F(DataSetTest, TypedReadsAndWrites) {
  test::CreateTable(Dir(), "kinds",
                    {{"s", "CHAR(10)"},
                     {"i", "INTEGER"},
                     {"si", "SMALLINT"},
                     {"f", "FLOAT"},
                     {"m", "MONEY"},
                     {"b", "BOOLEAN"},
                     {"d", "DATE"},
                     {"t", "TIME"},
                     {"ts", "TIMESTAMP"},
                     {"n", "DECIMAL(10,2)"},
                     {"ai", "AUTOINC"},
                     {"memo", "MEMO"}});
  auto t = Table("kinds");
  t->Open();
  t->Append();
  // Null reads.
  for (const char* name : {"s", "i", "f", "b", "d", "ts", "n", "memo"}) {
    TField& f = t->FieldByName(name);
    EXPECT_TRUE(f.IsNull()) << name;
    EXPECT_EQ(f.AsString(), "") << name;
  }
  EXPECT_EQ(t->FieldByName("i").AsInteger(), 0);
  EXPECT_EQ(t->FieldByName("f").AsFloat(), 0.0);
  EXPECT_EQ(t->FieldByName("d").AsDateTime(), 0.0);
  EXPECT_FALSE(t->FieldByName("b").AsBoolean());

  struct TCase {
    const char* field;
    const char* text;
    const char* readBack;  // nullptr: the write is refused with `message`
    const char* message;
  };
  const TCase cases[] = {
      {"s", "  text  ", "  text", nullptr},
      {"s", "abcdefghijkl", "abcdefghij", nullptr},
      {"i", " -42 ", "-42", nullptr},
      {"i", "12x", nullptr, "'12x' is not a valid integer value"},
      {"si", "32767", "32767", nullptr},
      {"si", "40000", nullptr,
       "40000 is not a valid value for field 'si'. The allowed range is -32768 to 32767"},
      {"f", "12.5", "12.5", nullptr},
      {"f", "1e3", "1000", nullptr},
      {"f", "abc", nullptr, "'abc' is not a valid floating point value"},
      {"m", "0.1", "0.1", nullptr},
      {"b", "true", "True", nullptr},
      {"b", "yes", nullptr, "'yes' is not a valid boolean value"},
      {"d", "2004-1-5", "2004-01-05", nullptr},
      {"d", "2004-02-30", nullptr, "'2004-02-30' is not a valid date"},
      {"t", "13:05", "13:05", nullptr},
      {"ts", "2004-01-05 12:30", "2004-01-05 12:30", nullptr},
      {"n", "12.345", "12.35", nullptr},
      {"memo", "a long note", "a long note", nullptr},
      {"ai", "5", nullptr, "Field ai cannot be modified."},
  };
  for (const TCase& c : cases) {
    TField& f = t->FieldByName(c.field);
    const std::string failure = MessageOf([&] { f.SetAsString(c.text); });
    if (c.readBack == nullptr) {
      EXPECT_EQ(failure, c.message) << c.field << " " << c.text;
    } else {
      EXPECT_EQ(failure, "") << c.field << " " << c.text;
      EXPECT_EQ(f.AsString(), c.readBack) << c.field << " " << c.text;
    }
  }

  // Empty text stores null in every kind of column.
  for (const char* name : {"s", "i", "f", "b", "d", "ts", "n", "memo"}) {
    t->FieldByName(name).SetAsString("");
    EXPECT_TRUE(t->FieldByName(name).IsNull()) << name;
  }
  EXPECT_EQ(t->FieldByName("f").AsFloat(), 0.0);

  // Numbers, dates and variants.
  TField& d = t->FieldByName("d");
  d.SetAsString("2004-01-05");
  EXPECT_EQ(d.AsDateTime(), 37991.0);
  d.SetAsDateTime(37991.75);
  EXPECT_EQ(d.AsString(), "2004-01-05");
  t->FieldByName("ts").SetAsDateTime(37991.5);
  EXPECT_EQ(t->FieldByName("ts").AsString(), "2004-01-05 12:00");
  t->FieldByName("ts").SetAsDateTime(-1.25);
  EXPECT_EQ(t->FieldByName("ts").AsString(), "1899-12-29 06:00");
  EXPECT_DOUBLE_EQ(t->FieldByName("ts").AsDateTime(), -1.25);
  t->FieldByName("i").SetAsFloat(2.6);
  EXPECT_EQ(t->FieldByName("i").AsInteger(), 3);
  t->FieldByName("s").SetAsInteger(42);
  EXPECT_EQ(t->FieldByName("s").AsInteger(), 42);
  t->FieldByName("s").SetAsString("abc");
  EXPECT_EQ(MessageOf([&] { t->FieldByName("s").AsInteger(); }),
            "'abc' is not a valid integer value");
  EXPECT_EQ(MessageOf([&] { t->FieldByName("b").AsDateTime(); }),
            "Cannot access field 'b' as type DateTime");
  t->SetFieldValue("i", 7);
  t->SetFieldValue("f", 2.5);
  t->SetFieldValue("b", true);
  t->SetFieldValue("d", 37992.0);
  t->SetFieldValue("s", "x");
  EXPECT_EQ(t->FieldValue("i"), TVariant(7));
  EXPECT_EQ(t->FieldValue("f"), TVariant(2.5));
  EXPECT_EQ(t->FieldValue("b"), TVariant(true));
  EXPECT_EQ(t->FieldByName("d").AsString(), "2004-01-06");
  EXPECT_EQ(t->FieldValue("s"), TVariant("x"));
  t->SetFieldValue("n", TVariant());
  EXPECT_TRUE(t->FieldValue("n").IsNull());
  t->FieldByName("memo").SetAsString(Utf8ToGbk("备注"));
  t->Post();

  // The posted row reads back after reopening.
  t->Close();
  t->Open();
  EXPECT_EQ(t->FieldByName("i").AsInteger(), 7);
  EXPECT_EQ(t->FieldByName("d").AsString(), "2004-01-06");
  EXPECT_EQ(t->FieldByName("memo").AsString(), Utf8ToGbk("备注"));
  EXPECT_EQ(t->FieldByName("ai").AsInteger(), 1);
  EXPECT_TRUE(t->FieldByName("n").IsNull());

  // Writes need edit or insert state and a modifiable field.
  EXPECT_EQ(MessageOf([&] { t->FieldByName("i").SetAsInteger(1); }),
            "Table is not in edit or insert mode.");
  t->FieldByName("i").SetReadOnly(true);
  t->Edit();
  EXPECT_EQ(MessageOf([&] { t->FieldByName("i").SetAsInteger(1); }), "Field i cannot be modified.");
  t->Cancel();
  t->Close();
  t->SetReadOnly(true);
  t->Open();
  EXPECT_EQ(MessageOf([&] { t->Edit(); }), "Cannot modify a read-only dataset");
  EXPECT_EQ(MessageOf([&] { t->FieldByName("s").SetAsString("y"); }),
            "Field s cannot be modified.");
}

TEST_F(DataSetTest, EmptyTextInAFloatColumnStoresNull) {
  auto t = Ledger({{1, "2004-01-05", "x", "5000", "", "1"}});
  EXPECT_TRUE(t->FieldByName("output").IsNull());
  t->Edit();
  t->FieldByName("input").SetAsString("");
  t->Post();
  t->Close();
  t->Open();
  EXPECT_TRUE(t->FieldByName("input").IsNull());
  EXPECT_EQ(t->FieldByName("input").AsFloat(), 0.0);
  EXPECT_EQ(t->FieldByName("input").AsString(), "");
}

TEST_F(DataSetTest, ChangeStates) {
  auto t = Ledger(kEntries);
  t->Locate("id", 2);
  t->Edit();
  EXPECT_EQ(t->State(), TDataSetState::Edit);
  t->FieldByName("item").SetAsString("lunch");
  EXPECT_TRUE(t->Modified());
  t->Cancel();
  EXPECT_EQ(t->State(), TDataSetState::Browse);
  EXPECT_EQ(t->FieldByName("item").AsString(), Utf8ToGbk("午饭"));

  t->Edit();
  t->FieldByName("item").SetAsString("lunch");
  t->Post();
  EXPECT_EQ(t->State(), TDataSetState::Browse);
  EXPECT_EQ(t->FieldByName("id").AsInteger(), 2);
  EXPECT_EQ(t->FieldByName("item").AsString(), "lunch");

  // A change that moves the row in the current order keeps it current.
  t->Edit();
  t->FieldByName("id").SetAsInteger(10);
  t->Post();
  EXPECT_EQ(t->FieldByName("id").AsInteger(), 10);
  EXPECT_EQ(IdsFromHere(*t), (std::vector<int64_t>{10}));

  // Moving posts a written insert; an insert nothing was written to is dropped.
  t->First();
  t->Append();
  EXPECT_EQ(t->State(), TDataSetState::Insert);
  t->FieldByName("id").SetAsInteger(5);
  t->FieldByName("date").SetAsString("2004-03-01");
  t->FieldByName("type").SetAsString("2");
  t->Next();
  EXPECT_EQ(t->State(), TDataSetState::Browse);
  EXPECT_EQ(t->RecordCount(), 5u);
  t->Append();
  t->First();
  EXPECT_EQ(t->RecordCount(), 5u);
  t->Append();
  t->FieldByName("id").SetAsInteger(6);
  t->Close();  // a pending insert is dropped
  t->Open();
  EXPECT_EQ(t->RecordCount(), 5u);

  // Delete stands on the next row, or on the new last row.
  ASSERT_TRUE(t->Locate("id", 4));
  t->Delete();
  EXPECT_EQ(t->FieldByName("id").AsInteger(), 5);
  t->Last();
  t->Delete();
  EXPECT_EQ(t->FieldByName("id").AsInteger(), 5);
  EXPECT_EQ(t->RecordCount(), 3u);

  // Edit of an empty dataset appends; OnNewRecord fills the new row without marking it
  // modified.
  auto items = Table("Items");
  items->OnNewRecord = [](TEngineDataSet& ds) { ds.FieldByName("parent").SetAsInteger(0); };
  items->Open();
  items->Edit();
  EXPECT_EQ(items->State(), TDataSetState::Insert);
  EXPECT_FALSE(items->Modified());
  EXPECT_EQ(items->FieldByName("parent").AsString(), "0");
  items->Cancel();
  EXPECT_TRUE(items->IsEmpty());
}

TEST_F(DataSetTest, AFailedPostKeepsItsStateAndWritesNothing) {
  auto t = Table("Items");
  t->Open();
  auto add = [&](int id, const char* name) {
    t->Append();
    t->FieldByName("id").SetAsInteger(id);
    t->FieldByName("name").SetAsString(name);
    t->FieldByName("type").SetAsInteger(1);
    t->FieldByName("parent").SetAsInteger(0);
    t->Post();
  };
  add(1, "food");
  add(2, "rent");
  const int32_t stamp = t->Cursor().Table().Locks().Counters().data;

  // A duplicate primary key: the message names the index, then the table.
  const std::string message = MessageOf([&] { add(1, "again"); });
  EXPECT_EQ(message, "Engine Error # 9729 Duplicate key found in the index '' of the table '" +
                         Dir() + "/Items'");
  EXPECT_EQ(t->State(), TDataSetState::Insert);
  EXPECT_EQ(t->FieldByName("name").AsString(), "again");
  EXPECT_EQ(t->Cursor().Table().Locks().Counters().data, stamp);
  // A required column without a value.
  t->FieldByName("id").SetAsInteger(3);
  t->FieldByName("name").Clear();
  EXPECT_EQ(ErrorCodeOf([&] { t->Post(); }), err::kValueRequired);
  EXPECT_EQ(t->State(), TDataSetState::Insert);
  // Corrected, the same insert goes through.
  t->FieldByName("name").SetAsString("again");
  t->Post();
  EXPECT_EQ(t->RecordCount(), 3u);

  // A change to a duplicate key stays in edit state with the row unchanged on disk.
  ASSERT_TRUE(t->Locate("id", 3));
  t->Edit();
  t->FieldByName("id").SetAsInteger(2);
  EXPECT_EQ(ErrorCodeOf([&] { t->Post(); }), err::kDuplicateKey);
  EXPECT_EQ(t->State(), TDataSetState::Edit);
  t->Cancel();
  EXPECT_EQ(t->FieldByName("id").AsInteger(), 3);

  auto other = Table("Items");
  other->Open();
  EXPECT_EQ(IdsFromHere(*other), (std::vector<int64_t>{1, 2, 3}));
  EXPECT_TRUE(CheckIndexes(other->Cursor().Table()).empty());
}

TEST_F(DataSetTest, FiltersLimitTheVisibleRows) {
  auto t = Ledger(kEntries);
  t->Next();
  t->SetFilter(R"(date="2004-01-05")");
  EXPECT_EQ(t->FieldByName("id").AsInteger(), 2);  // not yet filtered: no move
  t->SetFiltered(true);
  EXPECT_TRUE(t->Bof());
  EXPECT_EQ(IdsFromHere(*t), (std::vector<int64_t>{1, 2}));
  EXPECT_EQ(t->RecordCount(), 2u);

  // A new text moves to the first matching row; none matching gives Eof at once.
  t->SetFilter("date > '2004-01-06'");
  EXPECT_EQ(IdsFromHere(*t), (std::vector<int64_t>{3, 4}));
  t->SetFilter(R"(date="1999-01-01")");
  EXPECT_TRUE(t->Eof());
  EXPECT_TRUE(t->IsEmpty());

  // A faulty text is refused and the old filter stays.
  EXPECT_EQ(ErrorCodeOf([&] { t->SetFilter("date = = 1"); }), err::kFilterError);
  EXPECT_EQ(t->Filter(), R"(date="1999-01-01")");
  EXPECT_TRUE(t->IsEmpty());

  t->SetFiltered(false);
  EXPECT_EQ(IdsFromHere(*t), (std::vector<int64_t>{1, 2, 3, 4}));

  // Letter case, and a filter given before the dataset opens.
  t->Close();
  t->SetFilter(R"(item = "BOOKS")");
  t->SetFiltered(true);
  t->Open();
  EXPECT_TRUE(t->IsEmpty());
  t->SetFilterOptions({.caseInsensitive = true});
  EXPECT_EQ(IdsFromHere(*t), (std::vector<int64_t>{3}));

  // A record-by-record condition of the program's own.
  t->SetFiltered(false);
  t->OnFilterRecord = [](TEngineDataSet& ds) { return ds.FieldByName("input").AsFloat() > 1000; };
  t->SetFilter("");
  t->ResetStats();
  t->SetFiltered(true);
  EXPECT_EQ(IdsFromHere(*t), (std::vector<int64_t>{1}));
  EXPECT_EQ(t->Stats().filterRecordsTested, 4u);
}

TEST_F(DataSetTest, IndexNameAndIndexFieldNamesChooseTheOrder) {
  auto t = Table("Items");
  t->Open();
  const int types[] = {2, 1, 2, 1};
  for (int id = 1; id <= 4; ++id) {
    t->Append();
    t->FieldByName("id").SetAsInteger(id);
    t->FieldByName("name").SetAsString("n" + std::to_string(id));
    t->FieldByName("type").SetAsInteger(types[id - 1]);
    t->FieldByName("parent").SetAsInteger(0);
    t->Post();
  }
  ASSERT_TRUE(t->Locate("id", 3));
  t->SetIndexName("TYPE_ID");
  EXPECT_EQ(t->FieldByName("id").AsInteger(), 3);  // the current row stays current
  t->First();
  EXPECT_EQ(IdsFromHere(*t), (std::vector<int64_t>{2, 4, 1, 3}));
  t->SetIndexFieldNames("type");
  EXPECT_EQ(t->IndexName(), "");
  t->First();
  EXPECT_EQ(IdsFromHere(*t), (std::vector<int64_t>{2, 4, 1, 3}));
  EXPECT_EQ(MessageOf([&] { t->SetIndexFieldNames("parent"); }), "No index for fields 'parent'");
  EXPECT_EQ(ErrorCodeOf([&] { t->SetIndexName("nope"); }), err::kInvalidIndexName);
  t->SetIndexName("");
  t->First();
  EXPECT_EQ(IdsFromHere(*t), (std::vector<int64_t>{1, 2, 3, 4}));
  // Given before opening.
  t->Close();
  t->SetIndexFieldNames("type;id");
  t->Open();
  EXPECT_EQ(IdsFromHere(*t), (std::vector<int64_t>{2, 4, 1, 3}));
}

// Locate searches an index when one leads with the located fields, and builds a filter
// otherwise; what it read shows which.
TEST_F(DataSetTest, LocateByIndexOrByFilter) {
  std::vector<TEntry> many;
  for (int id = 1; id <= 200; ++id) {
    many.push_back(
        {id, "2004-01-" + std::string(id % 28 + 1 < 10 ? "0" : "") + std::to_string(id % 28 + 1),
         id == 150 ? "Books" : "item" + std::to_string(id), "1", "", "1"});
  }
  auto t = Ledger(many);
  ASSERT_EQ(t->RecordCount(), 200u);

  // The current (primary) index.
  t->ResetStats();
  EXPECT_TRUE(t->Locate("id", 120));
  EXPECT_EQ(t->FieldByName("id").AsInteger(), 120);
  EXPECT_EQ(t->Stats().locateIndexSearches, 1u);
  EXPECT_EQ(t->Stats().filterRecordsTested, 0u);
  EXPECT_LE(t->Stats().recordsFetched, 2u);
  // A missing id: false, and the position stays.
  EXPECT_FALSE(t->Locate("id", 9999));
  EXPECT_EQ(t->FieldByName("id").AsInteger(), 120);
  EXPECT_EQ(t->Stats().locateIndexSearches, 2u);
  EXPECT_EQ(t->Stats().filterRecordsTested, 0u);

  // Another index: the dataset keeps its own order.
  t->ResetStats();
  EXPECT_TRUE(t->Locate("DATE", "2004-01-10"));
  EXPECT_EQ(t->FieldByName("date").AsString(), "2004-01-10");
  EXPECT_EQ(t->Stats().locateIndexSearches, 1u);
  EXPECT_EQ(t->Stats().filterRecordsTested, 0u);
  const int64_t found = t->FieldByName("id").AsInteger();
  t->Next();
  EXPECT_EQ(t->FieldByName("id").AsInteger(), found + 1);

  // No index on the column: a filter asks every row once.
  t->ResetStats();
  EXPECT_TRUE(t->Locate("item", "books", {.caseInsensitive = true}));
  EXPECT_EQ(t->FieldByName("id").AsInteger(), 150);
  EXPECT_EQ(t->Stats().locateIndexSearches, 0u);
  EXPECT_EQ(t->Stats().locateFilterScans, 1u);
  EXPECT_EQ(t->Stats().filterRecordsTested, 200u);
  EXPECT_FALSE(t->Locate("item", "books"));
  EXPECT_EQ(t->FieldByName("id").AsInteger(), 150);
  EXPECT_TRUE(t->Locate("item", "Boo", {.partialKey = true}));
  EXPECT_TRUE(t->Locate("item;type", std::vector<TVariant>{"item7", "1"}));
  EXPECT_EQ(t->FieldByName("id").AsInteger(), 7);
  // Text longer than the column can hold is in no row.
  EXPECT_FALSE(t->Locate("item", std::string(61, 'x')));
  EXPECT_EQ(MessageOf([&] { t->Locate("id;date", TVariant(1)); }),
            "Locate needs one value for each of the fields 'id;date'");

  // The dataset's filter still applies, on both paths.
  t->SetFilter("id > 100");
  t->SetFiltered(true);
  EXPECT_FALSE(t->Locate("id", 50));
  EXPECT_TRUE(t->Locate("id", 150));
  EXPECT_FALSE(t->Locate("item", "item7"));
  EXPECT_TRUE(t->Locate("date", "2004-01-10"));
  EXPECT_GT(t->FieldByName("id").AsInteger(), 100);
}

TEST_F(DataSetTest, LocateByACaseInsensitiveIndex) {
  auto users = Table("User");
  users->Open();
  users->Append();
  users->FieldByName("name").SetAsString(Utf8ToGbk("张三") + "Li");
  users->FieldByName("password").SetAsString("x");
  users->Post();
  users->First();
  // User has no primary index: record order, with a case-insensitive index on name.
  users->ResetStats();
  EXPECT_TRUE(users->Locate("name", "ADMIN", {.caseInsensitive = true}));
  EXPECT_EQ(users->FieldByName("name").AsString(), "admin");
  EXPECT_EQ(users->Stats().locateIndexSearches, 1u);
  EXPECT_EQ(users->Stats().filterRecordsTested, 0u);
  EXPECT_TRUE(users->Locate("name", Utf8ToGbk("张三") + "l", {true, true}));
  EXPECT_EQ(users->FieldByName("name").AsString(), Utf8ToGbk("张三") + "Li");
  EXPECT_EQ(users->Stats().locateIndexSearches, 2u);
  EXPECT_FALSE(users->Locate("name", "AD", {.caseInsensitive = true}));
  EXPECT_TRUE(users->Locate("name", "AD", {true, true}));
  EXPECT_EQ(users->FieldByName("name").AsString(), "admin");
  // A case-sensitive search does not trust a case-insensitive index.
  users->ResetStats();
  EXPECT_FALSE(users->Locate("name", "ADMIN"));
  EXPECT_TRUE(users->Locate("name", "admin"));
  EXPECT_EQ(users->Stats().locateIndexSearches, 0u);
  EXPECT_EQ(users->Stats().locateFilterScans, 2u);
}

TEST_F(DataSetTest, LocateByAnIndexOverSeveralFields) {
  auto items = Table("Items");
  items->Open();
  for (int id = 1; id <= 6; ++id) {
    items->Append();
    items->FieldByName("id").SetAsInteger(id);
    items->FieldByName("name").SetAsString("n" + std::to_string(id));
    items->FieldByName("type").SetAsInteger(id % 2 + 1);
    items->FieldByName("parent").SetAsInteger(0);
    items->Post();
  }
  items->ResetStats();
  // Index type_id (type, id) covers the located fields in either order.
  EXPECT_TRUE(items->Locate("id;type", std::vector<TVariant>{5, 2}));
  EXPECT_EQ(items->FieldByName("name").AsString(), "n5");
  EXPECT_FALSE(items->Locate("id;type", std::vector<TVariant>{5, 1}));
  EXPECT_EQ(items->FieldByName("name").AsString(), "n5");
  EXPECT_EQ(items->Stats().locateIndexSearches, 2u);
  EXPECT_EQ(items->Stats().filterRecordsTested, 0u);
}

}  // namespace
}  // namespace mt
