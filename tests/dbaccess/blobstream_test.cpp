// Blob streams over the diary's memo column: text through the field, streams for reading and
// writing with their positions, values held until the post or dropped by the cancel, read
// streams that outlive a move, and a value another dataset rewrote.
#include <gtest/gtest.h>

#include "dbaccess/blobstream.h"
#include "dbtest.h"
#include "engine/common/gbk.h"

namespace mt {
namespace {

using test::ErrorCodeOf;
using test::MessageOf;

class BlobStreamTest : public test::TMintoraFixture {
 protected:
  std::unique_ptr<TEngineTable> Diary(
      const std::vector<std::pair<std::string, std::string>>& notes) {
    auto t = Table("diary");
    t->Open();
    for (const auto& [date, text] : notes) {
      t->Append();
      t->FieldByName("date").SetAsString(date);
      t->FieldByName("contents").SetAsString(text);
      t->FieldByName("user").SetAsString("admin");
      t->Post();
    }
    t->First();
    return t;
  }
};

TEST_F(BlobStreamTest, MemoTextThroughTheField) {
  const std::string note = Utf8ToGbk("今天买了书。") + std::string(3000, 'x');
  auto t = Diary({});
  t->Append();
  t->FieldByName("date").SetAsString("2004-01-05");
  TField& contents = t->FieldByName("contents");
  contents.SetAsString(note);
  // The written value reads back before the post.
  EXPECT_EQ(contents.AsString(), note);
  EXPECT_FALSE(contents.IsNull());
  t->Post();
  EXPECT_EQ(contents.AsString(), note);
  t->Close();
  t->Open();
  EXPECT_EQ(t->FieldByName("contents").AsString(), note);
  // Emptied, the value is null.
  t->Edit();
  t->FieldByName("contents").Clear();
  EXPECT_TRUE(t->FieldByName("contents").IsNull());
  t->Post();
  EXPECT_TRUE(t->FieldByName("contents").IsNull());
  EXPECT_EQ(t->FieldByName("contents").AsString(), "");
}

TEST_F(BlobStreamTest, StreamsReadAndWriteAtTheirPosition) {
  auto t = Diary({{"2004-01-05", "first"}, {"2004-01-06", "second"}});
  TField& contents = t->FieldByName("contents");
  {
    TEngineBlobStream in(contents, TBlobStreamMode::Read);
    EXPECT_EQ(in.Size(), 5u);
    char buffer[16] = {};
    EXPECT_EQ(in.Read(buffer, 3), 3u);
    EXPECT_EQ(std::string(buffer, 3), "fir");
    EXPECT_EQ(in.Read(buffer, 16), 2u);
    EXPECT_EQ(in.Read(buffer, 16), 0u);  // at the end
    EXPECT_EQ(in.Seek(100, TSeekOrigin::Begin), 100u);
    EXPECT_EQ(in.Read(buffer, 16), 0u);  // beyond the end
    EXPECT_EQ(in.Seek(-2, TSeekOrigin::End), 3u);
    EXPECT_EQ(in.ReadAll(), "st");
    EXPECT_EQ(MessageOf([&] { in.Write("x", 1); }).find("Engine Error # 10030"), 0u);
  }
  EXPECT_EQ(MessageOf([&] { TEngineBlobStream(contents, TBlobStreamMode::Write); }),
            "Table is not in edit or insert mode.");

  t->Edit();
  {
    // Writing only starts from an empty value; reading and writing keeps it.
    TEngineBlobStream out(contents, TBlobStreamMode::Write);
    EXPECT_EQ(out.Size(), 0u);
    out.Write("abc", 3);
  }
  {
    TEngineBlobStream more(contents, TBlobStreamMode::ReadWrite);
    more.Seek(0, TSeekOrigin::End);
    more.Write("def", 3);
    more.Seek(1, TSeekOrigin::Begin);
    more.Truncate();
  }
  EXPECT_EQ(contents.AsString(), "a");
  EXPECT_TRUE(t->Modified());
  // Cancel drops the written value.
  t->Cancel();
  EXPECT_EQ(contents.AsString(), "first");

  t->Edit();
  {
    TEngineBlobStream out(contents, TBlobStreamMode::Write);
    out.Write("rewritten", 9);
  }
  t->Post();
  EXPECT_EQ(contents.AsString(), "rewritten");
  t->Next();
  EXPECT_EQ(t->FieldByName("contents").AsString(), "second");
}

TEST_F(BlobStreamTest, AReadStreamKeepsItsRowAndEndsWithItsDataSet) {
  auto t = Diary({{"2004-01-05", "first"}, {"2004-01-06", "second"}});
  auto in = std::make_unique<TEngineBlobStream>(t->FieldByName("contents"), TBlobStreamMode::Read);
  t->Next();
  EXPECT_EQ(in->ReadAll(), "first");
  in.reset();
  in = std::make_unique<TEngineBlobStream>(t->FieldByName("contents"), TBlobStreamMode::Read);
  t->Close();
  try {
    in->ReadAll();
    FAIL() << "a stream of a closed dataset read";
  } catch (const EEngineError& e) {
    EXPECT_EQ(e.ErrorCode(), err::kInvalidBlobHandle);
    EXPECT_EQ(e.FieldName(), "contents");
  }
}

TEST_F(BlobStreamTest, AValueRewrittenSinceTheRowWasReadIsReadAfterARefresh) {
  auto mine = Diary({{"2004-01-05", "old text"}});
  auto theirs = Table("diary");
  theirs->Open();
  theirs->Edit();
  theirs->FieldByName("contents").SetAsString("their text");
  theirs->Post();
  // The dataset still holds the row as it read it; opening the value finds it changed, reads
  // the row again and opens the new value.
  EXPECT_EQ(mine->FieldByName("contents").AsString(), "their text");
  EXPECT_EQ(mine->State(), TDataSetState::Browse);
}

}  // namespace
}  // namespace mt
