// The fixture of the filter tests and of the filter fuzz target: a table with a field of every
// indexable type, with an index on nearly every field or on none, filled with the same
// pseudo-random rows, so that a table with indexes and one without hold the same records
// under the same record numbers and ids.
#pragma once

#include <algorithm>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/common/literals.h"
#include "engine/common/numeric.h"
#include "engine/storage/datacursor.h"
#include "engine/storage/datatable.h"
#include "storagetest.h"

namespace mt::filterfixture {

enum : int {
  kId = 1,
  kName,
  kDay,
  kQty,
  kAmt,
  kFlag,
  kAt,
  kStamp,
  kSmall,
  kBig,
  kWord,
  kPrice,
  kNote,
  kCode,
};

inline TIndexDescriptor Index(std::string name, uint16_t field, bool nocase = false,
                              bool desc = false) {
  TIndexDescriptor d;
  d.name = std::move(name);
  d.fields = {field};
  d.caseInsensitive = nocase;
  d.descending = desc;
  return d;
}

// The fixture's fields; `indexed` puts an index on nearly every one of them.
inline void CreateTable(const std::string& dir, const std::string& name, bool indexed,
                        uint16_t languageId = 0) {
  TTableCreateParams p;
  p.languageId = languageId;
  p.fields = {
      test::Field("id", ftype::kInteger, 0, fsubtype::kAutoInc),
      test::Field("name", ftype::kString, 12),
      test::Field("day", ftype::kDate),
      test::Field("qty", ftype::kInteger),
      test::Field("amt", ftype::kFloat, 0, fsubtype::kMoney),
      test::Field("flag", ftype::kBoolean),
      test::Field("at", ftype::kTime),
      test::Field("stamp", ftype::kTimestamp),
      test::Field("small", ftype::kSmallInt),
      test::Field("big", ftype::kLargeInt),
      test::Field("word", ftype::kWord),
      test::Field("price", ftype::kBcd),
      test::Field("note", ftype::kString, 20),
      test::Field("code", ftype::kString, 6),
  };
  p.fields[kPrice - 1].scale = 2;
  if (indexed) {
    TIndexDescriptor primary;
    primary.fields = {kId};
    p.indexes.primary = primary;
    auto& s = p.indexes.secondaries;
    s.push_back(Index("ByName", kName));
    s.push_back(Index("ByNameNoCase", kName, true));
    for (int f : {kDay, kAmt, kFlag, kAt, kStamp, kSmall, kBig, kWord, kPrice})
      s.push_back(Index("By" + std::to_string(f), static_cast<uint16_t>(f)));
    // Comparisons of qty are read from an index whose first field it is.
    TIndexDescriptor byQtyName = Index("ByQtyName", kQty);
    byQtyName.fields.push_back(kName);
    s.push_back(byQtyName);
    s.push_back(Index("ByCodeDesc", kCode, false, true));
  }
  TDataTable(dir, name).Create(p);
}

// The same pseudo-random rows into a table: repeated values, NULLs in every field, GBK
// text; then every ninth record deleted and some changed, so slots are reused and indexes
// have moved entries.
inline void Fill(TDataDirectory& directory, const std::string& name, int rows) {
  TDataCursor c(directory);
  c.SetTableName(name);
  c.Open();
  const TRecordFormat& f = c.Format();
  std::mt19937 rng(20041);
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  const std::vector<std::string> names = {"Apple",
                                          "apple",
                                          "APRICOT",
                                          "banana",
                                          "Banana split",
                                          "cherry",
                                          "",
                                          "\xd6\xd0\xce\xc4"
                                          "abc",
                                          "\xd6\xd0"
                                          "x",
                                          "zeta"};
  const std::vector<std::string> notes = {"", "lunch \xce\xe7\xb7\xb9", "bus fare", "rent",
                                          "\xce\xe7\xb7\xb9 with friends"};
  int32_t firstDay = 0;
  EncodeDay(2004, 1, 1, firstDay);
  std::vector<uint8_t> img(c.RecordSize());
  for (int i = 0; i < rows; ++i) {
    c.InitRecord(img.data());
    auto maybe = [&](int field, auto set) {
      if (pick(10) == 0)
        f.SetNull(field, img.data());
      else
        set();
    };
    f.SetString(kName, img.data(), names[pick(static_cast<int>(names.size()))]);
    const int32_t day = firstDay + pick(400);
    const int32_t ms = pick(24) * 3600000 + pick(60) * 60000;
    maybe(kDay, [&] { f.SetInteger(kDay, img.data(), day); });
    maybe(kQty, [&] { f.SetInteger(kQty, img.data(), pick(50) - 10); });
    maybe(kAmt, [&] { f.SetFloat(kAmt, img.data(), (pick(2000) - 500) / 4.0); });
    maybe(kFlag, [&] { f.SetBoolean(kFlag, img.data(), pick(2) == 0); });
    maybe(kAt, [&] { f.SetInteger(kAt, img.data(), ms); });
    maybe(kStamp,
          [&] { f.SetFloat(kStamp, img.data(), static_cast<double>(day) * kMsPerDay + ms); });
    maybe(kSmall, [&] { f.SetInteger(kSmall, img.data(), pick(200) - 100); });
    maybe(kBig, [&] { f.SetInteger(kBig, img.data(), (pick(1000) - 300) * 10000000LL); });
    maybe(kWord, [&] { f.SetInteger(kWord, img.data(), pick(60000)); });
    maybe(kPrice, [&] {
      TBcd bcd{};
      if (!TextToBcd(std::to_string(pick(5000)) + ".25", 2, bcd)) throw std::logic_error("bcd");
      f.SetBcd(kPrice, img.data(), bcd);
    });
    f.SetString(kNote, img.data(), notes[pick(static_cast<int>(notes.size()))]);
    const std::vector<std::string> codes = {"", "A1", "B2", "C3"};
    f.SetString(kCode, img.data(), codes[pick(4)]);
    c.InsertRecord(img.data(), false);
  }
  c.ChooseBitmapOrder();
  c.First();
  int n = 0;
  while (c.Next(img.data()) == 0) {
    if (++n % 9 == 0) {
      c.DeleteRecord(img.data());
      c.Prior();
    } else if (n % 7 == 0) {
      if (c.GetCurrentRecord(img.data(), true) != 0) throw std::logic_error("no record");
      f.SetInteger(kQty, img.data(), 45);
      f.SetString(kName, img.data(), "cherry");
      c.ModifyRecord(img.data());
    }
  }
  // Rows into the deleted slots.
  for (int i = 0; i < rows / 20; ++i) {
    c.InitRecord(img.data());
    f.SetString(kName, img.data(), "Apple");
    f.SetInteger(kQty, img.data(), i);
    f.SetInteger(kDay, img.data(), firstDay + 40 + i);
    c.InsertRecord(img.data(), false);
  }
}

// The sorted ids of the records the cursor shows.
inline std::vector<int32_t> VisibleIds(TDataCursor& c) {
  std::vector<uint8_t> img(c.RecordSize());
  std::vector<int32_t> ids;
  c.First();
  while (c.Next(img.data()) == 0)
    ids.push_back(static_cast<int32_t>(*c.Format().GetInteger(kId, img.data())));
  std::sort(ids.begin(), ids.end());
  return ids;
}

}  // namespace mt::filterfixture
