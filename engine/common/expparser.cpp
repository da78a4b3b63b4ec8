// The lexer and the recursive-descent expression grammar.
#include "expparser.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <limits>
#include <utility>

#include "engine/common/engineerror.h"
#include "engine/common/expfunctions.h"
#include "engine/common/gbk.h"
#include "engine/common/literals.h"

namespace mt {
namespace {

bool IsGbkTrailByte(unsigned char b) {
  return b >= 0x40 && b <= 0xFE && b != 0x7F;
}

bool IsDigit(unsigned char c) {
  return c >= '0' && c <= '9';
}

bool IsSymbolStart(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || (c >= 128 && c <= 254);
}

bool IsSymbolChar(unsigned char c) {
  return IsSymbolStart(c) || IsDigit(c) || c == '!' || c == '$' || c == '@';
}

char UpperAscii(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

std::string UpperAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    c = UpperAscii(c);
  return out;
}

// Length in bytes of the character at s[i]: 2 for a GBK lead byte with its trail byte.
std::size_t GbkCharLength(std::string_view s, std::size_t i) {
  if (IsGbkLeadByte(static_cast<unsigned char>(s[i])) && i + 1 < s.size() &&
      IsGbkTrailByte(static_cast<unsigned char>(s[i + 1])))
    return 2;
  return 1;
}

// The first max bytes of s or fewer, never ending inside a two-byte character.
std::string CutText(std::string_view s, std::size_t max) {
  if (s.size() <= max) return std::string(s);
  std::size_t i = 0;
  while (i < s.size()) {
    std::size_t n = GbkCharLength(s, i);
    if (i + n > max) break;
    i += n;
  }
  return std::string(s.substr(0, i));
}

}  // namespace

std::string BareFileName(std::string_view name) {
  std::size_t start = 0;
  std::size_t dot = std::string_view::npos;
  for (std::size_t i = 0; i < name.size(); i += GbkCharLength(name, i)) {
    if (name[i] == '/' || name[i] == '\\') {
      start = i + 1;
      dot = std::string_view::npos;
    } else if (name[i] == '.') {
      dot = i;
    }
  }
  std::size_t end = (dot != std::string_view::npos && dot > start) ? dot : name.size();
  return std::string(name.substr(start, end - start));
}

namespace {

// Doubled quote characters of the given kinds turned into one.
std::string CollapseQuotes(std::string_view s, bool apostrophes, bool doubleQuotes) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    out += s[i];
    if (i + 1 < s.size() && s[i + 1] == s[i] &&
        ((apostrophes && s[i] == '\'') || (doubleQuotes && s[i] == '"')))
      ++i;
  }
  return out;
}

// How a type name takes arguments in parentheses.
enum class TTypeArgs { None, Length, PrecisionScale, Blob };

struct TTypeName {
  std::string_view name;
  uint16_t type;
  uint16_t subtype;
  int32_t size;
  TTypeArgs args;
};

constexpr TTypeName kTypeNames[] = {
    {"SMALLINT", ftype::kSmallInt, 0, 2, TTypeArgs::None},
    {"WORD", ftype::kWord, 0, 2, TTypeArgs::None},
    {"INTEGER", ftype::kInteger, 0, 4, TTypeArgs::None},
    {"INT", ftype::kInteger, 0, 4, TTypeArgs::None},
    {"LARGEINT", ftype::kLargeInt, 0, 8, TTypeArgs::None},
    {"AUTOINC", ftype::kInteger, fsubtype::kAutoInc, 4, TTypeArgs::None},
    {"DECIMAL", ftype::kBcd, 0, 34, TTypeArgs::PrecisionScale},
    {"NUMERIC", ftype::kBcd, 0, 34, TTypeArgs::PrecisionScale},
    {"FLOAT", ftype::kFloat, 0, 8, TTypeArgs::PrecisionScale},
    {"MONEY", ftype::kFloat, fsubtype::kMoney, 8, TTypeArgs::None},
    {"CHARACTER", ftype::kString, 0, 0, TTypeArgs::Length},
    {"CHAR", ftype::kString, 0, 0, TTypeArgs::Length},
    {"VARCHAR", ftype::kString, 0, 0, TTypeArgs::Length},
    {"BYTES", ftype::kBytes, 0, 0, TTypeArgs::Length},
    {"VARBYTES", ftype::kBytes, 0, 0, TTypeArgs::Length},
    {"BINARY", ftype::kBytes, 0, 0, TTypeArgs::Length},
    {"VARBINARY", ftype::kBytes, 0, 0, TTypeArgs::Length},
    {"DATE", ftype::kDate, 0, 4, TTypeArgs::None},
    {"TIME", ftype::kTime, 0, 4, TTypeArgs::None},
    {"TIMESTAMP", ftype::kTimestamp, 0, 8, TTypeArgs::None},
    {"BOOLEAN", ftype::kBoolean, 0, 2, TTypeArgs::None},
    {"BOOL", ftype::kBoolean, 0, 2, TTypeArgs::None},
    {"BIT", ftype::kBoolean, 0, 2, TTypeArgs::None},
    {"BLOB", ftype::kBlob, fsubtype::kBinary, 0, TTypeArgs::Blob},
    {"LONGVARBINARY", ftype::kBlob, fsubtype::kBinary, 0, TTypeArgs::None},
    {"LONGVARCHAR", ftype::kBlob, fsubtype::kMemo, 0, TTypeArgs::None},
    {"MEMO", ftype::kBlob, fsubtype::kMemo, 0, TTypeArgs::None},
    {"GRAPHIC", ftype::kBlob, fsubtype::kGraphic, 0, TTypeArgs::None},
};

