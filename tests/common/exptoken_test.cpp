// Expression nodes and their per-thread pools: value buffer sizing, clearing on reuse, LIFO
// reuse, capacity, depth-independent release, concurrent use and nodes crossing threads.
#include "engine/common/exptoken.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

namespace mt {
namespace {

// Takes every pooled node out so a test starts from an empty pool; the nodes go back when
// the returned vector is destroyed.
std::vector<TExpTokenPtr> DrainPool() {
  std::vector<TExpTokenPtr> held;
  while (TExpTokenStack::Instance().PooledCount() > 0)
    held.push_back(NewExpToken());
  return held;
}

TEST(ExpTokenTest, ValueBufferGrowsInBlocksAndKeepsItsBytes) {
  TValueBuffer b;
  EXPECT_EQ(b.Capacity(), 256u);
  for (std::size_t i = 0; i < b.Capacity(); ++i)
    ASSERT_EQ(b.Data()[i], 0);
  b.Data()[0] = 7;
  b.Reserve(100);
  EXPECT_EQ(b.Capacity(), 256u);
  b.Reserve(257);
  EXPECT_EQ(b.Capacity(), 512u);
  EXPECT_EQ(b.Data()[0], 7);
  for (std::size_t i = 1; i < b.Capacity(); ++i)
    ASSERT_EQ(b.Data()[i], 0);
  b.Reserve(1024);
  EXPECT_EQ(b.Capacity(), 1024u);
  b.Reset();
  EXPECT_EQ(b.Capacity(), 256u);
  EXPECT_EQ(b.Data()[0], 0);
}

TEST(ExpTokenTest, TypedValuesRoundTrip) {
  TExpTokenPtr n = NewExpToken();
  const std::string longText(600, 'x');
  n->SetString(longText);
  EXPECT_EQ(n->type, ftype::kString);
  EXPECT_EQ(n->size, 601);
  EXPECT_EQ(n->value.Capacity(), 768u);
  EXPECT_EQ(n->StringValue(), longText);
  n->SetString("ab");
  EXPECT_EQ(n->StringValue(), "ab");  // the longer text's tail is gone
  n->SetLargeInt(-5);
  EXPECT_EQ(n->Int64Value(), -5);
  EXPECT_EQ(n->size, 8);
  n->SetFloat(0.25);
  EXPECT_EQ(n->DoubleValue(), 0.25);
  n->SetBoolean(true);
  EXPECT_EQ(n->UInt16Value(), 1);
  EXPECT_EQ(n->size, 2);
  n->SetNull();
  EXPECT_TRUE(n->isNull);
  EXPECT_EQ(n->type, exptype::kUnknown);
  EXPECT_EQ(n->Int64Value(), 0);
}

TEST(ExpTokenPoolTest, ReleasedNodesAreReusedLastFirstAndCleared) {
  std::vector<TExpTokenPtr> held = DrainPool();
  TExpToken* rootAddress;
  TExpToken* leftAddress;
  TExpToken* rightAddress;
  TExpToken* argumentAddress;
  {
    TExpTokenPtr root = NewExpToken();
    root->text = "+";
    root->kind = TNodeKind::Binary;
    root->op = TOperator::Add;
    root->columnName = "c";
    root->correlationName = "t";
    root->columnNumber = 3;
    root->isParameter = true;
    root->savedType = 1;
    root->wasConstant = true;
    root->height = 2;
    root->SetString(std::string(1000, 'z'));
    root->left = NewExpToken();
    root->right = NewExpToken();
    root->left->SetInteger(5);
    root->right->arguments.push_back(NewExpToken());
    rootAddress = root.get();
    leftAddress = root->left.get();
    rightAddress = root->right.get();
    argumentAddress = root->right->arguments[0].get();
  }
  EXPECT_EQ(TExpTokenStack::Instance().PooledCount(), 4u);
  // Released depth first (left, the right operand's argument, the right operand, the root),
  // so they come back in the opposite order.
  TExpTokenPtr again = NewExpToken();
  EXPECT_EQ(again.get(), rootAddress);
  EXPECT_TRUE(again->text.empty());
  EXPECT_EQ(again->kind, TNodeKind::None);
  EXPECT_EQ(again->op, TOperator::None);
  EXPECT_TRUE(again->columnName.empty());
  EXPECT_TRUE(again->correlationName.empty());
  EXPECT_EQ(again->columnNumber, 0);
  EXPECT_FALSE(again->isParameter);
  EXPECT_EQ(again->savedType, 0);
  EXPECT_FALSE(again->wasConstant);
  EXPECT_EQ(again->type, exptype::kUnknown);
  EXPECT_EQ(again->size, 0);
  EXPECT_EQ(again->height, 1u);
  EXPECT_FALSE(again->left);
  EXPECT_FALSE(again->right);
  EXPECT_TRUE(again->arguments.empty());
  EXPECT_EQ(again->value.Capacity(), TValueBuffer::kMinSize);
  for (std::size_t i = 0; i < again->value.Capacity(); ++i)
    ASSERT_EQ(again->value.Data()[i], 0);
  TExpTokenPtr second = NewExpToken();
  TExpTokenPtr third = NewExpToken();
  TExpTokenPtr fourth = NewExpToken();
  EXPECT_EQ(second.get(), rightAddress);
  EXPECT_TRUE(second->arguments.empty());
  EXPECT_EQ(third.get(), argumentAddress);
  EXPECT_EQ(fourth.get(), leftAddress);
  EXPECT_EQ(fourth->Int32Value(), 0);  // its value was cleared
  EXPECT_EQ(TExpTokenStack::Instance().PooledCount(), 0u);
}

TEST(ExpTokenPoolTest, PoolKeepsAtMostItsCapacity) {
  std::vector<TExpTokenPtr> held = DrainPool();
  {
    TExpTokenPtr root = NewExpToken();
    for (int i = 0; i < 300; ++i)
      root->arguments.push_back(NewExpToken());
  }
  EXPECT_EQ(TExpTokenStack::Instance().PooledCount(), TExpTokenStack::kCapacity);
}

TEST(ExpTokenPoolTest, VeryDeepTreesAreReleasedWithoutRecursion) {
  TExpTokenPtr root = NewExpToken();
  TExpToken* tip = root.get();
  for (int i = 0; i < 200000; ++i) {
    tip->left = NewExpToken();
    tip = tip->left.get();
  }
  root.reset();
  EXPECT_LE(TExpTokenStack::Instance().PooledCount(), TExpTokenStack::kCapacity);
}

TEST(ExpTokenPoolTest, ThreadsTakeAndReleaseConcurrently) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([] {
      for (int i = 0; i < 2000; ++i) {
        TExpTokenPtr a = NewExpToken();
        a->left = NewExpToken();
        a->left->SetString("abc");
        ASSERT_EQ(a->left->StringValue(), "abc");
        a->right = NewExpToken();
      }
    });
  }
  for (auto& th : threads)
    th.join();
  EXPECT_LE(TExpTokenStack::Instance().PooledCount(), TExpTokenStack::kCapacity);
}

