// Record-number bitmaps against a plain model, and the pool.
#include "engine/common/recordsbitmap.h"

#include <gtest/gtest.h>

#include <random>

namespace mt {
namespace {

// The model: visible[n] for n in 1..N.
struct TModel {
  std::vector<bool> bits;  // index 0 unused
  uint32_t Size() const { return static_cast<uint32_t>(bits.size()) - 1; }
  uint32_t Next(uint32_t from, uint32_t skip, uint32_t& steps) const {
    steps = 0;
    for (uint32_t n = from + 1; n <= Size(); ++n)
      if (bits[n] && steps++ == skip) return n;
    return 0;
  }
  uint32_t Prior(uint32_t from, uint32_t skip, uint32_t& steps) const {
    steps = 0;
    for (int64_t n = std::min<int64_t>(int64_t{from} - 1, Size()); n >= 1; --n)
      if (bits[n] && steps++ == skip) return static_cast<uint32_t>(n);
    return 0;
  }
};

void ExpectSame(const TRecordsBitmap& b, const TModel& m, std::mt19937& rng) {
  ASSERT_EQ(b.Size(), m.Size());
  uint32_t count = 0;
  for (uint32_t n = 1; n <= m.Size(); ++n) {
    ASSERT_EQ(b.Test(n), m.bits[n]) << n;
    ASSERT_EQ(b.CountBelow(n), count) << n;
    count += m.bits[n];
  }
  EXPECT_EQ(b.Count(), count);
  EXPECT_FALSE(b.Test(0));
  EXPECT_FALSE(b.Test(m.Size() + 1));
  for (int i = 0; i < 50; ++i) {
    const uint32_t from = rng() % (m.Size() + 3);
    const uint32_t skip = rng() % 5;
    uint32_t steps = 0, modelSteps = 0;
    EXPECT_EQ(b.FindNext(from, skip, &steps), m.Next(from, skip, modelSteps)) << from;
    EXPECT_EQ(steps, modelSteps);
    EXPECT_EQ(b.FindPrior(from, skip, &steps), m.Prior(from, skip, modelSteps)) << from;
    EXPECT_EQ(steps, modelSteps);
  }
}

TEST(RecordsBitmapTest, RandomOperationsMatchTheModel) {
  std::mt19937 rng(7);
  for (uint32_t size : {0u, 1u, 31u, 32u, 33u, 64u, 100u, 2049u}) {
    TRecordsBitmap b(size), other(size);
    TModel m{std::vector<bool>(size + 1, false)}, mo{std::vector<bool>(size + 1, false)};
    for (int step = 0; step < 300; ++step) {
      const uint32_t n = size ? rng() % (size + 2) : 0;  // includes 0 and N + 1
      const bool inRange = n >= 1 && n <= size;
      switch (rng() % 9) {
        case 0:
        case 1:
          b.Set(n);
          if (inRange) m.bits[n] = true;
          break;
        case 2:
          b.Clear(n);
          if (inRange) m.bits[n] = false;
          break;
        case 3:
          other.Set(n);
          if (inRange) mo.bits[n] = true;
          break;
        case 4:
          b.InvertAll();
          for (uint32_t i = 1; i <= size; ++i)
            m.bits[i] = !m.bits[i];
          break;
        case 5:
          b.And(other);
          for (uint32_t i = 1; i <= size; ++i)
            m.bits[i] = m.bits[i] && mo.bits[i];
          break;
        case 6:
          b.Or(other);
          for (uint32_t i = 1; i <= size; ++i)
            m.bits[i] = m.bits[i] || mo.bits[i];
          break;
        case 7:
          if (rng() % 8 == 0) {
            b.SetAll();
            m.bits.assign(size + 1, true);
            m.bits[0] = false;
          }
          break;
        case 8:
          if (rng() % 8 == 0) {
            b.ClearAll();
            m.bits.assign(size + 1, false);
          }
          break;
      }
    }
    ExpectSame(b, m, rng);
    TRecordsBitmap copy;
    copy.CopyFrom(b);
    ExpectSame(copy, m, rng);
  }
}

TEST(RecordsBitmapTest, GrowingExposesClearBitsEvenAfterSetAllAndInvert) {
  TRecordsBitmap b(40);
  b.SetAll();
  EXPECT_EQ(b.Count(), 40u);
  b.SetSize(100);
  EXPECT_EQ(b.Count(), 40u);
  EXPECT_FALSE(b.Test(41));
  b.SetSize(10);
  b.InvertAll();
  EXPECT_EQ(b.Count(), 0u);
  b.SetSize(3000);
  EXPECT_EQ(b.Count(), 0u);
  EXPECT_EQ(b.CapacityBytes() % TRecordsBitmap::kGrowthBytes, 0u);
  TRecordsBitmap other(5);
  EXPECT_THROW(b.And(other), std::invalid_argument);
  EXPECT_THROW(b.Or(other), std::invalid_argument);
}

TEST(RecordsBitmapTest, SkippingCountsStepsUpToTheEnd) {
  TRecordsBitmap b(100);
  for (uint32_t n : {3u, 40u, 41u, 99u})
    b.Set(n);
  uint32_t steps = 0;
  EXPECT_EQ(b.FindNext(0, 0, &steps), 3u);
  EXPECT_EQ(steps, 1u);
  EXPECT_EQ(b.FindNext(3, 1, &steps), 41u);
  EXPECT_EQ(b.FindNext(0, 10, &steps), 0u);
  EXPECT_EQ(steps, 4u);  // only four visible records to pass
  EXPECT_EQ(b.FindPrior(101, 0, &steps), 99u);
  EXPECT_EQ(b.FindPrior(99, 2, &steps), 3u);
  EXPECT_EQ(b.FindPrior(3, 0, &steps), 0u);
  EXPECT_EQ(steps, 0u);
}

TEST(RecordsBitmapTest, SpansReachTheLastSetRecordWithinTheirLength) {
  TRecordsBitmap b(100);
  for (uint32_t n : {3u, 40u, 41u, 50u, 100u})
    b.Set(n);
  struct TCase {
    uint32_t after, length, first, last;
  };
  const TCase cases[] = {
      {0, 1, 3, 3},    {0, 37, 3, 3},       {0, 38, 3, 40},     {3, 10, 40, 41},
      {3, 11, 40, 50}, {41, 1000, 50, 100}, {50, 51, 100, 100}, {100, 5, 0, 0},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "after " << c.after << ", length " << c.length);
    EXPECT_EQ(b.NextSpan(c.after, c.length), std::make_pair(c.first, c.last));
  }
}

TEST(RecordsBitmapStackTest, PooledBitmapsComeBackClearedAndThePoolIsBounded) {
  {
    auto a = TRecordsBitmapStack::Take(50);
    a->SetAll();
  }
  const std::size_t spare = TRecordsBitmapStack::SpareCount();
  EXPECT_GE(spare, 1u);
  auto b = TRecordsBitmapStack::Take(70);
  EXPECT_EQ(b->Size(), 70u);
  EXPECT_EQ(b->Count(), 0u);
  EXPECT_EQ(TRecordsBitmapStack::SpareCount(), spare - 1);
  {
    std::vector<TRecordsBitmapStack::TPooledBitmap> many;
    for (int i = 0; i < 100; ++i)
      many.push_back(TRecordsBitmapStack::Take(8));
  }
  EXPECT_EQ(TRecordsBitmapStack::SpareCount(), TRecordsBitmapStack::kMaxSpare);
}

}  // namespace
}  // namespace mt
