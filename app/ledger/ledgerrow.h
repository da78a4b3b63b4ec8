// The ledger list's row layout, shared by the ledger list window, the entry dialog that writes
// rows into it and the export that reads them: column 0 holds the row's date (the caption),
// the others its sub-items, the first six visible, the rest hidden.
#pragma once

#include <QString>

#include <array>

namespace LedgerColumn {
enum : int {
  Date = 0,          // "日期": date, "yyyy-mm-dd"
  Item = 1,          // "收支分类": category name
  Description = 2,   // "说明"
  Income = 3,        // "收入"
  Expense = 4,       // "支出"
  Balance = 5,       // "余额": running balance after the row
  User = 6,          // "记账人"
  Id = 7,            // hidden: id
  Type = 8,          // hidden: "0" income, "1" expense
  ItemId = 9,        // hidden: category id
  Memo = 10,         // hidden: remark
  DisplayDate = 11,  // hidden: date in the date display format
  Count = 12,
  Visible = 7  // columns 0 to 6 are shown
};
}

// One list row: its texts by column.
using TLedgerRow = std::array<QString, LedgerColumn::Count>;

// A number in the list's general format: at most 15 significant digits, no trailing zeros,
// "." as the separator, no grouping.
QString GeneralNumber(double value);
