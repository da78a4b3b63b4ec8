// The table locales callers may name: 99 locale names, each mapped to the language
// identifier stored in the data file header (primary language + 1024 x sub-language), and the
// sort orders each offers. "ANSI Standard" is 0, no locale: byte order, ASCII casing.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace mt {

struct TLocaleName {
  std::string_view name;
  uint16_t languageId;
};

inline constexpr std::string_view kSortOrderDefault = "Default Order";
inline constexpr std::string_view kSortOrderPhoneBook = "German Phone Book Order";

// All 99 names in list order.
std::span<const TLocaleName> TableLocaleNames();
// The language identifier of a name compared without regard to case.
std::optional<uint16_t> LanguageIdOfLocaleName(std::string_view name);
// The name of a language identifier; empty when none of the list has it.
std::string_view LocaleNameOfLanguageId(uint16_t languageId);
// The sort orders a locale offers, by identifier: 0 "Default Order" always, 1 "German Phone
// Book Order" for the German locales.
std::vector<uint16_t> SortOrdersOfLanguage(uint16_t languageId);
std::optional<uint16_t> SortOrderIdOfName(uint16_t languageId, std::string_view sortOrderName);

}  // namespace mt
