// GBK conversion for app/: Qt text over the engine's converter, so there is one mapping.
#include "gbktext.h"

#include "engine/common/gbk.h"

QString FromGbk(std::string_view bytes) {
  const std::u16string text = mt::GbkToUtf16(bytes);
  return QString::fromStdU16String(text);
}

std::string ToGbk(const QString& text) {
  return mt::Utf16ToGbk(text.toStdU16String());
}
