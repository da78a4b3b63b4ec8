// The table locales callers may name.
#include "locales.h"

#include "engine/common/literals.h"
#include "engine/common/localetext.h"

namespace mt {
namespace {

constexpr TLocaleName kLocales[] = {
    {"ANSI Standard", 0},
    {"Afrikaans", 1078},
    {"Albanian", 1052},
    {"Arabic (Saudi Arabia)", 1025},
    {"Arabic (Iraq)", 2049},
    {"Arabic (Egypt)", 3073},
    {"Arabic (Libya)", 4097},
    {"Arabic (Algeria)", 5121},
    {"Arabic (Morocco)", 6145},
    {"Arabic (Tunisia)", 7169},
    {"Arabic (Oman)", 8193},
    {"Arabic (Yemen)", 9217},
    {"Arabic (Syria)", 10241},
    {"Arabic (Jordan)", 11265},
    {"Arabic (Lebanon)", 12289},
    {"Arabic (Kuwait)", 13313},
    {"Arabic (U.A.E)", 14337},
    {"Arabic (Bahrain)", 15361},
    {"Arabic (Qatar)", 16385},
    {"Basque", 1069},
    {"Belarusian", 1059},
    {"Bulgarian", 1026},
    {"Catalan", 1027},
    {"Croatian", 1050},
    {"Czech", 1029},
    {"Danish", 1030},
    {"Dutch (Standard)", 1043},
    {"Dutch (Belgian)", 2067},
    {"English (USA)", 1033},
    {"English (UK)", 2057},
    {"English (Australian)", 3081},
    {"English (Canadian)", 4105},
    {"English (New Zealand)", 5129},
    {"English (Irish)", 6153},
    {"English (South Africa)", 7177},
    {"English (Jamaica)", 8201},
    {"English (Caribbean)", 9225},
    {"English (Belize)", 10249},
    {"English (Trinidad)", 11273},
    {"Estonian", 1061},
    {"Faeroese", 1080},
    {"Farsi", 1065},
    {"Finnish", 1035},
    {"French (Standard)", 1036},
    {"French (Belgian)", 2060},
    {"French (Canadian)", 3084},
    {"French (Swiss)", 4108},
    {"French (Luxembourg)", 5132},
    {"German (Standard)", 1031},
    {"German (Swiss)", 2055},
    {"German (Austrian)", 3079},
    {"German (Luxembourg)", 4103},
    {"German (Liechtenstein)", 5127},
    {"Greek", 1032},
    {"Hebrew", 1037},
    {"Hungarian", 1038},
    {"Icelandic", 1039},
    {"Indonesian", 1057},
    {"Italian (Standard)", 1040},
    {"Italian (Swiss)", 2064},
    {"Latvian", 1062},
    {"Lithuanian", 1063},
    {"Norwegian (Bokmal)", 1044},
    {"Norwegian (Nynorsk)", 2068},
    {"Polish", 1045},
    {"Portuguese (Standard)", 2070},
    {"Portuguese (Brazilian)", 1046},
    {"Romanian", 1048},
    {"Russian", 1049},
    {"Serbian (Latin)", 2074},
    {"Serbian (Cyrillic)", 3098},
    {"Slovak", 1051},
    {"Slovenian", 1060},
    {"Spanish (Castilian)", 1034},
    {"Spanish (Mexican)", 2058},
    {"Spanish (Modern)", 3082},
    {"Spanish (Guatemala)", 4106},
    {"Spanish (Costa Rica)", 5130},
    {"Spanish (Panama)", 6154},
    {"Spanish (Dominican Republic)", 7178},
    {"Spanish (Venezuela)", 8202},
    {"Spanish (Colombia)", 9226},
    {"Spanish (Peru)", 10250},
    {"Spanish (Argentina)", 11274},
    {"Spanish (Ecuador)", 12298},
    {"Spanish (Chile)", 13322},
    {"Spanish (Uruguay)", 14346},
    {"Spanish (Paraguay)", 15370},
    {"Spanish (Bolivia)", 16394},
    {"Spanish (El Salvador)", 17418},
    {"Spanish (Honduras)", 18442},
    {"Spanish (Nicaragua)", 19466},
    {"Spanish (Puerto Rico)", 20490},
    {"Swedish (Standard)", 1053},
    {"Swedish (Finland)", 2077},
    {"Thai", 1054},
    {"Turkish", 1055},
    {"Ukranian", 1058},
    {"Vietnamese", 1066},
};
static_assert(std::size(kLocales) == 99);

constexpr uint16_t kPrimaryGerman = 7;

}  // namespace

std::span<const TLocaleName> TableLocaleNames() {
  return kLocales;
}

std::optional<uint16_t> LanguageIdOfLocaleName(std::string_view name) {
  for (const TLocaleName& l : kLocales) {
    if (EqualsKeyword(name, l.name)) return l.languageId;
  }
  return std::nullopt;
}

std::string_view LocaleNameOfLanguageId(uint16_t languageId) {
  for (const TLocaleName& l : kLocales) {
    if (l.languageId == languageId) return l.name;
  }
  return {};
}

std::vector<uint16_t> SortOrdersOfLanguage(uint16_t languageId) {
  std::vector<uint16_t> orders{kSortDefault};
  if (languageId != 0 && (languageId & 0x3FF) == kPrimaryGerman) {
    orders.push_back(kSortGermanPhoneBook);
  }
  return orders;
}

std::optional<uint16_t> SortOrderIdOfName(uint16_t languageId, std::string_view sortOrderName) {
  for (uint16_t id : SortOrdersOfLanguage(languageId)) {
    const std::string_view name = id == kSortDefault ? kSortOrderDefault : kSortOrderPhoneBook;
    if (EqualsKeyword(sortOrderName, name)) return id;
  }
  return std::nullopt;
}

}  // namespace mt
