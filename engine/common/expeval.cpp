// Type checking, conversion and evaluation of expression trees; see expeval.h. The walks
// over operators and predicates are here; functions and aggregates are checked and evaluated
// by the rows of their table (expfunctions.cpp).
#include "engine/common/expeval.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

#include "engine/common/engineerror.h"
#include "engine/common/expfunctions.h"
#include "engine/common/expinternal.h"
#include "engine/common/gbk.h"
#include "engine/common/literals.h"
#include "engine/common/localetext.h"
#include "engine/common/numeric.h"

namespace mt {

using namespace expdetail;

namespace expdetail {

int32_t FixedSize(uint16_t t) {
  switch (t) {
    case ftype::kDate:
    case ftype::kTime:
    case ftype::kInteger:
      return 4;
    case ftype::kBoolean:
    case ftype::kSmallInt:
    case ftype::kWord:
      return 2;
    case ftype::kFloat:
    case ftype::kTimestamp:
    case ftype::kLargeInt:
      return 8;
    case ftype::kBcd:
      return static_cast<int32_t>(kBcdSize);
    default:
      return 0;
  }
}

int64_t AsInt64(const TExpToken& n) {
  switch (n.type) {
    case ftype::kSmallInt:
      return n.Int16Value();
    case ftype::kWord:
      return n.UInt16Value();
    case ftype::kBoolean:
      return n.Int16Value() != 0 ? 1 : 0;
    case ftype::kInteger:
    case ftype::kDate:
    case ftype::kTime:
      return n.Int32Value();
    case ftype::kLargeInt:
      return n.Int64Value();
    case ftype::kFloat:
    case ftype::kTimestamp: {
      int64_t v = 0;
      return TruncToInt64(n.DoubleValue(), v) ? v : 0;
    }
    case ftype::kBcd: {
      int64_t v = 0;
      return TruncToInt64(BcdToDouble(GetBcd(n)), v) ? v : 0;
    }
    default:
      return 0;
  }
}

double AsDouble(const TExpToken& n) {
  switch (n.type) {
    case ftype::kFloat:
    case ftype::kTimestamp:
      return n.DoubleValue();
    case ftype::kBcd:
      return BcdToDouble(GetBcd(n));
    default:
      return static_cast<double>(AsInt64(n));
  }
}

void PutInteger(TExpToken& n, int64_t v) {
  switch (n.type) {
    case ftype::kSmallInt:
      Put(n, static_cast<int16_t>(v));
      break;
    case ftype::kWord:
    case ftype::kBoolean:
      Put(n, static_cast<uint16_t>(v));
      break;
    case ftype::kLargeInt:
      Put(n, v);
      break;
    default:
      Put(n, static_cast<int32_t>(v));
      break;
  }
}

void PutText(TExpToken& n, std::string_view s) {
  if (s.empty()) {
    std::memset(n.value.Data(), 0, std::min<std::size_t>(n.value.Capacity(), 8));
    n.isNull = true;
    return;
  }
  n.value.Reserve(s.size() + 1);
  std::memcpy(n.value.Data(), s.data(), s.size());
  n.value.Data()[s.size()] = 0;
  n.isNull = false;
}

std::vector<std::size_t> CharStarts(std::string_view s) {
  std::vector<std::size_t> starts;
  for (std::size_t i = 0; i < s.size();) {
    starts.push_back(i);
    i += (IsGbkLeadByte(static_cast<unsigned char>(s[i])) && i + 1 < s.size()) ? 2 : 1;
  }
  return starts;
}
std::string_view CharAt(std::string_view s, const std::vector<std::size_t>& starts, std::size_t i) {
  const std::size_t end = i + 1 < starts.size() ? starts[i + 1] : s.size();
  return s.substr(starts[i], end - starts[i]);
}

}  // namespace expdetail

namespace {

bool Truth(const TExpToken& n) {
  return !n.isNull && n.type == ftype::kBoolean && n.Int16Value() != 0;
}

// Stores a number in the node's numeric type (integers truncated toward zero, BCD rounded to
// the node's scale); false when it does not fit.
bool PutNumber(TExpToken& n, double v) {
  if (n.type == ftype::kFloat) {
    Put(n, v);
    return true;
  }
  if (n.type == ftype::kBcd) {
    TBcd b{};
    const bool ok = DoubleToBcd(v, n.scale, b);
    if (!ok) DoubleToBcd(0, n.scale, b);
    PutBcd(n, b);
    return ok;
  }
  int64_t whole = 0;
  const bool ok = TruncToInt64(v, whole);
  PutInteger(n, ok ? whole : 0);
  return ok;
}

std::string RawBytes(const TExpToken& n) {
  const auto size = static_cast<std::size_t>(std::max(0, n.size));
  return std::string(reinterpret_cast<const char*>(n.value.Data()),
                     std::min(size, n.value.Capacity()));
}

bool SameChar(std::string_view a, std::string_view b, uint32_t locale) {
  if (locale == 0) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
      unsigned char x = static_cast<unsigned char>(a[i]);
      unsigned char y = static_cast<unsigned char>(b[i]);
      if (a.size() == 1) {
        if (x >= 'a' && x <= 'z') x = static_cast<unsigned char>(x - 32);
        if (y >= 'a' && y <= 'z') y = static_cast<unsigned char>(y - 32);
      }
      if (x != y) return false;
    }
    return true;
  }
  return CompareLocaleText(locale, a, b) == 0;
}

}  // namespace

// ---- LIKE

bool LikeMatch(std::string_view text, std::string_view pattern, uint32_t locale) {
  const std::vector<std::size_t> ts = CharStarts(text);
  const std::vector<std::size_t> ps = CharStarts(pattern);
  std::size_t t = 0, p = 0;
  // The position after the last `%` seen and the text position it is tried at: on a
  // mismatch the `%` takes one more character and matching resumes from there. Each `%`
  // restarts the search, so the work is at most text length x pattern length.
  std::size_t starP = SIZE_MAX, starT = 0;
  while (true) {
    if (p < ps.size() && CharAt(pattern, ps, p) == "%") {
      while (p < ps.size() && CharAt(pattern, ps, p) == "%")
        ++p;
      if (p == ps.size()) return true;  // a trailing `%` matches the rest at once
      starP = p;
      starT = t;
      continue;
    }
    if (t == ts.size() && p == ps.size()) return true;
    if (t < ts.size() && p < ps.size() &&
        (CharAt(pattern, ps, p) == "_" ||
         SameChar(CharAt(text, ts, t), CharAt(pattern, ps, p), locale))) {
      ++t;
      ++p;
      continue;
    }
    if (starP == SIZE_MAX || starT >= ts.size()) return false;
    p = starP;
    t = ++starT;
  }
}

