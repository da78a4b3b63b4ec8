// On-disk layouts of the data and index file headers, the scrambler, table file names and
// the table locale list.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <vector>

#include "engine/common/localetext.h"
#include "engine/storage/byteio.h"
#include "engine/storage/indexlayout.h"
#include "engine/storage/locales.h"
#include "engine/storage/scrambler.h"
#include "engine/storage/tablelayout.h"
#include "engine/storage/tablenames.h"

namespace mt {
namespace {

TEST(DataFileLayoutTest, HeaderFieldsSitAtTheirOffsets) {
  TDataFileHeader h;
  h.changeCounter = 0x01020304;
  h.blobBlockSize = 1024;
  h.deletedHead = 7;
  h.nextRecord = 42;
  h.lastAutoInc = 2147483647;
  h.recordSize = 0xABCD;
  h.fieldCount = 1024;
  h.blobFieldCount = 3;
  h.lastWrite = 45000.5;
  h.description = "ledger";
  h.encrypted = 1;
  h.password = "secret";
  h.languageId = 1033;
  h.sortOrderId = 1;
  h.userMajor = 2;
  h.userMinor = 9;
  h.lastBlobStamp = -5;
  h.engineVersion = kEngineVersion;
  h.unused = {1, 2, 3};

  uint8_t buf[dfh::kSize];
  EncodeDataFileHeader(h, buf);
  EXPECT_EQ(le::GetI32(buf, 0), 0x01020304);
  EXPECT_EQ(le::GetI32(buf, 4), 1024);
  EXPECT_EQ(buf[8], 5);
  EXPECT_EQ(le::GetI32(buf, 9), 7);
  EXPECT_EQ(le::GetI32(buf, 13), 42);
  EXPECT_EQ(le::GetI32(buf, 17), 2147483647);
  EXPECT_EQ(le::GetU16(buf, 21), 0xABCD);
  EXPECT_EQ(le::GetU16(buf, 23), 1024);
  EXPECT_EQ(le::GetU16(buf, 25), 3);
  EXPECT_EQ(le::GetF64(buf, 27), 45000.5);
  EXPECT_EQ(buf[35], 6);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf + 36), 6), "ledger");
  EXPECT_EQ(buf[86], 1);
  EXPECT_EQ(buf[87], 6);
  EXPECT_EQ(le::GetU16(buf, 103), 1033);
  EXPECT_EQ(le::GetU16(buf, 105), 1);
  EXPECT_EQ(le::GetU16(buf, 107), 2);
  EXPECT_EQ(le::GetU16(buf, 109), 9);
  EXPECT_EQ(le::GetI32(buf, 112), -5);
  EXPECT_EQ(le::GetI64(buf, 116), 32400);
  EXPECT_EQ(buf[124], 1);
  EXPECT_EQ(buf[126], 3);

  const TDataFileHeader back = DecodeDataFileHeader(buf);
  EXPECT_EQ(back.changeCounter, h.changeCounter);
  EXPECT_EQ(back.recordSize, h.recordSize);
  EXPECT_EQ(back.description, h.description);
  EXPECT_EQ(back.password, h.password);
  EXPECT_EQ(back.lastWrite, h.lastWrite);
  EXPECT_EQ(back.engineVersion, h.engineVersion);
  EXPECT_EQ(back.unused, h.unused);
  EXPECT_EQ(back.EffectiveBlobBlockSize(), 1024);
  h.blobBlockSize = 0;
  EXPECT_EQ(h.EffectiveBlobBlockSize(), 512);
}