// A tree made on one thread and released on another joins the releasing thread's pool; a
// tree released while a thread ends, after its pool is gone, is destroyed (no use of the
// destroyed pool, which the sanitizers would report).
TEST(ExpTokenPoolTest, NodesMayChangeThreadsAndOutliveTheirPool) {
  TExpTokenPtr made;
  std::thread([&] {
    made = NewExpToken();
    made->left = NewExpToken();
  }).join();
  std::vector<TExpTokenPtr> held = DrainPool();
  made.reset();
  EXPECT_EQ(TExpTokenStack::Instance().PooledCount(), 2u);

  struct THolder {
    TExpTokenPtr tree;
    ~THolder() { tree.reset(); }
  };
  std::thread([] {
    // Made before the pool is first used, so destroyed after it.
    thread_local THolder holder;
    holder.tree = NewExpToken();
    holder.tree->right = NewExpToken();
    holder.tree->right->SetString("late");
  }).join();
}

TEST(ExpTokenTest, TreeTextShowsOperatorsOperandsAndConstants) {
  TExpTokenPtr n = NewExpToken();
  n->kind = TNodeKind::Predicate;
  n->op = TOperator::NotBetween;
  auto column = [](std::string corr, std::string name) {
    TExpTokenPtr c = NewExpToken();
    c->kind = TNodeKind::Column;
    c->correlationName = std::move(corr);
    c->columnName = std::move(name);
    return c;
  };
  auto constant = [](auto set) {
    TExpTokenPtr c = NewExpToken();
    c->kind = TNodeKind::Constant;
    set(*c);
    return c;
  };
  n->arguments.push_back(column("t", "d"));
  n->arguments.push_back(constant([](TExpToken& c) { c.SetDate(693594); }));
  n->arguments.push_back(constant([](TExpToken& c) { c.SetTimestamp(1.5); }));
  EXPECT_EQ(ExpTreeToText(n.get()), "(NOT_BETWEEN t.d date:693594 ts:1.5)");
  EXPECT_EQ(ExpTreeToText(nullptr), "<none>");
}

}  // namespace
}  // namespace mt
