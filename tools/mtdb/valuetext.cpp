// Field values to text and back, TSV cells and type names.
#include "valuetext.h"

#include "cmdline.h"
#include "engine/common/literals.h"
#include "engine/common/numeric.h"
#include "engine/storage/fieldtypes.h"

namespace mt::mtdb {

std::string ToHex(const std::vector<uint8_t>& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (uint8_t b : bytes) {
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
  }
  return out;
}

bool FromHex(const std::string& text, std::vector<uint8_t>& bytes) {
  if (text.size() % 2 != 0) return false;
  auto digit = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  bytes.clear();
  for (std::size_t i = 0; i < text.size(); i += 2) {
    const int hi = digit(text[i]);
    const int lo = digit(text[i + 1]);
    if (hi < 0 || lo < 0) return false;
    bytes.push_back(static_cast<uint8_t>(hi * 16 + lo));
  }
  return true;
}

std::optional<std::string> FieldText(const TRecordFormat& format, int fieldNo, const uint8_t* image,
                                     bool raw) {
  const TFieldDescriptor& f = format.Field(fieldNo);
  if (format.GetField(fieldNo, image, nullptr)) return std::nullopt;
  switch (f.type) {
    case ftype::kString:
      return ToTerminal(*format.GetString(fieldNo, image), raw);
    case ftype::kBytes:
    case ftype::kVarBytes:
      return ToHex(*format.GetBytes(fieldNo, image));
    default:
      return format.GetText(fieldNo, image);
  }
}

bool SetFieldText(const TRecordFormat& format, int fieldNo, uint8_t* image, const std::string& text,
                  bool raw) {
  const TFieldDescriptor& f = format.Field(fieldNo);
  if (text.empty()) {
    format.SetNull(fieldNo, image);
    return true;
  }
  switch (f.type) {
    case ftype::kString: {
      const std::string value = ToTable(text, raw);
      // A zero byte would end the stored text early.
      if (value.find('\0') != std::string::npos) return false;
      format.SetString(fieldNo, image, value);
      return true;
    }
    case ftype::kBytes:
    case ftype::kVarBytes: {
      std::vector<uint8_t> bytes;
      if (!FromHex(text, bytes) || bytes.size() > f.physicalSize) return false;
      format.SetBytes(fieldNo, image, bytes);
      return true;
    }
    case ftype::kBlob:
      return false;
    default: {
      // Dates, times, timestamps, booleans and numbers in the literal formats; the CURRENT_
      // keywords belong to field definitions, not to values.
      TLiteralValue value;
      if (!ReadLiteral(text, f.type, f.scale, value)) return false;
      format.SetField(fieldNo, image, value.Bytes());
      return true;
    }
  }
}

std::string EscapeCell(const std::string& cell) {
  std::string out;
  out.reserve(cell.size());
  for (char c : cell) {
    switch (c) {
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\\':
        out += "\\\\";
        break;
      default:
        out += c;
    }
  }
  return out;
}

bool UnescapeCell(const std::string& cell, std::string& out) {
  out.clear();
  for (std::size_t i = 0; i < cell.size(); ++i) {
    if (cell[i] != '\\') {
      out += cell[i];
      continue;
    }
    if (++i >= cell.size()) return false;
    switch (cell[i]) {
      case 't':
        out += '\t';
        break;
      case 'n':
        out += '\n';
        break;
      case 'r':
        out += '\r';
        break;
      case '\\':
        out += '\\';
        break;
      default:
        return false;
    }
  }
  return true;
}

std::vector<std::string> SplitTabs(const std::string& line) {
  std::vector<std::string> cells;
  std::size_t start = 0;
  for (;;) {
    const std::size_t tab = line.find('\t', start);
    cells.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
    if (tab == std::string::npos) break;
    start = tab + 1;
  }
  return cells;
}

}  // namespace mt::mtdb
