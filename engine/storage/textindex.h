// The text index "Sys Text": word searches over a table's string and memo fields.
//
// Parameters. How text splits into words is kept in the index file on a chain of parameter
// pages (type 4, linked through their next link; the descriptor's parameter page is the
// first). The data is one byte stream, 4083 bytes per page (the page's bytes-used field says
// how many of them this page holds):
//   int32 number of stop words; per stop word an int32 length and its characters;
//   int32 32 and a 32-byte bitmap of the space characters;
//   int32 32 and a 32-byte bitmap of the word characters.
// Bitmap bit (c mod 8) of byte (c div 8) stands for byte value c. A new text index uses 22
// stop words (A, AN, AND, BE, FOR, HOW, IN, IS, IT, OF, ON, OR, THAT, THE, THIS, TO, WAS,
// WHAT, WHEN, WHICH, WHY, WILL), the space characters 1-32 and * + , - . / : ; < = > \ `,
// and the word characters A-Z, a-z, _, 0-9 and 128-254. The parameter page is written the
// first time words are added.
//
// Word splitting. Text is read as GBK: a lead byte 0x81-0xFE and its trail byte are one
// character and count as a word character when the lead byte does. A space character or a
// zero byte ends a word; a word character extends it; any other character is dropped without
// ending the word ("don't" gives DONT). Words are upper-cased (ASCII letters only), cut to 60
// bytes without splitting a character, and stop words are left out. A text gives each word
// once.
//
// Keys (indexkey.h): field number, word, record number; each word of each text field of each
// record is one entry. The index carries no counts in its internal pages.
//
// Thread-safety: as the index file it belongs to.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mt {

class TIndexFile;
class TBTree;

struct TTextParameters {
  std::vector<std::string> stopWords;
  std::array<uint8_t, 32> spaceChars{};
  std::array<uint8_t, 32> wordChars{};

  static TTextParameters Defaults();
  bool IsSpace(uint8_t c) const { return (spaceChars[c / 8] >> (c % 8)) & 1; }
  bool IsWordChar(uint8_t c) const { return (wordChars[c / 8] >> (c % 8)) & 1; }
  bool operator==(const TTextParameters&) const = default;
};

// The parameter byte stream, and back (nullopt for a stream that is not one).
std::vector<uint8_t> EncodeTextParameters(const TTextParameters& params);
std::optional<TTextParameters> DecodeTextParameters(const std::vector<uint8_t>& stream);

// The words of a text, each once, in order of first appearance.
std::vector<std::string> SplitWords(const TTextParameters& params, std::string_view text);

class TTextIndex {
 public:
  explicit TTextIndex(TIndexFile& file);

  // The parameters: read from the parameter pages (8965 when they are damaged), or the
  // defaults while the index has none.
  const TTextParameters& Parameters();
  // Stores new parameters on the parameter pages (the words already indexed stay as they are).
  void SetParameters(const TTextParameters& params);

  // Adds the words of one field's text for a record; words already present are skipped.
  void AddText(int32_t record, uint16_t fieldNo, std::string_view text);
  // Removes the words of one field's text for a record.
  void RemoveText(int32_t record, uint16_t fieldNo, std::string_view text);
  // Removes the old text's words and adds the new text's.
  void ReplaceText(int32_t record, uint16_t fieldNo, std::string_view oldText,
                   std::string_view newText);
  // The record numbers whose field (0: any field of the index) holds the word, ascending and
  // each once.
  std::vector<int32_t> FindWord(std::string_view word, uint16_t fieldNo = 0);

  // Forgets the loaded parameters (the file changed, or was emptied).
  void Reset() { loaded_.reset(); }

 private:
  TBTree& Tree();
  std::vector<std::vector<uint8_t>> KeysOf(int32_t record, uint16_t fieldNo, std::string_view text);
  void EnsureParameterPage();
  std::vector<int32_t> ParameterChain();

  TIndexFile& file_;
  std::optional<TTextParameters> loaded_;
};

}  // namespace mt