// ---- Text forms

std::string ValueToText(const TExpToken& v) {
  if (v.isNull) return {};
  switch (v.type) {
    case ftype::kString:
      return v.StringValue();
    case ftype::kDate:
      return DateToText(v.Int32Value());
    case ftype::kTime:
      return TimeToText(v.Int32Value());
    case ftype::kTimestamp:
      return TimestampToText(v.DoubleValue());
    case ftype::kBoolean:
      return BooleanToText(v.Int16Value() != 0);
    case ftype::kSmallInt:
    case ftype::kInteger:
    case ftype::kWord:
    case ftype::kLargeInt:
      return std::to_string(AsInt64(v));
    case ftype::kFloat:
      return FloatToText(v.DoubleValue());
    case ftype::kBcd:
      return BcdToText(GetBcd(v));
    case ftype::kBlob:
      if (v.subtype == fsubtype::kMemo) return v.StringValue();
      return RawBytes(v);
    default:
      return RawBytes(v);
  }
}

// ---- Conversion

namespace {

// What a failed conversion leaves: 0, FALSE, or 30 December 1899 at midnight for DATE and
// TIMESTAMP (the value bytes are zero already).
void PutZero(TExpToken& to) {
  switch (to.type) {
    case ftype::kDate:
      Put(to, kDayOf18991230);
      break;
    case ftype::kTimestamp:
      Put(to, static_cast<double>(kDayOf18991230) * kMsPerDay);
      break;
    case ftype::kBcd: {
      TBcd zero{};
      TextToBcd("0", to.scale, zero);
      PutBcd(to, zero);
      break;
    }
    default:
      break;
  }
}

// A value that is no text, converted to a date, time, timestamp, boolean or number; false
// when it does not convert.
bool ConvertScalar(const TExpToken& from, TExpToken& to) {
  const uint16_t src = from.type;
  switch (to.type) {
    case ftype::kDate: {
      int32_t day = 0, unusedTime = 0;
      if (src == ftype::kDate || src == ftype::kBytes)
        day = from.Int32Value();
      else if (src != ftype::kTimestamp || !SplitTimestamp(from.DoubleValue(), day, unusedTime))
        return false;
      Put(to, day);
      return true;
    }
    case ftype::kTime: {
      int32_t ms = 0, unusedDay = 0;
      if (src == ftype::kTime || src == ftype::kBytes)
        ms = from.Int32Value();
      else if (src != ftype::kTimestamp || !SplitTimestamp(from.DoubleValue(), unusedDay, ms))
        return false;
      Put(to, ms);
      return true;
    }
    case ftype::kTimestamp: {
      double ms = 0;
      if (src == ftype::kDate)
        ms = AsTimestamp(from);
      else if (src == ftype::kTime)
        ms = from.Int32Value();
      else if (src == ftype::kTimestamp || src == ftype::kBytes)
        ms = from.DoubleValue();
      else
        return false;
      Put(to, ms);
      return true;
    }
    case ftype::kBoolean: {
      bool b = false;
      if (src == ftype::kBoolean || src == ftype::kBytes)
        b = from.Int16Value() != 0;
      else if (IsNumeric(src))
        b = AsDouble(from) != 0;
      else
        return false;
      Put(to, static_cast<uint16_t>(b ? 1 : 0));
      return true;
    }
    case ftype::kFloat: {
      double d = 0;
      if (src == ftype::kBytes)
        d = from.DoubleValue();
      else if (IsNumeric(src) || src == ftype::kBoolean)
        d = AsDouble(from);
      else
        return false;
      Put(to, d);
      return true;
    }
    case ftype::kBcd: {
      TBcd b{};
      bool ok = false;
      if (src == ftype::kBcd) {
        ok = TextToBcd(BcdToText(GetBcd(from)), to.scale, b);
      } else if (IsIntegral(src) || src == ftype::kBoolean) {
        ok = TextToBcd(std::to_string(AsInt64(from)), to.scale, b);
      } else if (src == ftype::kFloat) {
        TBcd four{};
        ok = DoubleToBcd(from.DoubleValue(), kBcdMaxScale, four) &&
             TextToBcd(BcdToText(four), to.scale, b);
      } else if (src == ftype::kBytes) {
        b = GetBcd(from);
        ok = IsValidBcd(b);
      }
      if (ok) PutBcd(to, b);
      return ok;
    }
    default: {  // SMALLINT, INTEGER, WORD, LARGEINT
      if (src == ftype::kBytes) {
        to.value.Reserve(8);
        std::memcpy(to.value.Data(), from.value.Data(), static_cast<std::size_t>(to.size));
        return true;
      }
      int64_t v = 0;
      if (IsIntegral(src) || src == ftype::kBoolean)
        v = AsInt64(from);
      else if (!IsNumeric(src) || !TruncToInt64(AsDouble(from), v))
        return false;
      int64_t lo = 0, hi = 0;
      if (!IntegerFieldRange(to.type, lo, hi) || v < lo || v > hi) return false;
      PutInteger(to, v);
      return true;
    }
  }
}

}  // namespace

