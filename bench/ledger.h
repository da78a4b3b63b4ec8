// Generated ledger entries for the benchmarks that work on the bookkeeping program's `szzb`
// table: the same entries written into an engine table (the program's own schema: primary
// index on id, index on date) and into a SQLite table with the same columns and indexes; and
// numbers read back from an engine result.
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
#include "engine/storage/datadirectory.h"
#include "engine/storage/datatable.h"
#include "engine/storage/transaction.h"

namespace mt::bench {

// One ledger entry. Over a ledger of `total` entries the ids run in date order over the years
// 2000 to 2009; 15 in 100 are income in 6 categories, the rest expenses in 24.
struct TLedgerEntry {
  int32_t day = 0;
  std::string item;
  bool income = false;
  double amount = 0;
};

inline TLedgerEntry LedgerEntry(int id, int total) {
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
  TLedgerEntry e;
  e.day = first + static_cast<int32_t>(static_cast<int64_t>(id) * 3652 / total);
  const uint32_t h = static_cast<uint32_t>(id) * 2654435761u;
  e.income = h % 100 < 15;
  e.item = items[e.income ? h % 6 : 6 + (h >> 8) % 24];
  e.amount = static_cast<double>((h >> 12) % 100000) / 100.0;
  return e;
}

// A number read from a result column (fieldNo 1-based); 0 for a null, a string or a date.
inline double NumberOf(const mt::TRecordFormat& f, int fieldNo, const uint8_t* image) {
  const mt::TFieldDescriptor& d = f.Field(fieldNo);
  if (d.type == mt::ftype::kFloat) return f.GetFloat(fieldNo, image).value_or(0);
  if (d.type == mt::ftype::kString || d.type == mt::ftype::kDate) return 0;
  return static_cast<double>(f.GetInteger(fieldNo, image).value_or(0));
}

// Creates the engine table `table` in dir with the schema of `szzb` and appends the entries
// with ids first..last of a ledger of `total`, in one transaction.
inline void FillEngineLedger(const std::string& dir, const std::string& table, int first, int last,
                             int total) {
  mt::TDataTable(dir, table).Create(mt::MintoraTableParams(*mt::FindMintoraTable("szzb")));
  mt::TDataDirectory directory(dir);
  mt::TDataCursor c(directory);
  c.SetTableName(table);
  c.Open();
  const mt::TRecordFormat& f = c.Format();
  std::vector<uint8_t> image(static_cast<std::size_t>(c.RecordSize()));
  mt::TTransaction tx;
  tx.Start({&c.Table()});
  double balance = 0;
  for (int i = first; i <= last; ++i) {
    const TLedgerEntry e = LedgerEntry(i, total);
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

// Creates the SQLite table `table` with the columns and indexes of `szzb` and inserts the
// same entries as FillEngineLedger, in one transaction.
inline void FillSqliteLedger(sqlite3* db, const std::string& table, int first, int last,
                             int total) {
  Exec(db, ("CREATE TABLE " + table +
            " (id INTEGER PRIMARY KEY, date TEXT NOT NULL, itemid INTEGER, item TEXT, "
            "description TEXT, memo TEXT, user TEXT, input DOUBLE, output DOUBLE, type TEXT "
            "NOT NULL, balance DOUBLE)")
               .c_str());
  Exec(db, ("CREATE INDEX " + table + "_date ON " + table + " (date)").c_str());
  sqlite3_stmt* st = nullptr;
  Check(sqlite3_prepare_v2(
            db, ("INSERT INTO " + table + " VALUES (?,?,1,?,?,NULL,'admin',?,?,?,?)").c_str(), -1,
            &st, nullptr),
        db);
  Exec(db, "BEGIN");
  double balance = 0;
  for (int i = first; i <= last; ++i) {
    const TLedgerEntry e = LedgerEntry(i, total);
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