// The BLOB subtype for the blob type number written as the second BLOB argument.
uint16_t BlobSubtype(int32_t blobType) {
  switch (blobType) {
    case 1:
      return fsubtype::kBinary;
    case 2:
      return fsubtype::kMemo;
    case 3:
      return fsubtype::kFormattedMemo;
    case 5:
      return fsubtype::kGraphic;
    case 7:
      return fsubtype::kTypedBinary;
  }
  return 0;
}

// The value of an argument that is an INTEGER constant.
bool IntegerConstant(const TExpToken& n, int32_t& v) {
  if (n.kind != TNodeKind::Constant || n.isNull || n.isParameter || n.type != ftype::kInteger)
    return false;
  v = n.Int32Value();
  return true;
}

}  // namespace

// ---- Nesting guard

class TExpressionParser::TNestingGuard {
 public:
  explicit TNestingGuard(TExpressionParser& parser) : parser_(parser) {
    if (parser_.nesting_ >= kMaxNesting) parser_.RaiseIn("Expression is nested too deeply");
    ++parser_.nesting_;
  }
  ~TNestingGuard() { --parser_.nesting_; }
  TNestingGuard(const TNestingGuard&) = delete;
  TNestingGuard& operator=(const TNestingGuard&) = delete;

 private:
  TExpressionParser& parser_;
};

// ---- Settings

TExpressionParser::TExpressionParser(TExpressionOwner* owner)
    : owner_(owner), errorCode_(err::kSqlError), contextName_(parsecontext::kSqlStatement) {}

TExpressionParser::~TExpressionParser() = default;

void TExpressionParser::SetTableName(std::string_view name) {
  tableName_ = CutText(name, kMaxShortString);
}

void TExpressionParser::SetIndexName(std::string_view name) {
  indexName_ = CutText(name, kMaxShortString);
}

void TExpressionParser::SetContextName(std::string_view name) {
  contextName_ = CutText(name, kMaxShortString);
}

void TExpressionParser::SetFilterOwner(std::string_view tableName) {
  SetErrorCode(err::kFilterError);
  SetTableName(tableName);
  SetContextName(parsecontext::kFilter);
}

// ---- Raising

void TExpressionParser::Raise(std::string_view message) const {
  RaiseEngineError(errorCode_, {.table = tableName_,
                                .field = indexName_,
                                .index = indexName_,
                                .extra = CutText(message, kMaxShortString)});
}

void TExpressionParser::RaiseIn(std::string_view message) const {
  std::string text(message);
  text += " in ";
  text += contextName_;
  Raise(text);
}

void TExpressionParser::RaiseExpected(std::string_view prefix) const {
  std::string text(prefix);
  text += TokenText();
  text += '\'';
  RaiseIn(text);
}

namespace {
std::string FoundIn(std::string_view what, std::string_view name, std::string_view context) {
  std::string text("Unknown or unexpected ");
  text += what;
  text += " '";
  text += name;
  text += "' found in ";
  text += context;
  return text;
}
}  // namespace

void TExpressionParser::RaiseUnterminated(std::string_view what, std::size_t from) const {
  std::string text(what);
  text += source_.substr(std::min(from, source_.size()));
  text += '\'';
  RaiseIn(text);
}

// ---- Lexer