bool Convert(const TExpToken& from, TExpToken& to) {
  std::memset(to.value.Data(), 0, to.value.Capacity());
  if (from.isNull || from.type == exptype::kUnknown) {
    to.isNull = true;
    return true;
  }
  to.isNull = false;
  const uint16_t src = from.type;
  switch (to.type) {
    case ftype::kString: {
      std::string s = ValueToText(from);
      if (to.size > 0 && s.size() > static_cast<std::size_t>(to.size - 1))
        s.resize(static_cast<std::size_t>(to.size - 1));
      PutText(to, s);
      return true;
    }
    case ftype::kBlob:
    case ftype::kBytes: {
      std::string s =
          (src == ftype::kBytes || IsOtherBlob(from)) ? RawBytes(from) : ValueToText(from);
      if (to.type == ftype::kBytes && to.size > 0 && s.size() > static_cast<std::size_t>(to.size))
        s.resize(static_cast<std::size_t>(to.size));
      to.value.Reserve(s.size() + 1);
      std::memcpy(to.value.Data(), s.data(), s.size());
      if (to.type == ftype::kBlob) {
        to.size = static_cast<int32_t>(s.size());
        to.isNull = s.empty();
      }
      return true;
    }
    case ftype::kDate:
    case ftype::kTime:
    case ftype::kTimestamp:
    case ftype::kBoolean:
    case ftype::kFloat:
    case ftype::kBcd:
    case ftype::kSmallInt:
    case ftype::kInteger:
    case ftype::kWord:
    case ftype::kLargeInt:
      break;
    default:
      to.isNull = true;
      return false;
  }
  bool ok;
  if (IsString(from)) {
    TLiteralValue literal;
    ok = ReadLiteral(from.StringValue(), to.type, to.scale, literal);
    if (ok) std::memcpy(to.value.Data(), literal.bytes.data(), literal.size);
  } else {
    ok = ConvertScalar(from, to);
  }
  if (!ok) PutZero(to);
  return ok;
}

// ---- Type checking

namespace expdetail {

std::string Kind(const TExpToken& n) {
  switch (n.kind) {
    case TNodeKind::Column:
      return "column";
    case TNodeKind::Constant:
      return "constant";
    case TNodeKind::Function:
      return "function";
    default:
      return "expression";
  }
}

std::string NodeText(const TExpToken& n) {
  switch (n.kind) {
    case TNodeKind::Column:
      return n.correlationName.empty() ? n.columnName : n.correlationName + "." + n.columnName;
    case TNodeKind::Constant:
      if (n.isParameter) return "?";
      if (n.isNull) return "NULL";
      if (!n.text.empty()) return n.text;
      return ValueToText(n);
    case TNodeKind::Unary:
      return std::string(OperatorName(n.op)) + " " + (n.left ? NodeText(*n.left) : "");
    case TNodeKind::Binary:
      return (n.left ? NodeText(*n.left) : "") + " " + std::string(OperatorName(n.op)) + " " +
             (n.right ? NodeText(*n.right) : "");
    case TNodeKind::SubSelect:
      return "SELECT";
    default: {
      std::string s = n.text.empty() ? std::string(OperatorName(n.op)) : n.text;
      s += "(";
      for (std::size_t i = 0; i < n.arguments.size(); ++i) {
        if (i) s += ", ";
        if (n.arguments[i]) s += NodeText(*n.arguments[i]);
      }
      return s + ")";
    }
  }
}

bool ReadConstant(TExpToken& n, uint16_t type) {
  TLiteralValue literal;
  if (!ReadLiteral(n.StringValue(), type, 0, literal)) return false;
  std::memset(n.value.Data(), 0, n.value.Capacity());
  std::memcpy(n.value.Data(), literal.bytes.data(), literal.size);
  n.type = type;
  n.subtype = fsubtype::kNone;
  n.size = static_cast<int32_t>(literal.size);
  n.scale = 0;
  n.isNull = false;
  return true;
}

bool EqualityAccepts(const TExpToken& l, const TExpToken& r) {
  if (r.type == exptype::kUnknown || l.type == exptype::kUnknown) return true;
  if (IsDateOrStamp(l.type)) return IsDateOrStamp(r.type);
  if (IsString(l)) return IsString(r);
  if (IsOtherBlob(l)) return false;
  if (l.type == ftype::kBoolean) return r.type == ftype::kBoolean;
  if (IsNumeric(l.type)) return IsNumeric(r.type);
  if (l.type == ftype::kBytes || l.type == ftype::kTime) return r.type == l.type;
  return false;
}

}  // namespace expdetail

namespace {

bool BinaryAccepts(TOperator op, const TExpToken& l, const TExpToken& r) {
  const uint16_t lt = l.type, rt = r.type;
  if (rt == exptype::kUnknown) {
    if (op == TOperator::Equal || op == TOperator::NotEqual) return true;
  }
  switch (op) {
    case TOperator::Equal:
    case TOperator::NotEqual:
      return EqualityAccepts(l, r);
    case TOperator::Greater:
    case TOperator::Less:
    case TOperator::GreaterEqual:
    case TOperator::LessEqual:
      if (lt == ftype::kBoolean || lt == ftype::kBytes || IsOtherBlob(l)) return false;
      if (rt == ftype::kBoolean || rt == ftype::kBytes || IsOtherBlob(r)) return false;
      return EqualityAccepts(l, r);
    case TOperator::And:
    case TOperator::Or:
      return (lt == ftype::kBoolean || lt == exptype::kUnknown) &&
             (rt == ftype::kBoolean || rt == exptype::kUnknown);
    default:
      break;
  }
  if (rt == exptype::kUnknown || lt == exptype::kUnknown) return true;
  switch (op) {
    case TOperator::Add:
      if (IsTemporal(lt)) return IsIntegral(rt);
      if (IsString(l)) return IsString(r);
      if (IsIntegral(lt)) return IsNumeric(rt) || IsTemporal(rt);
      if (IsNumeric(lt)) return IsNumeric(rt);
      return false;
    case TOperator::Subtract:
      if (lt == ftype::kDate) return rt == ftype::kDate || IsIntegral(rt);
      if (IsNumeric(lt)) return IsNumeric(rt);
      if (lt == ftype::kTime) return IsIntegral(rt) || rt == ftype::kTime;
      if (lt == ftype::kTimestamp)
        return rt == ftype::kDate || rt == ftype::kTime || rt == ftype::kTimestamp ||
               IsIntegral(rt);
      return false;
    case TOperator::Multiply:
    case TOperator::Divide:
      return IsNumeric(lt) && IsNumeric(rt);
    default:
      return false;
  }
}

// The type of `l op r` for two numeric operands.
void NumericResult(TExpToken& n, TOperator op, const TExpToken& l, const TExpToken& r) {
  const uint16_t lt = l.type, rt = r.type;
  uint16_t t;
  if (lt == ftype::kFloat || rt == ftype::kFloat)
    t = ftype::kFloat;
  else if (lt == ftype::kBcd || rt == ftype::kBcd)
    t = ftype::kBcd;
  else if (op == TOperator::Divide)
    t = ftype::kFloat;
  else if (lt == ftype::kLargeInt || rt == ftype::kLargeInt)
    t = ftype::kLargeInt;
  else
    t = ftype::kInteger;
  if (op == TOperator::Divide && t == ftype::kBcd) t = ftype::kBcd;
  uint16_t sub = fsubtype::kNone;
  const bool lm = l.subtype == fsubtype::kMoney, rm = r.subtype == fsubtype::kMoney;
  if (op == TOperator::Add || op == TOperator::Multiply) {
    if (lm || rm) sub = fsubtype::kMoney;
  } else if (lm) {
    sub = fsubtype::kMoney;
  }
  const int32_t scale = t == ftype::kBcd ? std::max(l.type == ftype::kBcd ? l.scale : 0,
                                                    r.type == ftype::kBcd ? r.scale : 0)
                                         : 0;
  SetType(n, t, sub, scale);
}

}  // namespace

