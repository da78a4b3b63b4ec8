// mtdb insert and dump.
#include "cmd_data.h"

#include <algorithm>
#include <iostream>
#include <sstream>

#include "cmdline.h"
#include "engine/common/engineerror.h"
#include "engine/storage/datacursor.h"
#include "engine/storage/fieldtypes.h"
#include "engine/storage/recordscan.h"
#include "valuetext.h"

namespace mt::mtdb {
namespace {

void OpenCursor(TDataCursor& cursor, const TArgs& args, bool readOnly) {
  const bool raw = args.Raw();
  cursor.SetTableName(ToTable(args.Positionals()[1], raw));
  cursor.SetReadOnly(readOnly);
  std::vector<std::string> passwords;
  for (const std::string& p : args.Values("--password"))
    passwords.push_back(ToTable(p, raw));
  cursor.SetPasswords({passwords, {}});
  cursor.Open();
}

}  // namespace

int RunInsert(const std::vector<std::string>& argList) {
  TArgs args(argList, {"--password"}, {});
  args.RequirePositionals(2, 2, "insert");
  const bool raw = args.Raw();
  TDataDirectory directory(args.Positionals()[0]);
  TDataCursor cursor(directory);
  OpenCursor(cursor, args, false);
  const TRecordFormat& format = cursor.Format();

  std::string line;
  if (!std::getline(std::cin, line)) {
    std::cout << 0 << "\n";
    return 0;
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  std::vector<int> columns;
  for (const std::string& cell : SplitTabs(line)) {
    std::string name;
    if (!UnescapeCell(cell, name)) throw std::runtime_error("bad escape in the column names");
    const int fieldNo = format.FindField(ToTable(name, raw));
    if (fieldNo == 0) throw std::runtime_error("the table has no column '" + name + "'");
    columns.push_back(fieldNo);
  }

  std::vector<uint8_t> image(static_cast<std::size_t>(cursor.RecordSize()));
  long inserted = 0;
  long row = 1;
  try {
    while (std::getline(std::cin, line)) {
      ++row;
      if (!line.empty() && line.back() == '\r') line.pop_back();
      const std::vector<std::string> cells = SplitTabs(line);
      if (cells.size() != columns.size()) {
        throw std::runtime_error("line " + std::to_string(row) + ": " +
                                 std::to_string(cells.size()) + " cells for " +
                                 std::to_string(columns.size()) + " columns");
      }
      cursor.InitRecord(image.data());
      bool suppliedIdentifier = false;
      for (std::size_t i = 0; i < cells.size(); ++i) {
        const TFieldDescriptor& f = format.Field(columns[i]);
        std::string text;
        if (IsBlobField(f.type) && UnescapeCell(cells[i], text)) {
          // Memo text (GBK in the table) or the hex digits of a binary value.
          if (text.empty()) continue;
          std::vector<uint8_t> bytes;
          if (f.subtype == fsubtype::kMemo || f.subtype == fsubtype::kFormattedMemo) {
            const std::string value = ToTable(text, raw);
            bytes.assign(value.begin(), value.end());
          } else if (!FromHex(text, bytes)) {
            throw std::runtime_error("line " + std::to_string(row) + ": '" + cells[i] +
                                     "' is no value for the column '" + ToTerminal(f.name, raw) +
                                     "'");
          }
          const int h = cursor.OpenBlob(columns[i], image.data(), TBlobOpenMode::ReadWrite);
          cursor.Blob(h).Write(0, bytes);
          cursor.CloseBlob(h, true, image.data());
          continue;
        }
        if (!UnescapeCell(cells[i], text) ||
            !SetFieldText(format, columns[i], image.data(), text, raw)) {
          throw std::runtime_error("line " + std::to_string(row) + ": '" + cells[i] +
                                   "' is no value for the column '" + ToTerminal(f.name, raw) +
                                   "'");
        }
        if (IsAutoIncField(f.type, f.subtype) && !text.empty()) suppliedIdentifier = true;
      }
      // Given auto-increment values are kept (a dump read back keeps its numbers).
      cursor.SetKeepSuppliedValues(suppliedIdentifier);
      cursor.InsertRecord(image.data(), false);
      ++inserted;
    }
  } catch (...) {
    std::cout << inserted << "\n";
    throw;
  }
  std::cout << inserted << "\n";
  return 0;
}

int RunDump(const std::vector<std::string>& argList) {
  TArgs args(argList, {"--password", "--index", "--filter"}, {});
  args.RequirePositionals(2, 2, "dump");
  const bool raw = args.Raw();
  TDataDirectory directory(args.Positionals()[0]);
  TDataCursor cursor(directory);
  OpenCursor(cursor, args, true);
  if (args.Has("--index")) cursor.ChooseIndex(ToTable(args.Value("--index"), raw));
  if (args.Has("--filter"))
    cursor.AddFilter(std::string_view(ToTable(args.Value("--filter"), raw)));
  WriteRows(cursor, cursor.Format().FieldCount(), raw, std::cout);
  return 0;
}

void WriteRows(TDataCursor& cursor, int columns, bool raw, std::ostream& stream) {
  const TRecordFormat& format = cursor.Format();
  std::ostringstream out;
  for (int no = 1; no <= columns; ++no) {
    if (no > 1) out << '\t';
    out << EscapeCell(ToTerminal(format.Field(no).name, raw));
  }
  out << '\n';
  std::vector<uint8_t> image(static_cast<std::size_t>(cursor.RecordSize()));
  // Read in runs of records, each under one lock, in the cursor's order.
  TRecordScan scan(cursor, TRecordScan::TOrder::Cursor);
  while (const uint8_t* record = scan.Next()) {
    std::copy(record, record + image.size(), image.begin());
    for (int no = 1; no <= columns; ++no) {
      if (no > 1) out << '\t';
      const TFieldDescriptor& f = format.Field(no);
      if (IsBlobField(f.type)) {
        if (format.GetField(no, image.data(), nullptr)) continue;
        const int h = cursor.OpenBlob(no, image.data(), TBlobOpenMode::Read);
        const std::vector<uint8_t>& bytes = cursor.Blob(h).Data();
        if (f.subtype == fsubtype::kMemo || f.subtype == fsubtype::kFormattedMemo) {
          out << EscapeCell(ToTerminal(std::string(bytes.begin(), bytes.end()), raw));
        } else {
          out << ToHex(bytes);
        }
        cursor.CloseBlob(h, false, image.data());
        continue;
      }
      const std::optional<std::string> text = FieldText(format, no, image.data(), raw);
      if (text) out << EscapeCell(*text);
    }
    out << '\n';
    if (out.tellp() > (1 << 20)) {
      stream << out.str();
      out.str({});
    }
  }
  stream << out.str();
}

}  // namespace mt::mtdb