void TExpressionParser::SetText(std::string_view text) {
  const std::size_t zero = text.find('\0');
  source_.assign(text.substr(0, zero));
  position_ = 0;
  tokenStart_ = 0;
  tokenEnd_ = 0;
  previousEnd_ = 0;
  mark_ = 0;
  tokenClass_ = tokclass::kEnd;
  nesting_ = 0;
}

std::size_t TExpressionParser::CharLength(std::size_t i) const {
  return i < source_.size() ? GbkCharLength(source_, i) : 1;
}

void TExpressionParser::SkipBlanksAndComments() {
  while (true) {
    while (UAt(position_) >= 1 && UAt(position_) <= 32)
      ++position_;
    if (At(position_) == '/' && At(position_ + 1) == '*') {
      const std::size_t close = source_.find("*/", position_ + 2);
      if (close == std::string::npos) {
        position_ = source_.size();
        RaiseIn("Missing ending comment slash and asterisk");
      }
      position_ = close + 2;
      continue;
    }
    return;
  }
}

int TExpressionParser::NextToken() {
  previousEnd_ = tokenEnd_;
  SkipBlanksAndComments();
  std::size_t p = position_;
  tokenStart_ = p;
  const unsigned char c = UAt(p);
  int cls;
  if (c == 0) {
    tokenEnd_ = p;
    tokenClass_ = tokclass::kEnd;
    return tokenClass_;
  }
  if (IsSymbolStart(c)) {
    while (IsSymbolChar(UAt(p)))
      p += CharLength(p);
    cls = tokclass::kSymbol;
  } else if (c == '[') {
    ++p;
    while (At(p) != '\0' && At(p) != ']')
      p += CharLength(p);
    if (At(p) == '\0') RaiseUnterminated("Missing right bracket after '", tokenStart_ + 1);
    ++p;
    cls = tokclass::kBracketed;
  } else if (c == '\'' || c == '"') {
    const char quote = static_cast<char>(c);
    ++p;
    while (true) {
      if (At(p) == '\0')
        RaiseUnterminated(
            quote == '\'' ? "Missing single quote after '" : "Missing double quote after '",
            tokenStart_ + 1);
      if (At(p) == quote) {
        if (At(p + 1) == quote) {
          p += 2;
          continue;
        }
        break;
      }
      p += CharLength(p);
    }
    ++p;
    cls = quote == '\'' ? tokclass::kSingleQuoted : tokclass::kDoubleQuoted;
  } else if (c == '#') {
    ++p;
    while (IsDigit(UAt(p)))
      ++p;
    cls = tokclass::kCharCode;
  } else if (IsDigit(c) || (c == '.' && IsDigit(UAt(p + 1)))) {
    cls = c == '.' ? tokclass::kDecimal : tokclass::kInteger;
    ++p;
    while (true) {
      const unsigned char d = UAt(p);
      if (IsDigit(d)) {
        ++p;
      } else if (d == '.' || d == 'E' || d == 'e') {
        cls = tokclass::kDecimal;
        ++p;
      } else if ((d == '+' || d == '-') && (At(p - 1) == 'E' || At(p - 1) == 'e')) {
        cls = tokclass::kDecimal;
        ++p;
      } else {
        break;
      }
    }
  } else {
    ++p;
    cls = c;
  }
  tokenEnd_ = p;
  position_ = p;
  tokenClass_ = cls;
  return cls;
}

std::string TExpressionParser::TokenText() const {
  if (tokenClass_ == tokclass::kEnd) return {};
  const std::string_view raw =
      std::string_view(source_).substr(tokenStart_, tokenEnd_ - tokenStart_);
  switch (tokenClass_) {
    case tokclass::kBracketed:
      return CollapseQuotes(raw.substr(1, raw.size() - 2), true, true);
    case tokclass::kSingleQuoted:
      return CollapseQuotes(raw.substr(1, raw.size() - 2), true, false);
    case tokclass::kDoubleQuoted:
      return CollapseQuotes(raw.substr(1, raw.size() - 2), false, true);
    default:
      return CollapseQuotes(raw, true, true);
  }
}

bool TExpressionParser::IsKeyword(std::string_view word) const {
  if (tokenClass_ != tokclass::kSymbol || tokenEnd_ - tokenStart_ != word.size()) return false;
  for (std::size_t i = 0; i < word.size(); ++i)
    if (UpperAscii(source_[tokenStart_ + i]) != UpperAscii(word[i])) return false;
  return true;
}

