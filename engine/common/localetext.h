// The engine's locale services for GBK text: whether a table locale is available, locale-aware
// string comparison and letter-case mapping.
//
// A locale is identified as the operating system of the original host did: a 32-bit value
// whose low 16 bits are the language identifier (primary language + 1024 x sub-language) and
// whose high 16 bits are the sort order identifier (0 default order, 1 German phone book
// order). ICU stands in for the host's services: the language identifier is mapped to an ICU
// locale (uloc_getLocaleForLCID) and strings are compared by an ICU collator after conversion
// from GBK. Locale 0 means no locale: plain unsigned byte order.
//
// Letter case: only ASCII letters change case, whatever the locale; a two-byte GBK character
// (lead byte 0x81-0xFE and its trail byte) is never mapped, so case mapping never changes a
// text's length or splits a character.
//
// Thread-safety: collators are kept per thread; every function may be called from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace mt {

inline constexpr uint16_t kSortDefault = 0;
inline constexpr uint16_t kSortGermanPhoneBook = 1;

inline constexpr uint32_t MakeLocaleId(uint16_t languageId, uint16_t sortOrderId) {
  return languageId | (static_cast<uint32_t>(sortOrderId) << 16);
}

// True when the locale can be used: the language identifier names a specific language and
// country the locale services know, and the sort order is one that language offers (German
// phone book order only for German). Locale 0 is not installed (it is "no locale").
bool IsLocaleInstalled(uint32_t localeId);

// Compares two GBK strings: locale 0 by unsigned bytes (upper-casing ASCII letters first when
// ignoring case); any other locale by the locale's collation, ignoring non-spacing marks,
// punctuation significant, letter case significant unless ignoreCase. Returns <0, 0 or >0.
int CompareLocaleText(uint32_t localeId, std::string_view a, std::string_view b,
                      bool ignoreCase = false);

// Appends the sort key of a GBK string to `out`: bytes whose unsigned order (a key that is a
// prefix of another sorts first) and equality are CompareLocaleText's for the same locale and
// case mode. Locale 0: the text (upper-cased when ignoring case); other locales: the
// collator's sort key. The key ends in a zero byte and holds no other, so the keys of several
// fields can be joined one after another and still compare field by field. The text ends at
// its first zero byte.
void AppendLocaleSortKey(uint32_t localeId, std::string_view text, bool ignoreCase,
                         std::vector<uint8_t>& out);

void UpperCaseGbk(std::string& text);
void LowerCaseGbk(std::string& text);

}  // namespace mt
