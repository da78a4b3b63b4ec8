// SELECT against SQLite: the same generated ledger (dates over several years, GBK category
// names, NULL amounts and notes, repeated values) in the engine and in SQLite, with the same
// indexes, and a generated mix of queries run on both. Results must be equal: in order where
// ORDER BY fixes it (the ordering columns in sequence, the whole rows as multisets), as
// multisets otherwise. Numbers compare by value with a relative tolerance, since sums may add
// in another order.
//
// The queries stay where the two dialects agree: no `<>`, NOT or NOT IN over a column that may
// be NULL (the engine's conditions are never NULL), no string comparisons but equality on
// nullable strings, no AVG over groups that may hold only NULLs (the engine gives 0), ORDER BY
// only over columns without NULLs.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "engine/common/gbk.h"
#include "engine/common/literals.h"
#include "sqltest.h"

namespace mt {
namespace {

using namespace sqltest;

constexpr int kLedgerRows = 3000;
constexpr int kQueries = 400;

const std::vector<std::string> kItems = {"工资", "餐饮",  "交通",  "奖金",   "房租",
                                         "水电", "Books", "books", "Coffee", "礼金"};

struct TData {
  std::vector<TRow> ledger;  // id, day, item, note, amount, qty, kind
  std::vector<TRow> cats;    // item, grp, label
};

TData Generate() {
  std::mt19937 random(20240611);
  auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  TData d;
  int32_t first = 0;
  TextToDate("2003-01-01", first);
  const char* words[] = {"abc", "Abd", "xyz", "book", "coffee", "tea", "lunch", "bus"};
  for (int i = 1; i <= kLedgerRows; ++i) {
    TRow r;
    r.push_back(std::to_string(i));
    r.push_back(DateToText(first + pick(6 * 365)));
    r.push_back(Utf8ToGbk(kItems[static_cast<std::size_t>(pick(static_cast<int>(kItems.size())))]));
    r.push_back(pick(4) == 0 ? TCell()
                             : TCell(std::string(words[pick(8)]) + std::to_string(pick(5))));
    if (pick(5) == 0) {
      r.push_back(std::nullopt);
    } else {
      char amount[32];
      std::snprintf(amount, sizeof amount, "%.2f", (pick(200000) - 20000) / 100.0);
      r.push_back(std::string(amount));
    }
    r.push_back(pick(6) == 0 ? TCell() : TCell(std::to_string(pick(40) - 5)));
    r.push_back(pick(3) == 0 ? "0" : "1");
    d.ledger.push_back(std::move(r));
  }
  for (std::size_t i = 0; i < kItems.size(); ++i) {
    if (i == 3) continue;  // one category has no row
    d.cats.push_back({Utf8ToGbk(kItems[i]), std::to_string(i % 3), "L" + std::to_string(i % 4)});
  }
  d.cats.push_back({Utf8ToGbk(kItems[1]), "2", "dup"});  // and one has two
  return d;
}

// ---- SQLite side

void Exec(sqlite3* db, const std::string& sql) {
  char* error = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
    const std::string message = error != nullptr ? error : "?";
    sqlite3_free(error);
    throw std::runtime_error("sqlite: " + message + " in " + sql);
  }
}

void Fill(sqlite3* db, const std::string& table, int columns, const std::vector<TRow>& rows) {
  std::string sql = "insert into " + table + " values (";
  for (int i = 0; i < columns; ++i)
    sql += i ? ",?" : "?";
  sql += ")";
  sqlite3_stmt* stmt = nullptr;
  sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr);
  for (const TRow& r : rows) {
    sqlite3_reset(stmt);
    for (int i = 0; i < columns; ++i) {
      if (!r[i])
        sqlite3_bind_null(stmt, i + 1);
      else
        sqlite3_bind_text(stmt, i + 1, r[i]->data(), static_cast<int>(r[i]->size()),
                          SQLITE_TRANSIENT);
    }
    sqlite3_step(stmt);
  }
  sqlite3_finalize(stmt);
}