std::string TExpressionParser::TextSinceMark() const {
  std::string out;
  for (std::size_t i = mark_; i < previousEnd_ && i < source_.size(); ++i)
    if (source_[i] != '\r' && source_[i] != '\n') out += source_[i];
  return out;
}

// ---- Node building

TExpTokenPtr TExpressionParser::NewNode(TNodeKind kind, TOperator op, std::string_view text) const {
  TExpTokenPtr n = NewExpToken();
  n->kind = kind;
  n->op = op;
  n->text.assign(text);
  return n;
}

void TExpressionParser::Adopt(TExpToken& parent, TExpTokenPtr& slot, TExpTokenPtr child) const {
  if (child->height >= kMaxTreeHeight) RaiseIn("Expression is nested too deeply");
  parent.height = std::max(parent.height, child->height + 1);
  slot = std::move(child);
}

void TExpressionParser::AddArgument(TExpToken& parent, TExpTokenPtr child) const {
  parent.arguments.emplace_back();
  Adopt(parent, parent.arguments.back(), std::move(child));
}

TExpTokenPtr TExpressionParser::Binary(TOperator op, std::string_view text, TExpTokenPtr l,
                                       TExpTokenPtr r) const {
  TExpTokenPtr n = NewNode(TNodeKind::Binary, op, text);
  Adopt(*n, n->left, std::move(l));
  Adopt(*n, n->right, std::move(r));
  return n;
}

TExpTokenPtr TExpressionParser::Unary(TOperator op, std::string_view text,
                                      TExpTokenPtr operand) const {
  TExpTokenPtr n = NewNode(TNodeKind::Unary, op, text);
  Adopt(*n, n->left, std::move(operand));
  return n;
}

// ---- Grammar

TExpTokenPtr TExpressionParser::ParseExpression(TPermissions permissions) {
  return ParseOr(permissions);
}

TExpTokenPtr TExpressionParser::ParseWholeExpression(TPermissions permissions) {
  TExpTokenPtr tree = ParseExpression(permissions);
  if (!AtEnd()) Raise(FoundIn("symbol", TokenText(), contextName_));
  return tree;
}

TExpTokenPtr TExpressionParser::ParseOr(TPermissions p) {
  TExpTokenPtr left = ParseAnd(p);
  while (IsKeyword("OR")) {
    NextToken();
    TExpTokenPtr right = ParseAnd(p);
    left = Binary(TOperator::Or, "OR", std::move(left), std::move(right));
  }
  return left;
}

TExpTokenPtr TExpressionParser::ParseAnd(TPermissions p) {
  TExpTokenPtr left = ParseNot(p);
  while (IsKeyword("AND")) {
    NextToken();
    TExpTokenPtr right = ParseNot(p);
    left = Binary(TOperator::And, "AND", std::move(left), std::move(right));
  }
  return left;
}

TExpTokenPtr TExpressionParser::ParseNot(TPermissions p) {
  if (!IsKeyword("NOT")) return ParsePredicate(p);
  NextToken();
  return Unary(TOperator::Not, "NOT", ParsePredicate(p));
}

