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
