// libFuzzer target: the lexer and expression parser over arbitrary bytes.
//
// The first input byte chooses the set-up: bit 0 SQL (11949) or filter (10051) owner, bits 1
// to 5 the permission set, bits 6 and 7 the entry point (whole expression, additive,
// primary, SQL type name). The rest is the text. Faults must arrive as EEngineError with a
// message of at most 255 bytes; anything else escaping, a crash, a sanitizer report, a leak
// or a tree taller than the parser's bound ends the run.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "engine/common/engineerror.h"
#include "engine/common/expparser.h"

namespace {

using namespace mt;

// Reads IN (SELECT expr FROM name [WHERE condition]) the way a statement would, so that
// nested sub-selects recurse through the parser.
class TFuzzOwner : public TExpressionOwner {
 public:
  std::vector<TExpTokenPtr> trees;
  std::size_t parameters = 0;

  void AddParameter(TExpToken& node) override {
    if (!node.isParameter) std::abort();
    ++parameters;
  }

  bool ParseSubSelect(TExpressionParser& parser, TExpToken& node) override {
    if (node.kind != TNodeKind::SubSelect) std::abort();
    parser.NextToken();
    trees.push_back(parser.ParseExpression(perm::kAggregates | perm::kAllColumns));
    if (!parser.IsKeyword("FROM"))
      parser.Raise("FROM keyword expected, instead found '" + parser.TokenText() + "'");
    parser.NextToken();
    if (!parser.IsNameOrString())
      parser.Raise("Table name expected after FROM keyword, instead found '" + parser.TokenText() +
                   "'");
    parser.NextToken();
    if (parser.IsKeyword("WHERE")) {
      parser.NextToken();
      trees.push_back(
          parser.ParseExpression(perm::kPredicates | perm::kParameters | perm::kSubSelects));
    }
    return true;
  }
};

// Walks a tree without recursion and checks what the parser promises about it.
void CheckTree(const TExpToken* root) {
  if (!root) std::abort();
  if (root->height > TExpressionParser::kMaxTreeHeight) std::abort();
  std::vector<const TExpToken*> pending{root};
  while (!pending.empty()) {
    const TExpToken* n = pending.back();
    pending.pop_back();
    uint32_t below = 0;
    auto visit = [&](const TExpToken* child) {
      if (!child) std::abort();
      below = std::max(below, child->height);
      pending.push_back(child);
    };
    if (n->left) visit(n->left.get());
    if (n->right) visit(n->right.get());
    for (const auto& a : n->arguments)
      visit(a.get());
    if (n->height < below + 1) std::abort();
    if (n->kind == TNodeKind::Constant && n->type == ftype::kString &&
        n->size != static_cast<int32_t>(n->StringValue().size() + 1) && n->text.rfind('#', 0) != 0)
      std::abort();
  }
  (void)ExpTreeToText(root);
}

void Run(TExpressionParser& parser, int entry, TPermissions permissions) {
  parser.NextToken();
  if (entry == 0) {
    TExpTokenPtr tree = parser.ParseWholeExpression(permissions);
    CheckTree(tree.get());
    return;
  }
  // The other entries are driven like a statement parser does: repeatedly, skipping a token
  // whenever nothing was read.
  while (!parser.AtEnd()) {
    const std::size_t start = parser.TokenStart();
    parser.SetMark();
    (void)parser.TokenText();
    (void)parser.IsKeyword("select");
    if (entry == 1) {
      CheckTree(parser.ParseAdditive(permissions).get());
    } else if (entry == 2) {
      CheckTree(parser.ParsePrimary(permissions).get());
    } else {
      TExpTokenPtr node = NewExpToken();
      if (!parser.ParseDataType(*node, permissions, true)) parser.NextToken();
    }
    (void)parser.TextSinceMark();
    if (parser.TokenStart() == start && !parser.AtEnd()) parser.NextToken();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const uint8_t mode = data[0];
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  const TPermissions permissions = (mode >> 1) & 31u;
  const int entry = (mode >> 6) & 3;

  TFuzzOwner owner;
  TExpressionParser parser(&owner);
  if (mode & 1) parser.SetFilterOwner("fuzz");
  parser.SetText(text);
  try {
    Run(parser, entry, permissions);
  } catch (const EEngineError& e) {
    const int32_t expected = (mode & 1) ? err::kFilterError : err::kSqlError;
    if (e.ErrorCode() != expected) std::abort();
    if (e.ExtraText().empty() || e.ExtraText().size() > 255) std::abort();
  }
  for (const auto& t : owner.trees)
    CheckTree(t.get());
  return 0;
}