TExpTokenPtr TExpressionParser::ParsePredicate(TPermissions p) {
  TExpTokenPtr left = ParseAdditive(p);

  auto comparison = [&](TOperator op) {
    TExpTokenPtr right = ParseAdditive(p);
    return Binary(op, OperatorName(op), std::move(left), std::move(right));
  };
  auto requirePredicates = [&] {
    if (!(p & perm::kPredicates))
      RaiseIn("Extended predicate operators (LIKE, BETWEEN, IN, IS NULL) are not allowed");
  };
  auto like = [&](TOperator op) {
    requirePredicates();
    NextToken();
    TExpTokenPtr pattern = ParseAdditive(p);
    TExpTokenPtr n = NewNode(TNodeKind::Predicate, op, OperatorName(op));
    AddArgument(*n, std::move(left));
    AddArgument(*n, std::move(pattern));
    return n;
  };
  auto between = [&](TOperator op) {
    requirePredicates();
    NextToken();
    TExpTokenPtr low = ParseAdditive(p);
    if (!IsKeyword("AND"))
      RaiseExpected(op == TOperator::Between
                        ? "Expected AND operator in BETWEEN operator, instead found '"
                        : "Expected AND operator in NOT BETWEEN operator, instead found '");
    NextToken();
    TExpTokenPtr high = ParseAdditive(p);
    TExpTokenPtr n = NewNode(TNodeKind::Predicate, op, OperatorName(op));
    AddArgument(*n, std::move(left));
    AddArgument(*n, std::move(low));
    AddArgument(*n, std::move(high));
    return n;
  };
  auto nullComparison = [&](TOperator op) {
    TExpTokenPtr null = NewNode(TNodeKind::Constant, TOperator::None, "NULL");
    null->SetNull();
    return Binary(op, OperatorName(op), std::move(left), std::move(null));
  };

  switch (tokenClass_) {
    case '=':
      NextToken();
      return comparison(TOperator::Equal);
    case '<':
      NextToken();
      if (IsClass('>')) {
        NextToken();
        return comparison(TOperator::NotEqual);
      }
      if (IsClass('=')) {
        NextToken();
        return comparison(TOperator::LessEqual);
      }
      return comparison(TOperator::Less);
    case '>':
      NextToken();
      if (IsClass('=')) {
        NextToken();
        return comparison(TOperator::GreaterEqual);
      }
      return comparison(TOperator::Greater);
    default:
      break;
  }

  if (IsKeyword("NOT")) {
    NextToken();
    if (IsKeyword("BETWEEN")) return between(TOperator::NotBetween);
    if (IsKeyword("LIKE")) return like(TOperator::NotLike);
    if (IsKeyword("IN")) {
      requirePredicates();
      return ParseInList(std::move(left), true, p);
    }
    Raise(FoundIn("symbol", TokenText(), contextName_));
  }
  if (IsKeyword("LIKE")) return like(TOperator::Like);
  if (IsKeyword("BETWEEN")) return between(TOperator::Between);
  if (IsKeyword("IN")) {
    requirePredicates();
    return ParseInList(std::move(left), false, p);
  }
  if (IsKeyword("IS")) {
    requirePredicates();
    NextToken();
    if (IsKeyword("NULL")) {
      NextToken();
      return nullComparison(TOperator::Equal);
    }
    if (IsKeyword("NOT")) {
      NextToken();
      if (IsKeyword("NULL")) {
        NextToken();
        return nullComparison(TOperator::NotEqual);
      }
    }
    Raise(FoundIn("symbol", TokenText(), contextName_));
  }
  return left;
}

TExpTokenPtr TExpressionParser::ParseInList(TExpTokenPtr tested, bool negated, TPermissions p) {
  const std::string name = negated ? "NOT IN" : "IN";
  NextToken();
  if (!IsClass('('))
    RaiseExpected("Expected left parentheses for " + name + " operator, instead found '");
  NextToken();

  if (IsKeyword("SELECT")) {
    if (!(p & perm::kSubSelects)) RaiseIn("Sub-select queries are not allowed");
    TExpTokenPtr sub = NewNode(TNodeKind::SubSelect, TOperator::None, "SELECT");
    {
      TNestingGuard guard(*this);
      if (!owner_ || !owner_->ParseSubSelect(*this, *sub))
        RaiseIn("Sub-select queries are not allowed");
    }
    if (!IsClass(')'))
      RaiseExpected("Expected right parentheses for " + name + " operator, instead found '");
    NextToken();
    const TOperator op = negated ? TOperator::NotInSelect : TOperator::InSelect;
    TExpTokenPtr n = NewNode(TNodeKind::Predicate, op, name);
    AddArgument(*n, std::move(tested));
    AddArgument(*n, std::move(sub));
    return n;
  }

  if (IsClass(')'))
    RaiseIn("You must provide at least one value as an operand of the " + name + " operator ");
  const TOperator op = negated ? TOperator::NotInList : TOperator::InList;
  TExpTokenPtr n = NewNode(TNodeKind::Predicate, op, name);
  AddArgument(*n, std::move(tested));
  while (true) {
    AddArgument(*n, ParseAdditive(p));
    if (!IsClass(',')) break;
    NextToken();
  }
  if (!IsClass(')'))
    RaiseExpected("Expected right parentheses after " + name + " operator, instead found '");
  NextToken();
  return n;
}

TExpTokenPtr TExpressionParser::ParseAdditive(TPermissions p) {
  TExpTokenPtr left = ParseMultiplicative(p);
  while (true) {
    TOperator op;
    std::string_view text;
    if (IsClass('+')) {
      op = TOperator::Add;
      text = "+";
    } else if (IsClass('-')) {
      op = TOperator::Subtract;
      text = "-";
    } else if (IsClass('|')) {
      NextToken();
      if (!IsClass('|'))
        RaiseExpected(
            "Second concatenation symbol '|' expected after first concatentation symbol, "
            "instead found '");
      op = TOperator::Add;
      text = "||";
    } else {
      return left;
    }
    NextToken();
    TExpTokenPtr right = ParseMultiplicative(p);
    left = Binary(op, text, std::move(left), std::move(right));
  }
}