namespace expdetail {

void TChecker::Root(TExpTokenPtr& tree) {
  Check(tree, o_.condition, true);
  if (o_.condition && tree->type != ftype::kBoolean && tree->type != exptype::kUnknown)
    Fail(o_.context + " must be a boolean expression");
}

// Messages quote expression texts; like the parser's, they are cut to 255 bytes on a
// character boundary.
void TChecker::Fail(const std::string& message) const {
  std::string text = message;
  if (text.size() > 255) {
    std::size_t cut = 0;
    for (std::size_t start : CharStarts(text)) {
      if (start > 255) break;
      cut = start;
    }
    text.resize(cut);
  }
  RaiseEngineError(o_.errorCode, {.table = o_.tableName, .extra = text});
}

void TChecker::NameColumn(TExpToken& n) {
  if (!o_.literalNamesColumns || !IsTextConstant(n)) return;
  const std::string name = n.StringValue();
  if (name.empty() || name == "*") return;
  const uint16_t type = n.type, sub = n.subtype;
  const int32_t size = n.size, scale = n.scale;
  n.kind = TNodeKind::Column;
  n.columnName = name;
  n.correlationName.clear();
  if (r_.ResolveColumn(n)) {
    n.savedType = type;
    n.savedSubtype = sub;
    n.savedSize = size;
    n.savedScale = scale;
    n.wasConstant = true;
    return;
  }
  n.kind = TNodeKind::Constant;
  n.columnName.clear();
  n.type = type;
  n.subtype = sub;
  n.size = size;
  n.scale = scale;
}

// A string constant meeting a DATE, TIME or TIMESTAMP value becomes a value of that type.
void TChecker::ParseTemporal(TExpToken& n, uint16_t type) {
  if (!ReadConstant(n, type))
    Fail("Date, time, or timestamp expression expected, instead found '" + n.StringValue() +
         "' in " + o_.context);
}
void TChecker::MeetTemporal(TExpToken& tested, TExpToken& value) {
  if (IsTemporal(tested.type) && IsTextConstant(value)) ParseTemporal(value, tested.type);
}

void TChecker::WrapBareBoolean(TExpTokenPtr& slot) {
  if (!o_.bareBooleanColumns || slot->kind != TNodeKind::Column || slot->type != ftype::kBoolean)
    return;
  TExpTokenPtr eq = NewExpToken();
  eq->kind = TNodeKind::Binary;
  eq->op = TOperator::Equal;
  eq->text = "=";
  TExpTokenPtr t = NewExpToken();
  t->kind = TNodeKind::Constant;
  t->text = "TRUE";
  t->SetBoolean(true);
  eq->parent = slot->parent;
  slot->parent = eq.get();
  t->parent = eq.get();
  eq->height = slot->height + 1;
  eq->left = std::move(slot);
  eq->right = std::move(t);
  SetType(*eq, ftype::kBoolean);
  slot = std::move(eq);
}

void TChecker::Child(TExpToken& parent, TExpTokenPtr& slot, bool condition, bool names) {
  slot->parent = &parent;
  Check(slot, condition, names);
}

void TChecker::Check(TExpTokenPtr& slot, bool condition, bool names) {
  TExpToken& n = *slot;
  switch (n.kind) {
    case TNodeKind::Constant:
      if (names) NameColumn(n);
      break;
    case TNodeKind::Column:
      CheckColumn(n);
      break;
    case TNodeKind::Unary:
      CheckUnary(n);
      break;
    case TNodeKind::Binary:
      CheckBinary(n);
      break;
    case TNodeKind::Predicate:
      CheckPredicate(n);
      break;
    case TNodeKind::Function:
      CheckFunction(n);
      break;
    default:
      break;
  }
  if (condition) WrapBareBoolean(slot);
}

void TChecker::CheckColumn(TExpToken& n) {
  if (n.columnName == "*") return;
  if (!r_.ResolveColumn(n))
    Fail("Invalid column name '" + n.columnName + "' or table correlation name '" +
         n.correlationName + "' specified in " + o_.context);
}

void TChecker::CheckUnary(TExpToken& n) {
  const bool logical = n.op == TOperator::Not;
  Child(n, n.left, logical, true);
  const TExpToken& a = *n.left;
  const uint16_t t = a.type;
  bool ok;
  if (logical)
    ok = t == ftype::kBoolean || t == exptype::kUnknown;
  else
    ok = t == exptype::kUnknown || t == ftype::kDate || t == ftype::kSmallInt ||
         t == ftype::kInteger || t == ftype::kFloat || t == ftype::kBcd || t == ftype::kTime ||
         t == ftype::kTimestamp || t == ftype::kLargeInt ||
         (n.op == TOperator::Plus && t == ftype::kWord);
  if (!ok)
    Fail("Type mismatch between '" + std::string(OperatorName(n.op)) + "' operator and '" +
         NodeText(a) + "' in " + o_.context);
  if (logical)
    SetType(n, ftype::kBoolean);
  else
    CopyType(n, a);
}

void TChecker::CheckBinary(TExpToken& n) {
  const bool logical = n.op == TOperator::And || n.op == TOperator::Or;
  Child(n, n.left, logical, true);
  Child(n, n.right, logical, true);
  TExpToken& l = *n.left;
  TExpToken& r = *n.right;
  if (l.kind == TNodeKind::Constant || r.kind == TNodeKind::Constant) {
    MeetTemporal(l, r);
    MeetTemporal(r, l);
  }
  if (!BinaryAccepts(n.op, l, r))
    Fail("Type mismatch between " + Kind(l) + " '" + NodeText(l) + "' and " + Kind(r) + " '" +
         NodeText(r) + "' in " + o_.context);
  if (IsComparison(n.op) || logical) {
    SetType(n, ftype::kBoolean);
    return;
  }
  // One side of unknown type: the result takes the other side's type.
  if (l.type == exptype::kUnknown || r.type == exptype::kUnknown) {
    CopyType(n, l.type == exptype::kUnknown ? r : l);
    if (n.op == TOperator::Divide && IsIntegral(n.type)) SetType(n, ftype::kFloat);
    return;
  }
  if (IsString(l)) {
    const bool memo = l.type == ftype::kBlob || r.type == ftype::kBlob;
    n.type = memo ? ftype::kBlob : ftype::kString;
    n.subtype = memo ? fsubtype::kMemo : fsubtype::kNone;
    n.size = memo ? 0 : l.size + r.size - 1;
    n.scale = 0;
    return;
  }
  const uint16_t lt = l.type, rt = r.type;
  if (IsTemporal(lt) || IsTemporal(rt)) {
    if (n.op == TOperator::Subtract && lt == rt && lt != ftype::kTimestamp)
      SetType(n, ftype::kInteger);
    else if (n.op == TOperator::Subtract && lt == ftype::kTimestamp && rt == ftype::kTimestamp)
      SetType(n, ftype::kFloat);
    else if (n.op == TOperator::Subtract && lt == ftype::kTimestamp && IsTemporal(rt))
      SetType(n, ftype::kInteger);
    else
      SetType(n, IsTemporal(lt) ? lt : rt);
    return;
  }
  NumericResult(n, n.op, l, r);
}

void TChecker::PredicateMismatch(const TExpToken& n, const TExpToken& operand) const {
  Fail("Type mismatch between " + std::string(OperatorName(n.op)) + " operator and expression '" +
       NodeText(operand) + "' in " + o_.context);
}

void TChecker::CheckPredicate(TExpToken& n) {
  Child(n, n.arguments[0], false, true);
  TExpToken& tested = *n.arguments[0];
  switch (n.op) {
    case TOperator::Like:
    case TOperator::NotLike: {
      Child(n, n.arguments[1], false, false);
      const TExpToken& p = *n.arguments[1];
      if (!IsString(tested) && tested.type != exptype::kUnknown) PredicateMismatch(n, tested);
      if (p.type != ftype::kString && p.type != exptype::kUnknown) PredicateMismatch(n, p);
      break;
    }
    case TOperator::InSelect:
    case TOperator::NotInSelect: {
      TExpToken& sub = *n.arguments[1];
      sub.parent = &n;
      if (!r_.CheckSubSelect(sub))
        Fail("More than 1 column for sub-select  specified in " + o_.context);
      if (!EqualityAccepts(tested, sub)) PredicateMismatch(n, sub);
      break;
    }
    default:  // IN lists and BETWEEN bounds
      for (std::size_t i = 1; i < n.arguments.size(); ++i) {
        Child(n, n.arguments[i], false, false);
        TExpToken& v = *n.arguments[i];
        MeetTemporal(tested, v);
        if (!EqualityAccepts(tested, v)) PredicateMismatch(n, v);
      }
      break;
  }
  SetType(n, ftype::kBoolean);
}

void TChecker::CheckFunction(TExpToken& n) {
  const TFunctionInfo* f = FunctionOf(n.op);
  if (!f) return;
  // Trees made by the parser always have the function's number of arguments; anything else
  // would have the type rule read past them.
  const std::size_t count = n.arguments.size();
  if (count < f->minArguments ||
      (f->maxArguments != kAnyNumberOfArguments && count > f->maxArguments))
    Fail("Internal error: wrong number of arguments for " + std::string(f->printedName) +
         " function");
  f->typeRule(*this, n);
}

}  // namespace expdetail

