// The program's schema: the five tables, the columns the program relies on, and the columns
// that must take null.
#include "dbaccess/mintoraschema.h"

#include <gtest/gtest.h>

namespace mt {
namespace {

TEST(MintoraSchemaTest, FiveTablesWithTheColumnsTheProgramUses) {
  const std::vector<std::pair<std::string, std::vector<std::string>>> expected = {
      {"User", {"name", "fullname", "password"}},
      {"system", {"name", "value"}},
      {"Items", {"id", "name", "description", "type", "parent"}},
      {"szzb",
       {"id", "date", "itemid", "item", "description", "memo", "user", "input", "output", "type",
        "balance"}},
      {"diary", {"date", "contents", "user"}},
  };
  ASSERT_EQ(MintoraTables().size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const TTableDef& t = MintoraTables()[i];
    EXPECT_EQ(t.name, expected[i].first);
    ASSERT_EQ(t.columns.size(), expected[i].second.size()) << t.name;
    for (std::size_t c = 0; c < t.columns.size(); ++c)
      EXPECT_EQ(t.columns[c].name, expected[i].second[c]) << t.name;
  }
}

TEST(MintoraSchemaTest, TextSizesMeetTheMinimumsAndAmountsTakeNull) {
  auto charSize = [](const std::string& table, const std::string& column) {
    const TColumnDef* c = FindMintoraTable(table)->FindColumn(column);
    EXPECT_NE(c, nullptr) << table << "." << column;
    if (!c || c->sqlType.rfind("CHAR(", 0) != 0) return 0;
    return std::stoi(c->sqlType.substr(5));
  };
  const std::vector<std::tuple<std::string, std::string, int>> minimums = {
      {"User", "name", 15},         {"User", "fullname", 15}, {"User", "password", 15},
      {"system", "name", 20},       {"system", "value", 15},  {"szzb", "item", 15},
      {"szzb", "description", 100}, {"szzb", "memo", 100},    {"szzb", "user", 15},
      {"szzb", "type", 1},          {"diary", "user", 15}};
  for (const auto& [table, column, least] : minimums)
    EXPECT_GE(charSize(table, column), least) << table << "." << column;

  const TTableDef* szzb = FindMintoraTable("szzb");
  EXPECT_TRUE(szzb->FindColumn("INPUT")->nullable);
  EXPECT_TRUE(szzb->FindColumn("output")->nullable);
  EXPECT_EQ(szzb->FindColumn("date")->sqlType, "DATE");
  EXPECT_EQ(FindMintoraTable("diary")->FindColumn("Contents")->sqlType, "MEMO");
  EXPECT_EQ(FindMintoraTable("user"), nullptr);  // table names are exact
}

}  // namespace
}  // namespace mt