TExpTokenPtr TExpressionParser::ParseMultiplicative(TPermissions p) {
  TExpTokenPtr left = ParseUnary(p);
  while (IsClass('*') || IsClass('/')) {
    const TOperator op = IsClass('*') ? TOperator::Multiply : TOperator::Divide;
    NextToken();
    TExpTokenPtr right = ParseUnary(p);
    left = Binary(op, OperatorName(op), std::move(left), std::move(right));
  }
  return left;
}

TExpTokenPtr TExpressionParser::ParseUnary(TPermissions p) {
  if (IsClass('-') || IsClass('+')) {
    const TOperator op = IsClass('-') ? TOperator::Negate : TOperator::Plus;
    NextToken();
    return Unary(op, OperatorName(op), ParsePrimary(p));
  }
  return ParsePrimary(p);
}

TExpTokenPtr TExpressionParser::ParsePrimary(TPermissions p) {
  TNestingGuard guard(*this);
  switch (tokenClass_) {
    case tokclass::kSymbol:
      return ParseSymbolPrimary(p);
    case tokclass::kBracketed: {
      std::string name = TokenText();
      NextToken();
      return ParseColumn(std::move(name), p);
    }
    case tokclass::kSingleQuoted:
    case tokclass::kDoubleQuoted: {
      std::string text = TokenText();
      NextToken();
      if (IsClass('.')) return ParseColumn(std::move(text), p);
      TExpTokenPtr n = NewNode(TNodeKind::Constant, TOperator::None, text);
      // An empty literal, in either quote style, is NULL.
      if (text.empty()) {
        n->SetNull();
      } else {
        n->SetString(text);
      }
      return n;
    }
    case tokclass::kCharCode:
      return ParseCharCode();
    case tokclass::kInteger:
    case tokclass::kDecimal:
      return ParseNumber();
    case '(': {
      NextToken();
      TExpTokenPtr inner = ParseExpression(p);
      if (!IsClass(')')) RaiseExpected("Right parentheses expected, instead found '");
      NextToken();
      return inner;
    }
    case '*': {
      if (!(p & perm::kAllColumns)) RaiseIn("* (all columns) symbol is not allowed");
      NextToken();
      TExpTokenPtr n = NewNode(TNodeKind::Column, TOperator::None, "*");
      n->columnName = "*";
      return n;
    }
    case '?':
    case ':': {
      // `?`, or a named parameter: a colon directly followed by a symbol (":name"). A colon
      // standing anywhere else is no token of the grammar.
      const bool named = IsClass(':');
      if (named && !IsSymbolStart(UAt(tokenEnd_))) break;
      if (!(p & perm::kParameters)) RaiseIn("Parameters are not allowed");
      std::string text = "?";
      if (named) {
        NextToken();
        text = ":" + TokenText();
      }
      NextToken();
      TExpTokenPtr n = NewNode(TNodeKind::Constant, TOperator::None, text);
      n->isParameter = true;
      if (owner_) owner_->AddParameter(*n);
      return n;
    }
    default:
      break;
  }
  Raise(FoundIn("symbol", TokenText(), contextName_));
}

TExpTokenPtr TExpressionParser::ParseSymbolPrimary(TPermissions p) {
  for (const TFunctionInfo& f : FunctionTable()) {
    if (IsKeyword(f.name)) return f.aggregate ? ParseAggregate(f, p) : ParseFunction(f, p);
  }
  if (IsKeyword("TRUE") || IsKeyword("FALSE")) {
    const bool value = IsKeyword("TRUE");
    NextToken();
    TExpTokenPtr n = NewNode(TNodeKind::Constant, TOperator::None, value ? "TRUE" : "FALSE");
    n->SetBoolean(value);
    return n;
  }
  if (IsKeyword("NULL")) {
    NextToken();
    TExpTokenPtr n = NewNode(TNodeKind::Constant, TOperator::None, "NULL");
    n->SetNull();
    return n;
  }
  for (std::string_view name : {kCurrentDate, kCurrentTime, kCurrentTimestamp})
    if (IsKeyword(name)) return ParseCurrent(name);

  std::string name = TokenText();
  NextToken();
  if (IsClass('(')) Raise(FoundIn("function", name, contextName_));
  return ParseColumn(std::move(name), p);
}

