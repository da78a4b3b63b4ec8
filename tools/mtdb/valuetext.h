// Field values in mtdb's text form, and TSV cells.
//
// Text forms: strings as they are (UTF-8 on the terminal, GBK in the table); dates
// yyyy-mm-dd; times hh:mm[:ss[.z]]; timestamps date, blank, time; integers in decimal;
// floats the shortest form that keeps 15 significant digits with "."; BCD values with their
// places; booleans True/False; bytes, varbytes and binary blobs as hexadecimal digits. Null
// is no text at all (an empty TSV cell).
//
// TSV: cells are separated by tabs, rows by newlines; inside a cell tab, newline, carriage
// return and backslash are written \t \n \r \\.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/storage/record.h"

namespace mt::mtdb {

// The text of a stored field (not a blob) of an image; nullopt for null.
std::optional<std::string> FieldText(const TRecordFormat& format, int fieldNo, const uint8_t* image,
                                     bool raw);
// Stores a field's value from its text (empty: null). False when the text is no value of the
// field's type.
bool SetFieldText(const TRecordFormat& format, int fieldNo, uint8_t* image, const std::string& text,
                  bool raw);

std::string ToHex(const std::vector<uint8_t>& bytes);
bool FromHex(const std::string& text, std::vector<uint8_t>& bytes);

std::string EscapeCell(const std::string& cell);
// False for a backslash followed by anything but t, n, r or a backslash.
bool UnescapeCell(const std::string& cell, std::string& out);
std::vector<std::string> SplitTabs(const std::string& line);

}  // namespace mt::mtdb
