// The engine's locale services for GBK text, on ICU.
#include "localetext.h"

#include <unicode/ucol.h>
#include <unicode/uloc.h>

#include <map>
#include <memory>

#include "gbk.h"

namespace mt {
namespace {

constexpr uint16_t kPrimaryGerman = 7;

struct TCollatorCloser {
  void operator()(UCollator* c) const { ucol_close(c); }
};
using TCollatorPtr = std::unique_ptr<UCollator, TCollatorCloser>;

// The ICU locale name of a language identifier, empty when ICU does not know it as a
// specific language and country (neutral languages such as 9 "English" are refused).
std::string IcuLocaleOf(uint16_t languageId) {
  char name[ULOC_FULLNAME_CAPACITY] = {};
  UErrorCode status = U_ZERO_ERROR;
  uloc_getLocaleForLCID(languageId, name, sizeof name, &status);
  if (U_FAILURE(status) || status == U_STRING_NOT_TERMINATED_WARNING || name[0] == 0) return {};
  if (uloc_getLCID(name) != languageId) return {};
  char country[ULOC_COUNTRY_CAPACITY] = {};
  status = U_ZERO_ERROR;
  uloc_getCountry(name, country, sizeof country, &status);
  if (U_FAILURE(status) || country[0] == 0) return {};
  return name;
}

// One collator per locale and case mode, per thread.
UCollator* CollatorFor(uint32_t localeId, bool ignoreCase) {
  thread_local std::map<uint64_t, TCollatorPtr> collators;
  const uint64_t key = (static_cast<uint64_t>(localeId) << 1) | (ignoreCase ? 1 : 0);
  auto it = collators.find(key);
  if (it != collators.end()) return it->second.get();

  std::string name = IcuLocaleOf(static_cast<uint16_t>(localeId & 0xFFFF));
  if (name.empty()) name = "en_US";
  if ((localeId >> 16) == kSortGermanPhoneBook && name.find('@') == std::string::npos) {
    name += "@collation=phonebook";
  }
  UErrorCode status = U_ZERO_ERROR;
  TCollatorPtr collator(ucol_open(name.c_str(), &status));
  if (U_FAILURE(status)) {
    status = U_ZERO_ERROR;
    collator.reset(ucol_open("", &status));
  }
  if (collator) {
    // Primary strength ignores accents (non-spacing marks) and case; the case level brings
    // case back for case-sensitive comparison. Punctuation stays significant.
    ucol_setStrength(collator.get(), UCOL_PRIMARY);
    status = U_ZERO_ERROR;
    ucol_setAttribute(collator.get(), UCOL_CASE_LEVEL, ignoreCase ? UCOL_OFF : UCOL_ON, &status);
    status = U_ZERO_ERROR;
    ucol_setAttribute(collator.get(), UCOL_ALTERNATE_HANDLING, UCOL_NON_IGNORABLE, &status);
  }
  UCollator* raw = collator.get();
  collators.emplace(key, std::move(collator));
  return raw;
}

int CompareBytes(std::string_view a, std::string_view b) {
  const int c = a.compare(b);  // char_traits<char> compares as unsigned char
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

}  // namespace

bool IsLocaleInstalled(uint32_t localeId) {
  const auto languageId = static_cast<uint16_t>(localeId & 0xFFFF);
  const auto sortId = static_cast<uint16_t>(localeId >> 16);
  if (languageId == 0) return false;
  if (IcuLocaleOf(languageId).empty()) return false;
  if (sortId == kSortDefault) return true;
  return sortId == kSortGermanPhoneBook && (languageId & 0x3FF) == kPrimaryGerman;
}

int CompareLocaleText(uint32_t localeId, std::string_view a, std::string_view b, bool ignoreCase) {
  if (localeId == 0) {
    if (!ignoreCase) return CompareBytes(a, b);
    std::string x(a), y(b);
    UpperCaseGbk(x);
    UpperCaseGbk(y);
    return CompareBytes(x, y);
  }
  UCollator* collator = CollatorFor(localeId, ignoreCase);
  const std::u16string x = GbkToUtf16(a);
  const std::u16string y = GbkToUtf16(b);
  if (collator == nullptr) return CompareBytes(a, b);
  const UCollationResult r = ucol_strcoll(
      collator, reinterpret_cast<const UChar*>(x.data()), static_cast<int32_t>(x.size()),
      reinterpret_cast<const UChar*>(y.data()), static_cast<int32_t>(y.size()));
  return r == UCOL_LESS ? -1 : (r == UCOL_GREATER ? 1 : 0);
}

void AppendLocaleSortKey(uint32_t localeId, std::string_view text, bool ignoreCase,
                         std::vector<uint8_t>& out) {
  text = text.substr(0, text.find('\0'));
  auto appendBytes = [&out](std::string_view bytes) {
    out.insert(out.end(), bytes.begin(), bytes.end());
    out.push_back(0);
  };
  if (localeId == 0) {
    if (!ignoreCase) return appendBytes(text);
    std::string upper(text);
    UpperCaseGbk(upper);
    return appendBytes(upper);
  }
  UCollator* collator = CollatorFor(localeId, ignoreCase);
  if (collator == nullptr) return appendBytes(text);  // as CompareLocaleText falls back
  const std::u16string u = GbkToUtf16(text);
  const auto* chars = reinterpret_cast<const UChar*>(u.data());
  const auto length = static_cast<int32_t>(u.size());
  const std::size_t at = out.size();
  // A key usually fits in a few bytes per character; a longer one is asked for again whole.
  out.resize(at + 4 * u.size() + 16);
  int32_t needed = ucol_getSortKey(collator, chars, length, out.data() + at,
                                   static_cast<int32_t>(out.size() - at));
  if (needed > static_cast<int32_t>(out.size() - at)) {
    out.resize(at + static_cast<std::size_t>(needed));
    needed = ucol_getSortKey(collator, chars, length, out.data() + at, needed);
  }
  if (needed <= 0) {
    out.resize(at);
    return appendBytes(text);
  }
  out.resize(at + static_cast<std::size_t>(needed));  // the terminating zero included
}

void UpperCaseGbk(std::string& text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (IsGbkLeadByte(c) && i + 1 < text.size()) {
      ++i;  // skip the trail byte
    } else if (c >= 'a' && c <= 'z') {
      text[i] = static_cast<char>(c - 32);
    }
  }
}

void LowerCaseGbk(std::string& text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (IsGbkLeadByte(c) && i + 1 < text.size()) {
      ++i;
    } else if (c >= 'A' && c <= 'Z') {
      text[i] = static_cast<char>(c + 32);
    }
  }
}

}  // namespace mt
