// Expressions over real table records: every field type is read from a record image (memo
// text from the blob file, auto-increment values from the record header) and evaluated; a
// record of NULLs gives the NULL results; column names resolve without regard to case and
// with the table's own correlation name only.
#include "engine/storage/recordresolver.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "engine/common/expeval.h"
#include "engine/common/expparser.h"
#include "engine/common/literals.h"
#include "engine/common/numeric.h"
#include "engine/storage/datacursor.h"
#include "engine/storage/datatable.h"
#include "storagetest.h"

namespace mt {
namespace {

namespace fs = std::filesystem;
using test::Field;

class RecordResolverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TTableCreateParams p;
    p.fields = {
        Field("name", ftype::kString, 10),
        Field("day", ftype::kDate),
        Field("memo", ftype::kBlob, 0, fsubtype::kMemo),
        Field("flag", ftype::kBoolean),
        Field("small", ftype::kSmallInt),
        Field("qty", ftype::kInteger),
        Field("seq", ftype::kInteger, 0, fsubtype::kAutoInc),
        Field("amt", ftype::kFloat),
        Field("money", ftype::kFloat, 0, fsubtype::kMoney),
        Field("price", ftype::kBcd),
        Field("at", ftype::kTime),
        Field("stamp", ftype::kTimestamp),
        Field("word", ftype::kWord),
        Field("big", ftype::kLargeInt),
    };
    p.fields[9].scale = 2;
    TDataTable(dir_, "t").Create(p);
    directory_ = std::make_unique<TDataDirectory>(dir_);
    cursor_ = std::make_unique<TDataCursor>(*directory_);
    cursor_->SetTableName("t");
    cursor_->Open();

    const TRecordFormat& f = cursor_->Format();
    std::vector<uint8_t> img(cursor_->RecordSize());
    cursor_->InitRecord(img.data());
    f.SetString(1, img.data(),
                "\xd6\xd0\xce\xc4"
                "abc");
    int32_t day = 0;
    EncodeDay(2004, 4, 23, day);
    f.SetInteger(2, img.data(), day);
    const std::string memo = "lunch \xce\xe7\xb7\xb9";
    const int h = cursor_->OpenBlob(3, img.data(), TBlobOpenMode::ReadWrite);
    cursor_->Blob(h).Write(0, {reinterpret_cast<const uint8_t*>(memo.data()), memo.size()});
    cursor_->CloseBlob(h, true, img.data());
    f.SetBoolean(4, img.data(), true);
    f.SetInteger(5, img.data(), -7);
    f.SetInteger(6, img.data(), 12);
    f.SetFloat(8, img.data(), 2.5);
    f.SetFloat(9, img.data(), 10.25);
    TBcd bcd{};
    ASSERT_TRUE(TextToBcd("123.45", 2, bcd));
    f.SetBcd(10, img.data(), bcd);
    f.SetInteger(11, img.data(), ((13 * 60 + 30) * 60 + 15) * 1000);
    f.SetFloat(12, img.data(), static_cast<double>(day) * kMsPerDay + 12 * 3600000.0);
    f.SetInteger(13, img.data(), 65000);
    f.SetInteger(14, img.data(), 5000000000LL);
    cursor_->InsertRecord(img.data(), false);
    cursor_->InitRecord(img.data());
    cursor_->InsertRecord(img.data(), false);
  }
  void TearDown() override {
    cursor_.reset();
    directory_.reset();
  }

  // The value of an expression for record n, as text ("NULL" for NULL).
  std::string Value(const std::string& text, int32_t n) {
    TRecordResolver resolver(cursor_->Table());
    TExpTokenPtr tree = test::CheckedFilter(text, resolver, false);
    std::vector<uint8_t> img(cursor_->RecordSize());
    cursor_->ChooseBitmapOrder();
    EXPECT_TRUE(cursor_->GoToOrdinal(static_cast<uint32_t>(n)));
    EXPECT_EQ(cursor_->GetCurrentRecord(img.data()), 0);
    resolver.SetImage(img.data());
    TExpTokenPtr v = Evaluate(*tree, resolver, 0);
    return v->isNull ? "NULL" : ValueToText(*v);
  }

  test::TScratchDir scratch_{"mt-resolver"};
  std::string dir_ = scratch_.Path();
  std::unique_ptr<TDataDirectory> directory_;
  std::unique_ptr<TDataCursor> cursor_;
};

TEST_F(RecordResolverTest, EveryFieldTypeIsReadFromTheRecord) {
  struct Case {
    const char* text;
    std::string full;   // the record with values
    std::string empty;  // the record of NULLs
  };
  const Case cases[] = {
      {"name",
       "\xd6\xd0\xce\xc4"
       "abc",
       "NULL"},
      {"UPPER(Name)",
       "\xd6\xd0\xce\xc4"
       "ABC",
       "NULL"},
      {"name + '!'",
       "\xd6\xd0\xce\xc4"
       "abc!",
       "!"},
      {"t.name",
       "\xd6\xd0\xce\xc4"
       "abc",
       "NULL"},
      {"day", "2004-04-23", "NULL"},
      {"day + 1", "2004-04-24", "NULL"},
      {"extract(year from day)", "2004", "NULL"},
      {"memo", "lunch \xce\xe7\xb7\xb9", "NULL"},
      {"memo like '%\xce\xe7%'", "True", "False"},
      {"textsearch('LUNCH' in memo)", "True", "False"},
      {"flag", "True", "NULL"},
      {"small * 2", "-14", "NULL"},
      {"qty / 0", "NULL", "NULL"},
      {"qty is null", "False", "True"},
      {"seq", "1", "2"},
      {"amt + money", "12.75", "NULL"},
      {"price", "123.45", "NULL"},
      {"cast(price as integer)", "123", "NULL"},
      {"at", "13:30:15", "NULL"},
      {"stamp", "2004-04-23 12:00", "NULL"},
      {"word + 1", "65001", "NULL"},
      {"big", "5000000000", "NULL"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Value(c.text, 1), c.full) << c.text;
    EXPECT_EQ(Value(c.text, 2), c.empty) << c.text;
  }
}

TEST_F(RecordResolverTest, ColumnsResolveByNameAndTheTablesOwnCorrelationName) {
  TRecordResolver resolver(cursor_->Table());
  struct Case {
    const char* correlation;
    const char* column;
    bool found;
  };
  const Case cases[] = {
      {"", "QTY", true}, {"T", "qty", true}, {"other", "qty", false}, {"", "nosuch", false}};
  for (const Case& c : cases) {
    TExpTokenPtr node = NewExpToken();
    node->kind = TNodeKind::Column;
    node->correlationName = c.correlation;
    node->columnName = c.column;
    EXPECT_EQ(resolver.ResolveColumn(*node), c.found) << c.correlation << "." << c.column;
    if (c.found) {
      EXPECT_EQ(node->columnNumber, 6);
      EXPECT_EQ(node->type, ftype::kInteger);
    }
  }
  // Without a record nothing can be read.
  TExpTokenPtr node = NewExpToken();
  node->columnName = "qty";
  ASSERT_TRUE(resolver.ResolveColumn(*node));
  TExpTokenPtr into = NewExpToken();
  EXPECT_FALSE(resolver.ReadColumn(*node, *into));
}

}  // namespace
}  // namespace mt
