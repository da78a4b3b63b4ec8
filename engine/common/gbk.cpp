// GBK conversion through ICU's "windows-936" converter (one per thread, kept open).
#include "gbk.h"

#include <unicode/ucnv.h>
#include <unicode/ustring.h>

#include <memory>
#include <stdexcept>

namespace mt {
namespace {

struct TConverterCloser {
  void operator()(UConverter* c) const { ucnv_close(c); }
};

UConverter* Converter() {
  thread_local std::unique_ptr<UConverter, TConverterCloser> converter = [] {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<UConverter, TConverterCloser> c(ucnv_open("windows-936", &status));
    if (U_FAILURE(status)) throw std::runtime_error("GBK converter is not available");
    ucnv_setSubstChars(c.get(), "?", 1, &status);
    return c;
  }();
  ucnv_reset(converter.get());
  return converter.get();
}

}  // namespace

std::u16string GbkToUtf16(std::string_view gbk) {
  if (gbk.empty()) return {};
  std::u16string out(gbk.size() + 1, u'\0');
  UErrorCode status = U_ZERO_ERROR;
  int32_t n = ucnv_toUChars(Converter(), reinterpret_cast<UChar*>(out.data()),
                            static_cast<int32_t>(out.size()), gbk.data(),
                            static_cast<int32_t>(gbk.size()), &status);
  if (status == U_BUFFER_OVERFLOW_ERROR) {
    out.assign(static_cast<std::size_t>(n) + 1, u'\0');
    status = U_ZERO_ERROR;
    n = ucnv_toUChars(Converter(), reinterpret_cast<UChar*>(out.data()),
                      static_cast<int32_t>(out.size()), gbk.data(),
                      static_cast<int32_t>(gbk.size()), &status);
  }
  if (U_FAILURE(status)) return std::u16string(gbk.size(), u'\xFFFD');
  out.resize(static_cast<std::size_t>(n));
  return out;
}

std::string Utf16ToGbk(std::u16string_view text) {
  if (text.empty()) return {};
  std::string out(text.size() * 2 + 1, '\0');
  UErrorCode status = U_ZERO_ERROR;
  int32_t n = ucnv_fromUChars(Converter(), out.data(), static_cast<int32_t>(out.size()),
                              reinterpret_cast<const UChar*>(text.data()),
                              static_cast<int32_t>(text.size()), &status);
  if (U_FAILURE(status)) return std::string(text.size(), '?');
  out.resize(static_cast<std::size_t>(n));
  return out;
}

std::string GbkToUtf8(std::string_view gbk) {
  const std::u16string wide = GbkToUtf16(gbk);
  std::string out(wide.size() * 3 + 1, '\0');
  int32_t n = 0;
  UErrorCode status = U_ZERO_ERROR;
  u_strToUTF8WithSub(out.data(), static_cast<int32_t>(out.size()), &n,
                     reinterpret_cast<const UChar*>(wide.data()), static_cast<int32_t>(wide.size()),
                     0xFFFD, nullptr, &status);
  out.resize(U_SUCCESS(status) ? static_cast<std::size_t>(n) : 0);
  return out;
}

std::string Utf8ToGbk(std::string_view utf8) {
  std::u16string wide(utf8.size() + 1, u'\0');
  int32_t n = 0;
  UErrorCode status = U_ZERO_ERROR;
  u_strFromUTF8WithSub(reinterpret_cast<UChar*>(wide.data()), static_cast<int32_t>(wide.size()), &n,
                       utf8.data(), static_cast<int32_t>(utf8.size()), 0xFFFD, nullptr, &status);
  if (U_FAILURE(status)) return std::string(utf8.size(), '?');
  wide.resize(static_cast<std::size_t>(n));
  return Utf16ToGbk(wide);
}

}  // namespace mt
