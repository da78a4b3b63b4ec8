// Datasets against another process changing the same row (dataset_probe): an edit that loses to
// the other change fails its post with 8708 and stays in edit state; a pessimistic edit holds
// the row against the other process; an edit begun on a row the other process already changed
// fails at once and shows the row as it is now.
#include <gtest/gtest.h>

#include "dbtest.h"

namespace mt {
namespace {

using test::ErrorCodeOf;
using test::RunDataSetProbe;

class DataSetProcessTest : public test::TMintoraFixture {
 protected:
  void SetUp() override {
    TMintoraFixture::SetUp();
    Ledger(
        {{1, "2004-01-05", "salary", "5000", "", "1"}, {2, "2004-01-05", "lunch", "", "12.5", "2"}})
        ->Close();
  }
  std::string ProbeSets(const std::string& memo, const std::vector<std::string>& extra = {}) {
    std::vector<std::string> args = {Dir(), "szzb", "id", "2", "memo", memo};
    args.insert(args.end(), extra.begin(), extra.end());
    return RunDataSetProbe(args);
  }
};

TEST_F(DataSetProcessTest, AnOptimisticEditThatLosesFailsWith8708AndStaysInEditState) {
  TEngineSession session;
  session.SetSessionName("optimistic");
  session.SetLockProtocol(TLockProtocol::Optimistic);
  auto t = Table("szzb");
  t->SetSessionName("optimistic");
  t->Open();
  ASSERT_TRUE(t->Locate("id", 2));
  t->Edit();
  t->FieldByName("memo").SetAsString("mine");
  EXPECT_EQ(ProbeSets("theirs"), "ok");
  EXPECT_EQ(ErrorCodeOf([&] { t->Post(); }), err::kRecordChanged);
  EXPECT_EQ(t->State(), TDataSetState::Edit);
  EXPECT_EQ(t->FieldByName("memo").AsString(), "mine");
  // Posting again cannot win either; cancelling shows the other process's row.
  EXPECT_EQ(ErrorCodeOf([&] { t->Post(); }), err::kRecordChanged);
  t->Cancel();
  EXPECT_EQ(t->FieldByName("memo").AsString(), "theirs");
  t->Edit();
  t->FieldByName("memo").SetAsString("mine after all");
  t->Post();
  t->Close();
  t->Open();
  ASSERT_TRUE(t->Locate("id", 2));
  EXPECT_EQ(t->FieldByName("memo").AsString(), "mine after all");
}

TEST_F(DataSetProcessTest, APessimisticEditHoldsTheRowAgainstAnotherProcess) {
  auto t = Table("szzb");
  t->Open();
  ASSERT_TRUE(t->Locate("id", 2));
  t->Edit();
  t->FieldByName("memo").SetAsString("mine");
  EXPECT_EQ(ProbeSets("theirs", {"--retries", "2"}), "err 10258");
  t->Post();
  EXPECT_EQ(t->FieldByName("memo").AsString(), "mine");
  // Once posted, the row is free again.
  EXPECT_EQ(ProbeSets("theirs"), "ok");
}

TEST_F(DataSetProcessTest, AnEditOfARowAnotherProcessChangedFailsAndShowsTheRowAsItIs) {
  auto t = Table("szzb");
  t->Open();
  ASSERT_TRUE(t->Locate("id", 2));
  EXPECT_EQ(ProbeSets("theirs"), "ok");
  EXPECT_EQ(t->FieldByName("memo").AsString(), "");
  EXPECT_EQ(ErrorCodeOf([&] { t->Edit(); }), err::kRecordChanged);
  EXPECT_EQ(t->State(), TDataSetState::Browse);
  EXPECT_EQ(t->FieldByName("memo").AsString(), "theirs");
  t->Edit();
  t->FieldByName("memo").SetAsString("mine");
  t->Post();
  EXPECT_EQ(ProbeSets("again"), "ok");
  t->Refresh();
  EXPECT_EQ(t->FieldByName("memo").AsString(), "again");
}

}  // namespace
}  // namespace mt
