// Conversion between Qt text and the GBK bytes the tables, the export file and the archive
// names hold. The one place where app/ crosses between QString and GBK.
#pragma once

#include <QString>

#include <string>
#include <string_view>

// GBK bytes to text; bytes that are not valid GBK become U+FFFD, never a crash.
QString FromGbk(std::string_view bytes);

// Text to GBK bytes; characters GBK cannot hold become "?".
std::string ToGbk(const QString& text);