TExpTokenPtr TExpressionParser::ParseColumn(std::string name, TPermissions p) {
  std::string correlation;
  if (IsClass('.')) {
    NextToken();
    correlation = BareFileName(name);
    if (IsClass('*')) {
      if (!(p & perm::kAllColumns)) RaiseIn("* (all columns) symbol is not allowed");
      name = "*";
    } else if (IsNameOrString()) {
      name = TokenText();
    } else {
      Raise(FoundIn("symbol", TokenText(), contextName_));
    }
    NextToken();
  }
  // A quoted "*" ([*], "*") means all columns too; where they are not allowed it must not slip
  // through as a column of that name.
  if (name == "*" && !(p & perm::kAllColumns)) RaiseIn("* (all columns) symbol is not allowed");
  TExpTokenPtr n = NewNode(TNodeKind::Column, TOperator::None, name);
  n->columnName = CutText(name, kMaxShortString);
  n->correlationName = CutText(correlation, kMaxShortString);
  return n;
}

TExpTokenPtr TExpressionParser::ParseAggregate(const TFunctionInfo& f, TPermissions p) {
  if (!(p & perm::kAggregates)) RaiseIn("Aggregate functions are not allowed");
  NextToken();
  const std::string named(f.name);
  if (!IsClass('('))
    RaiseExpected("Left parentheses expected after aggregate function '" + named +
                  "', instead found '");
  NextToken();
  TExpTokenPtr n = NewNode(TNodeKind::Function, f.op, f.name);
  if (f.op == TOperator::Count && IsClass('*')) {
    // COUNT(*) counts rows wherever aggregates are allowed, whatever the caller says of `*`.
    NextToken();
    TExpTokenPtr star = NewNode(TNodeKind::Column, TOperator::None, "*");
    star->columnName = "*";
    AddArgument(*n, std::move(star));
  } else {
    AddArgument(*n, ParseAdditive(p));
  }
  if (!IsClass(')'))
    RaiseExpected("Right parentheses expected after aggregate " + named +
                  " function argument, instead found '");
  NextToken();
  return n;
}

TExpTokenPtr TExpressionParser::ParseFunction(const TFunctionInfo& f, TPermissions p) {
  const std::string name(f.name);
  NextToken();
  if (!IsClass('('))
    RaiseExpected("Left parentheses expected after " + name + " keyword, instead found '");
  NextToken();
  TExpTokenPtr n = NewNode(TNodeKind::Function, f.op, f.name);
  for (const TArgSyntax& a : f.syntax) {
    if (!a.keyword.empty()) {
      if (IsKeyword(a.keyword) || (a.commaForKeyword && IsClass(','))) {
        NextToken();
      } else if (a.optional) {
        continue;
      } else {
        RaiseExpected(a.missing);
      }
    }
    switch (a.form) {
      case TArgForm::Additive:
        AddArgument(*n, ParseAdditive(p));
        break;
      case TArgForm::Primary:
        AddArgument(*n, ParsePrimary(p));
        break;
      case TArgForm::Expression:
        AddArgument(*n, ParseExpression(p));
        break;
      case TArgForm::Condition:
        AddArgument(*n, ParseExpression(p | perm::kPredicates));
        break;
      case TArgForm::DataType:
        ParseDataType(*n, p, false);
        break;
      case TArgForm::Mode:
        n->op = ParseFunctionMode(f, a);
        break;
      case TArgForm::List:
        if (IsClass(')')) RaiseIn(a.missing);
        while (true) {
          AddArgument(*n, ParseAdditive(p));
          if (!IsClass(',')) break;
          NextToken();
        }
        break;
    }
  }
  if (!IsClass(')')) {
    switch (f.closing) {
      case TClosing::Argument:
        RaiseExpected("Right parentheses expected after " + name +
                      " function argument, instead found '");
      case TClosing::Arguments:
        RaiseExpected("Right parentheses expected after " + name +
                      " function arguments, instead found '");
      case TClosing::ExpressionArguments:
        RaiseExpected("Expected right parentheses after " + name +
                      " expression arguments, instead found '");
    }
  }
  NextToken();
  return n;
}

TOperator TExpressionParser::ParseFunctionMode(const TFunctionInfo& f, const TArgSyntax& a) {
  for (const TFunctionInfo& row : FunctionTable()) {
    if (row.name == f.name && !row.mode.empty() && IsKeyword(row.mode)) {
      NextToken();
      return row.op;
    }
  }
  RaiseExpected(a.missing);
}

