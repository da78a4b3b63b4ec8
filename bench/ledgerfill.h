// A ledger of N entries for the benchmarks, written the same way into the program's `szzb`
// table (its own schema) and into an SQLite table with the same columns and indexes.
// Entries run in date order over the years 2000 to 2009 (ids in date order); 15 in 100 are
// income in 6 categories, the rest expenses in 24; amounts 0.00 to 999.99; the running balance
// is stored as the program stores it.
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

struct TLedgerEntry {
  int32_t day = 0;   // engine day number
  std::string item;  // GBK
  std::string description;
  bool income = false;
  double amount = 0;
};

// Entry i (1-based) of a ledger of n entries.
inline TLedgerEntry LedgerEntry(int i, int n) {
  static const int32_t first = [] {
    int32_t d = 0;
    mt::EncodeDay(2000, 1, 1, d);
    return d;
  }();
  static const std::vector<std::string> items = [] {
    std::vector<std::string> v;
    for (int k = 0; k < 30; ++k)
      v.push_back(mt::Utf8ToGbk("类别") + std::to_string(k));
    return v;
  }();
  TLedgerEntry e;
  e.day = first + static_cast<int32_t>(static_cast<int64_t>(i - 1) * 3652 / n);
  const uint32_t h = static_cast<uint32_t>(i) * 2654435761u;
  e.income = h % 100 < 15;
  e.item = items[e.income ? h % 6 : 6 + (h >> 8) % 24];
  e.description = mt::Utf8ToGbk("第") + std::to_string(i) + mt::Utf8ToGbk("笔");
  e.amount = static_cast<double>((h >> 12) % 100000) / 100.0;
  return e;
}

// Creates `szzb` in dir (an existing directory without one) and fills it with n entries.
inline void FillLedger(const std::string& dir, int n) {
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
  for (int i = 1; i <= n; ++i) {
    const TLedgerEntry e = LedgerEntry(i, n);
    balance += e.income ? e.amount : -e.amount;
    c.InitRecord(image.data());
    f.SetInteger(1, image.data(), i);  // id
    f.SetInteger(2, image.data(), e.day);
    f.SetInteger(3, image.data(), 1);  // itemid
    f.SetString(4, image.data(), e.item);
    f.SetString(5, image.data(), e.description);
    f.SetString(7, image.data(), "admin");
    f.SetFloat(e.income ? 8 : 9, image.data(), e.amount);
    f.SetString(10, image.data(), e.income ? "0" : "1");
    f.SetFloat(11, image.data(), balance);
    c.InsertRecord(image.data(), false);
  }
  tx.Commit();
}

// Creates the same table in an SQLite database and fills it with the same n entries.
inline void FillSqliteLedger(sqlite3* db, int n) {
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
  for (int i = 1; i <= n; ++i) {
    const TLedgerEntry e = LedgerEntry(i, n);
    balance += e.income ? e.amount : -e.amount;
    const std::string day = mt::DateToText(e.day);
    sqlite3_bind_int(st, 1, i);
    sqlite3_bind_text(st, 2, day.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(st, 3, e.item.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(st, 4, e.description.c_str(), -1, SQLITE_TRANSIENT);
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