// The whole 127 bytes of a header, written out by hand from the layout: little-endian
// integers, a double, length-prefixed texts in fixed fields.
TEST(DataFileLayoutTest, HeaderBytesWrittenOutByHand) {
  TDataFileHeader h;
  h.changeCounter = 0x01020304;
  h.blobBlockSize = 512;
  h.deletedHead = 7;
  h.nextRecord = 42;
  h.lastAutoInc = -2;
  h.recordSize = 0x1234;
  h.fieldCount = 3;
  h.blobFieldCount = 1;
  h.lastWrite = 2.0;
  h.description = "ab";
  h.encrypted = 1;
  h.password = "pw";
  h.languageId = 1033;
  h.userMajor = 2;
  h.userMinor = 9;
  h.pending = 1;
  h.lastBlobStamp = 256;
  h.engineVersion = 32400;
  h.unused = {0, 0, 0xEE};

  std::vector<uint8_t> expected(127, 0);
  auto put = [&](std::size_t at, std::initializer_list<uint8_t> bytes) {
    std::copy(bytes.begin(), bytes.end(), expected.begin() + static_cast<std::ptrdiff_t>(at));
  };
  put(0, {0x04, 0x03, 0x02, 0x01});          // change counter
  put(4, {0x00, 0x02, 0x00, 0x00});          // blob block size 512
  put(8, {0x05});                            // format version
  put(9, {0x07, 0x00, 0x00, 0x00});          // deleted head
  put(13, {0x2A, 0x00, 0x00, 0x00});         // next record 42
  put(17, {0xFE, 0xFF, 0xFF, 0xFF});         // last auto-increment value -2
  put(21, {0x34, 0x12});                     // record size
  put(23, {0x03, 0x00});                     // fields
  put(25, {0x01, 0x00});                     // blob fields
  put(27, {0, 0, 0, 0, 0, 0, 0, 0x40});      // 2.0
  put(35, {0x02, 'a', 'b'});                 // description, 50 characters from 36
  put(86, {0x01});                           // encrypted
  put(87, {0x02, 'p', 'w'});                 // password, 15 characters from 88
  put(103, {0x09, 0x04});                    // language 1033
  put(107, {0x02, 0x00, 0x09, 0x00});        // user version 2.9
  put(111, {0x01});                          // change mark
  put(112, {0x00, 0x01, 0x00, 0x00});        // last blob stamp 256
  put(116, {0x90, 0x7E, 0, 0, 0, 0, 0, 0});  // engine version 32400
  put(126, {0xEE});

  std::vector<uint8_t> encoded(dfh::kSize);
  EncodeDataFileHeader(h, encoded.data());
  EXPECT_EQ(encoded, expected);

  const TDataFileHeader back = DecodeDataFileHeader(expected.data());
  EXPECT_EQ(back.changeCounter, 0x01020304);
  EXPECT_EQ(back.blobBlockSize, 512);
  EXPECT_EQ(back.nextRecord, 42);
  EXPECT_EQ(back.lastAutoInc, -2);
  EXPECT_EQ(back.recordSize, 0x1234);
  EXPECT_EQ(back.lastWrite, 2.0);
  EXPECT_EQ(back.description, "ab");
  EXPECT_EQ(back.password, "pw");
  EXPECT_EQ(back.languageId, 1033);
  EXPECT_EQ(back.pending, 0);  // the mark is not a header value
  EXPECT_EQ(back.lastBlobStamp, 256);
  EXPECT_EQ(back.engineVersion, 32400);
}

TEST(DataFileLayoutTest, DescriptorFieldsSitAtTheirOffsets) {
  TFieldDescriptor d;
  d.number = 3;
  d.name = "amount";
  d.description = "money";
  d.type = 8;
  d.subtype = 0;
  d.size = 0;
  d.scale = 2;
  d.physicalSize = 34;
  d.physicalScale = 2;
  d.offset = 300;
  d.required = true;
  d.caseMode = kCaseUpper;
  d.minText = "-1";
  d.maxText = "100";
  d.defaultText = "7.5";
  d.isVirtual = true;

  uint8_t buf[fdl::kSize];
  EncodeFieldDescriptor(d, buf);
  EXPECT_EQ(le::GetU16(buf, 0), 3);
  EXPECT_EQ(buf[2], 6);
  EXPECT_EQ(buf[33], 5);
  EXPECT_EQ(buf[84], 8);
  EXPECT_EQ(buf[87], 2);
  EXPECT_EQ(buf[88], 34);
  EXPECT_EQ(buf[89], 2);
  EXPECT_EQ(le::GetU16(buf, 90), 300);
  EXPECT_EQ(buf[92], 1);
  EXPECT_EQ(buf[93], 2);
  EXPECT_EQ(buf[94], 2);
  EXPECT_EQ(buf[145], 3);
  EXPECT_EQ(buf[196], 3);
  EXPECT_EQ(buf[247], 1);
  EXPECT_TRUE(std::all_of(buf + 248, buf + 768, [](uint8_t b) { return b == 0; }));

  const TFieldDescriptor back = DecodeFieldDescriptor(buf);
  EXPECT_EQ(back.name, "amount");
  EXPECT_EQ(back.description, "money");
  EXPECT_EQ(back.minText, "-1");
  EXPECT_EQ(back.maxText, "100");
  EXPECT_EQ(back.defaultText, "7.5");
  EXPECT_EQ(back.offset, 300);
  EXPECT_TRUE(back.required);
  EXPECT_TRUE(back.isVirtual);
  EXPECT_FALSE(back.textLengthDamaged);

  buf[2] = 200;  // a name length beyond its field is read cut and flagged
  const TFieldDescriptor damaged = DecodeFieldDescriptor(buf);
  EXPECT_EQ(damaged.name.size(), 30u);
  EXPECT_TRUE(damaged.textLengthDamaged);
}

