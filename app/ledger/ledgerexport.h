// "输出Excel": the rows the ledger list shows, in its current order, written as a tab-separated
// text file and opened with the desktop's default program for it (the spreadsheet program,
// where one is set up). Nothing is read from the database.
//
// The file, in GBK without a byte-order mark, lines ended by CR LF: the title "收支明细"; the
// headings "日期" to "记账人" separated by TABs; then per row a blank, the date, and TAB-
// separated category, description, income, expense, balance and bookkeeper (empty cells stay
// empty); a CR LF after the last line.
#pragma once

#include <QByteArray>
#include <QString>

class TLedgerList;

// The file's bytes for the list as it is shown.
QByteArray LedgerExportBytes(const TLedgerList& list);

// Where the export goes: "tmp.txt" in the temporary folder, overwritten each time.
QString DefaultExportFile();

// Writes the file in one piece and opens it (Desktop()). A file that cannot be written throws
// std::runtime_error holding the system's message
// (GBK, as the error box reads it), and nothing is opened.
void ExportLedger(const TLedgerList& list, const QString& file);