TExpTokenPtr TExpressionParser::ParseCurrent(std::string_view name) {
  NextToken();
  if (IsClass('(')) {
    NextToken();
    if (!IsClass(')'))
      RaiseExpected("Right parentheses expected after first " + std::string(name) +
                    " function parentheses, instead found '");
    NextToken();
  }
  const TLocalMoment now = CurrentLocalMoment();
  TExpTokenPtr n = NewNode(TNodeKind::Constant, TOperator::None, name);
  if (name == kCurrentDate) {
    n->SetDate(now.day);
  } else if (name == kCurrentTime) {
    n->SetTime(now.timeMs);
  } else {
    n->SetTimestamp(now.Timestamp());
  }
  return n;
}

TExpTokenPtr TExpressionParser::ParseCharCode() {
  const std::string text = TokenText();
  const std::string_view digits = std::string_view(text).substr(1);
  unsigned code = 0;
  bool valid = !digits.empty();
  for (char d : digits) {
    code = code * 10 + static_cast<unsigned>(d - '0');
    if (code > 255) {
      valid = false;
      break;
    }
  }
  if (!valid) RaiseIn("Character constants (#) must be within the range of 0 to 255");
  NextToken();
  TExpTokenPtr n = NewNode(TNodeKind::Constant, TOperator::None, text);
  n->SetString(std::string(1, static_cast<char>(code)));
  return n;
}

TExpTokenPtr TExpressionParser::ParseNumber() {
  const std::string text = TokenText();
  TExpTokenPtr n = NewNode(TNodeKind::Constant, TOperator::None, text);
  // Integers are INTEGER when they fit 32 bits, else LARGEINT; decimal numbers and integers
  // beyond 64 bits are FLOAT, with `.` as the decimal separator whatever the process locale
  // says.
  int64_t whole = 0;
  double d = 0;
  if (tokenClass_ == tokclass::kInteger && TextToInt64(text, whole)) {
    if (whole <= std::numeric_limits<int32_t>::max()) {
      n->SetInteger(static_cast<int32_t>(whole));
    } else {
      n->SetLargeInt(whole);
    }
  } else if (TextToFloat(text, d)) {
    n->SetFloat(d);
  } else {
    RaiseIn("Constant '" + text + "' is not a valid number ");
  }
  NextToken();
  return n;
}

// ---- Data types

TExpTokenPtr TExpressionParser::ParseTypeArgument(TPermissions p) {
  return ParseAdditive(p);
}

bool TExpressionParser::ParseDataType(TExpToken& node, TPermissions p, bool optional) {
  const TTypeName* found = nullptr;
  for (const auto& t : kTypeNames) {
    if (IsKeyword(t.name)) {
      found = &t;
      break;
    }
  }
  if (!found) {
    if (optional) return false;
    RaiseExpected("SQL data type keyword expected, instead found '");
  }
  const std::string name = UpperAscii(TokenText());
  NextToken();
  node.type = found->type;
  node.subtype = found->subtype;
  node.size = found->size;
  node.scale = 0;

  int32_t v = 0;
  switch (found->args) {
    case TTypeArgs::None:
      break;
    case TTypeArgs::Length: {
      if (!IsClass('('))
        RaiseExpected("Left parentheses expected after " + name + " data type, instead found '");
      NextToken();
      TExpTokenPtr length = ParseTypeArgument(p);
      if (IntegerConstant(*length, v)) node.size = v;
      AddArgument(node, std::move(length));
      if (!IsClass(')'))
        RaiseExpected("Right parentheses expected after " + name +
                      " data type arguments, instead found '");
      NextToken();
      break;
    }
    case TTypeArgs::PrecisionScale:
    case TTypeArgs::Blob: {
      if (!IsClass('(')) break;
      NextToken();
      AddArgument(node, ParseTypeArgument(p));
      const bool blob = found->args == TTypeArgs::Blob;
      if (IsClass(',')) {
        NextToken();
        TExpTokenPtr second = ParseTypeArgument(p);
        if (IntegerConstant(*second, v)) {
          if (blob) {
            if (uint16_t sub = BlobSubtype(v)) node.subtype = sub;
          } else {
            node.scale = v;
          }
        }
        AddArgument(node, std::move(second));
      } else if (blob || !IsClass(')')) {
        RaiseExpected("Comma expected after first " + name + " argument, instead found '");
      }
      if (!IsClass(')'))
        RaiseExpected("Right parentheses expected after " + name +
                      " data type arguments, instead found '");
      NextToken();
      break;
    }
  }
  return true;
}

}  // namespace mt