void TypeCheck(TExpTokenPtr& tree, const TTypeCheckOptions& options,
               TExpressionResolver& resolver) {
  TChecker(options, resolver).Root(tree);
}

// ---- Evaluation

namespace {

// x + y, x - y, x * y, or for division divide(x, y); nothing for a division by zero.
template <class T, class TDivide>
std::optional<T> Apply(TOperator op, T x, T y, TDivide divide) {
  switch (op) {
    case TOperator::Add:
      return x + y;
    case TOperator::Subtract:
      return x - y;
    case TOperator::Multiply:
      return x * y;
    default:
      if (y == 0) return std::nullopt;
      return divide(x, y);
  }
}

}  // namespace

namespace expdetail {

TExpTokenPtr TEvaluator::Typed(const TExpToken& n) {
  TExpTokenPtr out = NewExpToken();
  out->kind = TNodeKind::Constant;
  CopyType(*out, n);
  return out;
}

TExpTokenPtr TEvaluator::Null(const TExpToken& n) {
  TExpTokenPtr out = Typed(n);
  out->isNull = true;
  return out;
}

TExpTokenPtr TEvaluator::Bool(bool b) {
  TExpTokenPtr out = NewExpToken();
  out->kind = TNodeKind::Constant;
  out->SetBoolean(b);
  return out;
}

TExpTokenPtr TEvaluator::Held(const TExpToken& n) {
  TExpTokenPtr out = Typed(n);
  out->value.Reserve(n.value.Capacity());
  std::memcpy(out->value.Data(), n.value.Data(), n.value.Capacity());
  out->isNull = n.isNull;
  return out;
}

int TEvaluator::Compare(const TExpToken& a, const TExpToken& b, bool ignoreCase) {
  if (IsString(a) || IsString(b)) {
    const std::string_view x = a.isNull ? std::string_view() : a.StringView();
    const std::string_view y = b.isNull ? std::string_view() : b.StringView();
    return CompareLocaleText(locale_, x, y, ignoreCase);
  }
  auto sign = [](auto d) { return d < 0 ? -1 : d > 0 ? 1 : 0; };
  if (IsDateOrStamp(a.type) && IsDateOrStamp(b.type)) {
    const double x = AsTimestamp(a), y = AsTimestamp(b);
    return x < y ? -1 : x > y ? 1 : 0;
  }
  if (a.type == ftype::kBcd && b.type == ftype::kBcd) return CompareBcd(GetBcd(a), GetBcd(b));
  if ((IsIntegral(a.type) || a.type == ftype::kBoolean || a.type == ftype::kTime) &&
      (IsIntegral(b.type) || b.type == ftype::kBoolean || b.type == ftype::kTime)) {
    const int64_t x = AsInt64(a), y = AsInt64(b);
    return x < y ? -1 : x > y ? 1 : 0;
  }
  if (a.type == ftype::kBytes || b.type == ftype::kBytes || a.type == ftype::kBlob) {
    const std::string x = RawBytes(a), y = RawBytes(b);
    return sign(x.compare(y));
  }
  const double x = AsDouble(a), y = AsDouble(b);
  return x < y ? -1 : x > y ? 1 : 0;
}

bool TEvaluator::Equal(const TExpToken& a, const TExpToken& b, bool ignoreCase) {
  const bool an = a.isNull || a.type == exptype::kUnknown;
  const bool bn = b.isNull || b.type == exptype::kUnknown;
  if (an || bn) return an && bn;
  return Compare(a, b, ignoreCase) == 0;
}

// A prefix comparison: whether the column's text starts with the constant.
bool TEvaluator::Prefix(const TExpToken& n) {
  TExpTokenPtr owned;
  const TExpToken* v = &Operand(*n.left, owned);
  const std::string prefix = n.right->StringValue();
  const std::string s = v->isNull ? std::string() : v->StringValue();
  bool match = false;
  if (s.size() >= prefix.size()) {
    // The value's head of the prefix's length, which must end on a character boundary.
    std::size_t cut = s.size();
    for (std::size_t start : CharStarts(s)) {
      if (start >= prefix.size()) {
        cut = start;
        break;
      }
    }
    match = cut == prefix.size() && CompareLocaleText(locale_, std::string_view(s).substr(0, cut),
                                                      prefix, n.ignoreCase) == 0;
  }
  return n.op == TOperator::NotEqual ? !match : match;
}

bool TEvaluator::Ordered(TOperator op, const TExpToken& a, const TExpToken& b) {
  int c;
  if (IsString(a) || IsString(b)) {
    c = Compare(a, b);
  } else {
    const bool an = a.isNull || a.type == exptype::kUnknown;
    const bool bn = b.isNull || b.type == exptype::kUnknown;
    if (an != bn) return false;
    c = an ? 0 : Compare(a, b);
  }
  switch (op) {
    case TOperator::Greater:
      return c > 0;
    case TOperator::Less:
      return c < 0;
    case TOperator::GreaterEqual:
      return c >= 0;
    default:
      return c <= 0;
  }
}

TExpTokenPtr TEvaluator::Eval(const TExpToken& n) {
  switch (n.kind) {
    case TNodeKind::Constant:
      return Held(n);
    case TNodeKind::Column: {
      TExpTokenPtr out = Typed(n);
      if (!r_.ReadColumn(n, *out))
        RaiseEngineError(err::kSqlError, {.extra = "Internal error: Column '" + n.columnName +
                                                   "' specified illegally"});
      return out;
    }
    case TNodeKind::Unary: {
      if (n.op == TOperator::Not) return Bool(Condition(n));
      TExpTokenPtr v = Eval(*n.left);
      if (v->isNull || n.op == TOperator::Plus) return v;
      switch (v->type) {
        case ftype::kFloat:
        case ftype::kTimestamp:
          Put(*v, -v->DoubleValue());
          break;
        case ftype::kBcd: {
          TBcd b = GetBcd(*v);
          if (CompareBcd(b, TBcd{}) != 0) b[1] ^= 0x80;
          PutBcd(*v, b);
          break;
        }
        default:
          PutInteger(*v, static_cast<int64_t>(0 - static_cast<uint64_t>(AsInt64(*v))));
          break;
      }
      return v;
    }
    case TNodeKind::Binary:
      return Binary(n);
    case TNodeKind::PartialCompare:
    case TNodeKind::Predicate:
      return Bool(Condition(n));
    case TNodeKind::Function:
      return Function(n);
    default: {
      TExpTokenPtr out = NewExpToken();
      out->SetNull();
      return out;
    }
  }
}

bool TEvaluator::Condition(const TExpToken& n) {
  switch (n.kind) {
    case TNodeKind::Unary:
      if (n.op == TOperator::Not) return !Condition(*n.left);
      break;
    case TNodeKind::Binary:
      switch (n.op) {
        case TOperator::And:
          return Condition(*n.right) && Condition(*n.left);
        case TOperator::Or:
          return Condition(*n.right) || Condition(*n.left);
        default:
          if (IsComparison(n.op)) return Comparison(n);
          break;
      }
      break;
    case TNodeKind::PartialCompare:
      return Prefix(n);
    case TNodeKind::Predicate:
      return Predicate(n);
    default:
      break;
  }
  return Truth(*Eval(n));
}

bool TEvaluator::Comparison(const TExpToken& n) {
  TExpTokenPtr lOwned, rOwned;
  return Compared(n, Operand(*n.left, lOwned), Operand(*n.right, rOwned));
}

bool TEvaluator::Compared(const TExpToken& n, const TExpToken& l, const TExpToken& r) {
  switch (n.op) {
    case TOperator::Equal:
      return Equal(l, r, n.ignoreCase);
    case TOperator::NotEqual:
      return !Equal(l, r, n.ignoreCase);
    default:
      return Ordered(n.op, l, r);
  }
}

TExpTokenPtr TEvaluator::Binary(const TExpToken& n) {
  if (n.op == TOperator::And || n.op == TOperator::Or || IsComparison(n.op))
    return Bool(Condition(n));
  TExpTokenPtr lOwned, rOwned;
  return Arithmetic(n, Operand(*n.left, lOwned), Operand(*n.right, rOwned));
}

TExpTokenPtr TEvaluator::Arithmetic(const TExpToken& n, const TExpToken& l, const TExpToken& r) {
  TExpTokenPtr out = Typed(n);
  if (IsString(n) && n.op == TOperator::Add) {
    const std::string s =
        (l.isNull ? std::string() : l.StringValue()) + (r.isNull ? std::string() : r.StringValue());
    PutText(*out, s);
    return out;
  }
  if (l.isNull || r.isNull || l.type == exptype::kUnknown || r.type == exptype::kUnknown) {
    out->isNull = true;
    return out;
  }
  const bool sub = n.op == TOperator::Subtract;
  const uint16_t lt = l.type, rt = r.type;
  if (IsTemporal(lt) || IsTemporal(rt)) {
    const TExpToken& t = IsTemporal(lt) ? l : r;
    const TExpToken& k = IsTemporal(lt) ? r : l;
    if (sub && IsTemporal(rt)) {
      if (lt == ftype::kTimestamp && rt == ftype::kTimestamp) {
        Put(*out, l.DoubleValue() - r.DoubleValue());
      } else if (lt == ftype::kTimestamp) {
        // TIMESTAMP - DATE counts days, TIMESTAMP - TIME milliseconds of the day.
        int32_t day = 0, time = 0;
        if (!SplitTimestamp(l.DoubleValue(), day, time)) {
          out->isNull = true;
        } else {
          PutInteger(*out, static_cast<int64_t>(rt == ftype::kDate ? day : time) - r.Int32Value());
        }
      } else {
        PutInteger(*out, static_cast<int64_t>(l.Int32Value()) - r.Int32Value());
      }
      return out;
    }
    const int64_t delta = AsInt64(k);
    if (t.type == ftype::kTimestamp) {
      const double days = static_cast<double>(delta) * kMsPerDay;
      Put(*out, sub ? t.DoubleValue() - days : t.DoubleValue() + days);
    } else {
      const uint64_t base = static_cast<uint64_t>(static_cast<int64_t>(t.Int32Value()));
      const uint64_t d = static_cast<uint64_t>(delta);
      Put(*out, static_cast<int32_t>(sub ? base - d : base + d));
    }
    return out;
  }
  if (n.type == ftype::kFloat || n.type == ftype::kBcd) {
    const std::optional<double> v =
        Apply(n.op, AsDouble(l), AsDouble(r), [](double x, double y) { return x / y; });
    if (!v || !PutNumber(*out, *v)) out->isNull = true;
    return out;
  }
  // Integer arithmetic, wrapping on overflow rather than invoking undefined behaviour.
  const int64_t a = AsInt64(l), b = AsInt64(r);
  const std::optional<uint64_t> v =
      Apply(n.op, static_cast<uint64_t>(a), static_cast<uint64_t>(b), [a, b](uint64_t x, uint64_t) {
        // -1 separately: the smallest LARGEINT divided by -1 does not fit.
        return b == -1 ? 0 - x : static_cast<uint64_t>(a / b);
      });
  if (v)
    PutInteger(*out, static_cast<int64_t>(*v));
  else
    out->isNull = true;
  return out;
}

bool TEvaluator::Predicate(const TExpToken& n) {
  TExpTokenPtr testedOwned;
  const TExpToken& tested = Operand(*n.arguments[0], testedOwned);
  switch (n.op) {
    case TOperator::Like:
    case TOperator::NotLike: {
      TExpTokenPtr owned;
      const TExpToken& p = Operand(*n.arguments[1], owned);
      bool match = false;
      if (!tested.isNull && !p.isNull && tested.type != exptype::kUnknown &&
          p.type != exptype::kUnknown)
        match = LikeMatch(tested.StringValue(), p.StringValue(), locale_);
      return n.op == TOperator::Like ? match : !match;
    }
    case TOperator::InList:
    case TOperator::NotInList: {
      bool found = false;
      for (std::size_t i = 1; i < n.arguments.size() && !found; ++i) {
        TExpTokenPtr owned;
        found = Equal(tested, Operand(*n.arguments[i], owned));
      }
      return n.op == TOperator::InList ? found : !found;
    }
    case TOperator::InSelect:
    case TOperator::NotInSelect: {
      const bool found = r_.SubSelectContains(*n.arguments[1], tested);
      return n.op == TOperator::InSelect ? found : !found;
    }
    default: {
      TExpTokenPtr lowOwned, highOwned;
      const bool in =
          Ordered(TOperator::GreaterEqual, tested, Operand(*n.arguments[1], lowOwned)) &&
          Ordered(TOperator::LessEqual, tested, Operand(*n.arguments[2], highOwned));
      return n.op == TOperator::Between ? in : !in;
    }
  }
}

// Functions by the table; codes without a row hold their value like aggregates.
TExpTokenPtr TEvaluator::Function(const TExpToken& n) {
  const TFunctionInfo* f = FunctionOf(n.op);
  return f ? f->evaluate(*this, n) : Held(n);
}

}  // namespace expdetail