std::vector<TRow> SqliteRows(sqlite3* db, const std::string& sql) {
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK)
    throw std::runtime_error(std::string("sqlite: ") + sqlite3_errmsg(db) + " in " + sql);
  std::vector<TRow> rows;
  while (sqlite3_step(stmt) == SQLITE_ROW) {
    TRow r;
    for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
      switch (sqlite3_column_type(stmt, i)) {
        case SQLITE_NULL:
          r.push_back(std::nullopt);
          break;
        case SQLITE_INTEGER:
          r.push_back(std::to_string(sqlite3_column_int64(stmt, i)));
          break;
        case SQLITE_FLOAT: {
          char buffer[40];
          std::snprintf(buffer, sizeof buffer, "%.17g", sqlite3_column_double(stmt, i));
          r.push_back(std::string(buffer));
          break;
        }
        default:
          r.push_back(std::string(reinterpret_cast<const char*>(sqlite3_column_text(stmt, i)),
                                  static_cast<std::size_t>(sqlite3_column_bytes(stmt, i))));
          break;
      }
    }
    rows.push_back(std::move(r));
  }
  sqlite3_finalize(stmt);
  return rows;
}

// ---- Comparing

bool AsNumber(const TCell& c, double& v) {
  if (!c || c->empty()) return false;
  char* end = nullptr;
  v = std::strtod(c->c_str(), &end);
  return end == c->c_str() + c->size();
}

bool SameCell(const TCell& a, const TCell& b) {
  if (!a || !b) return !a && !b;
  double x = 0, y = 0;
  if (AsNumber(a, x) && AsNumber(b, y))
    return std::fabs(x - y) <= 1e-9 * std::max({1.0, std::fabs(x), std::fabs(y)});
  return *a == *b;
}

// A row as text for sorting: numbers rounded so that tiny sum differences sort alike.
std::string SortKey(const TRow& r) {
  std::string key;
  for (const TCell& c : r) {
    double v = 0;
    if (!c) {
      key += "\x01|";
    } else if (AsNumber(c, v)) {
      char buffer[40];
      std::snprintf(buffer, sizeof buffer, "%+.6e|", v);
      key += buffer;
    } else {
      key += *c + "|";
    }
  }
  return key;
}

std::string Show(const std::vector<TRow>& rows) {
  std::string s;
  for (std::size_t i = 0; i < rows.size() && i < 12; ++i) {
    for (const TCell& c : rows[i])
      s += (c ? GbkToUtf8(*c) : std::string("NULL")) + "\t";
    s += "\n";
  }
  if (rows.size() > 12) s += "... " + std::to_string(rows.size()) + " rows\n";
  return s;
}

// Empty when the results agree, else what differs.
std::string Compare(std::vector<TRow> engine, std::vector<TRow> sqlite,
                    const std::vector<int>& orderKeys) {
  if (engine.size() != sqlite.size())
    return std::to_string(engine.size()) + " rows against " + std::to_string(sqlite.size());
  for (std::size_t i = 0; i < engine.size(); ++i) {
    if (engine[i].size() != sqlite[i].size()) return "column counts differ";
    for (int k : orderKeys) {
      if (!SameCell(engine[i][static_cast<std::size_t>(k)], sqlite[i][static_cast<std::size_t>(k)]))
        return "order differs at row " + std::to_string(i + 1);
    }
  }
  auto byKey = [](const TRow& a, const TRow& b) { return SortKey(a) < SortKey(b); };
  std::sort(engine.begin(), engine.end(), byKey);
  std::sort(sqlite.begin(), sqlite.end(), byKey);
  for (std::size_t i = 0; i < engine.size(); ++i) {
    for (std::size_t c = 0; c < engine[i].size(); ++c) {
      if (!SameCell(engine[i][c], sqlite[i][c]))
        return "rows differ: " + Show({engine[i]}) + " against " + Show({sqlite[i]});
    }
  }
  return {};
}

// ---- Queries

