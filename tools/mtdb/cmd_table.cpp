// mtdb create and info.
#include "cmd_table.h"

#include <cmath>
#include <iostream>
#include <sstream>

#include "cmdline.h"
#include "engine/common/engineerror.h"
#include "engine/common/literals.h"
#include "engine/storage/datacursor.h"
#include "engine/storage/fieldtypes.h"
#include "engine/storage/locales.h"
#include "valuetext.h"

namespace mt::mtdb {
namespace {

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t at = text.find(separator, start);
    parts.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
    if (at == std::string::npos) return parts;
    start = at + 1;
  }
}

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

// The header's moment of the last write is days since 30 December 1899 with the time of day
// as the fraction.
std::string LastWriteText(double days) {
  const double ms = (days + kDayOf18991230) * kMsPerDay;
  if (!(ms >= 0 && ms < static_cast<double>(kMaxDay + 1) * kMsPerDay)) return "";
  return TimestampToText(std::floor(ms + 0.5));
}

const char* Bool(bool b) {
  return b ? "true" : "false";
}

}  // namespace

TIndexDescriptor IndexOver(const std::vector<TFieldDescriptor>& fields,
                           const std::vector<std::string>& names) {
  TIndexDescriptor index;
  for (const std::string& name : names) {
    const int position = FieldPosition(fields, name);
    if (position == 0) throw EUsage("index field '" + name + "' is no field of the table");
    index.fields.push_back(static_cast<uint16_t>(position));
  }
  return index;
}

int RunCreate(const std::vector<std::string>& argList) {
  TArgs args(argList,
             {"--field", "--required", "--primary", "--index", "--blob-block-size", "--password",
              "--locale"},
             {});
  args.RequirePositionals(2, 2, "create");
  const bool raw = args.Raw();
  TTableCreateParams p;
  for (const std::string& option : args.Values("--field")) {
    const std::size_t colon = option.find(':');
    if (colon == std::string::npos) throw EUsage("--field takes NAME:TYPE");
    TFieldDescriptor f;
    f.name = ToTable(option.substr(0, colon), raw);
    ApplyTypeName(f, option.substr(colon + 1));
    p.fields.push_back(std::move(f));
  }
  if (p.fields.empty()) throw EUsage("create needs at least one --field");
  for (const std::string& name : args.Values("--required")) {
    const std::string tableName = ToTable(name, raw);
    bool found = false;
    for (TFieldDescriptor& f : p.fields) {
      if (EqualsKeyword(f.name, tableName)) f.required = found = true;
    }
    if (!found) throw EUsage("--required names no field: " + name);
  }
  if (args.Has("--primary")) {
    std::vector<std::string> names;
    for (const std::string& n : Split(args.Value("--primary"), ','))
      names.push_back(ToTable(n, raw));
    p.indexes.primary = IndexOver(p.fields, names);
  }
  for (const std::string& option : args.Values("--index")) {
    const std::vector<std::string> parts = Split(option, ':');
    if (parts.size() < 2) throw EUsage("--index takes NAME:F[,F...][:unique][:nocase][:desc]");
    std::vector<std::string> names;
    for (const std::string& n : Split(parts[1], ','))
      names.push_back(ToTable(n, raw));
    TIndexDescriptor index = IndexOver(p.fields, names);
    index.name = ToTable(parts[0], raw);
    for (std::size_t i = 2; i < parts.size(); ++i) {
      if (parts[i] == "unique") {
        index.unique = true;
      } else if (parts[i] == "nocase") {
        index.caseInsensitive = true;
      } else if (parts[i] == "desc") {
        index.descending = true;
      } else {
        throw EUsage("unknown index option '" + parts[i] + "'");
      }
    }
    p.indexes.secondaries.push_back(std::move(index));
  }
  if (args.Has("--blob-block-size")) {
    int32_t size = 0;
    if (!TextToInt32(args.Value("--blob-block-size"), size)) {
      throw EUsage("--blob-block-size takes a number");
    }
    p.blobBlockSize = size;
  }
  if (args.Has("--password")) {
    p.encrypted = true;
    p.password = ToTable(args.Value("--password"), raw);
  }
  if (args.Has("--locale")) {
    const auto id = LanguageIdOfLocaleName(args.Value("--locale"));
    if (!id) throw EUsage("unknown locale '" + args.Value("--locale") + "'");
    p.languageId = *id;
  }
  TDataTable(args.Positionals()[0], ToTable(args.Positionals()[1], raw)).Create(std::move(p));
  return 0;
}