TExpTokenPtr Evaluate(const TExpToken& tree, TExpressionResolver& resolver, uint32_t locale) {
  return TEvaluator(resolver, locale).Eval(tree);
}

bool EvaluateCondition(const TExpToken& tree, TExpressionResolver& resolver, uint32_t locale) {
  return TEvaluator(resolver, locale).Condition(tree);
}

// ---- Row conditions

TRowCondition::TRowCondition(const TExpToken& tree) : tree_(tree) {
  if (tree.kind != TNodeKind::Binary || !IsComparison(tree.op) || !tree.left || !tree.right) return;
  auto plainColumn = [](const TExpToken& n) {
    // Blob values change their size per row; they go the general way.
    return n.kind == TNodeKind::Column && n.type != ftype::kBlob;
  };
  if (plainColumn(*tree.left) && tree.right->kind == TNodeKind::Constant) {
    column_ = tree.left.get();
  } else if (plainColumn(*tree.right) && tree.left->kind == TNodeKind::Constant) {
    column_ = tree.right.get();
    columnLeft_ = false;
  } else {
    return;
  }
  TExpTokenPtr value = NewExpToken();
  value->kind = TNodeKind::Constant;
  CopyType(*value, *column_);
  scratch_ = std::move(value);
}

bool TRowCondition::Holds(TExpressionResolver& resolver, uint32_t locale) {
  if (column_ == nullptr) return EvaluateCondition(tree_, resolver, locale);
  scratch_->isNull = false;
  if (!resolver.ReadColumn(*column_, *scratch_))
    RaiseEngineError(err::kSqlError, {.extra = "Internal error: Column '" + column_->columnName +
                                               "' specified illegally"});
  TEvaluator e(resolver, locale);
  return columnLeft_ ? e.Compared(tree_, *scratch_, *tree_.right)
                     : e.Compared(tree_, *tree_.left, *scratch_);
}

