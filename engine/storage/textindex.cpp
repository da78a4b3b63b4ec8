// The text index: parameters, word splitting and word entries.
#include "textindex.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "btree.h"
#include "byteio.h"
#include "engine/common/engineerror.h"
#include "engine/common/gbk.h"
#include "engine/common/localetext.h"
#include "indexfile.h"
#include "indexkey.h"
#include "record.h"

namespace mt {
namespace {

constexpr std::size_t kBitmapBytes = 32;
constexpr int32_t kMaxStopWords = 100000;

void SetBit(std::array<uint8_t, 32>& bits, unsigned c) {
  bits[c / 8] = static_cast<uint8_t>(bits[c / 8] | (1u << (c % 8)));
}

void PutInt(std::vector<uint8_t>& out, int32_t v) {
  const std::size_t at = out.size();
  out.resize(at + 4);
  le::PutI32(out.data(), at, v);
}

}  // namespace

TTextParameters TTextParameters::Defaults() {
  TTextParameters p;
  p.stopWords = {"A",  "AN",   "AND", "BE",   "FOR", "HOW", "IN",   "IS",   "IT",    "OF",  "ON",
                 "OR", "THAT", "THE", "THIS", "TO",  "WAS", "WHAT", "WHEN", "WHICH", "WHY", "WILL"};
  for (unsigned c = 1; c <= 32; ++c)
    SetBit(p.spaceChars, c);
  for (char c : std::string_view("*+,-./:;<=>\\`"))
    SetBit(p.spaceChars, static_cast<unsigned char>(c));
  for (unsigned c = 'A'; c <= 'Z'; ++c)
    SetBit(p.wordChars, c);
  for (unsigned c = 'a'; c <= 'z'; ++c)
    SetBit(p.wordChars, c);
  for (unsigned c = '0'; c <= '9'; ++c)
    SetBit(p.wordChars, c);
  SetBit(p.wordChars, '_');
  for (unsigned c = 128; c <= 254; ++c)
    SetBit(p.wordChars, c);
  return p;
}

std::vector<uint8_t> EncodeTextParameters(const TTextParameters& params) {
  std::vector<uint8_t> out;
  PutInt(out, static_cast<int32_t>(params.stopWords.size()));
  for (const std::string& w : params.stopWords) {
    PutInt(out, static_cast<int32_t>(w.size()));
    out.insert(out.end(), w.begin(), w.end());
  }
  PutInt(out, static_cast<int32_t>(kBitmapBytes));
  out.insert(out.end(), params.spaceChars.begin(), params.spaceChars.end());
  PutInt(out, static_cast<int32_t>(kBitmapBytes));
  out.insert(out.end(), params.wordChars.begin(), params.wordChars.end());
  return out;
}

std::optional<TTextParameters> DecodeTextParameters(const std::vector<uint8_t>& stream) {
  std::size_t at = 0;
  auto getInt = [&](int32_t& v) {
    if (stream.size() - at < 4) return false;
    v = le::GetI32(stream.data(), at);
    at += 4;
    return true;
  };
  TTextParameters p;
  int32_t count = 0;
  if (!getInt(count) || count < 0 || count > kMaxStopWords) return std::nullopt;
  for (int32_t i = 0; i < count; ++i) {
    int32_t length = 0;
    if (!getInt(length) || length < 0 || static_cast<std::size_t>(length) > stream.size() - at) {
      return std::nullopt;
    }
    p.stopWords.emplace_back(reinterpret_cast<const char*>(stream.data() + at),
                             static_cast<std::size_t>(length));
    at += static_cast<std::size_t>(length);
  }
  for (std::array<uint8_t, 32>* bits : {&p.spaceChars, &p.wordChars}) {
    int32_t length = 0;
    if (!getInt(length) || length != static_cast<int32_t>(kBitmapBytes) ||
        stream.size() - at < kBitmapBytes) {
      return std::nullopt;
    }
    std::memcpy(bits->data(), stream.data() + at, kBitmapBytes);
    at += kBitmapBytes;
  }
  return p;
}

std::vector<std::string> SplitWords(const TTextParameters& params, std::string_view text) {
  std::vector<std::string> words;
  std::set<std::string> seen;
  std::set<std::string> stops;
  for (std::string s : params.stopWords) {
    UpperCaseGbk(s);
    stops.insert(std::move(s));
  }
  std::string current;
  auto endWord = [&]() {
    if (current.empty()) return;
    UpperCaseGbk(current);
    std::string word(CutGbk(current, tkey::kMaxWordLength));
    current.clear();
    if (word.empty() || stops.count(word) != 0 || !seen.insert(word).second) return;
    words.push_back(std::move(word));
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (IsGbkLeadByte(c) && i + 1 < text.size()) {
      if (params.IsWordChar(c)) {
        current.append(text.substr(i, 2));
      } else if (params.IsSpace(c)) {
        endWord();
      }
      ++i;
      continue;
    }
    if (c == 0 || params.IsSpace(c)) {
      endWord();
    } else if (params.IsWordChar(c)) {
      current.push_back(static_cast<char>(c));
    }
  }
  endWord();
  return words;
}

// ---- the index ----------------------------------------------------------------------------

TTextIndex::TTextIndex(TIndexFile& file) : file_(file) {}

TBTree& TTextIndex::Tree() {
  return file_.Tree(kTextSlot);
}

std::vector<int32_t> TTextIndex::ParameterChain() {
  std::vector<int32_t> chain;
  std::set<int32_t> seen;
  std::vector<uint8_t> page(kIndexPageSize);
  for (int32_t n = file_.Header().slots[kTextSlot].parameterPage; n != 0;) {
    if (!seen.insert(n).second)
      RaiseEngineError(err::kIndexPageCorrupt, {.table = file_.StoreTableName()});
    Tree().ReadRawPage(n, page.data());
    if (page[ipl::kType] != ptype::kParameter ||
        le::GetU16(page.data(), ipl::kUsed) > ipl::kDataBytes) {
      RaiseEngineError(err::kIndexPageCorrupt, {.table = file_.StoreTableName()});
    }
    chain.push_back(n);
    n = le::GetI32(page.data(), ipl::kNext);
  }
  return chain;
}

const TTextParameters& TTextIndex::Parameters() {
  if (loaded_) return *loaded_;
  if (file_.Header().slots[kTextSlot].parameterPage == 0) {
    loaded_ = TTextParameters::Defaults();
    return *loaded_;
  }
  std::vector<uint8_t> stream;
  std::vector<uint8_t> page(kIndexPageSize);
  for (int32_t n : ParameterChain()) {
    Tree().ReadRawPage(n, page.data());
    const std::size_t used = le::GetU16(page.data(), ipl::kUsed);
    stream.insert(stream.end(), page.begin() + ipl::kEntries,
                  page.begin() + static_cast<std::ptrdiff_t>(ipl::kEntries + used));
  }
  std::optional<TTextParameters> p = DecodeTextParameters(stream);
  if (!p) RaiseEngineError(err::kIndexPageCorrupt, {.table = file_.StoreTableName()});
  loaded_ = std::move(*p);
  return *loaded_;
}

void TTextIndex::SetParameters(const TTextParameters& params) {
  const std::vector<uint8_t> stream = EncodeTextParameters(params);
  const std::size_t perPage = ipl::kDataBytes;
  const std::size_t needed = std::max<std::size_t>(1, (stream.size() + perPage - 1) / perPage);
  std::vector<int32_t> chain = ParameterChain();
  TBTree& tree = Tree();
  while (chain.size() < needed)
    chain.push_back(tree.TakePage());
  while (chain.size() > needed) {
    tree.ReleasePage(chain.back());
    chain.pop_back();
  }
  std::vector<uint8_t> page(kIndexPageSize);
  for (std::size_t i = 0; i < chain.size(); ++i) {
    std::fill(page.begin(), page.end(), 0);
    const std::size_t from = i * perPage;
    const std::size_t used = std::min(perPage, stream.size() - std::min(stream.size(), from));
    page[ipl::kType] = ptype::kParameter;
    le::PutI32(page.data(), ipl::kPrev, i > 0 ? chain[i - 1] : 0);
    le::PutI32(page.data(), ipl::kNext, i + 1 < chain.size() ? chain[i + 1] : 0);
    le::PutU16(page.data(), ipl::kUsed, static_cast<uint16_t>(used));
    if (used != 0) std::memcpy(page.data() + ipl::kEntries, stream.data() + from, used);
    tree.WriteRawPage(chain[i], page.data());
  }
  file_.MutableHeader().slots[kTextSlot].parameterPage = chain.front();
  file_.MarkHeaderDirty();
  loaded_ = params;
}

void TTextIndex::EnsureParameterPage() {
  if (file_.Header().slots[kTextSlot].parameterPage == 0) SetParameters(Parameters());
}

std::vector<std::vector<uint8_t>> TTextIndex::KeysOf(int32_t record, uint16_t fieldNo,
                                                     std::string_view text) {
  const TKeyDef& def = Tree().KeyDef();
  std::vector<std::vector<uint8_t>> keys;
  for (const std::string& word : SplitWords(Parameters(), text)) {
    std::vector<uint8_t> key(kTextKeyLength);
    BuildTextKey(fieldNo, word, record, key.data());
    keys.push_back(std::move(key));
  }
  // Words the table's locale compares as equal make one entry.
  std::sort(keys.begin(), keys.end(),
            [&](const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
              return def.Compare(a.data(), b.data()) < 0;
            });
  keys.erase(std::unique(keys.begin(), keys.end(),
                         [&](const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
                           return def.Compare(a.data(), b.data()) == 0;
                         }),
             keys.end());
  return keys;
}

void TTextIndex::AddText(int32_t record, uint16_t fieldNo, std::string_view text) {
  const std::vector<std::vector<uint8_t>> keys = KeysOf(record, fieldNo, text);
  if (keys.empty()) return;
  EnsureParameterPage();
  TBTree& tree = Tree();
  for (const std::vector<uint8_t>& key : keys) {
    if (!tree.Find(key.data()).found) tree.Insert(key.data(), record);
  }
}

void TTextIndex::RemoveText(int32_t record, uint16_t fieldNo, std::string_view text) {
  TBTree& tree = Tree();
  for (const std::vector<uint8_t>& key : KeysOf(record, fieldNo, text))
    tree.Delete(key.data(), record);
}

void TTextIndex::ReplaceText(int32_t record, uint16_t fieldNo, std::string_view oldText,
                             std::string_view newText) {
  RemoveText(record, fieldNo, oldText);
  AddText(record, fieldNo, newText);
}

std::vector<int32_t> TTextIndex::FindWord(std::string_view word, uint16_t fieldNo) {
  std::string upper(word);
  UpperCaseGbk(upper);
  std::vector<uint16_t> fields;
  if (fieldNo != 0) {
    fields.push_back(fieldNo);
  } else {
    fields = file_.Header().slots[kTextSlot].fields;
  }
  TBTree& tree = Tree();
  const TKeyDef& def = tree.KeyDef();
  std::vector<int32_t> records;
  std::vector<uint8_t> probe(kTextKeyLength);
  std::vector<uint8_t> key(kTextKeyLength);
  for (uint16_t field : fields) {
    BuildTextKey(field, upper, 0, probe.data());
    for (TLeafPos pos = tree.Find(probe.data()).pos; pos.Valid(); pos = tree.Next(pos)) {
      const int32_t record = tree.ReadEntry(pos, key.data());
      if (def.CompareFields(key.data(), probe.data()) != 0) break;
      records.push_back(record);
    }
  }
  std::sort(records.begin(), records.end());
  records.erase(std::unique(records.begin(), records.end()), records.end());
  return records;
}

}  // namespace mt
