// Record images: the encoding of every field type, the string rules (cut, blanks, case,
// empty as null, GBK), defaults with the CURRENT_ keywords, and the required, minimum and
// maximum checks.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "engine/common/gbk.h"
#include "engine/common/literals.h"
#include "engine/storage/byteio.h"
#include "engine/storage/record.h"
#include "engine/storage/tabledef.h"
#include "storagetest.h"

namespace mt {
namespace {

using test::ErrorCodeOf;
using test::Field;

TRecordFormat MakeFormat(std::vector<TFieldDescriptor> fields, uint16_t languageId = 0) {
  TTableCreateParams p;
  p.fields = std::move(fields);
  p.languageId = languageId;
  const int size = PrepareTableCreation(p, "t");
  return TRecordFormat(p.fields, size, languageId, "t");
}

// Field numbers of AllTypes().
enum : int {
  kStr = 1,
  kDate,
  kBlob,
  kMemo,
  kBool,
  kSmall,
  kInt,
  kAuto,
  kFloat,
  kMoney,
  kBcd,
  kBytes,
  kTime,
  kStamp,
  kWord,
  kUInt,
  kExt,
  kVarBytes,
  kLarge
};

std::vector<TFieldDescriptor> AllTypes() {
  std::vector<TFieldDescriptor> f = {
      Field("s", ftype::kString, 20),
      Field("d", ftype::kDate),
      Field("b", ftype::kBlob, 0, fsubtype::kBinary),
      Field("m", ftype::kBlob, 0, fsubtype::kMemo),
      Field("bo", ftype::kBoolean),
      Field("si", ftype::kSmallInt),
      Field("i", ftype::kInteger),
      Field("ai", ftype::kInteger, 0, fsubtype::kAutoInc),
      Field("f", ftype::kFloat),
      Field("mo", ftype::kFloat, 0, fsubtype::kMoney),
      Field("bcd", ftype::kBcd),
      Field("by", ftype::kBytes, 6),
      Field("t", ftype::kTime),
      Field("ts", ftype::kTimestamp),
      Field("w", ftype::kWord),
      Field("u", ftype::kUInt32),
      Field("x", ftype::kExtended),
      Field("vb", ftype::kVarBytes, 5),
      Field("l", ftype::kLargeInt),
  };
  f[kBcd - 1].scale = 2;
  return f;
}

TEST(RecordFormatTest, OffsetsAndRecordSizeFollowTheFieldOrder) {
  const TRecordFormat fmt = MakeFormat(AllTypes());
  // 9 + (21 + 4 + 8 + 8 + 2 + 2 + 4 + 8 + 8 + 34 + 6 + 4 + 8 + 2 + 4 + 10 + 5 + 8) + 18 flags
  EXPECT_EQ(fmt.RecordSize(), 9 + 146 + 18);
  EXPECT_EQ(fmt.Field(kStr).offset, 9);
  EXPECT_EQ(fmt.Field(kDate).offset, 31);
  EXPECT_EQ(fmt.Field(kAuto).offset, 5);
  EXPECT_EQ(fmt.Field(kAuto).physicalSize, 0);
  EXPECT_EQ(fmt.Field(kFloat).offset, fmt.Field(kInt).offset + 5);
  EXPECT_EQ(fmt.Field(kBcd).physicalSize, 34);
  EXPECT_EQ(fmt.Field(kBcd).physicalScale, 2);
  EXPECT_EQ(fmt.FindField("TS"), kStamp);
  EXPECT_EQ(fmt.FindField("nope"), 0);
  EXPECT_EQ(ErrorCodeOf([&] { fmt.Field(20); }), err::kInvalidField);
}

TEST(RecordFormatTest, EveryTypeEncodesAndDecodes) {
  const TRecordFormat fmt = MakeFormat(AllTypes());
  std::vector<uint8_t> img(fmt.RecordSize());
  fmt.InitRecord(img.data());
  for (int no = 1; no <= fmt.FieldCount(); ++no) {
    if (no != kAuto) {
      EXPECT_TRUE(fmt.GetField(no, img.data(), nullptr)) << no;
    }
  }

  const std::string gbk = Utf8ToGbk("收入abc");
  TBcd bcd{};
  ASSERT_TRUE(TextToBcd("-12345.67", 2, bcd));
  const double stamp = 693594.0 * 86400000.0;
  fmt.SetString(kStr, img.data(), gbk);
  fmt.SetInteger(kDate, img.data(), kMaxDay);
  fmt.SetBlobRef(kBlob, img.data(), 17);
  fmt.SetBoolean(kBool, img.data(), true);
  fmt.SetInteger(kSmall, img.data(), -32768);
  fmt.SetInteger(kInt, img.data(), std::numeric_limits<int32_t>::min());
  fmt.SetInteger(kAuto, img.data(), 99);
  fmt.SetFloat(kFloat, img.data(), -0.0);
  fmt.SetFloat(kMoney, img.data(), -1234.5);
  fmt.SetBcd(kBcd, img.data(), bcd);
  fmt.SetBytes(kBytes, img.data(), std::vector<uint8_t>{0, 1, 2, 0xFF, 0, 0});
  fmt.SetInteger(kTime, img.data(), kMsPerDay - 1);
  fmt.SetFloat(kStamp, img.data(), stamp);
  fmt.SetInteger(kWord, img.data(), 65535);
  fmt.SetInteger(kUInt, img.data(), 4294967295LL);
  fmt.SetFloat(kExt, img.data(), -2.5e300);
  fmt.SetBytes(kVarBytes, img.data(), std::vector<uint8_t>{9, 8});
  fmt.SetInteger(kLarge, img.data(), std::numeric_limits<int64_t>::min());

  EXPECT_EQ(fmt.GetString(kStr, img.data()), gbk);
  EXPECT_EQ(fmt.GetInteger(kDate, img.data()), kMaxDay);
  EXPECT_EQ(fmt.GetBlobRef(kBlob, img.data())->first, 17);
  EXPECT_FALSE(fmt.GetBlobRef(kMemo, img.data()).has_value());
  EXPECT_EQ(fmt.GetBoolean(kBool, img.data()), true);
  EXPECT_EQ(fmt.GetInteger(kSmall, img.data()), -32768);
  EXPECT_EQ(fmt.GetInteger(kInt, img.data()), std::numeric_limits<int32_t>::min());
  EXPECT_EQ(fmt.GetInteger(kAuto, img.data()), 99);
  EXPECT_EQ(le::GetI32(img.data(), rec::kAutoInc), 99);
  EXPECT_TRUE(std::signbit(*fmt.GetFloat(kFloat, img.data())));
  EXPECT_EQ(fmt.GetFloat(kMoney, img.data()), -1234.5);
  EXPECT_EQ(BcdToText(*fmt.GetBcd(kBcd, img.data())), "-12345.67");
  EXPECT_EQ(fmt.GetBytes(kBytes, img.data()), (std::vector<uint8_t>{0, 1, 2, 0xFF, 0, 0}));
  EXPECT_EQ(fmt.GetInteger(kTime, img.data()), kMsPerDay - 1);
  EXPECT_EQ(fmt.GetFloat(kStamp, img.data()), stamp);
  EXPECT_EQ(fmt.GetInteger(kWord, img.data()), 65535);
  EXPECT_EQ(fmt.GetInteger(kUInt, img.data()), 4294967295LL);
  EXPECT_EQ(fmt.GetFloat(kExt, img.data()), -2.5e300);
  EXPECT_EQ(fmt.GetBytes(kVarBytes, img.data()), (std::vector<uint8_t>{9, 8, 0, 0, 0}));
  EXPECT_EQ(fmt.GetInteger(kLarge, img.data()), std::numeric_limits<int64_t>::min());

  // The raw encodings: a date is an int32 day number, a timestamp a double of ms.
  EXPECT_EQ(img[fmt.Field(kDate).offset], 1);
  EXPECT_EQ(le::GetI32(img.data(), fmt.Field(kDate).offset + 1), 3652059);
  EXPECT_EQ(le::GetF64(img.data(), fmt.Field(kStamp).offset + 1), 693594.0 * 86400000.0);

  // Null writes zero bytes; auto-increment fields cannot be null.
  fmt.SetNull(kLarge, img.data());
  EXPECT_FALSE(fmt.GetInteger(kLarge, img.data()).has_value());
  for (int i = 0; i <= 8; ++i)
    EXPECT_EQ(img[fmt.Field(kLarge).offset + i], 0);
  fmt.SetNull(kAuto, img.data());
  EXPECT_EQ(fmt.GetInteger(kAuto, img.data()), 99);
  // A blob set to null clears its block number; the stamp half stays for the blob layer.
  le::PutI32(img.data(), fmt.Field(kBlob).offset + 5, 1234);
  fmt.SetNull(kBlob, img.data());
  EXPECT_FALSE(fmt.GetBlobRef(kBlob, img.data()).has_value());
  EXPECT_EQ(le::GetI32(img.data(), fmt.Field(kBlob).offset + 5), 1234);
}

TEST(RecordFormatTest, ValuesThatDoNotFitOrDoNotMatchAreRefused) {
  const TRecordFormat fmt = MakeFormat(AllTypes());
  std::vector<uint8_t> img(fmt.RecordSize());
  const std::vector<std::pair<int, int64_t>> outOfRange = {
      {kSmall, 32768}, {kWord, -1},          {kInt, 2147483648LL}, {kUInt, -1},
      {kDate, 0},      {kDate, kMaxDay + 1}, {kTime, kMsPerDay}};
  for (auto [no, v] : outOfRange) {
    EXPECT_EQ(ErrorCodeOf([&] { fmt.SetInteger(no, img.data(), v); }), err::kInvalidField)
        << no << " " << v;
  }
  EXPECT_EQ(ErrorCodeOf([&] { fmt.SetString(kInt, img.data(), "1"); }), err::kInvalidField);
  EXPECT_EQ(ErrorCodeOf([&] { fmt.SetFloat(kInt, img.data(), 1); }), err::kInvalidField);
  EXPECT_EQ(ErrorCodeOf([&] { fmt.GetString(kInt, img.data()); }), err::kInvalidField);
}

TEST(RecordFormatTest, StringRules) {
  std::vector<TFieldDescriptor> fields = {Field("plain", ftype::kString, 5),
                                          Field("low", ftype::kString, 10),
                                          Field("up", ftype::kString, 10)};
  fields[1].caseMode = kCaseLower;
  fields[2].caseMode = kCaseUpper;
  const TRecordFormat fmt = MakeFormat(fields);
  std::vector<uint8_t> img(fmt.RecordSize());
  const std::string zhong = Utf8ToGbk("中");
  struct Case {
    int field;
    std::string in;
    std::optional<std::string> out;
  };
  const std::vector<Case> cases = {
      {1, "abc  ", "abc"},
      {1, "   ", std::nullopt},
      {1, "", std::nullopt},
      {1, " a", " a"},
      {1, "abcdefg", "abcde"},
      {1, "ab" + zhong + zhong, "ab" + zhong},  // a cut never splits a GBK character
      {1, "abcd" + zhong, "abcd"},
      {1, std::string("ab\0cd", 5), "ab"},
      {1, "abcd     x", "abcd"},  // cut first, then trailing blanks go
      {2, "MiXeD " + zhong + "Q", "mixed " + zhong + "q"},
      {3, "MiXeD " + zhong + "q", "MIXED " + zhong + "Q"},
  };
  for (const Case& c : cases) {
    fmt.SetString(c.field, img.data(), c.in);
    EXPECT_EQ(fmt.GetString(c.field, img.data()), c.out) << c.in;
    const TFieldDescriptor& f = fmt.Field(c.field);
    EXPECT_EQ(img[f.offset], c.out ? 1 : 0) << c.in;
    const std::size_t used = c.out ? c.out->size() : 0;
    for (std::size_t i = used; i < f.physicalSize; ++i) {
      EXPECT_EQ(img[f.offset + 1 + i], 0) << c.in << " byte " << i;
    }
  }
}

TEST(RecordFormatTest, RawBooleansAndBlobReferences) {
  const TRecordFormat fmt = MakeFormat(AllTypes());
  std::vector<uint8_t> img(fmt.RecordSize());
  const uint8_t five[2] = {5, 0};
  fmt.SetField(kBool, img.data(), std::span<const uint8_t>(five));
  EXPECT_EQ(le::GetU16(img.data(), fmt.Field(kBool).offset + 1), 1);
  const uint8_t zero[2] = {0, 0};
  fmt.SetField(kBool, img.data(), std::span<const uint8_t>(zero));
  EXPECT_EQ(fmt.GetBoolean(kBool, img.data()), false);  // false is a value, not null

  fmt.SetBlobRef(kMemo, img.data(), -3);  // an open blob's negated handle counts as a value
  EXPECT_EQ(fmt.GetBlobRef(kMemo, img.data())->first, -3);
  fmt.SetBlobRef(kMemo, img.data(), 0);
  EXPECT_FALSE(fmt.GetBlobRef(kMemo, img.data()).has_value());
  uint8_t value[8] = {};
  EXPECT_EQ(fmt.ValueSize(kMemo), 4);
  fmt.SetBlobRef(kMemo, img.data(), 0x01020304);
  EXPECT_FALSE(fmt.GetField(kMemo, img.data(), value));
  EXPECT_EQ(le::GetI32(value, 0), 0x01020304);
}

TEST(RecordFormatTest, DefaultsIncludingTheCurrentMoment) {
  std::vector<TFieldDescriptor> fields = {
      Field("s", ftype::kString, 8),   Field("d", ftype::kDate),
      Field("d2", ftype::kDate),       Field("t", ftype::kTime),
      Field("t2", ftype::kTime),       Field("ts", ftype::kTimestamp),
      Field("ts2", ftype::kTimestamp), Field("ts3", ftype::kTimestamp),
      Field("ts4", ftype::kTimestamp), Field("b", ftype::kBoolean),
      Field("si", ftype::kSmallInt),   Field("i", ftype::kInteger),
      Field("w", ftype::kWord),        Field("l", ftype::kLargeInt),
      Field("f", ftype::kFloat),       Field("bcd", ftype::kBcd),
      Field("none", ftype::kInteger),
  };
  const char* defaults[] = {"hello world",
                            "current_date",
                            "2004-1-5",
                            "CURRENT_TIME",
                            "13:45:10.5",
                            "CURRENT_TIMESTAMP",
                            "Current_Date",
                            "CURRENT_TIME",
                            "2004-01-05 08:00",
                            "TRUE",
                            "-5",
                            "2147483647",
                            "65535",
                            "-9223372036854775808",
                            "-0.25",
                            "3.14159",
                            ""};
  for (std::size_t i = 0; i < fields.size(); ++i)
    fields[i].defaultText = defaults[i];
  fields[15].scale = 3;
  const TRecordFormat fmt = MakeFormat(fields);
  TLocalMoment now;
  ASSERT_TRUE(EncodeDay(2024, 2, 29, now.day));
  now.timeMs = 12 * 3600000 + 34;
  std::vector<uint8_t> img(fmt.RecordSize(), 0xEE);
  fmt.InitRecord(img.data(), now);

  int32_t d20040105 = 0;
  ASSERT_TRUE(EncodeDay(2004, 1, 5, d20040105));
  EXPECT_EQ(fmt.GetString(1, img.data()), "hello wo");
  EXPECT_EQ(fmt.GetInteger(2, img.data()), now.day);
  EXPECT_EQ(fmt.GetInteger(3, img.data()), d20040105);
  EXPECT_EQ(fmt.GetInteger(4, img.data()), now.timeMs);
  EXPECT_EQ(fmt.GetInteger(5, img.data()), (13 * 3600 + 45 * 60 + 10) * 1000 + 5);
  EXPECT_EQ(fmt.GetFloat(6, img.data()), now.Timestamp());
  EXPECT_EQ(fmt.GetFloat(7, img.data()), now.day * 86400000.0);
  EXPECT_EQ(fmt.GetFloat(8, img.data()), static_cast<double>(now.timeMs));  // on day 0
  EXPECT_EQ(fmt.GetFloat(9, img.data()), d20040105 * 86400000.0 + 8 * 3600000.0);
  EXPECT_EQ(fmt.GetBoolean(10, img.data()), true);
  EXPECT_EQ(fmt.GetInteger(11, img.data()), -5);
  EXPECT_EQ(fmt.GetInteger(12, img.data()), 2147483647);
  EXPECT_EQ(fmt.GetInteger(13, img.data()), 65535);
  EXPECT_EQ(fmt.GetInteger(14, img.data()), std::numeric_limits<int64_t>::min());
  EXPECT_EQ(fmt.GetFloat(15, img.data()), -0.25);
  EXPECT_EQ(BcdToText(*fmt.GetBcd(16, img.data())), "3.142");
  EXPECT_FALSE(fmt.GetInteger(17, img.data()).has_value());
  EXPECT_EQ(img[0], 0);  // the bookkeeping bytes are cleared
  EXPECT_EQ(le::GetI32(img.data(), 5), 0);
}

TEST(RecordFormatTest, RequiredMinimumAndMaximumChecks) {
  std::vector<TFieldDescriptor> fields = {
      Field("name", ftype::kString, 10), Field("qty", ftype::kInteger),
      Field("day", ftype::kDate),        Field("price", ftype::kBcd),
      Field("rate", ftype::kFloat),      Field("id", ftype::kInteger, 0, fsubtype::kAutoInc),
      Field("code", ftype::kString, 5),
  };
  fields[0].required = true;
  fields[1].minText = "-10";
  fields[1].maxText = "10";
  fields[2].maxText = "CURRENT_DATE";
  fields[3].scale = 2;
  fields[3].minText = "0.01";
  fields[4].maxText = "1.5";
  fields[5].required = true;  // auto-increment fields are exempt
  fields[6].minText = "b";
  const TRecordFormat fmt = MakeFormat(fields, 1033);
  TLocalMoment now;
  ASSERT_TRUE(EncodeDay(2024, 6, 1, now.day));

  auto check = [&](const std::function<void(uint8_t*)>& fill) {
    std::vector<uint8_t> img(fmt.RecordSize());
    fmt.InitRecord(img.data(), now);
    fmt.SetString(1, img.data(), "x");
    fill(img.data());
    return ErrorCodeOf([&] { fmt.CheckRecord(img.data(), now); });
  };
  struct Case {
    const char* what;
    std::function<void(uint8_t*)> fill;
    int32_t code;
  };
  TBcd cent{}, zero{};
  ASSERT_TRUE(TextToBcd("0.01", 2, cent));
  ASSERT_TRUE(TextToBcd("0", 2, zero));
  const std::vector<Case> cases = {
      {"all fine, nulls not compared", [](uint8_t*) {}, 0},
      {"required empty string", [&](uint8_t* i) { fmt.SetString(1, i, ""); }, err::kValueRequired},
      {"required blanks", [&](uint8_t* i) { fmt.SetString(1, i, "  "); }, err::kValueRequired},
      {"at minimum", [&](uint8_t* i) { fmt.SetInteger(2, i, -10); }, 0},
      {"below minimum", [&](uint8_t* i) { fmt.SetInteger(2, i, -11); }, err::kBelowMinimum},
      {"above maximum", [&](uint8_t* i) { fmt.SetInteger(2, i, 11); }, err::kAboveMaximum},
      {"today is the maximum", [&](uint8_t* i) { fmt.SetInteger(3, i, now.day); }, 0},
      {"after today", [&](uint8_t* i) { fmt.SetInteger(3, i, now.day + 1); }, err::kAboveMaximum},
      {"bcd at minimum", [&](uint8_t* i) { fmt.SetBcd(4, i, cent); }, 0},
      {"bcd below", [&](uint8_t* i) { fmt.SetBcd(4, i, zero); }, err::kBelowMinimum},
      {"float above", [&](uint8_t* i) { fmt.SetFloat(5, i, 1.5000001); }, err::kAboveMaximum},
      {"negative float", [&](uint8_t* i) { fmt.SetFloat(5, i, -3); }, 0},
      {"string by locale", [&](uint8_t* i) { fmt.SetString(7, i, "B"); }, 0},
      {"string below", [&](uint8_t* i) { fmt.SetString(7, i, "a"); }, err::kBelowMinimum},
  };
  for (const Case& c : cases)
    EXPECT_EQ(check(c.fill), c.code) << c.what;

  // The first failing field in field order decides.
  EXPECT_EQ(check([&](uint8_t* i) {
              fmt.SetString(1, i, "");
              fmt.SetInteger(2, i, 99);
            }),
            err::kValueRequired);
}

TEST(RecordFormatTest, FieldTextsOfEachType) {
  struct Case {
    uint8_t type;
    const char* text;
    bool valid;
  };
  const std::vector<Case> cases = {
      {ftype::kDate, "CURRENT_DATE", true},
      {ftype::kDate, "CURRENT_TIME", false},
      {ftype::kTime, "current_time", true},
      {ftype::kTimestamp, "CURRENT_DATE", true},
      {ftype::kTimestamp, "CURRENT_TIME", true},
      {ftype::kDate, "2004-02-30", false},
      {ftype::kSmallInt, "32768", false},
      {ftype::kWord, "-1", false},
      {ftype::kInteger, "1.5", false},
      {ftype::kBoolean, "true", true},
      {ftype::kBoolean, "1", false},
      {ftype::kFloat, "1,5", false},
      {ftype::kBcd, "1.23456", true},
      {ftype::kBytes, "00", false},
      {ftype::kBlob, "x", false},
      {ftype::kString, "anything", true},
      {ftype::kBytes, "", true},
  };
  for (const Case& c : cases) {
    const TFieldDescriptor f = Field("f", c.type);
    EXPECT_EQ(IsValidFieldText(f, c.text), c.valid) << int(c.type) << " " << c.text;
  }
}

}  // namespace
}  // namespace mt
