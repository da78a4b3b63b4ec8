// libFuzzer target: type checking, filter preparation and evaluation of parsed expressions.
//
// The first input byte chooses the options: bit 0 condition, bit 1 literal names columns,
// bit 2 bare boolean columns, bit 3 case-insensitive, bit 4 partial compare, bit 5 a
// locale other than 0. The rest is the text, parsed as a whole expression over a row of
// columns of every type (some NULL). Faults must arrive as EEngineError with the SQL code and
// a message of at most 255 bytes; anything else escaping, a crash or a sanitizer report ends
// the run.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "engine/common/engineerror.h"
#include "engine/common/expeval.h"
#include "engine/common/expparser.h"
#include "engine/common/literals.h"

namespace {

using namespace mt;

struct TFuzzColumn {
  const char* name;
  uint16_t type, subtype;
  int32_t size, scale;
  bool null;
};

constexpr TFuzzColumn kColumns[] = {
    {"s", ftype::kString, 0, 21, 0, false},
    {"n", ftype::kString, 0, 21, 0, true},
    {"m", ftype::kBlob, fsubtype::kMemo, 0, 0, false},
    {"g", ftype::kBlob, fsubtype::kGraphic, 0, 0, true},
    {"d", ftype::kDate, 0, 4, 0, false},
    {"t", ftype::kTime, 0, 4, 0, false},
    {"ts", ftype::kTimestamp, 0, 8, 0, false},
    {"b", ftype::kBoolean, 0, 2, 0, false},
    {"si", ftype::kSmallInt, 0, 2, 0, false},
    {"i", ftype::kInteger, 0, 4, 0, false},
    {"ni", ftype::kInteger, 0, 4, 0, true},
    {"f", ftype::kFloat, 0, 8, 0, false},
    {"c", ftype::kBcd, 0, 34, 2, false},
    {"y", ftype::kBytes, 0, 4, 0, false},
    {"w", ftype::kWord, 0, 2, 0, false},
    {"l", ftype::kLargeInt, 0, 8, 0, false},
};

class TFuzzRow : public TExpressionResolver {
 public:
  bool ResolveColumn(TExpToken& node) override {
    for (std::size_t i = 0; i < std::size(kColumns); ++i) {
      const TFuzzColumn& c = kColumns[i];
      if (!EqualsKeyword(node.columnName, c.name)) continue;
      node.columnNumber = static_cast<uint16_t>(i + 1);
      node.type = c.type;
      node.subtype = c.subtype;
      node.size = c.size;
      node.scale = c.scale;
      return true;
    }
    return false;
  }

  bool ReadColumn(const TExpToken& column, TExpToken& into) override {
    if (column.columnNumber == 0 || column.columnNumber > std::size(kColumns)) return false;
    const TFuzzColumn& c = kColumns[column.columnNumber - 1];
    into.isNull = c.null;
    if (c.null) return true;
    TExpTokenPtr v = NewExpToken();
    switch (c.type) {
      case ftype::kString:
      case ftype::kBlob:
        v->SetString("Ab\xd6\xd0%_");
        break;
      case ftype::kDate:
        v->SetDate(731000);
        break;
      case ftype::kTime:
        v->SetTime(3600000);
        break;
      case ftype::kTimestamp:
        v->SetTimestamp(731000.5 * kMsPerDay);
        break;
      case ftype::kFloat:
        v->SetFloat(-2.5);
        break;
      case ftype::kLargeInt:
        v->SetLargeInt(-(int64_t{1} << 62));
        break;
      default:
        v->SetInteger(-3);
        break;
    }
    std::memcpy(into.value.Data(), v->value.Data(), v->value.Capacity());
    if (c.type == ftype::kBcd) {
      const uint8_t bcd[] = {3, 2, 0x12, 0x50};  // 1.25
      std::memset(into.value.Data(), 0, 34);
      std::memcpy(into.value.Data(), bcd, sizeof bcd);
    }
    return true;
  }
};

void Expect(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const uint8_t mode = data[0];
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  TFuzzRow row;
  TExpressionParser parser;
  parser.SetErrorCode(err::kSqlError);
  parser.SetContextName(parsecontext::kWhereOrJoin);
  parser.SetText(text);
  const uint32_t locale = (mode & 32) ? 1033 : 0;
  try {
    parser.NextToken();
    TExpTokenPtr tree = parser.ParseWholeExpression(perm::kPredicates);
    TTypeCheckOptions options;
    options.errorCode = err::kSqlError;
    options.context = std::string(parsecontext::kWhereOrJoin);
    options.condition = mode & 1;
    options.literalNamesColumns = mode & 2;
    options.bareBooleanColumns = mode & 4;
    TypeCheck(tree, options, row);
    TExpTokenPtr value = Evaluate(*tree, row, locale);
    (void)ValueToText(*value);
    TExpTokenPtr prepared = PrepareFilter(*tree, row, mode & 16, mode & 8, locale);
    TExpTokenPtr again = Evaluate(*prepared, row, locale);
    // Without the filter options preparation keeps a condition's outcome.
    if (options.condition && (mode & 24) == 0 && value->type == ftype::kBoolean &&
        tree->kind != TNodeKind::Predicate)
      Expect((value->Int16Value() != 0) == (again->Int16Value() != 0) ||
             prepared->kind == TNodeKind::PartialCompare);
  } catch (const EEngineError& e) {
    Expect(e.ErrorCode() == err::kSqlError);
    Expect(!e.ExtraText().empty() && e.ExtraText().size() <= 255);
  }
  return 0;
}
