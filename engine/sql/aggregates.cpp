// TAggregator: folding, averages and running sums on result images.
#include "aggregates.h"

#include <cstring>

#include "engine/common/numeric.h"
#include "engine/storage/record.h"

namespace mt {
namespace {

template <class T>
T Get(const uint8_t* image, int offset) {
  T v;
  std::memcpy(&v, image + offset + 1, sizeof v);
  return v;
}

template <class T>
void Put(uint8_t* image, int offset, T v) {
  std::memcpy(image + offset + 1, &v, sizeof v);
  image[offset] = 1;
}

bool IsNull(const uint8_t* image, int offset) {
  return image[offset] == 0;
}

TBcd GetBcd(const uint8_t* image, int offset) {
  TBcd b{};
  std::memcpy(b.data(), image + offset + 1, kBcdSize);
  return b;
}

void PutBcd(uint8_t* image, int offset, const TBcd& b) {
  std::memcpy(image + offset + 1, b.data(), kBcdSize);
  image[offset] = 1;
}

// The value of a summable column as a double (floats, timestamps, BCD) or an integer.
bool IsFloatLike(uint8_t type) {
  return type == ftype::kFloat || type == ftype::kTimestamp || type == ftype::kBcd;
}

int64_t GetInteger(const uint8_t* image, int offset, uint8_t type) {
  switch (type) {
    case ftype::kSmallInt:
      return Get<int16_t>(image, offset);
    case ftype::kWord:
      return Get<uint16_t>(image, offset);
    case ftype::kLargeInt:
      return Get<int64_t>(image, offset);
    default:  // INTEGER, DATE, TIME
      return Get<int32_t>(image, offset);
  }
}

void PutInteger(uint8_t* image, int offset, uint8_t type, int64_t v) {
  switch (type) {
    case ftype::kSmallInt:
      Put(image, offset, static_cast<int16_t>(v));
      break;
    case ftype::kWord:
      Put(image, offset, static_cast<uint16_t>(v));
      break;
    case ftype::kLargeInt:
      Put(image, offset, v);
      break;
    default:
      Put(image, offset, static_cast<int32_t>(v));
      break;
  }
}

double GetFloat(const uint8_t* image, int offset, uint8_t type) {
  if (type == ftype::kBcd) return BcdToDouble(GetBcd(image, offset));
  return Get<double>(image, offset);
}

void PutFloat(uint8_t* image, int offset, uint8_t type, int scale, double v) {
  if (type == ftype::kBcd) {
    TBcd b{};
    if (!DoubleToBcd(v, scale, b)) DoubleToBcd(0, scale, b);
    PutBcd(image, offset, b);
    return;
  }
  Put(image, offset, v);
}

// Integer sums wrap like the evaluator's integer arithmetic instead of overflowing.
int64_t WrappingAdd(int64_t a, int64_t b) {
  return static_cast<int64_t>(static_cast<uint64_t>(a) + static_cast<uint64_t>(b));
}

int Compare(const uint8_t* a, const uint8_t* b, int offset, uint8_t type) {
  if (type == ftype::kBcd) return CompareBcd(GetBcd(a, offset), GetBcd(b, offset));
  if (IsFloatLike(type)) {
    const double x = GetFloat(a, offset, type), y = GetFloat(b, offset, type);
    return x < y ? -1 : x > y ? 1 : 0;
  }
  const int64_t x = GetInteger(a, offset, type), y = GetInteger(b, offset, type);
  return x < y ? -1 : x > y ? 1 : 0;
}

}  // namespace

TAggregator::TAggregator(const TRecordFormat& format, const std::vector<TResultColumn>& columns)
    : recordSize_(format.RecordSize()) {
  for (const TResultColumn& c : columns) {
    TSlot s;
    s.type = c.type;
    s.scale = c.scale;
    s.offset = format.Field(c.number).offset;
    s.size = format.Field(c.number).physicalSize;
    if (c.hidden) {
      s.kind = TAggregateKind::Count;
      s.counter = true;
    } else {
      s.kind = c.aggregate;
      s.counter = c.aggregate == TAggregateKind::Count;
      if (c.aggregate == TAggregateKind::Avg) s.countOffset = format.Field(c.avgCountColumn).offset;
    }
    if (s.kind != TAggregateKind::None) slots_.push_back(s);
  }
}

void TAggregator::Reset() {
  for (TSlot& s : slots_) {
    s.runningSet = false;
    s.runningFloat = 0;
    s.runningInteger = 0;
  }
}

void TAggregator::Fold(uint8_t* group, const uint8_t* row) const {
  for (const TSlot& s : slots_) {
    const int o = s.offset;
    if (IsNull(row, o)) continue;
    if (IsNull(group, o)) {
      std::memcpy(group + o, row + o, static_cast<std::size_t>(s.size) + 1);
      continue;
    }
    switch (s.kind) {
      case TAggregateKind::Min:
      case TAggregateKind::Max: {
        const int c = Compare(row, group, o, s.type);
        if ((s.kind == TAggregateKind::Min && c < 0) || (s.kind == TAggregateKind::Max && c > 0)) {
          if (s.type == ftype::kBcd)
            PutBcd(group, o, GetBcd(row, o));
          else if (IsFloatLike(s.type))
            Put(group, o, Get<double>(row, o));
          else
            PutInteger(group, o, s.type, GetInteger(row, o, s.type));
        }
        break;
      }
      default:  // SUM, RUNSUM, AVG, COUNT and the AVG counts
        if (IsFloatLike(s.type)) {
          PutFloat(group, o, s.type, s.scale,
                   GetFloat(group, o, s.type) + GetFloat(row, o, s.type));
        } else {
          PutInteger(group, o, s.type,
                     WrappingAdd(GetInteger(group, o, s.type), GetInteger(row, o, s.type)));
        }
        break;
    }
  }
}

void TAggregator::Finish(uint8_t* group) {
  for (TSlot& s : slots_) {
    const int o = s.offset;
    if (s.kind == TAggregateKind::Avg) {
      const int64_t count = IsNull(group, s.countOffset) ? 0 : Get<int32_t>(group, s.countOffset);
      if (count == 0 || IsNull(group, o)) {
        if (IsFloatLike(s.type))
          PutFloat(group, o, s.type, s.scale, 0);
        else
          PutInteger(group, o, s.type, 0);
      } else if (IsFloatLike(s.type)) {
        PutFloat(group, o, s.type, s.scale,
                 GetFloat(group, o, s.type) / static_cast<double>(count));
      } else {
        // DATE, TIME: the quotient truncated toward zero.
        PutInteger(group, o, s.type, GetInteger(group, o, s.type) / count);
      }
    } else if (s.kind == TAggregateKind::RunSum) {
      if (!IsNull(group, o)) {
        if (IsFloatLike(s.type))
          s.runningFloat += GetFloat(group, o, s.type);
        else
          s.runningInteger = WrappingAdd(s.runningInteger, GetInteger(group, o, s.type));
        s.runningSet = true;
      }
      if (!s.runningSet) continue;
      if (IsFloatLike(s.type))
        PutFloat(group, o, s.type, s.scale, s.runningFloat);
      else
        PutInteger(group, o, s.type, s.runningInteger);
    }
  }
}

void TAggregator::EmptyGroup(uint8_t* group) const {
  std::memset(group + rec::kFirstField, 0,
              static_cast<std::size_t>(recordSize_ - rec::kFirstField));
  for (const TSlot& s : slots_) {
    if (s.kind == TAggregateKind::Avg || s.counter) {
      if (IsFloatLike(s.type))
        PutFloat(group, s.offset, s.type, s.scale, 0);
      else
        PutInteger(group, s.offset, s.type, 0);
    }
  }
}

}  // namespace mt
