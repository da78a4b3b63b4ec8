// Helpers shared by the storage tests: a scratch directory, field definitions, engine-error
// expectations and filter texts checked against a table's fields.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>

#include "engine/common/engineerror.h"
#include "engine/common/expeval.h"
#include "engine/common/expparser.h"
#include "engine/storage/fieldtypes.h"
#include "engine/storage/indexlayout.h"
#include "engine/storage/tablelayout.h"

namespace mt::test {

// A new temporary directory (in the system's temporary directory unless another parent is
// given), removed with everything in it when the object goes.
class TScratchDir {
 public:
  explicit TScratchDir(
      const std::string& prefix = "mt-test",
      const std::filesystem::path& parent = std::filesystem::temp_directory_path()) {
    std::string pattern = (parent / (prefix + "-XXXXXX")).string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("no temporary directory");
    path_ = pattern;
  }
  ~TScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TScratchDir(const TScratchDir&) = delete;
  TScratchDir& operator=(const TScratchDir&) = delete;
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

inline TFieldDescriptor Field(std::string name, uint8_t type, uint8_t size = 0,
                              uint8_t subtype = 0) {
  TFieldDescriptor f;
  f.name = std::move(name);
  f.type = type;
  f.size = size;
  f.subtype = subtype;
  return f;
}

// The indexes most stress and crash tests use: the primary index on field 1 (the id) and the
// secondary index "ByName" on field 2.
inline TIndexDefinitions IdPrimaryAndByName() {
  TIndexDefinitions d;
  d.primary = TIndexDescriptor{};
  d.primary->fields = {1};
  TIndexDescriptor byName;
  byName.name = "ByName";
  byName.fields = {2};
  d.secondaries = {byName};
  return d;
}

// The engine error code raised by fn, or 0 when it raised none.
inline int32_t ErrorCodeOf(const std::function<void()>& fn) {
  try {
    fn();
  } catch (const EEngineError& e) {
    return e.ErrorCode();
  }
  return 0;
}

// A filter text parsed and type-checked against a table's fields as a cursor does it; as a
// condition unless told otherwise.
inline TExpTokenPtr CheckedFilter(const std::string& text, TExpressionResolver& resolver,
                                  bool condition = true) {
  TExpressionParser parser;
  parser.SetFilterOwner("t");
  parser.SetText(text);
  parser.NextToken();
  TExpTokenPtr tree = parser.ParseWholeExpression(perm::kPredicates);
  TTypeCheckOptions options;
  options.errorCode = err::kFilterError;
  options.context = std::string(parsecontext::kFilter);
  options.condition = condition;
  options.bareBooleanColumns = condition;
  TypeCheck(tree, options, resolver);
  return tree;
}

}  // namespace mt::test
