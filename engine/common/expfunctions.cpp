// The table of built-in functions and aggregates, with each function's type rule and
// evaluation; see expfunctions.h.
#include "engine/common/expfunctions.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <string>

#include "engine/common/expinternal.h"
#include "engine/common/localetext.h"

namespace mt::expdetail {
namespace {

std::string NameOf(const TExpToken& n) {
  return std::string(OperatorName(n.op));
}

// The result of a function returning its string argument changed: a string, or a memo when
// the argument is one.
void TypeLikeText(TExpToken& n, const TExpToken& s) {
  n.type = IsString(s) ? s.type : ftype::kString;
  n.subtype = s.subtype;
  n.size = std::max(s.size, 1);
}

// ---- Type rules

void TypeAggregate(TChecker& c, TExpToken& n) {
  c.Argument(n, 0, false, true);
  const TExpToken& a = *n.arguments[0];
  if (n.op != TOperator::Count && a.type != exptype::kUnknown && !IsNumeric(a.type) &&
      !IsTemporal(a.type))
    c.Fail(NameOf(n) + " aggregate function must contain a numeric, date, time, or timestamp " +
           "expression in " + c.Context());
  if (n.op == TOperator::Count)
    SetType(n, ftype::kInteger);
  else if (n.op == TOperator::Avg)
    SetType(n, ftype::kFloat, a.subtype);
  else if ((n.op == TOperator::Sum || n.op == TOperator::RunSum) &&
           (a.type == ftype::kSmallInt || a.type == ftype::kWord))
    SetType(n, ftype::kInteger);
  else
    CopyType(n, a);
}

// UPPER, LOWER, LENGTH.
void TypeOfString(TChecker& c, TExpToken& n) {
  c.Argument(n, 0, false, true);
  const TExpToken& s = *n.arguments[0];
  if (!IsStringOrUnknown(s))
    c.FailIn("Type mismatch between " + NameOf(n) + " function and function argument in ");
  if (n.op == TOperator::Length)
    SetType(n, ftype::kInteger);
  else
    TypeLikeText(n, s);
}

void TypeSubstring(TChecker& c, TExpToken& n) {
  const auto& args = n.arguments;
  c.Argument(n, 0, false, true);
  for (std::size_t i = 1; i < args.size(); ++i)
    c.Argument(n, i, false, false);
  if (!IsStringOrUnknown(*args[0]))
    c.FailIn("Expression argument of SUBSTRING function must be a string or memo in ");
  if (!IsIntegral(args[1]->type) && args[1]->type != exptype::kUnknown)
    c.FailIn("FROM argument of SUBSTRING function must be an integer value in ");
  if (args.size() > 2 && !IsIntegral(args[2]->type) && args[2]->type != exptype::kUnknown)
    c.FailIn("FOR argument of SUBSTRING function must be an integer value in ");
  TypeLikeText(n, *args[0]);
}

void TypeReplace(TChecker& c, TExpToken& n) {
  const auto& args = n.arguments;
  c.Argument(n, 0, false, false);
  c.Argument(n, 1, false, false);
  c.Argument(n, 2, false, true);
  if (!IsStringOrUnknown(*args[2]))
    c.FailIn("IN argument of REPLACE function must be a string or memo in ");
  if (!IsStringOrUnknown(*args[0]))
    c.FailIn("Type mismatch between REPLACE function and search string argument in ");
  if (!IsStringOrUnknown(*args[1]))
    c.FailIn("Type mismatch between OCCURS function and WITH argument in ");
  TypeLikeText(n, *args[2]);
}

// POS, OCCURS.
void TypeFind(TChecker& c, TExpToken& n) {
  const auto& args = n.arguments;
  c.Argument(n, 0, false, false);
  c.Argument(n, 1, false, true);
  if (!IsStringOrUnknown(*args[1]))
    c.FailIn("Type mismatch between " + NameOf(n) + " function and IN argument in ");
  if (!IsStringOrUnknown(*args[0]))
    c.FailIn("Type mismatch between " + NameOf(n) + " function and search string argument in ");
  SetType(n, ftype::kInteger);
}

void TypeTrim(TChecker& c, TExpToken& n) {
  const auto& args = n.arguments;
  c.Argument(n, 0, false, false);
  c.Argument(n, 1, false, true);
  if (!IsStringOrUnknown(*args[1]))
    c.FailIn("FROM argument of TRIM function must be a string or memo in ");
  const TExpToken& ch = *args[0];
  if (!IsTextConstant(ch) || CharStarts(ch.StringValue()).size() != 1)
    c.FailIn("Trim character argument of TRIM function must be a single character constant in ");
  TypeLikeText(n, *args[1]);
}

// The node's type, subtype and size come from the parsed type name; its type arguments (a
// length, a scale, a BLOB type) follow the value among the arguments.
void TypeCast(TChecker& c, TExpToken& n) {
  c.Argument(n, 0, false, true);
  const TExpToken& v = *n.arguments[0];
  const std::size_t typeArgs = n.arguments.size() - 1;
  auto arg = [&](std::size_t i) -> const TExpToken& { return *n.arguments[i + 1]; };
  switch (n.type) {
    case ftype::kString:
    case ftype::kBytes: {
      if (typeArgs < 1 || !IsIntegerConstant(arg(0)))
        c.FailIn("Length argument must be an integer in ");
      const int64_t len = AsInt64(arg(0));
      if (len <= 0 || len > 250)
        c.Fail(
            "Length argument must be an integer greater than 0 and less than or equal to 250 in " +
            c.Context());
      n.size = static_cast<int32_t>(len) + (n.type == ftype::kString ? 1 : 0);
      break;
    }
    case ftype::kBcd:
      if (typeArgs >= 2) {
        if (!IsIntegerConstant(arg(1))) c.FailIn("Scale argument must be an integer in ");
        const int64_t scale = AsInt64(arg(1));
        if (scale < 0 || scale > kBcdMaxScale)
          c.Fail(
              "Scale argument must be an integer less than or equal to 4 but greater than or "
              "equal to 0 for the BCD data type " +
              c.Context());
        n.scale = static_cast<int32_t>(scale);
      }
      n.size = static_cast<int32_t>(kBcdSize);
      break;
    case ftype::kBlob:
      if (typeArgs >= 1 && !IsIntegerConstant(arg(0)))
        c.FailIn("First BLOB type argument must be an integer in ");
      if (typeArgs >= 2) {
        if (!IsIntegerConstant(arg(1))) c.FailIn("BLOB type argument must be an integer in ");
        const int64_t t = AsInt64(arg(1));
        if (t != 1 && t != 2 && t != 3 && t != 5 && t != 7)
          c.FailIn("BLOB type argument must be an integer with a value of 1,2,3,5, or 7 in ");
      }
      n.size = 0;
      break;
    default:
      n.size = FixedSize(n.type);
      break;
  }
  const uint16_t s = v.type;
  bool ok = s == exptype::kUnknown || IsString(v) || s == ftype::kBytes;
  switch (n.type) {
    case ftype::kDate:
      ok = ok || s == ftype::kDate || s == ftype::kTimestamp;
      break;
    case ftype::kTime:
      ok = ok || s == ftype::kTime || s == ftype::kTimestamp;
      break;
    case ftype::kTimestamp:
      ok = ok || IsTemporal(s);
      break;
    case ftype::kBoolean:
      ok = ok || s == ftype::kBoolean || (IsIntegral(s)) || s == ftype::kBcd;
      break;
    case ftype::kSmallInt:
    case ftype::kWord:
      ok = ok || s == ftype::kBoolean || IsNumeric(s);
      break;
    case ftype::kInteger:
    case ftype::kFloat:
    case ftype::kBcd:
    case ftype::kLargeInt:
      ok = ok || IsNumeric(s);
      break;
    default:
      ok = true;
      break;
  }
  if (!ok)
    c.Fail("Type mismatch between " + Kind(v) + " '" + NodeText(v) + "' and AS argument in " +
           c.Context());
}

// The EXTRACT parts. A string constant is read as a DATE, else a TIME, else a TIMESTAMP.
void TypeExtract(TChecker& c, TExpToken& n) {
  c.Argument(n, 0, false, true);
  TExpToken& v = *n.arguments[0];
  if (IsTextConstant(v) && !ReadConstant(v, ftype::kDate) && !ReadConstant(v, ftype::kTime) &&
      !ReadConstant(v, ftype::kTimestamp))
    c.Fail("Date, time, or timestamp expression expected, instead found '" + v.StringValue() +
           "' in " + c.Context());
  if (!IsTemporal(v.type) && v.type != exptype::kUnknown)
    c.FailIn("FROM argument of EXTRACT function must be a date, time, or timestamp in ");
  SetType(n, ftype::kInteger);
}

// The branches of IF, IFNULL and COALESCE, from argument `first` on: the result takes the
// first typed branch's type, widened over the others.
void TypeBranches(TChecker& c, TExpToken& n, std::size_t first) {
  const std::string name = NameOf(n);
  const TExpToken* typed = nullptr;
  for (std::size_t i = first; i < n.arguments.size(); ++i) {
    const TExpToken& a = *n.arguments[i];
    if (a.type == exptype::kUnknown) continue;
    if (!typed) {
      typed = &a;
      CopyType(n, a);
      continue;
    }
    if (!EqualityAccepts(*typed, a))
      c.Fail("Type mismatch between " + name + " expression arguments in " + c.Context());
    if (IsNumeric(a.type)) {
      // Widen: FLOAT over BCD over LARGEINT over the smaller integers.
      auto rank = [](uint16_t t) {
        return t == ftype::kFloat ? 4 : t == ftype::kBcd ? 3 : t == ftype::kLargeInt ? 2 : 1;
      };
      if (rank(a.type) > rank(n.type) ||
          (rank(a.type) == 1 && rank(n.type) == 1 && a.type != n.type)) {
        SetType(n, rank(a.type) == 1 ? ftype::kInteger : a.type, n.subtype, a.scale);
      }
      if (n.type == ftype::kBcd) n.scale = std::max(n.scale, a.scale);
    } else if (IsDateOrStamp(a.type) && a.type != n.type) {
      SetType(n, ftype::kTimestamp);
    } else {
      n.size = std::max(n.size, a.size);
    }
  }
  if (!typed)
    c.Fail("At least one of the " + name + " expression arguments in " + c.Context() +
           " must be a non-NULL value");
}

void TypeIf(TChecker& c, TExpToken& n) {
  c.Argument(n, 0, true, false);
  c.Argument(n, 1, false, true);
  c.Argument(n, 2, false, true);
  const uint16_t condition = n.arguments[0]->type;
  if (condition != ftype::kBoolean && condition != exptype::kUnknown)
    c.FailIn("First expression argument of IF function must be a boolean type in ");
  TypeBranches(c, n, 1);
}

// IFNULL (the tested value, then the branches), COALESCE (all branches).
void TypeFirstNonNull(TChecker& c, TExpToken& n) {
  for (std::size_t i = 0; i < n.arguments.size(); ++i)
    c.Argument(n, i, false, true);
  TypeBranches(c, n, n.op == TOperator::IfNull ? 1 : 0);
}

void TypeAbs(TChecker& c, TExpToken& n) {
  c.Argument(n, 0, false, true);
  const TExpToken& a = *n.arguments[0];
  if (!IsNumeric(a.type) && a.type != exptype::kUnknown)
    c.FailIn(
        "Expression argument of ABS function must be an integer, floating-point, or BCD type "
        "in ");
  CopyType(n, a);
}

void TypeRound(TChecker& c, TExpToken& n) {
  c.Argument(n, 0, false, true);
  const TExpToken& a = *n.arguments[0];
  if (a.type != ftype::kFloat && a.type != ftype::kBcd && a.type != exptype::kUnknown)
    c.FailIn("Expression argument of ROUND function must be a floating-point or BCD type in ");
  if (n.arguments.size() > 1) {
    c.Argument(n, 1, false, false);
    const TExpToken& places = *n.arguments[1];
    if (!IsIntegerConstant(places))
      c.FailIn("Decimal places argument of ROUND function must be an integer constant in ");
    const int64_t d = AsInt64(places);
    if (d < 0 || d > 32)
      c.FailIn(
          "Decimal places argument of ROUND function must be an integer constant between 0 "
          "and 32 in ");
  }
  CopyType(n, a);
}

// TEXTSEARCH, TEXTOCCURS: a search text constant and a string column.
void TypeTextSearch(TChecker& c, TExpToken& n) {
  const std::string name = NameOf(n);
  c.Argument(n, 0, false, false);
  TExpToken& column = *n.arguments[1];
  column.parent = &n;
  c.NameColumn(column);
  if (column.kind == TNodeKind::Column) c.CheckColumn(column);
  const TExpToken& words = *n.arguments[0];
  if (words.type != ftype::kString)
    c.FailIn("Type mismatch between " + name + " function and search text function argument in ");
  if (words.kind != TNodeKind::Constant)
    c.FailIn(name + " search text function argument must be a string constant in ");
  if (column.kind != TNodeKind::Column)
    c.FailIn(name + " function column argument must be a valid column name in ");
  if (!IsString(column))
    c.FailIn("Type mismatch between " + name + " function and column function argument in ");
  SetType(n, n.op == TOperator::TextSearch ? ftype::kBoolean : ftype::kWord);
}

// LASTAUTOINC, IDENT_CURRENT: a table name constant.
void TypeTableName(TChecker& c, TExpToken& n) {
  const std::string name = NameOf(n);
  c.Argument(n, 0, false, false);
  const TExpToken& table = *n.arguments[0];
  if (table.type != ftype::kString)
    c.FailIn("Type mismatch between " + name + " function and table name function argument in ");
  if (table.kind != TNodeKind::Constant)
    c.FailIn(name + " table name function argument must be a string constant in ");
  SetType(n, ftype::kInteger);
}

// ---- Evaluations

// Aggregates: the statement keeps their running value in the node.
TExpTokenPtr EvalHeld(TEvaluator& e, const TExpToken& n) {
  return e.Held(n);
}

// UPPER, LOWER.
TExpTokenPtr EvalCase(TEvaluator& e, const TExpToken& n) {
  TExpTokenPtr v = e.Eval(*n.arguments[0]);
  if (v->isNull) return e.Null(n);
  std::string s = v->StringValue();
  if (n.op == TOperator::Upper)
    UpperCaseGbk(s);
  else
    LowerCaseGbk(s);
  TExpTokenPtr out = e.Typed(n);
  PutText(*out, s);
  return out;
}

TExpTokenPtr EvalLength(TEvaluator& e, const TExpToken& n) {
  TExpTokenPtr v = e.Eval(*n.arguments[0]);
  if (v->isNull) return e.Null(n);
  TExpTokenPtr out = e.Typed(n);
  Put(*out, static_cast<int32_t>(CharStarts(v->StringValue()).size()));
  return out;
}

TExpTokenPtr EvalSubstring(TEvaluator& e, const TExpToken& n) {
  const auto& args = n.arguments;
  TExpTokenPtr v = e.Eval(*args[0]);
  TExpTokenPtr from = e.Eval(*args[1]);
  if (v->isNull || from->isNull) return e.Null(n);
  const std::string s = v->StringValue();
  const std::vector<std::size_t> cs = CharStarts(s);
  const int64_t count = static_cast<int64_t>(cs.size());
  const int64_t p = std::max<int64_t>(1, AsInt64(*from));
  int64_t len = count - p + 1;
  if (args.size() > 2) {
    TExpTokenPtr f = e.Eval(*args[2]);
    len = f->isNull ? 0 : AsInt64(*f);
  }
  len = std::max<int64_t>(0, std::min(len, count - p + 1));
  if (p > count || len == 0) return e.Null(n);
  const std::size_t begin = cs[static_cast<std::size_t>(p - 1)];
  const std::size_t endIdx = static_cast<std::size_t>(p - 1 + len);
  const std::size_t end = endIdx < cs.size() ? cs[endIdx] : s.size();
  TExpTokenPtr out = e.Typed(n);
  PutText(*out, std::string_view(s).substr(begin, end - begin));
  return out;
}

TExpTokenPtr EvalReplace(TEvaluator& e, const TExpToken& n) {
  TExpTokenPtr f = e.Eval(*n.arguments[0]);
  TExpTokenPtr w = e.Eval(*n.arguments[1]);
  TExpTokenPtr in = e.Eval(*n.arguments[2]);
  if (in->isNull) return e.Null(n);
  const std::string s = in->StringValue();
  const std::string find = f->isNull ? std::string() : f->StringValue();
  const std::string with = w->isNull ? std::string() : w->StringValue();
  TExpTokenPtr out = e.Typed(n);
  if (find.empty() || find == with) {
    PutText(*out, s);
    return out;
  }
  std::string result;
  const std::vector<std::size_t> cs = CharStarts(s);
  for (std::size_t c = 0; c < cs.size();) {
    const std::size_t i = cs[c];
    if (s.compare(i, find.size(), find) == 0) {
      result += with;
      const std::size_t next = i + find.size();
      while (c < cs.size() && cs[c] < next)
        ++c;
    } else {
      result += CharAt(s, cs, c);
      ++c;
    }
  }
  PutText(*out, result);
  return out;
}

// POS, OCCURS.
TExpTokenPtr EvalFind(TEvaluator& e, const TExpToken& n) {
  TExpTokenPtr f = e.Eval(*n.arguments[0]);
  TExpTokenPtr in = e.Eval(*n.arguments[1]);
  if (in->isNull) return e.Null(n);
  const std::string s = in->StringValue();
  const std::string find = f->isNull ? std::string() : f->StringValue();
  const std::vector<std::size_t> cs = CharStarts(s);
  int32_t pos = 0, occurs = 0;
  if (!find.empty()) {
    for (std::size_t c = 0; c < cs.size();) {
      if (s.compare(cs[c], find.size(), find) == 0) {
        if (pos == 0) pos = static_cast<int32_t>(c + 1);
        ++occurs;
        const std::size_t next = cs[c] + find.size();
        while (c < cs.size() && cs[c] < next)
          ++c;
      } else {
        ++c;
      }
    }
  }
  TExpTokenPtr out = e.Typed(n);
  Put(*out, n.op == TOperator::Pos ? pos : occurs);
  return out;
}

TExpTokenPtr EvalTrim(TEvaluator& e, const TExpToken& n) {
  TExpTokenPtr c = e.Eval(*n.arguments[0]);
  TExpTokenPtr v = e.Eval(*n.arguments[1]);
  if (v->isNull) return e.Null(n);
  const std::string s = v->StringValue();
  const std::string ch = c->isNull ? std::string() : c->StringValue();
  const std::vector<std::size_t> cs = CharStarts(s);
  std::size_t first = 0, last = cs.size();
  if (!ch.empty()) {
    if (n.op != TOperator::TrimTrailing)
      while (first < last && CharAt(s, cs, first) == ch)
        ++first;
    if (n.op != TOperator::TrimLeading)
      while (last > first && CharAt(s, cs, last - 1) == ch)
        --last;
  }
  if (first >= last) return e.Null(n);
  const std::size_t end = last < cs.size() ? cs[last] : s.size();
  TExpTokenPtr out = e.Typed(n);
  PutText(*out, std::string_view(s).substr(cs[first], end - cs[first]));
  return out;
}

TExpTokenPtr EvalCast(TEvaluator& e, const TExpToken& n) {
  TExpTokenPtr v = e.Eval(*n.arguments[0]);
  TExpTokenPtr out = e.Typed(n);
  Convert(*v, *out);
  return out;
}

TExpTokenPtr EvalExtract(TEvaluator& e, const TExpToken& n) {
  TExpTokenPtr v = e.Eval(*n.arguments[0]);
  TExpTokenPtr out = e.Typed(n);
  if (v->isNull || v->type == exptype::kUnknown) {
    out->isNull = true;
    return out;
  }
  int32_t day = 0, ms = 0;
  bool hasDate = false, hasTime = false;
  if (v->type == ftype::kDate) {
    day = v->Int32Value();
    hasDate = true;
  } else if (v->type == ftype::kTime) {
    ms = v->Int32Value();
    day = kDayOf18991230;
    hasTime = true;
  } else {
    if (!SplitTimestamp(v->DoubleValue(), day, ms)) {
      out->isNull = true;
      return out;
    }
    hasDate = hasTime = true;
  }
  int y = 0, m = 0, d = 0, hh = 0, mm = 0, ss = 0, zz = 0;
  const bool decoded = DecodeDay(day, y, m, d);
  DecodeTimeOfDay(ms, hh, mm, ss, zz);
  const int dow = static_cast<int>(((day - 1) % 7 + 7) % 7) + 1;  // day 1 was a Monday
  int32_t result = 0;
  switch (n.op) {
    case TOperator::ExtractYear:
      result = hasDate ? y : 0;
      break;
    case TOperator::ExtractMonth:
      result = hasDate ? m : 0;
      break;
    case TOperator::ExtractDay:
      result = hasDate ? d : 0;
      break;
    case TOperator::ExtractHour:
      result = hasTime ? hh : 0;
      break;
    case TOperator::ExtractMinute:
      result = hasTime ? mm : 0;
      break;
    case TOperator::ExtractSecond:
      result = hasTime ? ss : 0;
      break;
    case TOperator::ExtractDayOfWeek:
      result = decoded ? dow : 0;
      break;
    case TOperator::ExtractDayOfYear: {
      int32_t first = 0;
      if (decoded && EncodeDay(y, 1, 1, first)) result = day - first + 1;
      break;
    }
    default: {  // ISO week: the week of the Thursday of this date's Monday-to-Sunday week
      const int32_t thursday = day - (dow - 1) + 3;
      int ty = 0, tm = 0, td = 0;
      int32_t first = 0;
      if (DecodeDay(thursday, ty, tm, td) && EncodeDay(ty, 1, 1, first))
        result = (thursday - first) / 7 + 1;
      break;
    }
  }
  Put(*out, result);
  return out;
}

// IF (a condition), IFNULL (a NULL test): the chosen branch in the node's type.
TExpTokenPtr EvalChoice(TEvaluator& e, const TExpToken& n) {
  const auto& args = n.arguments;
  bool first;
  if (n.op == TOperator::If) {
    first = e.Condition(*args[0]);
  } else {
    TExpTokenPtr v = e.Eval(*args[0]);
    first = v->isNull || v->type == exptype::kUnknown;
  }
  TExpTokenPtr out = e.Typed(n);
  Convert(*e.Eval(*args[first ? 1 : 2]), *out);
  return out;
}

TExpTokenPtr EvalCoalesce(TEvaluator& e, const TExpToken& n) {
  for (const auto& a : n.arguments) {
    TExpTokenPtr v = e.Eval(*a);
    if (!v->isNull && v->type != exptype::kUnknown) {
      TExpTokenPtr out = e.Typed(n);
      Convert(*v, *out);
      return out;
    }
  }
  return e.Null(n);
}

TExpTokenPtr EvalAbs(TEvaluator& e, const TExpToken& n) {
  TExpTokenPtr v = e.Eval(*n.arguments[0]);
  if (v->isNull || v->type == ftype::kWord) return v;
  if (v->type == ftype::kFloat) {
    Put(*v, std::fabs(v->DoubleValue()));
  } else if (v->type == ftype::kBcd) {
    TBcd b = GetBcd(*v);
    b[1] = static_cast<uint8_t>(b[1] & 0x7F);
    PutBcd(*v, b);
  } else {
    const int64_t x = AsInt64(*v);
    PutInteger(*v, x < 0 ? static_cast<int64_t>(0 - static_cast<uint64_t>(x)) : x);
  }
  return v;
}

TExpTokenPtr EvalRound(TEvaluator& e, const TExpToken& n) {
  TExpTokenPtr v = e.Eval(*n.arguments[0]);
  if (v->isNull || v->type == exptype::kUnknown) return v;
  int64_t places = n.arguments.size() > 1 ? AsInt64(*n.arguments[1]) : 0;
  if (v->type == ftype::kBcd) {
    places = std::clamp<int64_t>(places, -kBcdMaxDigits, kBcdMaxScale);
    TBcd rounded{}, back{};
    if (TextToBcd(BcdToText(GetBcd(*v)), static_cast<int>(places), rounded) &&
        TextToBcd(BcdToText(rounded), v->scale, back))
      PutBcd(*v, back);
    return v;
  }
  const double x = v->DoubleValue();
  if (x == 0) return v;
  const double unit = std::pow(0.1, static_cast<double>(places));
  const double scaled = x / unit;
  if (std::fabs(scaled) < 9e15) Put(*v, std::trunc(scaled + (x < 0 ? -0.5 : 0.5)) * unit);
  return v;
}

// TEXTSEARCH, TEXTOCCURS: asked of the owner for the current row.
TExpTokenPtr EvalTextSearch(TEvaluator& e, const TExpToken& n) {
  TExpTokenPtr w = e.Eval(*n.arguments[0]);
  const std::string words = w->isNull ? std::string() : w->StringValue();
  if (n.op == TOperator::TextSearch) return e.Bool(e.Resolver().TextSearch(*n.arguments[1], words));
  TExpTokenPtr out = e.Typed(n);
  Put(*out, static_cast<uint16_t>(e.Resolver().TextOccurs(*n.arguments[1], words)));
  return out;
}

// LASTAUTOINC, IDENT_CURRENT.
TExpTokenPtr EvalLastAutoInc(TEvaluator& e, const TExpToken& n) {
  TExpTokenPtr out = e.Typed(n);
  Put(*out, e.Resolver().LastAutoInc(n.arguments[0]->StringValue()));
  return out;
}

// ---- Argument syntax

using TForm = TArgForm;

constexpr TArgSyntax kOneArgument[] = {{.form = TForm::Additive}};
constexpr TArgSyntax kOnePrimary[] = {{.form = TForm::Primary}};
constexpr TArgSyntax kSubstringSyntax[] = {
    {.form = TForm::Additive},
    {.form = TForm::Additive,
     .keyword = "FROM",
     .missing = "FROM keyword expected after first SUBSTRING function argument, instead found '"},
    {.form = TForm::Additive, .keyword = "FOR", .optional = true},
};
constexpr TArgSyntax kReplaceSyntax[] = {
    {.form = TForm::Additive},
    {.form = TForm::Additive,
     .keyword = "WITH",
     .missing = "WITH keyword expected after first REPLACE function argument, instead found '"},
    {.form = TForm::Additive,
     .keyword = "IN",
     .missing = "IN keyword expected after second REPLACE function argument, instead found '"},
};
constexpr TArgSyntax kPosSyntax[] = {
    {.form = TForm::Additive},
    {.form = TForm::Additive,
     .keyword = "IN",
     .missing = "IN keyword expected after first POS function argument, instead found '"},
};
constexpr TArgSyntax kOccursSyntax[] = {
    {.form = TForm::Additive},
    {.form = TForm::Additive,
     .keyword = "IN",
     .missing = "IN keyword expected after first OCCURS function argument, instead found '"},
};
constexpr TArgSyntax kCastSyntax[] = {
    {.form = TForm::Additive},
    {.form = TForm::DataType,
     .keyword = "AS",
     .missing = "AS keyword expected after first CAST function argument, instead found '"},
};
constexpr TArgSyntax kTrimSyntax[] = {
    {.form = TForm::Mode,
     .missing = "LEADING, TRAILING, or BOTH keyword expected after TRIM keyword, instead found '"},
    {.form = TForm::Primary},
    {.form = TForm::Additive,
     .keyword = "FROM",
     .missing = "FROM keyword expected after second TRIM function argument, instead found '"},
};
constexpr TArgSyntax kExtractSyntax[] = {
    {.form = TForm::Mode,
     .missing = "YEAR, MONTH, WEEK, DAY, DAYOFWEEK, DAYOFYEAR, HOUR, MINUTE, or SECOND keyword "
                "expected after EXTRACT keyword, instead found '"},
    {.form = TForm::Additive,
     .keyword = "FROM",
     .missing = "FROM keyword expected after second EXTRACT function argument, instead found '"},
};
constexpr TArgSyntax kRoundSyntax[] = {
    {.form = TForm::Additive},
    {.form = TForm::Primary, .keyword = "TO", .optional = true},
};
constexpr TArgSyntax kIfSyntax[] = {
    {.form = TForm::Condition},
    {.form = TForm::Additive,
     .keyword = "THEN",
     .commaForKeyword = true,
     .missing = "THEN keyword or comma expected after first IF function argument, instead found '"},
    {.form = TForm::Additive,
     .keyword = "ELSE",
     .commaForKeyword = true,
     .missing =
         "ELSE keyword or comma expected after second IF function argument, instead found '"},
};
constexpr TArgSyntax kIfNullSyntax[] = {
    {.form = TForm::Expression},
    {.form = TForm::Additive,
     .keyword = "THEN",
     .commaForKeyword = true,
     .missing =
         "THEN keyword or comma expected after first IFNULL function argument, instead found '"},
    {.form = TForm::Additive,
     .keyword = "ELSE",
     .commaForKeyword = true,
     .missing =
         "ELSE keyword or comma expected after second IFNULL function argument, instead found '"},
};
constexpr TArgSyntax kCoalesceSyntax[] = {
    {.form = TForm::List,
     .missing = "You must provide at least one value as an argument of the COALESCE operator "},
};
constexpr TArgSyntax kTextSearchSyntax[] = {
    {.form = TForm::Additive},
    {.form = TForm::Primary,
     .keyword = "IN",
     .missing = "IN keyword expected after first TEXTSEARCH function argument, instead found '"},
};
constexpr TArgSyntax kTextOccursSyntax[] = {
    {.form = TForm::Additive},
    {.form = TForm::Primary,
     .keyword = "IN",
     .missing = "IN keyword expected after first TEXTOCCURS function argument, instead found '"},
};

// ---- The table

using TOp = TOperator;
constexpr TClosing kArgument = TClosing::Argument;
constexpr TClosing kArguments = TClosing::Arguments;
constexpr uint8_t kAny = kAnyNumberOfArguments;
constexpr TArgumentUse kValues = TArgumentUse::Values;
constexpr TArgumentUse kTextIndex = TArgumentUse::TextIndex;
constexpr TArgumentUse kTableName = TArgumentUse::TableName;

// clang-format off
constexpr TFunctionInfo kFunctions[] = {
    // code, word, mode, printed name, aggregate, argument syntax, closing message,
    // arguments (least, most), type rule, evaluation, argument use
    {TOp::Sum, "SUM", "", "SUM", true, {}, kArgument, 1, 1, TypeAggregate, EvalHeld, kValues},
    {TOp::RunSum, "RUNSUM", "", "RUNSUM", true, {}, kArgument, 1, 1, TypeAggregate, EvalHeld, kValues},
    {TOp::Avg, "AVG", "", "AVG", true, {}, kArgument, 1, 1, TypeAggregate, EvalHeld, kValues},
    {TOp::Min, "MIN", "", "MIN", true, {}, kArgument, 1, 1, TypeAggregate, EvalHeld, kValues},
    {TOp::Max, "MAX", "", "MAX", true, {}, kArgument, 1, 1, TypeAggregate, EvalHeld, kValues},
    {TOp::Count, "COUNT", "", "COUNT", true, {}, kArgument, 1, 1, TypeAggregate, EvalHeld, kValues},

    {TOp::Upper, "UPPER", "", "UPPER", false, kOneArgument, kArgument, 1, 1,
     TypeOfString, EvalCase, kValues},
    {TOp::Lower, "LOWER", "", "LOWER", false, kOneArgument, kArgument, 1, 1,
     TypeOfString, EvalCase, kValues},
    {TOp::Length, "LENGTH", "", "LENGTH", false, kOneArgument, kArgument, 1, 1,
     TypeOfString, EvalLength, kValues},
    {TOp::Substring, "SUBSTRING", "", "SUBSTRING", false, kSubstringSyntax, kArguments, 2, 3,
     TypeSubstring, EvalSubstring, kValues},
    {TOp::Replace, "REPLACE", "", "REPLACE", false, kReplaceSyntax, kArguments, 3, 3,
     TypeReplace, EvalReplace, kValues},
    {TOp::Pos, "POS", "", "POS", false, kPosSyntax, kArguments, 2, 2,
     TypeFind, EvalFind, kValues},
    {TOp::Occurs, "OCCURS", "", "OCCURS", false, kOccursSyntax, kArguments, 2, 2,
     TypeFind, EvalFind, kValues},
    {TOp::Cast, "CAST", "", "CAST", false, kCastSyntax, kArguments, 1, 3,
     TypeCast, EvalCast, kValues},

    {TOp::TrimLeading, "TRIM", "LEADING", "TRIM LEADING", false, kTrimSyntax, kArguments, 2, 2,
     TypeTrim, EvalTrim, kValues},
    {TOp::TrimTrailing, "TRIM", "TRAILING", "TRIM TRAILING", false, kTrimSyntax, kArguments, 2, 2,
     TypeTrim, EvalTrim, kValues},
    {TOp::TrimBoth, "TRIM", "BOTH", "TRIM BOTH", false, kTrimSyntax, kArguments, 2, 2,
     TypeTrim, EvalTrim, kValues},

    {TOp::ExtractYear, "EXTRACT", "YEAR", "EXTRACT YEAR", false, kExtractSyntax, kArguments, 1, 1,
     TypeExtract, EvalExtract, kValues},
    {TOp::ExtractMonth, "EXTRACT", "MONTH", "EXTRACT MONTH", false, kExtractSyntax, kArguments,
     1, 1, TypeExtract, EvalExtract, kValues},
    {TOp::ExtractWeek, "EXTRACT", "WEEK", "EXTRACT WEEK", false, kExtractSyntax, kArguments, 1, 1,
     TypeExtract, EvalExtract, kValues},
    {TOp::ExtractDay, "EXTRACT", "DAY", "EXTRACT DAY", false, kExtractSyntax, kArguments, 1, 1,
     TypeExtract, EvalExtract, kValues},
    {TOp::ExtractDayOfWeek, "EXTRACT", "DAYOFWEEK", "EXTRACT DAYOFWEEK", false, kExtractSyntax,
     kArguments, 1, 1, TypeExtract, EvalExtract, kValues},
    {TOp::ExtractDayOfYear, "EXTRACT", "DAYOFYEAR", "EXTRACT DAYOFYEAR", false, kExtractSyntax,
     kArguments, 1, 1, TypeExtract, EvalExtract, kValues},
    {TOp::ExtractHour, "EXTRACT", "HOUR", "EXTRACT HOUR", false, kExtractSyntax, kArguments, 1, 1,
     TypeExtract, EvalExtract, kValues},
    {TOp::ExtractMinute, "EXTRACT", "MINUTE", "EXTRACT MINUTE", false, kExtractSyntax, kArguments,
     1, 1, TypeExtract, EvalExtract, kValues},
    {TOp::ExtractSecond, "EXTRACT", "SECOND", "EXTRACT SECOND", false, kExtractSyntax, kArguments,
     1, 1, TypeExtract, EvalExtract, kValues},

    {TOp::Abs, "ABS", "", "ABS", false, kOneArgument, kArgument, 1, 1,
     TypeAbs, EvalAbs, kValues},
    {TOp::Round, "ROUND", "", "ROUND", false, kRoundSyntax, kArguments, 1, 2,
     TypeRound, EvalRound, kValues},
    {TOp::If, "IF", "", "IF", false, kIfSyntax, kArguments, 3, 3,
     TypeIf, EvalChoice, kValues},
    {TOp::IfNull, "IFNULL", "", "IFNULL", false, kIfNullSyntax, kArguments, 3, 3,
     TypeFirstNonNull, EvalChoice, kValues},
    {TOp::Coalesce, "COALESCE", "", "COALESCE", false, kCoalesceSyntax,
     TClosing::ExpressionArguments, 1, kAny, TypeFirstNonNull, EvalCoalesce, kValues},
    {TOp::TextSearch, "TEXTSEARCH", "", "TEXTSEARCH", false, kTextSearchSyntax, kArgument, 2, 2,
     TypeTextSearch, EvalTextSearch, kTextIndex},
    {TOp::TextOccurs, "TEXTOCCURS", "", "TEXTOCCURS", false, kTextOccursSyntax, kArgument, 2, 2,
     TypeTextSearch, EvalTextSearch, kTextIndex},
    {TOp::LastAutoInc, "LASTAUTOINC", "", "LASTAUTOINC", false, kOnePrimary, kArgument, 1, 1,
     TypeTableName, EvalLastAutoInc, kTableName},
    {TOp::IdentCurrent, "IDENT_CURRENT", "", "IDENT_CURRENT", false, kOnePrimary, kArgument, 1, 1,
     TypeTableName, EvalLastAutoInc, kTableName},
};
// clang-format on

// The row of each code, -1 for codes that are no function.
constexpr auto kRowOf = [] {
  std::array<int8_t, 256> rows{};
  rows.fill(-1);
  for (std::size_t i = 0; i < std::size(kFunctions); ++i)
    rows[static_cast<uint8_t>(kFunctions[i].op)] = static_cast<int8_t>(i);
  return rows;
}();

}  // namespace
}  // namespace mt::expdetail

namespace mt {

std::span<const TFunctionInfo> FunctionTable() {
  return expdetail::kFunctions;
}

const TFunctionInfo* FunctionOf(TOperator op) {
  const int row = expdetail::kRowOf[static_cast<uint8_t>(op)];
  return row < 0 ? nullptr : &expdetail::kFunctions[row];
}

bool TFunctionInfo::TypedByCall() const {
  return std::ranges::any_of(syntax,
                             [](const TArgSyntax& a) { return a.form == TArgForm::DataType; });
}

bool CallsWithArguments(const TExpToken& node, TArgumentUse use) {
  if (node.kind != TNodeKind::Function) return false;
  const TFunctionInfo* f = FunctionOf(node.op);
  return f != nullptr && f->use == use;
}

bool IsTypedCall(const TExpToken& node) {
  if (node.kind != TNodeKind::Function) return false;
  const TFunctionInfo* f = FunctionOf(node.op);
  return f != nullptr && f->TypedByCall();
}

}  // namespace mt