// ---- Filter preparation

namespace {

bool HasColumn(const TExpToken& n) {
  if (n.kind == TNodeKind::Column || n.kind == TNodeKind::SubSelect) return true;
  if (n.kind == TNodeKind::Function) {
    const TFunctionInfo* f = FunctionOf(n.op);
    if (f && f->aggregate) return true;  // aggregates are filled in by the statement
  }
  if (n.left && HasColumn(*n.left)) return true;
  if (n.right && HasColumn(*n.right)) return true;
  for (const auto& a : n.arguments)
    if (a && HasColumn(*a)) return true;
  return false;
}

class TPreparer {
 public:
  TPreparer(TExpressionResolver& owner, bool partial, bool ignoreCase, uint32_t locale)
      : owner_(owner), partial_(partial), ignoreCase_(ignoreCase), locale_(locale) {}

  void Walk(TExpTokenPtr& slot) {
    TExpToken& n = *slot;
    if (n.left) Walk(n.left);
    if (n.right) Walk(n.right);
    for (auto& a : n.arguments)
      if (a && a->kind != TNodeKind::SubSelect) Walk(a);
    if (n.kind == TNodeKind::Binary && IsComparison(n.op)) {
      Fold(n.left, n.right.get());
      Fold(n.right, n.left.get());
      StringCompare(slot);
    } else if (n.kind == TNodeKind::Function && !CallsWithArguments(n, TArgumentUse::TextIndex)) {
      for (auto& a : n.arguments)
        Fold(a, nullptr);
    } else if (n.kind == TNodeKind::Predicate && n.op != TOperator::InSelect &&
               n.op != TOperator::NotInSelect) {
      for (std::size_t i = 1; i < n.arguments.size(); ++i)
        Fold(n.arguments[i], n.arguments[0].get());
      if (n.op == TOperator::Like || n.op == TOperator::NotLike) LikePrefix(slot);
    }
  }