TEST(IndexFileLayoutTest, HeaderPageOffsetsAndHiddenIndexes) {
  TIndexFileHeader h = EmptyIndexFileHeader();
  h.changeCounter = 9;
  h.nextPage = 12;
  h.activeRecords = 77;
  TIndexDescriptor byName;
  byName.name = "byname";
  byName.keyLength = 30;
  byName.unique = true;
  byName.fields = {2, 1};
  byName.fieldDescending[1] = true;
  byName.rootPage = 4;
  h.slots[1] = byName;
  h.secondaryCount = 1;
  TIndexDescriptor temp = byName;
  temp.name = "temp";
  temp.temporary = true;
  h.slots[2] = temp;
  h.secondaryCount = 2;

  std::vector<uint8_t> page(kIndexPageSize);
  EncodeIndexFileHeader(h, page.data());
  EXPECT_EQ(le::GetI32(page.data(), 0), 9);
  EXPECT_EQ(page[8], 5);
  EXPECT_EQ(le::GetI32(page.data(), 9), 12);
  EXPECT_EQ(page[13], 1);  // the temporary index is not written
  const uint8_t* slot1 = page.data() + 14 + 120;
  EXPECT_EQ(slot1[0], 6);
  EXPECT_EQ(le::GetU16(slot1, 31), 30);
  EXPECT_EQ(slot1[35], 1);
  EXPECT_EQ(slot1[37], 2);
  EXPECT_EQ(slot1[39], 1);
  EXPECT_EQ(le::GetU16(slot1, 54), 2);
  EXPECT_EQ(le::GetU16(slot1, 56), 1);
  EXPECT_EQ(le::GetI32(slot1, 86), 4);
  const uint8_t* slot2 = page.data() + 14 + 240;
  EXPECT_TRUE(std::all_of(slot2, slot2 + 120, [](uint8_t b) { return b == 0; }));
  const uint8_t* deleted = page.data() + 3734;
  EXPECT_EQ(le::GetPString(deleted, 0, 30), "Sys Deleted");
  EXPECT_EQ(le::GetU16(deleted, 31), 5);
  const uint8_t* text = page.data() + 3854;
  EXPECT_EQ(le::GetPString(text, 0, 30), "Sys Text");
  EXPECT_EQ(le::GetU16(text, 31), 68);
  EXPECT_EQ(text[36], 3);
  EXPECT_EQ(le::GetI32(page.data(), 3974), 77);
  EXPECT_EQ(page[3978], 1);

  const TIndexFileHeader back = DecodeIndexFileHeader(page.data());
  EXPECT_EQ(back.slots[1].name, "byname");
  EXPECT_EQ(back.slots[1].fields, (std::vector<uint16_t>{2, 1}));
  EXPECT_TRUE(back.slots[1].fieldDescending[1]);
  EXPECT_EQ(back.slots[kRecordIdSlot].name, "Sys Deleted");
  EXPECT_EQ(back.activeRecords, 77);
  EXPECT_TRUE(back.noPrimary);
}

TEST(ScramblerTest, TwiceGivesTheBufferBackAndOnceChangesEveryByte) {
  std::mt19937 rng(7);
  for (std::size_t length : {0u, 1u, 9u, 255u, 256u, 257u, 4096u, 65536u, 70000u}) {
    std::vector<uint8_t> original(length);
    for (auto& b : original)
      b = static_cast<uint8_t>(rng());
    for (auto [a, b] :
         {std::pair{kBlockScrambleA, kBlockScrambleB}, std::pair{kTextScrambleA, kTextScrambleB}}) {
      std::vector<uint8_t> buf = original;
      Scramble(buf.data(), buf.size(), a, b);
      for (std::size_t i = 0; i < length; ++i)
        ASSERT_NE(buf[i], original[i]) << length << "@" << i;
      Scramble(buf.data(), buf.size(), a, b);
      EXPECT_EQ(buf, original) << length;
    }
  }
  EXPECT_EQ(ScrambleText(ScrambleText("pass word")), "pass word");
}

