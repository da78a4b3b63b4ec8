// The benchmarks' ledger: a `szzb` table of the bookkeeping program filled with generated
// entries, in the engine (the program's own schema: primary index on id, index on date) and in
// SQLite (same columns and indexes). Ids run in date order over the years 2000 to 2009; 15 in
// 100 entries are income in 6 categories, the rest expenses in 24.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <vector>

#include "benchutil.h"
#include "dbaccess/mintoraschema.h"
#include "engine/common/gbk.h"
#include "engine/common/literals.h"
#include "engine/storage/datacursor.h"
#include "engine/storage/transaction.h"

namespace mt::bench {

struct TEntry {
  int32_t day = 0;
  std::string item;  // GBK
  bool income = false;
  double amount = 0;
};

// Entry i (1-based) of a ledger of `rows` entries.
inline TEntry EntryOf(int i, int rows) {
  static const int32_t first = [] {
    int32_t d = 0;
    mt::EncodeDay(2000, 1, 1, d);
    return d;
  }();
  static const std::vector<std::string> items = [] {
    std::vector<std::string> v;
    for (int n = 0; n < 30; ++n)
      v.push_back(mt::Utf8ToGbk("类别") + std::to_string(n));
    return v;
  }();
  TEntry e;
  e.day = first + static_cast<int32_t>(static_cast<int64_t>(i) * 3652 / rows);
  const uint32_t h = static_cast<uint32_t>(i) * 2654435761u;
  e.income = h % 100 < 15;
  e.item = items[e.income ? h % 6 : 6 + (h >> 8) % 24];
  e.amount = static_cast<double>((h >> 12) % 100000) / 100.0;
  return e;
}

// Creates `szzb` in the directory and inserts `rows` entries in one transaction.
inline void FillEngine(const std::string& dir, int rows) {
  mt::TDataTable(dir, "szzb").Create(mt::MintoraTableParams(*mt::FindMintoraTable("szzb")));
  mt::TDataDirectory directory(dir);
  mt::TDataCursor c(directory);
  c.SetTableName("szzb");
  c.Open();
  const mt::TRecordFormat& f = c.Format();
  std::vector<uint8_t> image(static_cast<std::size_t>(c.RecordSize()));
  mt::TTransaction tx;
  tx.Start({&c.Table()});
  double balance = 0;
  for (int i = 1; i <= rows; ++i) {
    const TEntry e = EntryOf(i, rows);
    balance += e.income ? e.amount : -e.amount;
    c.InitRecord(image.data());
    f.SetInteger(1, image.data(), i);
    f.SetInteger(2, image.data(), e.day);
    f.SetInteger(3, image.data(), 1);
    f.SetString(4, image.data(), e.item);
    f.SetString(5, image.data(), "entry " + std::to_string(i));
    f.SetString(7, image.data(), "admin");
    f.SetFloat(e.income ? 8 : 9, image.data(), e.amount);
    f.SetString(10, image.data(), e.income ? "0" : "1");
    f.SetFloat(11, image.data(), balance);
    c.InsertRecord(image.data(), false);
  }
  tx.Commit();
}

// Creates `szzb` (dates as "yyyy-mm-dd" text) with its date index in the open database and
// inserts the same entries.
inline void FillSqlite(sqlite3* db, int rows) {
  Exec(db, "PRAGMA synchronous=OFF");
  Exec(db,
       "CREATE TABLE szzb (id INTEGER PRIMARY KEY, date TEXT NOT NULL, itemid INTEGER, item "
       "TEXT, description TEXT, memo TEXT, user TEXT, input DOUBLE, output DOUBLE, type TEXT "
       "NOT NULL, balance DOUBLE)");
  Exec(db, "CREATE INDEX szzb_date ON szzb (date)");
  sqlite3_stmt* st = nullptr;
  Check(sqlite3_prepare_v2(db, "INSERT INTO szzb VALUES (?,?,1,?,?,NULL,'admin',?,?,?,?)", -1, &st,
                           nullptr),
        db);
  Exec(db, "BEGIN");
  double balance = 0;
  for (int i = 1; i <= rows; ++i) {
    const TEntry e = EntryOf(i, rows);
    balance += e.income ? e.amount : -e.amount;
    const std::string day = mt::DateToText(e.day);
    const std::string description = "entry " + std::to_string(i);
    sqlite3_bind_int(st, 1, i);
    sqlite3_bind_text(st, 2, day.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(st, 3, e.item.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(st, 4, description.c_str(), -1, SQLITE_TRANSIENT);
    if (e.income) {
      sqlite3_bind_double(st, 5, e.amount);
      sqlite3_bind_null(st, 6);
    } else {
      sqlite3_bind_null(st, 5);
      sqlite3_bind_double(st, 6, e.amount);
    }
    sqlite3_bind_text(st, 7, e.income ? "0" : "1", -1, SQLITE_STATIC);
    sqlite3_bind_double(st, 8, balance);
    Check(sqlite3_step(st), db, SQLITE_DONE);
    sqlite3_reset(st);
  }
  Exec(db, "COMMIT");
  sqlite3_finalize(st);
}

}  // namespace mt::bench
