// libFuzzer target: cursor filters answered from indexes against the same filters evaluated
// record by record.
//
// Two pairs of tables hold the same rows (tests/storage/filterfixture.h): one table of each pair
// has an index on nearly every field, the other none; one pair has no locale, the other locale
// 1033. The first input byte chooses the options (bit 0 case-insensitive, bit 1 no partial
// compare, bit 2 the locale pair); the rest is the filter text. Both tables of the pair must
// either refuse the text with the same engine error or show the same records; any difference,
// anything but an engine error escaping, a crash or a sanitizer report ends the run.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "engine/common/engineerror.h"
#include "engine/storage/datacursor.h"
#include "tests/storage/filterfixture.h"
#include "tests/storage/storagetest.h"

namespace {

using namespace mt;

constexpr int kRows = 300;

// The tables, made once per process and removed at its end.
struct TFixture {
  test::TScratchDir scratch{"mt-filterfuzz"};
  std::unique_ptr<TDataDirectory> directory;
  std::unique_ptr<TDataCursor> cursors[2][2];  // [locale pair][indexed]

  TFixture() {
    directory = std::make_unique<TDataDirectory>(scratch.Path());
    for (int pair = 0; pair < 2; ++pair) {
      for (int indexed = 0; indexed < 2; ++indexed) {
        const std::string name = "t" + std::to_string(pair) + std::to_string(indexed);
        filterfixture::CreateTable(scratch.Path(), name, indexed == 1, pair == 0 ? 0 : 1033);
        filterfixture::Fill(*directory, name, kRows);
        auto c = std::make_unique<TDataCursor>(*directory);
        c->SetTableName(name);
        c->Open();
        cursors[pair][indexed] = std::move(c);
      }
    }
  }
  ~TFixture() {
    for (auto& pair : cursors)
      for (auto& c : pair)
        c.reset();
    directory.reset();
  }
};

TFixture& Fixture() {
  static TFixture fixture;
  return fixture;
}

// The records a filter shows, or the code of the engine error that refused it.
struct TOutcome {
  int32_t error = 0;
  std::vector<int32_t> ids;
  bool operator==(const TOutcome&) const = default;
};

TOutcome Apply(TDataCursor& c, std::string_view text, TFilterOptions options) {
  TOutcome out;
  try {
    const auto handle = c.AddFilter(text, options);
    try {
      out.ids = filterfixture::VisibleIds(c);
    } catch (...) {
      c.RemoveFilter(handle);  // the next input must find the cursor without filters
      throw;
    }
    c.RemoveFilter(handle);
  } catch (const EEngineError& e) {
    out.error = e.ErrorCode();
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const uint8_t mode = data[0];
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  TFilterOptions options;
  options.caseInsensitive = mode & 1;
  options.noPartialCompare = mode & 2;
  auto& pair = Fixture().cursors[(mode >> 2) & 1];
  const TOutcome viaIndexes = Apply(*pair[1], text, options);
  const TOutcome rowByRow = Apply(*pair[0], text, options);
  if (!(viaIndexes == rowByRow)) std::abort();
  return 0;
}
