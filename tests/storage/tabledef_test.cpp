// Table definitions: the creation checks with their codes and order, the limits, and the
// validation of a data file's header and descriptors.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "engine/storage/record.h"
#include "engine/storage/tabledef.h"
#include "storagetest.h"

namespace mt {
namespace {

using test::ErrorCodeOf;
using test::Field;

TTableCreateParams Basic() {
  TTableCreateParams p;
  p.fields = {Field("id", ftype::kInteger), Field("name", ftype::kString, 20),
              Field("memo", ftype::kBlob, 0, fsubtype::kMemo)};
  TIndexDescriptor primary;
  primary.fields = {1};
  p.indexes.primary = primary;
  TIndexDescriptor byName;
  byName.name = "byname";
  byName.fields = {2};
  p.indexes.secondaries.push_back(byName);
  return p;
}

TEST(TableCreationTest, FaultsAndTheirCodes) {
  struct Case {
    const char* what;
    std::function<void(TTableCreateParams&)> change;
    int32_t code;
  };
  const std::vector<Case> cases = {
      {"valid", [](TTableCreateParams&) {}, 0},
      {"encrypted, blank password",
       [](TTableCreateParams& p) { p.encrypted = true, p.password = "   "; },
       err::kInvalidPassword},
      {"encrypted, 16 characters",
       [](TTableCreateParams& p) { p.encrypted = true, p.password = "0123456789abcdef"; },
       err::kInvalidPassword},
      {"encrypted, 15 characters after trimming",
       [](TTableCreateParams& p) { p.encrypted = true, p.password = " 0123456789abcde "; }, 0},
      {"unknown locale", [](TTableCreateParams& p) { p.languageId = 0x1234; },
       err::kLanguageDriver},
      {"phone book order for English",
       [](TTableCreateParams& p) { p.languageId = 1033, p.sortOrderId = 1; }, err::kLanguageDriver},
      {"1025 fields",
       [](TTableCreateParams& p) {
         p.fields.clear();
         for (int i = 0; i < 1025; ++i)
           p.fields.push_back(Field("f" + std::to_string(i), 6));
         p.indexes = {};
       },
       err::kFieldLimits},
      {"31 secondary indexes",
       [](TTableCreateParams& p) { p.indexes.secondaries.resize(31, p.indexes.secondaries[0]); },
       err::kIndexLimits},
      {"blob block size 63", [](TTableCreateParams& p) { p.blobBlockSize = 63; },
       err::kBlobFieldsOrBlockSize},
      {"empty field name", [](TTableCreateParams& p) { p.fields[1].name = "  "; },
       err::kInvalidFieldName},
      {"digit first", [](TTableCreateParams& p) { p.fields[1].name = "1st"; },
       err::kInvalidFieldName},
      {"names differing in case", [](TTableCreateParams& p) { p.fields[1].name = "ID"; },
       err::kInvalidFieldName},
      {"duplicate after trimming", [](TTableCreateParams& p) { p.fields[1].name = " id "; },
       err::kInvalidFieldName},
      {"number not its position", [](TTableCreateParams& p) { p.fields[1].number = 7; },
       err::kInvalidFieldDef},
      {"type 0", [](TTableCreateParams& p) { p.fields[1].type = 0; }, err::kInvalidFieldDef},
      {"unknown type 16", [](TTableCreateParams& p) { p.fields[1].type = 16; },
       err::kInvalidFieldDef},
      {"string of 251", [](TTableCreateParams& p) { p.fields[1].size = 251; },
       err::kInvalidFieldDef},
      {"string of 0", [](TTableCreateParams& p) { p.fields[1].size = 0; }, err::kInvalidFieldDef},
      {"BCD scale 5",
       [](TTableCreateParams& p) { p.fields[0].type = ftype::kBcd, p.fields[0].scale = 5; },
       err::kInvalidFieldDef},
      {"bad default", [](TTableCreateParams& p) { p.fields[0].defaultText = "x"; },
       err::kInvalidValidityCheck},
      {"bad maximum", [](TTableCreateParams& p) { p.fields[0].maxText = "1.5"; },
       err::kInvalidValidityCheck},
      {"virtual not allowed", [](TTableCreateParams& p) { p.fields[1].isVirtual = true; },
       err::kInvalidFieldDef},
      {"bad secondary name", [](TTableCreateParams& p) { p.indexes.secondaries[0].name = "9x"; },
       err::kInvalidIndexName},
      {"missing secondary name", [](TTableCreateParams& p) { p.indexes.secondaries[0].name = ""; },
       err::kIndexNameMissing},
      {"duplicate secondary name",
       [](TTableCreateParams& p) {
         p.indexes.secondaries.push_back(p.indexes.secondaries[0]);
         p.indexes.secondaries[1].name = "BYNAME";
       },
       err::kIndexExists},
      {"index on field 9", [](TTableCreateParams& p) { p.indexes.primary->fields = {9}; },
       err::kInvalidIndexField},
      {"index on a blob", [](TTableCreateParams& p) { p.indexes.secondaries[0].fields = {3}; },
       err::kInvalidIndexFieldSpec},
      {"secondary without fields",
       [](TTableCreateParams& p) { p.indexes.secondaries[0].fields.clear(); },
       err::kInvalidKeySize},
      {"17 index fields",
       [](TTableCreateParams& p) { p.indexes.secondaries[0].fields.assign(17, 1); },
       err::kIndexLimits},
      {"text index on an integer", [](TTableCreateParams& p) { p.indexes.textFields = {1}; },
       err::kInvalidIndexFieldSpec},
      {"text index on string and memo",
       [](TTableCreateParams& p) {
         p.indexes.textFields = {2, 3};
       },
       0},
      {"129 blob fields",
       [](TTableCreateParams& p) {
         for (int i = 0; i < 128; ++i) {
           p.fields.push_back(Field("b" + std::to_string(i), ftype::kBlob));
         }
       },
       err::kBlobFieldsOrBlockSize},
  };
  for (const Case& c : cases) {
    TTableCreateParams p = Basic();
    c.change(p);
    EXPECT_EQ(ErrorCodeOf([&] { PrepareTableCreation(p, "t"); }), c.code) << c.what;
  }
}

TEST(TableCreationTest, ChecksRunInTheirOrder) {
  TTableCreateParams p = Basic();
  p.encrypted = true;     // 10015 comes first
  p.languageId = 0x1234;  // then the locale
  p.fields[1].type = 0;   // then the fields
  p.indexes.primary->fields = {9};
  EXPECT_EQ(ErrorCodeOf([&] { PrepareTableCreation(p, "t"); }), err::kInvalidPassword);
  p.password = "pw";
  EXPECT_EQ(ErrorCodeOf([&] { PrepareTableCreation(p, "t"); }), err::kLanguageDriver);
  p.languageId = 0;
  EXPECT_EQ(ErrorCodeOf([&] { PrepareTableCreation(p, "t"); }), err::kInvalidFieldDef);
  p.fields[1].type = ftype::kString;
  EXPECT_EQ(ErrorCodeOf([&] { PrepareTableCreation(p, "t"); }), err::kInvalidIndexField);
}

TEST(TableCreationTest, CompletesSizesOffsetsAndKeys) {
  TTableCreateParams p = Basic();
  p.fields[0].size = 9;   // forced to 0
  p.fields[1].scale = 3;  // forced to 0
  p.fields[1].name = "  a_name_that_is_much_longer_than_thirty_chars ";
  p.fields.insert(p.fields.begin() + 1, Field("auto", ftype::kInteger, 0, fsubtype::kAutoInc));
  p.indexes.primary->fields = {1, 3};
  p.indexes.secondaries[0].fields = {3};
  p.indexes.secondaries[0].name = "  byname ";
  const int size = PrepareTableCreation(p, "t");
  EXPECT_EQ(p.fields[0].size, 0);
  EXPECT_EQ(p.fields[2].scale, 0);
  EXPECT_EQ(p.fields[2].name, "a_name_that_is_much_longer_tha");
  EXPECT_EQ(p.fields[0].offset, 9);
  EXPECT_EQ(p.fields[1].offset, 5);
  EXPECT_EQ(p.fields[2].offset, 14);
  EXPECT_EQ(p.fields[3].offset, 36);
  EXPECT_EQ(size, 45);
  EXPECT_EQ(p.indexes.primary->keyLength, 5 + 22);
  EXPECT_TRUE(p.indexes.primary->unique);
  EXPECT_EQ(p.indexes.secondaries[0].name, "byname");
  EXPECT_EQ(p.indexes.secondaries[0].keyLength, 22 + 4);  // non-unique: record identifier

  const TDataFileHeader h = BuildDataFileHeader(p, size);
  EXPECT_EQ(h.recordSize, 45);
  EXPECT_EQ(h.fieldCount, 4);
  EXPECT_EQ(h.blobFieldCount, 1);
  EXPECT_EQ(h.nextRecord, 1);
  EXPECT_EQ(h.version, 5);
  EXPECT_TRUE(h.password.empty());
}

TEST(TableCreationTest, RecordSizeAndKeyLengthLimits) {
  // 261 strings of 250 make 9 + 261 x 252 = 65781 bytes: too large.
  TTableCreateParams p;
  for (int i = 0; i < 261; ++i)
    p.fields.push_back(Field("s" + std::to_string(i), 1, 250));
  EXPECT_EQ(ErrorCodeOf([&] { PrepareTableCreation(p, "t"); }), err::kMaxRecordSize);
  // 259 of them fit (65277 bytes).
  p.fields.resize(259);
  EXPECT_EQ(PrepareTableCreation(p, "t"), 9 + 259 * 252);

  // Key lengths: a string of 250 takes 252 key bytes, an integer 5, the record identifier of
  // a non-unique index 4 more; 522 is the most.
  TIndexDescriptor big;
  big.name = "big";
  big.fields = {1, 2};
  p.fields.push_back(Field("n1", ftype::kInteger));
  p.fields.push_back(Field("n2", ftype::kInteger));
  p.fields.push_back(Field("n3", ftype::kInteger));
  p.fields.push_back(Field("n4", ftype::kInteger));
  p.fields.erase(p.fields.begin() + 200, p.fields.begin() + 259);
  p.indexes.secondaries = {big};
  p.indexes.secondaries[0].unique = true;
  p.indexes.secondaries[0].fields = {1, 2, 201, 202};  // 504 + 10 = 514
  EXPECT_EQ(ErrorCodeOf([&] { PrepareTableCreation(p, "t"); }), 0);
  p.indexes.secondaries[0].fields = {1, 2, 201, 202, 203};  // 519
  EXPECT_EQ(ErrorCodeOf([&] { PrepareTableCreation(p, "t"); }), 0);
  p.indexes.secondaries[0].unique = false;  // 523
  EXPECT_EQ(ErrorCodeOf([&] { PrepareTableCreation(p, "t"); }), err::kInvalidKeySize);
}

// A valid prepared definition and the file length that goes with n records.
struct TValidFile {
  TDataFileHeader header;
  std::vector<TFieldDescriptor> fields;
  int64_t Length(int records) const {
    return RecordsOffset(header.fieldCount) + static_cast<int64_t>(records) * header.recordSize;
  }
};

TValidFile ValidFile(int records) {
  TTableCreateParams p = Basic();
  const int size = PrepareTableCreation(p, "t");
  TValidFile f{BuildDataFileHeader(p, size), p.fields};
  f.header.nextRecord = records + 1;
  return f;
}

TEST(DataFileValidationTest, DamagedHeadersAndDescriptors) {
  struct Case {
    const char* what;
    std::function<void(TValidFile&, int64_t&)> damage;
    int32_t code;
  };
  const std::vector<Case> cases = {
      {"intact", [](TValidFile&, int64_t&) {}, 0},
      {"version 4", [](TValidFile& f, int64_t&) { f.header.version = 4; }, err::kWrongVersion},
      {"1025 fields", [](TValidFile& f, int64_t&) { f.header.fieldCount = 1025; },
       err::kHeaderCorrupt},
      {"locale not installed", [](TValidFile& f, int64_t&) { f.header.languageId = 0x1234; },
       err::kLanguageDriver},
      {"wrong field offset", [](TValidFile& f, int64_t&) { f.fields[1].offset += 1; },
       err::kHeaderCorrupt},
      {"duplicate names", [](TValidFile& f, int64_t&) { f.fields[1].name = "ID "; },
       err::kHeaderCorrupt},
      {"empty name", [](TValidFile& f, int64_t&) { f.fields[1].name.clear(); },
       err::kHeaderCorrupt},
      {"number not position", [](TValidFile& f, int64_t&) { f.fields[1].number = 1; },
       err::kHeaderCorrupt},
      {"type 0", [](TValidFile& f, int64_t&) { f.fields[0].type = 0; }, err::kHeaderCorrupt},
      {"string size 251", [](TValidFile& f, int64_t&) { f.fields[1].size = 251; },
       err::kHeaderCorrupt},
      {"integer with a size", [](TValidFile& f, int64_t&) { f.fields[0].size = 4; },
       err::kHeaderCorrupt},
      {"scale on a string", [](TValidFile& f, int64_t&) { f.fields[1].scale = 1; },
       err::kHeaderCorrupt},
      {"bad default text", [](TValidFile& f, int64_t&) { f.fields[0].defaultText = "abc"; },
       err::kHeaderCorrupt},
      {"damaged name length", [](TValidFile& f, int64_t&) { f.fields[0].textLengthDamaged = true; },
       err::kHeaderCorrupt},
      {"record size", [](TValidFile& f, int64_t&) { f.header.recordSize += 1; },
       err::kHeaderCorrupt},
      {"blob count", [](TValidFile& f, int64_t&) { f.header.blobFieldCount = 0; },
       err::kHeaderCorrupt},
      {"length not whole records", [](TValidFile&, int64_t& len) { len += 1; },
       err::kHeaderCorrupt},
      {"length shorter than next record says",
       [](TValidFile& f, int64_t& len) { len -= f.header.recordSize; }, err::kHeaderCorrupt},
      {"deleted head past the end", [](TValidFile& f, int64_t&) { f.header.deletedHead = 4; },
       err::kHeaderCorrupt},
      {"deleted head at the end", [](TValidFile& f, int64_t&) { f.header.deletedHead = 3; }, 0},
      {"negative deleted head", [](TValidFile& f, int64_t&) { f.header.deletedHead = -1; },
       err::kHeaderCorrupt},
  };
  for (const Case& c : cases) {
    TValidFile f = ValidFile(3);
    int64_t length = f.Length(3);
    c.damage(f, length);
    EXPECT_EQ(ErrorCodeOf([&] { ValidateDataFile(f.header, f.fields, length, "t"); }), c.code)
        << c.what;
  }
  TValidFile empty = ValidFile(0);
  EXPECT_EQ(
      ErrorCodeOf([&] { ValidateDataFile(empty.header, empty.fields, empty.Length(0), "t"); }), 0);
}

}  // namespace
}  // namespace mt