// Each byte is XORed with two counters that start at the format's constants, the first
// counting up and the second down; the expected bytes are worked out by hand from that.
TEST(ScramblerTest, BytesWorkedOutByHand) {
  // Zero bytes come out as a XOR b: 5A^C3, 5B^C2, 5C^C1, 5D^C0, 5E^BF, 5F^BE, 60^BD, 61^BC.
  std::vector<uint8_t> zeros(300, 0);
  ScrambleBlock(zeros.data(), zeros.size());
  EXPECT_EQ(std::vector<uint8_t>(zeros.begin(), zeros.begin() + 8),
            (std::vector<uint8_t>{0x99, 0x99, 0x9D, 0x9D, 0xE1, 0xE1, 0xDD, 0xDD}));
  EXPECT_EQ(zeros[166], 0x1D);  // a has wrapped to 00, b is C3 - 166 = 1D
  EXPECT_EQ(zeros[196], 0xE1);  // a is 1E, b has wrapped to FF
  EXPECT_EQ(zeros[256], 0x99);  // both counters back at their start
  // Texts: 39^8E = B7 for the first seven bytes, 40^87 = C7 for the eighth.
  EXPECT_EQ(ScrambleText("pw"), "\xC7\xC0");
  EXPECT_EQ(ScrambleText(std::string(8, '\0')), "\xB7\xB7\xB7\xB7\xB7\xB7\xB7\xC7");
}

TEST(TableNamesTest, ExtensionRule) {
  struct Case {
    const char* dir;
    const char* name;
    std::string_view ext;
    const char* expected;
  };
  const std::vector<Case> cases = {
      {"/data", "szzb", kDataExt, "/data/szzb.DAT"},
      {"/data/", "szzb", kIndexExt, "/data/szzb.IDX"},
      {" /data ", " szzb.dat ", kIndexExt, "/data/szzb.IDX"},
      {"/data", "szzb.DaT", kDataExt, "/data/szzb.DAT"},
      {"/data", "szzb.dat.dat", kBlobExt, "/data/szzb.dat.BLB"},
      {"/data", "szzb.idx", kDataExt, "/data/szzb.idx.DAT"},
      {"/data", "/other/place/t", kDataExt, "/other/place/t.DAT"},
      {"", "t", kDataBackupExt, "t.DBK"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TableFileName(c.dir, c.name, c.ext), c.expected) << c.dir << " " << c.name;
  }
  EXPECT_EQ(TableFileName("/d", "szzb.dat", kDataExt), TableFileName("/d", "szzb", kDataExt));
  EXPECT_EQ(BareTableName("/x/y/szzb.DAT"), "szzb");
}

TEST(LocaleListTest, NinetyNineNamesMappedToInstalledLocales) {
  const auto names = TableLocaleNames();
  ASSERT_EQ(names.size(), 99u);
  EXPECT_EQ(names.front().name, "ANSI Standard");
  EXPECT_EQ(names.front().languageId, 0);
  EXPECT_EQ(names.back().name, "Vietnamese");
  std::set<uint16_t> ids;
  std::set<std::string_view> seen;
  for (const TLocaleName& l : names) {
    EXPECT_TRUE(ids.insert(l.languageId).second) << l.name;
    EXPECT_TRUE(seen.insert(l.name).second) << l.name;
    if (l.languageId != 0) {
      EXPECT_TRUE(IsLocaleInstalled(MakeLocaleId(l.languageId, kSortDefault))) << l.name;
    }
  }
  const std::vector<std::pair<const char*, uint16_t>> telling = {
      {"English (USA)", 1033},
      {"german (standard)", 1031},
      {"Portuguese (Standard)", 2070},
      {"PORTUGUESE (BRAZILIAN)", 1046},
      {"Vietnamese", 1066},
      {"ANSI Standard", 0},
  };
  for (const auto& [name, id] : telling) {
    ASSERT_TRUE(LanguageIdOfLocaleName(name).has_value()) << name;
    EXPECT_EQ(*LanguageIdOfLocaleName(name), id) << name;
  }
  EXPECT_FALSE(LanguageIdOfLocaleName("Klingon").has_value());
  EXPECT_EQ(LocaleNameOfLanguageId(2070), "Portuguese (Standard)");
}

TEST(LocaleListTest, SortOrdersAndInstalledLocales) {
  EXPECT_EQ(SortOrderIdOfName(1031, "German Phone Book Order"), kSortGermanPhoneBook);
  EXPECT_EQ(SortOrderIdOfName(3079, "default order"), kSortDefault);
  EXPECT_FALSE(SortOrderIdOfName(1033, "German Phone Book Order").has_value());
  EXPECT_TRUE(IsLocaleInstalled(MakeLocaleId(1031, kSortGermanPhoneBook)));
  EXPECT_FALSE(IsLocaleInstalled(MakeLocaleId(1033, kSortGermanPhoneBook)));
  EXPECT_FALSE(IsLocaleInstalled(MakeLocaleId(1033, 2)));
  EXPECT_FALSE(IsLocaleInstalled(0));
  EXPECT_FALSE(IsLocaleInstalled(9));       // a language without a country
  EXPECT_FALSE(IsLocaleInstalled(0x1234));  // no such language
}

}  // namespace
}  // namespace mt
