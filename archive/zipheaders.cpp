// Encoding and decoding of the ZIP records, MS-DOS time stamps and entry names.
#include "archive/zipheaders.h"

#include <system_error>

#include "engine/common/gbk.h"

namespace mt {

EFileError EFileError::Open(const std::string& path, int osError) {
  return EFileError("Cannot open file \"" + path + "\". " + std::system_category().message(osError),
                    osError);
}

EFileError EFileError::Create(const std::string& path, int osError) {
  return EFileError(
      "Cannot create file \"" + path + "\". " + std::system_category().message(osError), osError);
}

// ---------------------------------------------------------------------------------------------
// Records

void TLocalHeader::Encode(uint8_t* out) const {
  EncodeRecord(*this, zip::kLocalHeaderSignature, out);
}

bool TLocalHeader::Decode(const uint8_t* in) {
  return DecodeRecord(*this, zip::kLocalHeaderSignature, in);
}

void TCentralHeader::Encode(uint8_t* out) const {
  EncodeRecord(*this, zip::kCentralHeaderSignature, out);
}

bool TCentralHeader::Decode(const uint8_t* in) {
  return DecodeRecord(*this, zip::kCentralHeaderSignature, in);
}

void TEndRecord::Encode(uint8_t* out) const {
  EncodeRecord(*this, zip::kEndRecordSignature, out);
}

bool TEndRecord::Decode(const uint8_t* in) {
  return DecodeRecord(*this, zip::kEndRecordSignature, in);
}

// ---------------------------------------------------------------------------------------------
// MS-DOS time stamps

namespace {

TDosDateTime PackDosDateTime(int year, int month, int day, int hour, int minute, int second) {
  TDosDateTime stamp;
  stamp.time = static_cast<uint16_t>((hour << 11) | (minute << 5) | (second / 2));
  stamp.date = static_cast<uint16_t>(((year - 1980) << 9) | (month << 5) | day);
  return stamp;
}

}  // namespace

TDosDateTime DosDateTimeFromUnix(std::time_t t) {
  std::tm local{};
  if (localtime_r(&t, &local) == nullptr) return PackDosDateTime(1980, 1, 1, 0, 0, 0);
  const int year = local.tm_year + 1900;
  if (year < 1980) return PackDosDateTime(1980, 1, 1, 0, 0, 0);
  if (year > 2107) return PackDosDateTime(2107, 12, 31, 23, 59, 58);
  // A leap second (tm_sec 60) still fits the 2-second field as 30 would not.
  const int second = local.tm_sec > 59 ? 59 : local.tm_sec;
  return PackDosDateTime(year, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                         second);
}

TDosDateTime ClampDosDateTime(TDosDateTime stamp) {
  unsigned seconds2 = stamp.time & 0x1F;
  unsigned minute = (stamp.time >> 5) & 0x3F;
  unsigned hour = (stamp.time >> 11) & 0x1F;
  unsigned day = stamp.date & 0x1F;
  unsigned month = (stamp.date >> 5) & 0x0F;
  unsigned year = (stamp.date >> 9) & 0x7F;
  if (seconds2 > 29) seconds2 = 29;
  if (minute > 59) minute = 59;
  if (hour > 23) hour = 23;
  if (day == 0) day = 1;
  if (month == 0) month = 1;
  if (month > 12) month = 12;
  if (year >= 120) year = 119;
  TDosDateTime clamped;
  clamped.time = static_cast<uint16_t>((hour << 11) | (minute << 5) | seconds2);
  clamped.date = static_cast<uint16_t>((year << 9) | (month << 5) | day);
  return clamped;
}

std::time_t UnixFromDosDateTime(TDosDateTime stamp) {
  std::tm local{};
  local.tm_sec = (stamp.time & 0x1F) * 2;
  local.tm_min = (stamp.time >> 5) & 0x3F;
  local.tm_hour = (stamp.time >> 11) & 0x1F;
  local.tm_mday = stamp.date & 0x1F;
  local.tm_mon = ((stamp.date >> 5) & 0x0F) - 1;
  local.tm_year = ((stamp.date >> 9) & 0x7F) + 80;
  local.tm_isdst = -1;
  return std::mktime(&local);
}

// ---------------------------------------------------------------------------------------------
// Names

namespace {

bool IsValidUtf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto b = static_cast<unsigned char>(text[i]);
    std::size_t extra = 0;
    uint32_t minimum = 0;
    uint32_t code = 0;
    if (b < 0x80) {
      ++i;
      continue;
    } else if ((b & 0xE0) == 0xC0) {
      extra = 1, minimum = 0x80, code = b & 0x1F;
    } else if ((b & 0xF0) == 0xE0) {
      extra = 2, minimum = 0x800, code = b & 0x0F;
    } else if ((b & 0xF8) == 0xF0) {
      extra = 3, minimum = 0x10000, code = b & 0x07;
    } else {
      return false;
    }
    if (i + extra >= text.size()) return false;
    for (std::size_t k = 1; k <= extra; ++k) {
      const auto c = static_cast<unsigned char>(text[i + k]);
      if ((c & 0xC0) != 0x80) return false;
      code = (code << 6) | (c & 0x3F);
    }
    if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
    i += extra + 1;
  }
  return true;
}

unsigned char FoldAscii(unsigned char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - 'a' + 'A') : c;
}

}  // namespace

std::string EntryNameFromPath(std::string_view hostPath) {
  const std::size_t slash = hostPath.rfind('/');
  const std::string_view name =
      slash == std::string_view::npos ? hostPath : hostPath.substr(slash + 1);
  if (!IsValidUtf8(name)) return std::string(name);
  return Utf8ToGbk(name);
}

void SplitEntryName(TZipEntry& entry) {
  const std::string& name = entry.storedName;
  const bool gbk = (entry.header.versionMadeBy >> 8) == zip::kHostMsDos &&
                   (entry.header.flags & zip::kFlagUtf8Name) == 0;
  std::size_t cut = std::string::npos;  // position of the last folder separator
  for (std::size_t i = 0; i < name.size(); ++i) {
    const auto b = static_cast<unsigned char>(name[i]);
    if (gbk && IsGbkLeadByte(b) && i + 1 < name.size()) {
      ++i;  // a two-byte character; its trail byte may be 0x5C and is no separator
    } else if (b == '/' || (gbk && b == '\\')) {
      cut = i;
    }
  }
  std::string path = cut == std::string::npos ? std::string() : name.substr(0, cut);
  std::string file = cut == std::string::npos ? name : name.substr(cut + 1);
  if (gbk) {
    path = GbkToUtf8(path);
    file = GbkToUtf8(file);
    for (char& c : path) {
      if (c == '\\') c = '/';
    }
  }
  entry.pathPart = std::move(path);
  entry.fileName = std::move(file);
}

bool SameEntryName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto ca = static_cast<unsigned char>(a[i]);
    const auto cb = static_cast<unsigned char>(b[i]);
    if (IsGbkLeadByte(ca) && i + 1 < a.size()) {
      // Two-byte characters must match exactly, trail byte included.
      if (ca != cb || a[i + 1] != b[i + 1]) return false;
      ++i;
    } else if (FoldAscii(ca) != FoldAscii(cb)) {
      return false;
    }
  }
  return true;
}

}  // namespace mt
