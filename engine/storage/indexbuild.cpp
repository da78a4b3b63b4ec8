// Filling indexes from the records.
#include "indexbuild.h"

#include <algorithm>
#include <vector>

#include "btree.h"
#include "byteio.h"
#include "engine/common/engineerror.h"
#include "fieldtypes.h"
#include "indexkey.h"
#include "record.h"
#include "textindex.h"

namespace mt {
namespace {

// Record slots per read: 64 KiB of records.
constexpr int kRunBytes = 65536;

// The text of a field for the text index.
std::optional<std::string> FieldText(const TRecordFormat& format, int fieldNo, const uint8_t* image,
                                     const TMemoTextReader& memo) {
  const TFieldDescriptor& f = format.Field(fieldNo);
  if (f.type == ftype::kString) return format.GetString(fieldNo, image);
  if (memo) return memo(fieldNo, image);
  return std::nullopt;
}

// Calls fn(record number, image) for every record slot in file order. The builder's caller
// holds the table (its write lock or an exclusive open), so the slots are read in large runs
// past the record cache without change checks.
template <typename Fn>
void ForEachRecord(TDataFile& data, Fn&& fn) {
  const std::size_t size = static_cast<std::size_t>(data.RecordSize());
  const int32_t run = std::max(1, kRunBytes / static_cast<int>(size));
  std::vector<uint8_t> images(static_cast<std::size_t>(run) * size);
  for (int32_t first = 1;; first += run) {
    const int32_t got = data.ReadSlots(first, run, images.data());
    for (int32_t i = 0; i < got; ++i)
      fn(first + i, images.data() + static_cast<std::size_t>(i) * size);
    if (got < run) break;
  }
}

bool IsActive(const uint8_t* image) {
  return image[rec::kState] == rec::kActive;
}

}  // namespace

void AddRecordText(TIndexFile& index, const TRecordFormat& format, const uint8_t* image,
                   int32_t record, const TMemoTextReader& memo) {
  for (uint16_t fieldNo : index.Header().slots[kTextSlot].fields) {
    const std::optional<std::string> text = FieldText(format, fieldNo, image, memo);
    if (text) index.Text().AddText(record, fieldNo, *text);
  }
}

void RemoveRecordText(TIndexFile& index, const TRecordFormat& format, const uint8_t* image,
                      int32_t record, const TMemoTextReader& memo) {
  for (uint16_t fieldNo : index.Header().slots[kTextSlot].fields) {
    const std::optional<std::string> text = FieldText(format, fieldNo, image, memo);
    if (text) index.Text().RemoveText(record, fieldNo, *text);
  }
}

void RebuildIndexes(TDataFile& data, TIndexFile& index, const TMemoTextReader& memo) {
  index.Empty();
  std::vector<int> slots;
  for (int slot = 0; slot <= kMaxSecondaryIndexes; ++slot) {
    if (index.SlotInUse(slot)) slots.push_back(slot);
  }
  const bool text = !index.Header().slots[kTextSlot].fields.empty();
  TBTree& recordIds = index.Tree(kRecordIdSlot);
  std::vector<uint8_t> key(kMaxKeyLength);
  int32_t active = 0;
  ForEachRecord(data, [&](int32_t n, const uint8_t* image) {
    const bool isActive = IsActive(image);
    BuildRecordIdKey(isActive ? rec::kActive : rec::kDeleted, le::GetI32(image, rec::kAutoInc),
                     key.data());
    recordIds.Insert(key.data(), n);
    if (!isActive) return;
    ++active;
    for (int slot : slots) {
      TBTree& tree = index.Tree(slot);
      tree.KeyDef().Build(image, key.data());
      tree.Insert(key.data(), n);
    }
    if (text) AddRecordText(index, data.Format(), image, n, memo);
  });
  index.MutableHeader().activeRecords = active;
  index.MarkHeaderDirty();
}

void FillIndex(TDataFile& data, TIndexFile& index, int slot, const TMemoTextReader& memo) {
  if (slot == kTextSlot) {
    ForEachRecord(data, [&](int32_t n, const uint8_t* image) {
      if (IsActive(image)) AddRecordText(index, data.Format(), image, n, memo);
    });
    return;
  }
  TBTree& tree = index.Tree(slot);
  const TKeyDef& def = tree.KeyDef();
  const std::size_t length = static_cast<std::size_t>(def.Length());
  if (def.Unique()) {
    // Equal keys are found before the index is touched.
    std::vector<uint8_t> keys;
    int32_t count = 0;
    ForEachRecord(data, [&](int32_t, const uint8_t* image) {
      if (!IsActive(image)) return;
      keys.resize(keys.size() + length);
      def.Build(image, keys.data() + keys.size() - length);
      ++count;
    });
    std::vector<const uint8_t*> order;
    order.reserve(static_cast<std::size_t>(count));
    for (int32_t i = 0; i < count; ++i)
      order.push_back(keys.data() + static_cast<std::size_t>(i) * length);
    std::sort(order.begin(), order.end(),
              [&](const uint8_t* a, const uint8_t* b) { return def.Compare(a, b) < 0; });
    for (std::size_t i = 1; i < order.size(); ++i) {
      if (def.Compare(order[i - 1], order[i]) == 0) {
        RaiseEngineError(err::kDuplicateKey,
                         {.table = data.TableName(), .index = tree.IndexName()});
      }
    }
  }
  std::vector<uint8_t> key(length);
  ForEachRecord(data, [&](int32_t n, const uint8_t* image) {
    if (!IsActive(image)) return;
    def.Build(image, key.data());
    tree.Insert(key.data(), n);
  });
}

}  // namespace mt
