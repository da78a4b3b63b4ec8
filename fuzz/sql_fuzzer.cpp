// libFuzzer target: whole SQL texts through the statement parser, statement after statement.
//
// Each statement that parses is checked against what the parser promises execution: a known
// kind and a printed form; source tables numbered 1, 2, ... with correlation names unique
// without regard to case; joins between tables of their own query whose conditions are part of
// the WHERE tree; sub-select nodes pointing at sub-queries of the same statement; union
// members linked to the first query of their chain; computed select items with their text;
// every parameter node listed once. The same text parsed again must print the same (unless it
// reads the clock through CURRENT_DATE, CURRENT_TIME or CURRENT_TIMESTAMP). Faults must arrive as
// engine error 11949 with a message of 1 to 255 bytes; anything else escaping, a crash, a sanitizer
// report or a leak ends the run.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "engine/common/engineerror.h"
#include "engine/common/localetext.h"
#include "engine/sql/querystatement.h"
#include "engine/sql/sqlprint.h"

namespace {

using namespace mt;

void Require(bool condition) {
  if (!condition) std::abort();
}

// The nodes of a tree, parents before children, left to right; without recursion.
void CollectNodes(const TExpToken* root, std::vector<const TExpToken*>& out) {
  if (!root) return;
  std::vector<const TExpToken*> pending{root};
  while (!pending.empty()) {
    const TExpToken* n = pending.back();
    pending.pop_back();
    Require(n->height <= TExpressionParser::kMaxTreeHeight);
    out.push_back(n);
    for (auto it = n->arguments.rbegin(); it != n->arguments.rend(); ++it)
      pending.push_back(it->get());
    if (n->right) pending.push_back(n->right.get());
    if (n->left) pending.push_back(n->left.get());
  }
}

void CheckQuery(const TQueryStatement& s, const TDataQuery& q, const std::set<const void*>& owned,
                std::set<const TExpToken*>& parameters) {
  Require(q.statement == &s);
  Require(q.kind != TStatementKind::Unknown);

  std::set<std::string> correlations;
  for (std::size_t i = 0; i < q.sourceTables.size(); ++i) {
    const TSourceTable& t = *q.sourceTables[i];
    Require(t.position == static_cast<int>(i + 1));
    // A correlation name may be empty: an alias such as 'x/' keeps no file name part.
    Require(t.table.Path() == t.table.directory + t.table.fileName);
    std::string key = t.correlationName;
    UpperCaseGbk(key);
    Require(correlations.insert(key).second);
  }

  std::vector<const TExpToken*> whereNodes;
  CollectNodes(q.where.get(), whereNodes);
  const std::set<const TExpToken*> inWhere(whereNodes.begin(), whereNodes.end());
  for (const TTableJoin& j : q.joins) {
    bool left = false;
    bool right = false;
    for (const auto& t : q.sourceTables) {
      left = left || t.get() == j.left;
      right = right || t.get() == j.right;
    }
    Require(left && right && j.left != j.right);
    Require(inWhere.count(j.condition) == 1);
  }
  Require(q.joins.empty() || q.severalTables);

  std::vector<const TExpToken*> nodes = whereNodes;
  CollectNodes(q.having.get(), nodes);
  for (const TResultField& f : q.resultFields) {
    CollectNodes(f.expression.get(), nodes);
    Require(!f.computed || !f.sourceText.empty());
    Require(f.automaticName == f.alias.empty());
  }
  for (const TUpdateValue& v : q.updateValues)
    CollectNodes(v.expression.get(), nodes);
  if (q.kind == TStatementKind::Update) Require(q.updateFields.size() == q.updateValues.size());

  for (const TExpToken* n : nodes) {
    if (n->isParameter) Require(parameters.insert(n).second);
    if (n->kind == TNodeKind::SubSelect) {
      Require(owned.count(n->subQuery) == 1);
      Require(static_cast<const TDataQuery*>(n->subQuery)->isSubQuery);
    }
  }
  if (q.nextUnion != nullptr) {
    Require(owned.count(q.nextUnion) == 1 && q.nextUnion->inUnion && !q.nextUnion->hasOrderBy);
    Require(q.nextUnion->unionOwner == (q.inUnion ? q.unionOwner : &q));
  }
  for (const TAlterAction& a : q.alterActions)
    Require(a.field != nullptr || a.index != nullptr || a.kind == TAlterKind::DropColumn ||
            a.kind == TAlterKind::DropPrimaryKey);
}

// The printed forms of every statement of the text, checking each; a fault ends the list.
std::vector<std::string> ParseAll(std::string_view text) {
  std::vector<std::string> printed;
  TQueryStatement s;
  try {
    s.Prepare(text);
    do {
      Require(s.Master() != nullptr && s.Queries().front().get() == s.Master());
      std::set<const void*> owned;
      for (const auto& q : s.Queries()) {
        owned.insert(q.get());
        owned.insert(static_cast<const TExpSubQuery*>(q.get()));
      }
      std::set<const TExpToken*> parameters;
      for (const auto& q : s.Queries())
        CheckQuery(s, *q, owned, parameters);
      Require(parameters.size() == s.ParameterCount());
      for (const TExpToken* p : s.Parameters())
        Require(parameters.count(p) == 1 && (p->text == "?" || p->text.starts_with(':')));
      printed.push_back(StatementToText(s));
      Require(!printed.back().empty());
    } while (s.ParseNextStatement());
  } catch (const EEngineError& e) {
    Require(e.ErrorCode() == err::kSqlError);
    Require(!e.ExtraText().empty() && e.ExtraText().size() <= 255);
    printed.push_back(e.what());
  }
  return printed;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::vector<std::string> first = ParseAll(text);
  std::string upper(text);
  UpperCaseGbk(upper);
  if (upper.find("CURRENT_") == std::string::npos) Require(ParseAll(text) == first);
  return 0;
}
