// The text index: default parameters, word splitting, the parameter pages (also across two
// pages), word entries of records and searches by word.
#include <gtest/gtest.h>

#include "engine/storage/indexbuild.h"
#include "engine/storage/indexfile.h"
#include "engine/storage/textindex.h"
#include "indextest.h"

namespace mt {
namespace {

using test::ErrorCodeOf;
using test::Field;

TEST(TextWordsTest, DefaultParameters) {
  const TTextParameters p = TTextParameters::Defaults();
  EXPECT_EQ(p.stopWords.size(), 22u);
  EXPECT_EQ(p.stopWords.front(), "A");
  EXPECT_EQ(p.stopWords.back(), "WILL");
  for (unsigned c = 1; c <= 32; ++c)
    EXPECT_TRUE(p.IsSpace(static_cast<uint8_t>(c))) << c;
  for (char c : std::string_view("*+,-./:;<=>\\`"))
    EXPECT_TRUE(p.IsSpace(static_cast<uint8_t>(c))) << c;
  for (char c : std::string_view("!\"#$%&'()?@[]^{|}~"))
    EXPECT_FALSE(p.IsSpace(static_cast<uint8_t>(c)) || p.IsWordChar(static_cast<uint8_t>(c))) << c;
  EXPECT_FALSE(p.IsSpace(0));
  EXPECT_TRUE(p.IsWordChar('_'));
  EXPECT_TRUE(p.IsWordChar('z'));
  EXPECT_TRUE(p.IsWordChar('7'));
  EXPECT_TRUE(p.IsWordChar(128));
  EXPECT_TRUE(p.IsWordChar(254));
  EXPECT_FALSE(p.IsWordChar(255));
  EXPECT_FALSE(p.IsWordChar(127));

  const std::vector<uint8_t> stream = EncodeTextParameters(p);
  // 4 + 22 words (4 + length each) + 2 x (4 + 32)
  std::size_t letters = 0;
  for (const std::string& w : p.stopWords)
    letters += w.size();
  EXPECT_EQ(stream.size(), 4 + 22 * 4 + letters + 72);
  EXPECT_EQ(DecodeTextParameters(stream), p);
  std::vector<uint8_t> cut(stream.begin(), stream.end() - 1);
  EXPECT_FALSE(DecodeTextParameters(cut).has_value());
}

TEST(TextWordsTest, SplittingRules) {
  const TTextParameters p = TTextParameters::Defaults();
  struct TCase {
    const char* text;
    std::vector<std::string> words;
  };
  const TCase cases[] = {
      {"The cost of it, paid in cash", {"COST", "PAID", "CASH"}},
      {"don't  stop-here/now", {"DONT", "STOP", "HERE", "NOW"}},
      {"rent rent RENT Rent", {"RENT"}},
      {"a_b 12x (paren) #tag", {"A_B", "12X", "PAREN", "TAG"}},
      {"\xca\xd5\xc8\xeb,\xd6\xa7\xb3\xf6 abc", {"\xca\xd5\xc8\xeb", "\xd6\xa7\xb3\xf6", "ABC"}},
      // A GBK trail byte that looks like a letter stays with its lead byte, uncased.
      {"x\xb0\x61y", {"X\xb0\x61Y"}},
      {"", {}},
      {"   ,,, the", {}},
  };
  for (const TCase& c : cases)
    EXPECT_EQ(SplitWords(p, c.text), c.words) << c.text;
  // Words are cut to 60 bytes without splitting a character.
  std::string longWord(59, 'q');
  longWord += "\xb0\xa1\xb0\xa1";
  const std::vector<std::string> words = SplitWords(p, longWord);
  ASSERT_EQ(words.size(), 1u);
  EXPECT_EQ(words[0], std::string(59, 'Q'));
}

class TextIndexTest : public test::IndexTestBase {
 protected:
  TTableCreateParams Notes() {
    TTableCreateParams p;
    p.fields = {Field("id", ftype::kInteger), Field("title", ftype::kString, 40),
                Field("body", ftype::kString, 200)};
    p.indexes.primary = test::Index("", {1});
    p.indexes.textFields = {2, 3};
    return p;
  }
};

TEST_F(TextIndexTest, WordsOfRecordsAreFoundAndRemoved) {
  TDataTable t(dir_, "notes");
  t.Create(Notes());
  t.Open();
  TTextIndex& text = t.Index().Text();
  EXPECT_EQ(t.Index().Descriptor(kTextSlot).parameterPage, 0);
  text.AddText(1, 2, "Rent for May");
  text.AddText(1, 3, "paid the rent in cash");
  text.AddText(2, 3, "cash from the bank; rent later");
  text.AddText(3, 2, "Groceries");
  text.AddText(3, 2, "Groceries");  // twice changes nothing
  EXPECT_NE(t.Index().Descriptor(kTextSlot).parameterPage, 0);
  EXPECT_EQ(text.FindWord("rent"), (std::vector<int32_t>{1, 2}));
  EXPECT_EQ(text.FindWord("RENT", 2), (std::vector<int32_t>{1}));
  EXPECT_EQ(text.FindWord("cash", 3), (std::vector<int32_t>{1, 2}));
  EXPECT_EQ(text.FindWord("groceries"), (std::vector<int32_t>{3}));
  EXPECT_TRUE(text.FindWord("the").empty());  // a stop word never enters
  EXPECT_TRUE(text.FindWord("ren").empty());
  EXPECT_TRUE(t.Index().Tree(kTextSlot).CheckStructure().empty());
  t.Close();

  t.Open();
  TTextIndex& again = t.Index().Text();
  EXPECT_EQ(again.Parameters(), TTextParameters::Defaults());
  again.ReplaceText(1, 3, "paid the rent in cash", "paid by card");
  EXPECT_EQ(again.FindWord("cash"), (std::vector<int32_t>{2}));
  EXPECT_EQ(again.FindWord("card"), (std::vector<int32_t>{1}));
  EXPECT_EQ(again.FindWord("rent"), (std::vector<int32_t>{1, 2}));  // still in the title
  again.RemoveText(1, 2, "Rent for May");
  again.RemoveText(2, 3, "cash from the bank; rent later");
  EXPECT_TRUE(again.FindWord("rent").empty());
  t.Close();
}

TEST_F(TextIndexTest, ParametersRunOverToASecondPageAndBack) {
  TDataTable t(dir_, "params");
  t.Create(Notes());
  t.Open();
  TTextParameters p = TTextParameters::Defaults();
  for (int i = 0; i < 400; ++i)
    p.stopWords.push_back("STOPWORD" + std::to_string(i));
  ASSERT_GT(EncodeTextParameters(p).size(), static_cast<std::size_t>(ipl::kDataBytes));
  t.Index().Text().SetParameters(p);
  const int32_t first = t.Index().Descriptor(kTextSlot).parameterPage;
  t.Close();

  t.Open();
  EXPECT_EQ(t.Index().Text().Parameters(), p);
  t.Index().Text().AddText(4, 3, "stopword7 survives not, stopword399 neither; keeper");
  EXPECT_EQ(t.Index().Text().FindWord("keeper"), (std::vector<int32_t>{4}));
  EXPECT_TRUE(t.Index().Text().FindWord("stopword7").empty());
  // Back to one page: the second goes to the text index's free chain.
  t.Index().Text().SetParameters(TTextParameters::Defaults());
  EXPECT_EQ(t.Index().Descriptor(kTextSlot).parameterPage, first);
  EXPECT_NE(t.Index().Descriptor(kTextSlot).freeChain, 0);
  t.Close();
  t.Open();
  EXPECT_EQ(t.Index().Text().Parameters(), TTextParameters::Defaults());
  t.Close();

  // A damaged parameter page is an index page fault.
  std::vector<uint8_t> bytes = ReadFile("params.IDX");
  bytes[static_cast<std::size_t>(first) * kIndexPageSize + ipl::kType] = ptype::kLeaf;
  WriteFile("params.IDX", bytes);
  t.Open();
  EXPECT_EQ(ErrorCodeOf([&] { t.Index().Text().Parameters(); }), err::kIndexPageCorrupt);
  t.Close();
}

TEST_F(TextIndexTest, RecordTextFromImagesAndMemoReader) {
  TTableCreateParams p = Notes();
  p.fields.push_back(Field("memo", ftype::kBlob, 0, fsubtype::kMemo));
  p.indexes.textFields = {2, 4};
  TDataTable t(dir_, "memo");
  t.Create(p);
  t.Open();
  const TRecordFormat& fmt = t.Data().Format();
  std::vector<uint8_t> image(static_cast<std::size_t>(fmt.RecordSize()));
  fmt.InitRecord(image.data());
  fmt.SetString(2, image.data(), "Water bill");
  fmt.SetString(3, image.data(), "not indexed");
  TMemoTextReader memo = [](int fieldNo, const uint8_t*) -> std::optional<std::string> {
    return fieldNo == 4 ? std::optional<std::string>("memo words here") : std::nullopt;
  };
  AddRecordText(t.Index(), fmt, image.data(), 9, memo);
  EXPECT_EQ(t.Index().Text().FindWord("water"), (std::vector<int32_t>{9}));
  EXPECT_EQ(t.Index().Text().FindWord("words", 4), (std::vector<int32_t>{9}));
  EXPECT_TRUE(t.Index().Text().FindWord("indexed").empty());
  RemoveRecordText(t.Index(), fmt, image.data(), 9, memo);
  EXPECT_TRUE(t.Index().Text().FindWord("water").empty());
  EXPECT_TRUE(t.Index().Text().FindWord("memo").empty());
  EXPECT_TRUE(t.Index().Tree(kTextSlot).IsEmpty());
  t.Close();
}

}  // namespace
}  // namespace mt