 private:
  // Replaces a constant sub-tree by its value, converted to the other side's type when
  // that keeps the value exactly.
  void Fold(TExpTokenPtr& slot, const TExpToken* other) {
    if (!slot || HasColumn(*slot) || slot->isParameter) return;
    if (slot->kind != TNodeKind::Constant) {
      TExpTokenPtr v = Evaluate(*slot, owner_, locale_);
      v->kind = TNodeKind::Constant;
      v->text = slot->text.empty() ? ValueToText(*v) : slot->text;
      v->parent = slot->parent;
      slot = std::move(v);
    }
    TExpToken& c = *slot;
    if (!other || c.isNull || IsString(c) || other->type == exptype::kUnknown ||
        (other->type == c.type && other->scale == c.scale) || IsString(*other))
      return;
    TExpTokenPtr converted = NewExpToken();
    converted->kind = TNodeKind::Constant;
    converted->type = other->type;
    converted->subtype = other->subtype;
    converted->size = other->size;
    converted->scale = other->scale;
    if (!Convert(c, *converted)) return;
    // Keep the original when the conversion loses anything (2.5 against an INTEGER).
    TExpToken& back = *converted;
    TExpTokenPtr probe = NewExpToken();
    probe->type = c.type;
    probe->subtype = c.subtype;
    probe->size = c.size;
    probe->scale = c.scale;
    if (!Convert(back, *probe)) return;
    if (std::memcmp(probe->value.Data(), c.value.Data(), static_cast<std::size_t>(c.size)) != 0)
      return;
    converted->text = c.text;
    converted->parent = c.parent;
    slot = std::move(converted);
  }

  static bool IsStringColumn(const TExpToken& n) {
    return n.kind == TNodeKind::Column && IsString(n);
  }

  void StringCompare(TExpTokenPtr& slot) {
    TExpToken& n = *slot;
    if (n.op != TOperator::Equal && n.op != TOperator::NotEqual) return;
    if (!IsStringColumn(*n.left) || !IsTextConstant(*n.right)) {
      if (IsStringColumn(*n.right) && IsTextConstant(*n.left))
        std::swap(n.left, n.right);
      else
        return;
    }
    n.ignoreCase = ignoreCase_;
    if (!partial_) return;
    const std::string text = n.right->StringValue();
    const std::size_t stars = text.find_last_not_of('*');
    const std::string head = stars == std::string::npos ? std::string() : text.substr(0, stars + 1);
    if (head.size() == text.size() || head.find('*') != std::string::npos) return;
    MakePrefix(n, head);
  }

  void LikePrefix(TExpTokenPtr& slot) {
    TExpToken& n = *slot;
    if (!IsStringColumn(*n.arguments[0]) || !IsTextConstant(*n.arguments[1])) return;
    const std::string pattern = n.arguments[1]->StringValue();
    const std::size_t last = pattern.find_last_not_of('%');
    if (last == std::string::npos || last + 1 == pattern.size()) return;
    const std::string head = pattern.substr(0, last + 1);
    if (head.find_first_of("%_") != std::string::npos) return;
    // GBK trail bytes may equal '%' or '_': only plain single-byte text qualifies.
    for (unsigned char ch : head)
      if (ch >= 0x80) return;
    TExpTokenPtr column = std::move(n.arguments[0]);
    n.arguments.clear();
    n.kind = TNodeKind::Binary;
    n.op = n.op == TOperator::Like ? TOperator::Equal : TOperator::NotEqual;
    n.text = std::string(OperatorName(n.op));
    n.left = std::move(column);
    n.right = NewExpToken();
    n.right->kind = TNodeKind::Constant;
    n.right->parent = &n;
    n.ignoreCase = locale_ == 0 || ignoreCase_;
    MakePrefix(n, head);
  }

  static void MakePrefix(TExpToken& n, const std::string& head) {
    n.kind = TNodeKind::PartialCompare;
    n.right->SetString(head);
    n.right->text = "'" + head + "'";
  }

  TExpressionResolver& owner_;
  bool partial_, ignoreCase_;
  uint32_t locale_;
};

}  // namespace

TExpTokenPtr PrepareFilter(const TExpToken& tree, TExpressionResolver& owner, bool partialCompare,
                           bool caseInsensitive, uint32_t locale) {
  TExpTokenPtr copy = CopyExpTree(tree);
  TPreparer(owner, partialCompare, caseInsensitive, locale).Walk(copy);
  return copy;
}

}  // namespace mt