int RunInfo(const std::vector<std::string>& argList) {
  TArgs args(argList, {"--password"}, {"--json"});
  args.RequirePositionals(2, 2, "info");
  const bool raw = args.Raw();
  TDataDirectory directory(args.Positionals()[0]);
  TDataCursor cursor(directory);
  cursor.SetTableName(ToTable(args.Positionals()[1], raw));
  cursor.SetReadOnly(true);
  if (args.Has("--password")) cursor.SetPasswords({{ToTable(args.Value("--password"), raw)}, {}});
  cursor.Open();
  TDataTable& table = cursor.Table();
  const TDataFile& data = table.Data();
  const TIndexFile& index = table.Index();
  const TDataFileHeader& h = data.Header();
  const TIndexFileHeader& ih = index.Header();
  const uint32_t active = cursor.RecordCount();
  auto fieldName = [&](int no) { return ToTerminal(data.Format().Field(no).name, raw); };
  std::string localeName(LocaleNameOfLanguageId(h.languageId));
  if (h.languageId == 0) localeName = "ANSI Standard";

  std::ostringstream out;
  if (args.Flag("--json")) {
    out << "{\n  \"table\": " << JsonString(ToTerminal(table.TableName(), raw)) << ",\n"
        << "  \"version\": " << int(h.version) << ",\n"
        << "  \"changeCounter\": " << h.changeCounter << ",\n"
        << "  \"description\": " << JsonString(ToTerminal(data.Description(), raw)) << ",\n"
        << "  \"encrypted\": " << Bool(data.Encrypted()) << ",\n"
        << "  \"locale\": " << JsonString(localeName) << ",\n"
        << "  \"languageId\": " << h.languageId << ",\n"
        << "  \"sortOrderId\": " << h.sortOrderId << ",\n"
        << "  \"userVersion\": [" << h.userMajor << ", " << h.userMinor << "],\n"
        << "  \"engineVersion\": " << h.engineVersion << ",\n"
        << "  \"lastWrite\": " << JsonString(LastWriteText(h.lastWrite)) << ",\n"
        << "  \"recordSize\": " << h.recordSize << ",\n"
        << "  \"fieldCount\": " << h.fieldCount << ",\n"
        << "  \"blobFieldCount\": " << h.blobFieldCount << ",\n"
        << "  \"blobBlockSize\": " << h.EffectiveBlobBlockSize() << ",\n"
        << "  \"records\": " << active << ",\n"
        << "  \"physicalRecords\": " << data.RecordCount() << ",\n"
        << "  \"deletedHead\": " << h.deletedHead << ",\n"
        << "  \"lastAutoInc\": " << h.lastAutoInc << ",\n"
        << "  \"lastBlobStamp\": " << h.lastBlobStamp << ",\n"
        << "  \"fields\": [";
    for (int no = 1; no <= data.FieldCount(); ++no) {
      const TFieldDescriptor& f = data.Format().Field(no);
      out << (no > 1 ? ",\n" : "\n") << "    {\"number\": " << f.number
          << ", \"name\": " << JsonString(fieldName(no))
          << ", \"type\": " << JsonString(SqlTypeName(f)) << ", \"typeCode\": " << int(f.type)
          << ", \"subtype\": " << int(f.subtype) << ", \"size\": " << int(f.size)
          << ", \"scale\": " << int(f.scale) << ", \"offset\": " << f.offset
          << ", \"physicalSize\": " << int(f.physicalSize) << ", \"required\": " << Bool(f.required)
          << ", \"minimum\": " << JsonString(ToTerminal(f.minText, raw))
          << ", \"maximum\": " << JsonString(ToTerminal(f.maxText, raw))
          << ", \"default\": " << JsonString(ToTerminal(f.defaultText, raw))
          << ", \"description\": " << JsonString(ToTerminal(f.description, raw)) << "}";
    }
    out << "\n  ],\n  \"indexes\": [";
    bool first = true;
    for (int slot = 0; slot < kIndexSlots; ++slot) {
      const TIndexDescriptor& d = ih.slots[slot];
      if (d.keyLength == 0 || (slot == kPrimarySlot && ih.noPrimary)) continue;
      std::string kind = slot == kPrimarySlot    ? "primary"
                         : slot == kRecordIdSlot ? "record-identifier"
                         : slot == kTextSlot     ? "text"
                                                 : "secondary";
      out << (first ? "\n" : ",\n") << "    {\"slot\": " << slot
          << ", \"kind\": " << JsonString(kind)
          << ", \"name\": " << JsonString(ToTerminal(d.name, raw)) << ", \"fields\": [";
      for (std::size_t i = 0; i < d.fields.size(); ++i) {
        const int no = d.fields[i];
        out << (i > 0 ? ", " : "")
            << JsonString(no >= 1 && no <= data.FieldCount() ? fieldName(no) : std::to_string(no));
      }
      out << "], \"unique\": " << Bool(d.unique)
          << ", \"caseInsensitive\": " << Bool(d.caseInsensitive)
          << ", \"descending\": " << Bool(d.descending) << ", \"keyLength\": " << d.keyLength
          << ", \"rootPage\": " << d.rootPage << "}";
      first = false;
    }
    out << "\n  ],\n  \"indexFile\": {\"changeCounter\": " << ih.changeCounter
        << ", \"pages\": " << ih.nextPage - 1 << ", \"activeRecords\": " << ih.activeRecords
        << "}\n}\n";
  } else {
    out << "table: " << ToTerminal(table.TableName(), raw) << "\n"
        << "version: " << int(h.version) << "\n"
        << "description: " << ToTerminal(data.Description(), raw) << "\n"
        << "encrypted: " << (data.Encrypted() ? "yes" : "no") << "\n"
        << "locale: " << localeName << "\n"
        << "record size: " << h.recordSize << "\n"
        << "records: " << active << " (" << data.RecordCount() << " physical)\n"
        << "last auto-increment value: " << h.lastAutoInc << "\n"
        << "index pages: " << ih.nextPage - 1 << "\n"
        << "fields:\n";
    for (int no = 1; no <= data.FieldCount(); ++no) {
      const TFieldDescriptor& f = data.Format().Field(no);
      out << "  " << no << " " << fieldName(no) << " " << SqlTypeName(f)
          << (f.required ? " NOT NULL" : "") << "\n";
    }
    out << "indexes:\n";
    for (int slot = 0; slot < kIndexSlots; ++slot) {
      const TIndexDescriptor& d = ih.slots[slot];
      if (d.keyLength == 0 || (slot == kPrimarySlot && ih.noPrimary)) continue;
      out << "  " << (slot == kPrimarySlot ? std::string("(primary)") : ToTerminal(d.name, raw))
          << " (";
      for (std::size_t i = 0; i < d.fields.size(); ++i) {
        const int no = d.fields[i];
        out << (i > 0 ? ", " : "")
            << (no >= 1 && no <= data.FieldCount() ? fieldName(no) : std::to_string(no));
      }
      out << ")" << (d.unique ? " unique" : "") << (d.caseInsensitive ? " nocase" : "")
          << (d.descending ? " desc" : "") << "\n";
    }
  }
  std::cout << out.str();
  return 0;
}

}  // namespace mt::mtdb
