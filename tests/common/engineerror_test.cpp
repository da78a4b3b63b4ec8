// Engine error messages: code formatting, fill order of the names, the 254-byte cut and the
// unknown-code text.
#include "engine/common/engineerror.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace mt {
namespace {

std::string MessageOf(int32_t code, const TErrorNames& names) {
  try {
    RaiseEngineError(code, names);
  } catch (const EEngineError& e) {
    EXPECT_EQ(e.ErrorCode(), code);
    return e.what();
  }
  return {};
}

TEST(EngineErrorTest, MessagesFillNamesInTheirOrder) {
  struct Case {
    int32_t code;
    TErrorNames names;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {11010, {.table = "/data/szzb"}, "Engine Error # 11010 Table '/data/szzb' does not exist"},
      {9729,
       {.table = "szzb", .index = "byid"},
       "Engine Error # 9729 Duplicate key found in the index 'byid' of the table 'szzb'"},
      {10023,
       {.table = "t", .field = "f", .index = "i"},
       "Engine Error # 10023 Invalid field number 'f' specified in the index 'i' for the table "
       "'t'"},
      {11949, {.table = "ignored", .extra = "boom"}, "Engine Error # 11949 SQL error - boom"},
      {10051,
       {.table = "diary", .extra = "bad"},
       "Engine Error # 10051 Filter error for the table 'diary' - bad"},
      {11288,
       {.server = "srv", .user = "u", .database = "db"},
       "Engine Error # 11288 The user 'u' is not authorized to perform this operation with the "
       "database 'db' on the database server at 'srv'"},
      {11016,
       {.table = "x"},
       "Engine Error # 11016 There is insufficient operating system memory available for the "
       "current operation"},
      {4242, {.table = "x"}, "Engine Error # 4242 An unknown error occurred"},
      // The code is shown as an unsigned 16-bit number.
      {-1, {}, "Engine Error # 65535 An unknown error occurred"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(MessageOf(c.code, c.names), c.expected) << c.code;
}

TEST(EngineErrorTest, OsErrorNumberIsFilledAsDecimalText) {
  try {
    RaiseEngineErrorOs(11047, 117, {.table = "a.dat"});
    ADD_FAILURE() << "no error raised";
  } catch (const EEngineError& e) {
    EXPECT_STREQ(e.what(),
                 "Engine Error # 11047 An unknown operating system error 117 occurred with the "
                 "table 'a.dat'");
    EXPECT_EQ(e.OsError(), 117);
  }
}

TEST(EngineErrorTest, LongTextIsCutTo254BytesBeforeThePrefix) {
  const std::string extra(400, 'x');
  const std::string message = MessageOf(11949, {.extra = extra});
  const std::string prefix = "Engine Error # 11949 ";
  ASSERT_EQ(message.substr(0, prefix.size()), prefix);
  EXPECT_EQ(message.size(), prefix.size() + 254);
  // Context texts themselves are kept to 255 bytes.
  try {
    RaiseEngineError(11949, {.extra = extra});
    ADD_FAILURE() << "no error raised";
  } catch (const EEngineError& e) {
    EXPECT_EQ(e.ExtraText().size(), 255u);
  }
}

TEST(EngineErrorTest, CodeOfAnyException) {
  try {
    RaiseEngineError(8709, {.table = "t"});
    ADD_FAILURE() << "no error raised";
  } catch (const std::exception& e) {
    EXPECT_EQ(ErrorCodeOf(e), 8709);
  }
  EXPECT_EQ(ErrorCodeOf(std::runtime_error("x")), 11047);
  EXPECT_EQ(ErrorCodeOf(EDatabaseError("plain")), 11047);
}

TEST(EngineErrorTest, ConcurrentRaisersKeepTheirOwnTexts) {
  std::vector<std::thread> threads;
  std::atomic<int> mismatches{0};
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([t, &mismatches] {
      const std::string table = "table" + std::to_string(t);
      for (int i = 0; i < 2000; ++i) {
        try {
          RaiseEngineError(11010, {.table = table});
        } catch (const EEngineError& e) {
          if (e.TableName() != table ||
              std::string(e.what()).find("'" + table + "'") == std::string::npos)
            ++mismatches;
        }
      }
    });
  for (auto& th : threads)
    th.join();
  EXPECT_EQ(mismatches.load(), 0);
}

}  // namespace
}  // namespace mt