struct TQuery {
  std::string sql;
  std::vector<int> orderKeys;  // result columns the ORDER BY fixes, in sequence
};

class TQueryMaker {
 public:
  TQueryMaker() : random_(77) {}

  TQuery Next() {
    switch (Pick(11)) {
      case 0: {
        static const std::pair<const char*, std::vector<int>> orders[] = {
            {"", {}},
            {" order by id", {0}},
            {" order by day desc, id", {1, 0}},
            {" order by item, id", {2, 0}},
            {" order by kind desc, day, id desc", {3, 1, 0}}};
        const auto& o = orders[Pick(5)];
        return {"select id, day, item, kind, qty, amount, note from led where " + Condition("") +
                    o.first,
                o.second};
      }
      case 1:
        return {"select count(*), sum(qty), min(amount), max(day), count(note) from led where " +
                    Condition(""),
                {}};
      case 2: {
        std::string having;
        if (Pick(2)) having = " having count(*) > " + std::to_string(Pick(400));
        const bool ordered = Pick(2);
        return {"select item, count(*), sum(qty), max(amount), min(day) from led where " +
                    Condition("") + " group by item" + having + (ordered ? " order by item" : ""),
                ordered ? std::vector<int>{0} : std::vector<int>{}};
      }
      case 3: {
        const bool ordered = Pick(2);
        return {"select kind, day, count(*), sum(amount) from led where " + Condition("") +
                    " group by kind, day" + (ordered ? " order by day desc, kind" : ""),
                ordered ? std::vector<int>{1, 0} : std::vector<int>{}};
      }
      case 4: {
        const bool ordered = Pick(2);
        return {"select distinct item, kind from led where " + Condition("") +
                    (ordered ? " order by item, kind" : ""),
                ordered ? std::vector<int>{0, 1} : std::vector<int>{}};
      }
      case 5:
        return {
            "select l.id, l.item, c.grp, c.label from led l inner join cats c on l.item = "
            "c.item where " +
                Condition("l."),
            {}};
      case 6:
        return {
            "select l.id, c.label from led l left outer join cats c on l.item = c.item and "
            "c.grp = " +
                std::to_string(Pick(3)) + " where " + Condition("l."),
            {}};
      case 7:
        return {"select item from led where " + Condition("") +
                    (Pick(2) ? " union select item from cats where grp = "
                             : " union all select item from cats where grp = ") +
                    std::to_string(Pick(3)),
                {}};
      case 8:
        return {"select id, item from led where item in (select item from cats where grp = " +
                    std::to_string(Pick(3)) + ") and " + Condition(""),
                {}};
      case 9:
        return {
            "select c.label, count(*), sum(l.qty) from cats c, led l where c.item = l.item "
            "and " +
                Condition("l.") + " group by c.label order by c.label",
            {0}};
      default:
        return {
            "select id, qty * 2, amount + 1, item || '-' || kind from led where " + Condition(""),
            {}};
    }
  }

 private:
  int Pick(int n) { return static_cast<int>(random_() % static_cast<unsigned>(n)); }

  std::string Day() {
    int32_t first = 0;
    TextToDate("2002-10-01", first);
    return "'" + DateToText(first + Pick(7 * 365)) + "'";
  }
  std::string Item() {
    return "'" +
           Utf8ToGbk(kItems[static_cast<std::size_t>(Pick(static_cast<int>(kItems.size())))]) + "'";
  }

