// GBK conversion cases shared by the engine's and the program's GBK tests: texts that go to
// GBK and back unchanged, and byte runs that are no valid GBK with the text they must read as.
// Texts are UTF-8; "\xEF\xBF\xBD" is U+FFFD, the replacement character.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace mt::test {

struct TGbkRoundTrip {
  const char* name;
  std::string utf8;
  std::optional<std::string> gbk;  // the exact bytes, where the case pins them
};

inline const std::vector<TGbkRoundTrip>& GbkRoundTrips() {
  static const std::vector<TGbkRoundTrip> cases = {
      {"income", "收入", "\xca\xd5\xc8\xeb"},
      {"expense", "支出", "\xd6\xa7\xb3\xf6"},
      {"mixed", "abc 收支记账 123", std::nullopt},
      {"ascii", "szzb", "szzb"},
      {"empty", "", ""},
  };
  return cases;
}

// A lead byte without a valid trail byte becomes one U+FFFD; the byte after it, when it
// stands for a character of its own, is kept.
struct TGbkBadBytes {
  const char* name;
  std::string gbk;
  std::string utf8;
};

inline const std::vector<TGbkBadBytes>& GbkBadBytes() {
  static const std::string r = "\xEF\xBF\xBD";
  static const std::vector<TGbkBadBytes> cases = {
      {"lone lead byte at the end", "ab\x81", "ab" + r},
      {"bad trail byte", "\x81\x7f", r + "\x7f"},
      {"bad trail byte before a letter", "\x81\x7fz", r + "\x7fz"},
      {"lead byte before a blank", "\x81 ", r + " "},
      {"lead byte before a blank and a character", "\x81 \xca\xd5", r + " 收"},
  };
  return cases;
}

}  // namespace mt::test