  std::string Atom(const std::string& p) {
    static const char* comparisons[] = {">=", "<", "<=", ">", "="};
    switch (Pick(16)) {
      case 0:
        return p + "day " + comparisons[Pick(5)] + " " + Day();
      case 1:
        return p + "day between " + Day() + " and " + Day();
      case 2:
        return p + "item = " + Item();
      case 3:
        return p + "item in (" + Item() + ", " + Item() + ")";
      case 4:
        return p + "qty " + comparisons[Pick(5)] + " " + std::to_string(Pick(40) - 5);
      case 5:
        return p + "qty between " + std::to_string(Pick(20)) + " and " + std::to_string(Pick(40));
      case 6:
        return p + "qty in (1, 2, 3, " + std::to_string(Pick(30)) + ")";
      case 7:
        return p + (Pick(2) ? "qty is null" : "amount is not null");
      case 8:
        return p + "amount " + comparisons[Pick(5)] + " " + std::to_string(Pick(2000) - 200) + ".5";
      case 9:
        return p + "note like '" + std::string(Pick(2) ? "ab" : "%o") + "%'";
      case 10:
        return "not (" + p + "id > " + std::to_string(Pick(kLedgerRows)) + ")";
      case 11:
        return p + "id <> " + std::to_string(Pick(kLedgerRows));
      case 12:
        return p + "kind = '" + std::to_string(Pick(2)) + "'";
      case 13:
        return "not (" + p + "day between " + Day() + " and " + Day() + ")";
      case 14:
        return p + "item not in (" + Item() + ", " + Item() + ", " + Item() + ")";
      default:
        return p + "id between " + std::to_string(Pick(kLedgerRows)) + " and " +
               std::to_string(Pick(kLedgerRows));
    }
  }

  std::string Condition(const std::string& p) {
    std::string c = Atom(p);
    for (int n = Pick(4); n > 0; --n)
      c = (Pick(3) ? "(" + c + ") and " : "(" + c + ") or ") + Atom(p);
    return c;
  }

  std::mt19937 random_;
};

TEST(SqliteDifferentialTest, GeneratedQueriesGiveTheSameRowsAsSqlite) {
  const TData data = Generate();
  TScratch scratch;
  MakeTable(scratch.Path(),
            {.name = "led",
             .columns = {"id INTEGER", "day DATE", "item CHAR(20)", "note CHAR(30)", "amount FLOAT",
                         "qty INTEGER", "kind CHAR(1)"},
             .secondaries = {Index("byday", {2}), Index("byitem", {3})},
             .primary = std::vector<uint16_t>{1}},
            data.ledger);
  MakeTable(scratch.Path(),
            {.name = "cats",
             .columns = {"item CHAR(20)", "grp INTEGER", "label CHAR(10)"},
             .secondaries = {Index("catitem", {1})}},
            data.cats);

  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
  Exec(db,
       "create table led (id integer primary key, day text not null, item text not null, "
       "note text, amount real, qty integer, kind text not null)");
  Exec(db, "create index byday on led(day)");
  Exec(db, "create index byitem on led(item)");
  Exec(db, "create table cats (item text, grp integer, label text)");
  Exec(db, "create index catitem on cats(item)");
  Exec(db, "begin");
  Fill(db, "led", 7, data.ledger);
  Fill(db, "cats", 3, data.cats);
  Exec(db, "commit");

  TDataDirectory database(scratch.Path());
  TQueryMaker maker;
  int failures = 0;
  std::size_t rowsSeen = 0;
  for (int i = 0; i < kQueries && failures < 10; ++i) {
    const TQuery q = maker.Next();
    std::vector<TRow> engine;
    try {
      engine = Select(database, q.sql).rows;
    } catch (const std::exception& e) {
      ADD_FAILURE() << GbkToUtf8(q.sql) << "\n" << GbkToUtf8(e.what());
      ++failures;
      continue;
    }
    const std::vector<TRow> sqlite = SqliteRows(db, q.sql);
    rowsSeen += sqlite.size();
    const std::string difference = Compare(engine, sqlite, q.orderKeys);
    if (!difference.empty()) {
      ADD_FAILURE() << GbkToUtf8(q.sql) << "\n"
                    << difference << "\nengine:\n"
                    << Show(engine) << "sqlite:\n"
                    << Show(sqlite);
      ++failures;
    }
  }
  // The mix selects something: not every condition is empty.
  EXPECT_GT(rowsSeen, static_cast<std::size_t>(kQueries) * 20);
  sqlite3_close(db);
}

}  // namespace
}  // namespace mt
