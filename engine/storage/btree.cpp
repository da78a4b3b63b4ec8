// TBTree: B+tree operations over cached index pages.
#include "btree.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "engine/common/engineerror.h"

namespace mt {
namespace {

constexpr std::size_t kCacheGrowth = 64;

constexpr int kMaxDepth = 48;

}  // namespace

std::unique_ptr<TPage> TPageStack::Take() {
  if (spare_.empty()) return std::make_unique<TPage>();
  std::unique_ptr<TPage> p = std::move(spare_.back());
  spare_.pop_back();
  return p;
}

void TPageStack::Give(std::unique_ptr<TPage> page) {
  if (spare_.size() >= kMaxSpare) return;
  page->Clear();
  page->dirty_ = false;
  page->pins_ = 0;
  page->number_ = 0;
  page->newer_ = page->older_ = nullptr;
  spare_.push_back(std::move(page));
}

TBTree::TBTree(TIndexPageStore& store, int slot, TKeyDef keyDef, std::string indexName)
    : store_(store), slot_(slot), keyDef_(std::move(keyDef)), indexName_(std::move(indexName)) {
  const TIndexDescriptor& d = Descriptor();
  format_.keyLength = keyDef_.Length();
  format_.compression = static_cast<uint8_t>(d.compression & 3);
  format_.counts = !d.noCounts && keyDef_.Kind() != TIndexKind::Text;
  format_.idSuffix = keyDef_.HasIdSuffix();
  readBuffer_.resize(kIndexPageSize);
}

TBTree::~TBTree() = default;

TIndexDescriptor& TBTree::Descriptor() {
  return store_.StoreHeader().slots.at(static_cast<std::size_t>(slot_));
}

void TBTree::Corrupt() const {
  RaiseEngineError(err::kIndexPageCorrupt, {.table = store_.StoreTableName()});
}

void TBTree::Raise(int32_t code) const {
  RaiseEngineError(code, {.table = store_.StoreTableName(), .index = indexName_});
}

// ---- the page cache -----------------------------------------------------------------------

void TBTree::Evict(TPage* p) {
  pool_.Give(cache_.Remove(p));
}

void TBTree::MakeRoom() {
  cache_.MakeRoom(
      capacity_, kCacheGrowth, deferWrites_,
      [this](std::unique_ptr<TPage> p) { pool_.Give(std::move(p)); }, [this] { WriteBack(); });
}

TPage* TBTree::AddPage(int32_t n) {
  MakeRoom();
  std::unique_ptr<TPage> owned = pool_.Take();
  TPage* p = owned.get();
  p->format_ = &format_;
  p->number_ = n;
  p->dirty_ = false;
  p->pins_ = 0;
  p->Clear();
  cache_.Insert(std::move(owned));
  return p;
}

TPageRef TBTree::Fetch(int32_t n) {
  if (n < 1 || n >= store_.StoreHeader().nextPage) Corrupt();
  if (TPage* p = cache_.Find(n)) {
    ++hits_;
    return TPageRef(p);
  }
  if (!store_.ReadPage(n, readBuffer_.data())) Corrupt();
  ++reads_;
  TPage* p = AddPage(n);  // may write pages back, never reads
  if (!p->Decode(readBuffer_.data(), store_.StoreHeader().nextPage)) {
    Evict(p);
    Corrupt();
  }
  return TPageRef(p);
}

TPageRef TBTree::FetchTree(int32_t n) {
  TPageRef p = Fetch(n);
  if (p->Count() == 0) Corrupt();
  return p;
}

TPageRef TBTree::NewPage(uint8_t type) {
  ++shape_;
  TIndexDescriptor& d = Descriptor();
  TIndexFileHeader& h = store_.StoreHeader();
  TPageRef p;
  if (d.freeChain != 0) {
    const int32_t n = d.freeChain;
    p = Fetch(n);
    if (p->Count() != 0 || p->Next() == n) Corrupt();
    d.freeChain = p->Next();
  } else {
    const int32_t n = h.nextPage;
    if (n > kMaxIndexPage ||
        (static_cast<int64_t>(n) + 1) * static_cast<int64_t>(kIndexPageSize) > kMaxFileSize) {
      Raise(err::kTableFull);
    }
    ++h.nextPage;
    p = TPageRef(AddPage(n));
  }
  p->Clear();
  p->SetType(type);
  MarkDirty(*p);
  store_.StoreHeaderChanged();
  return p;
}

void TBTree::FreePage(TPageRef page) {
  ++shape_;
  TIndexDescriptor& d = Descriptor();
  page->Clear();
  page->SetType(ptype::kLeaf);
  page->SetNext(d.freeChain);
  d.freeChain = page->Number();
  MarkDirty(*page);
  store_.StoreHeaderChanged();
}

bool TBTree::WriteBack() {
  std::vector<uint8_t>& buffer = writeBuffer_;
  const bool wrote = cache_.ForEachRun([](const TPage& p) { return p.dirty_ && p.pins_ == 0; },
                                       [&](TPage* const* run, std::size_t count) {
                                         buffer.resize(count * kIndexPageSize);
                                         for (std::size_t k = 0; k < count; ++k)
                                           run[k]->Encode(buffer.data() + k * kIndexPageSize);
                                         store_.WritePages(run[0]->number_, buffer.data(), count);
                                         ++writes_;
                                         for (std::size_t k = 0; k < count; ++k)
                                           run[k]->dirty_ = false;
                                       });
  if (wrote) store_.StoreHeaderChanged();
  return wrote;
}

void TBTree::ClearCache() {
  ++shape_;
  for (std::unique_ptr<TPage>& p : cache_.TakeAll())
    pool_.Give(std::move(p));
  capacity_ = target_;
}

void TBTree::TrimCache() {
  WriteBack();
  cache_.TrimTo(target_, [this](std::unique_ptr<TPage> p) { pool_.Give(std::move(p)); });
  capacity_ = std::max(target_, cache_.Size());
}

void TBTree::SetCacheTarget(std::size_t pages) {
  target_ = std::max<std::size_t>(pages, 8);
  capacity_ = std::max(target_, cache_.Size());
}

bool TBTree::HasDirtyPages() const {
  return std::any_of(cache_.begin(), cache_.end(),
                     [](const std::unique_ptr<TPage>& p) { return p->dirty_; });
}

TPageCacheStats TBTree::CacheStats() const {
  return {hits_, reads_, writes_, cache_.Size(), capacity_};
}

// ---- raw pages ----------------------------------------------------------------------------

int32_t TBTree::TakePage() {
  TPageRef p = NewPage(ptype::kParameter);
  const int32_t n = p->Number();
  p.Reset();
  // The caller writes the page itself: it leaves the cache.
  Evict(cache_.Find(n));
  return n;
}

void TBTree::ReleasePage(int32_t n) {
  if (n < 1 || n >= store_.StoreHeader().nextPage) Corrupt();
  TPage* p = cache_.Find(n);
  if (p == nullptr) p = AddPage(n);
  FreePage(TPageRef(p));
}

void TBTree::ReadRawPage(int32_t n, uint8_t* page) {
  if (n < 1 || n >= store_.StoreHeader().nextPage || !store_.ReadPage(n, page)) Corrupt();
}

void TBTree::WriteRawPage(int32_t n, const uint8_t* page) {
  if (n < 1 || n >= store_.StoreHeader().nextPage) Corrupt();
  std::vector<uint8_t> copy(page, page + kIndexPageSize);
  store_.WritePages(n, copy.data(), 1);
  store_.StoreHeaderChanged();
}

// ---- search -------------------------------------------------------------------------------

int TBTree::SearchInternal(const TPage& p, const uint8_t* key) const {
  int lo = 0;
  int hi = p.Count();
  while (lo < hi) {  // the first entry whose key is above the search key
    const int mid = (lo + hi) / 2;
    if (keyDef_.Compare(p.Key(mid), key) <= 0) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return std::max(lo - 1, 0);
}

int TBTree::SearchLeaf(const TPage& p, const uint8_t* key) const {
  const int n = p.Count();
  if (leafEnd_ != TLeafEnd::None && n > 0) {
    const auto atFront = [&] { return keyDef_.Compare(p.Key(0), key) >= 0; };
    const auto pastBack = [&] { return keyDef_.Compare(p.Key(n - 1), key) < 0; };
    if (leafEnd_ == TLeafEnd::Front) {
      if (atFront()) return 0;
      if (pastBack()) return n;
    } else {
      if (pastBack()) return n;
      if (atFront()) return 0;
    }
  }
  int lo = 0;
  int hi = n;
  while (lo < hi) {  // the first entry whose key is >= the search key
    const int mid = (lo + hi) / 2;
    if (keyDef_.Compare(p.Key(mid), key) < 0) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  leafEnd_ = lo == 0 ? TLeafEnd::Front : lo == n ? TLeafEnd::Back : TLeafEnd::None;
  return lo;
}

TPageRef TBTree::Descend(const uint8_t* key, std::vector<TPathStep>* path) {
  int32_t n = RootPage();
  if (n == 0) return {};
  for (std::size_t h = 0; h < hints_.size(); ++h) {
    TDescentHint& hint = hints_[h];
    if (hint.shape != shape_ || hint.root != n || hint.leaf >= store_.StoreHeader().nextPage)
      continue;
    TPageRef p = Fetch(hint.leaf);
    if (p->IsLeaf() && p->Count() > 0 && (p->Prev() == 0 || keyDef_.Compare(p->Key(0), key) <= 0) &&
        (p->Next() == 0 || keyDef_.Compare(key, p->Key(p->Count() - 1)) <= 0)) {
      if (path != nullptr) *path = hint.path;
      if (h != 0) std::swap(hints_[0], hints_[h]);
      return p;
    }
  }
  // The new descent becomes the latest hint; the latest becomes the other.
  std::swap(hints_[0], hints_[1]);
  TDescentHint& hint = hints_[0];
  hint.shape = 0;
  hint.path.clear();
  for (int depth = 0; depth < kMaxDepth; ++depth) {
    TPageRef p = FetchTree(n);
    if (p->IsRoot() != (depth == 0)) Corrupt();
    if (p->IsLeaf()) {
      hint.leaf = n;
      hint.root = RootPage();
      hint.shape = shape_;
      if (path != nullptr) *path = hint.path;
      return p;
    }
    const int i = SearchInternal(*p, key);
    hint.path.push_back({n, i});
    n = p->Value(i);
  }
  Corrupt();
}

TLeafPos TBTree::Normalize(TLeafPos pos) {
  for (int guard = 0; pos.Valid(); ++guard) {
    TPageRef p = FetchTree(pos.page);
    if (pos.slot < p->Count()) return pos;
    if (guard > kMaxDepth) Corrupt();
    pos = {p->Next(), 0};
  }
  return {};
}

TFindResult TBTree::Find(const uint8_t* key) {
  TFindResult r;
  TPageRef leaf = Descend(key, nullptr);
  if (!leaf) return r;
  r.pos = {leaf->Number(), SearchLeaf(*leaf, key)};
  if (r.pos.slot < leaf->Count()) {
    r.found = keyDef_.Compare(leaf->Key(r.pos.slot), key) == 0;
    return r;
  }
  leaf.Reset();
  r.pos = Normalize(r.pos);
  if (r.pos.Valid()) {
    TPageRef p = FetchTree(r.pos.page);
    r.found = keyDef_.Compare(p->Key(r.pos.slot), key) == 0;
  }
  return r;
}

bool TBTree::KeyExists(const uint8_t* key) {
  if (!keyDef_.HasIdSuffix()) return Find(key).found;
  std::vector<uint8_t> probe(key, key + format_.keyLength);
  keyDef_.Fill(static_cast<int>(keyDef_.Fields().size()), TKeyFill::First, probe.data());
  const TFindResult r = Find(probe.data());
  if (!r.pos.Valid()) return false;
  TPageRef p = FetchTree(r.pos.page);
  return keyDef_.CompareFields(p->Key(r.pos.slot), key) == 0;
}

// ---- insert -------------------------------------------------------------------------------

void TBTree::AdjustCounts(const std::vector<TPathStep>& path, int delta) {
  if (!format_.counts) return;
  for (const TPathStep& step : path) {
    TPageRef p = FetchTree(step.page);
    p->SetBelow(step.slot, p->Below(step.slot) + delta);
    MarkDirty(*p);
  }
}

int32_t TBTree::BelowOf(const TPage& p) const {
  if (!format_.counts) return 0;
  return static_cast<int32_t>(std::min<int64_t>(p.RecordsBelow(), INT32_MAX));
}

void TBTree::Insert(const uint8_t* key, int32_t record) {
  if (RootPage() == 0) {
    TPageRef p = NewPage(ptype::kRootLeaf);
    p->Insert(0, key, record);
    Descriptor().rootPage = p->Number();
    store_.StoreHeaderChanged();
    return;
  }
  std::vector<TPathStep>& path = path_;
  TPageRef leaf = Descend(key, &path);
  const int s = SearchLeaf(*leaf, key);
  if (s < leaf->Count() && keyDef_.Compare(leaf->Key(s), key) == 0) Raise(err::kDuplicateKey);
  leaf->Insert(s, key, record);
  MarkDirty(*leaf);
  AdjustCounts(path, +1);
  if (leaf->Overfull()) SplitUp(std::move(leaf), path);
}

int TBTree::SplitPoint(const TPage& p) const {
  const int n = p.Count();
  int keep = n - n / 2;
  if (!(p.IsLeaf() && format_.Compressed())) return keep;
  // Compressed leaf: the first entry of each half is stored whole.
  std::vector<int> chained(static_cast<std::size_t>(n) + 1, 0);  // prefix sums
  for (int i = 1; i < n; ++i) {
    chained[static_cast<std::size_t>(i) + 1] =
        chained[static_cast<std::size_t>(i)] + format_.PackedEntrySize(p.Key(i - 1), p.Key(i));
  }
  auto leftBytes = [&](int k) {
    return format_.PackedEntrySize(nullptr, p.Key(0)) + chained[static_cast<std::size_t>(k)];
  };
  auto rightBytes = [&](int k) {
    return format_.PackedEntrySize(nullptr, p.Key(k)) + chained[static_cast<std::size_t>(n)] -
           chained[static_cast<std::size_t>(k) + 1];
  };
  for (int guard = 0; guard < n; ++guard) {
    if (leftBytes(keep) > ipl::kDataBytes && keep > 1) {
      --keep;
    } else if (rightBytes(keep) > ipl::kDataBytes && keep < n - 1) {
      ++keep;
    } else {
      break;
    }
  }
  if (leftBytes(keep) > ipl::kDataBytes || rightBytes(keep) > ipl::kDataBytes) Corrupt();
  return keep;
}

void TBTree::SplitUp(TPageRef page, std::vector<TPathStep>& path) {
  TPageRef p = std::move(page);
  while (p->Overfull()) {
    if (p->Count() < 2) Corrupt();
    const int keep = SplitPoint(*p);
    const bool leaf = p->IsLeaf();
    const bool wasRoot = p->IsRoot();
    TPageRef right = NewPage(leaf ? ptype::kLeaf : ptype::kInternal);
    if (wasRoot) p->SetType(leaf ? ptype::kLeaf : ptype::kInternal);
    p->MoveTailTo(keep, *right);
    right->SetPrev(p->Number());
    right->SetNext(p->Next());
    if (p->Next() != 0) {
      TPageRef after = FetchTree(p->Next());
      after->SetPrev(right->Number());
      MarkDirty(*after);
    }
    p->SetNext(right->Number());
    MarkDirty(*p);
    MarkDirty(*right);
    if (wasRoot) {
      TPageRef root = NewPage(ptype::kRootInternal);
      root->Insert(0, p->Key(0), p->Number(), BelowOf(*p));
      root->Insert(1, right->Key(0), right->Number(), BelowOf(*right));
      Descriptor().rootPage = root->Number();
      store_.StoreHeaderChanged();
      return;
    }
    if (path.empty()) Corrupt();
    const TPathStep step = path.back();
    path.pop_back();
    TPageRef parent = FetchTree(step.page);
    if (format_.counts) parent->SetBelow(step.slot, BelowOf(*p));
    parent->Insert(step.slot + 1, right->Key(0), right->Number(), BelowOf(*right));
    MarkDirty(*parent);
    p = std::move(parent);
  }
}

void TBTree::Replace(const uint8_t* oldKey, const uint8_t* newKey, int32_t record) {
  if (keyDef_.Compare(oldKey, newKey) == 0) {
    if (!Find(oldKey).found) Corrupt();
    return;
  }
  // The new entry goes in first, so that an equal key is refused before anything changed.
  Insert(newKey, record);
  if (!Delete(oldKey, record)) {
    Delete(newKey, record);
    Corrupt();
  }
}

// ---- delete -------------------------------------------------------------------------------

bool TBTree::Delete(const uint8_t* key, int32_t record) {
  if (RootPage() == 0) return false;
  std::vector<TPathStep>& path = path_;
  TPageRef leaf = Descend(key, &path);
  const int s = SearchLeaf(*leaf, key);
  if (s >= leaf->Count() || keyDef_.Compare(leaf->Key(s), key) != 0 || leaf->Value(s) != record) {
    return false;
  }
  leaf->Remove(s);
  MarkDirty(*leaf);
  AdjustCounts(path, -1);
  Rebalance(std::move(leaf), path);
  return true;
}

void TBTree::Unchain(TPage& p) {
  if (p.Prev() != 0) {
    TPageRef before = FetchTree(p.Prev());
    before->SetNext(p.Next());
    MarkDirty(*before);
  }
  if (p.Next() != 0) {
    TPageRef after = FetchTree(p.Next());
    after->SetPrev(p.Prev());
    MarkDirty(*after);
  }
}

void TBTree::CollapseRoot() {
  for (int guard = 0; guard < kMaxDepth; ++guard) {
    TPageRef root = FetchTree(RootPage());
    if (root->IsLeaf() || root->Count() != 1) return;
    const int32_t child = root->Value(0);
    FreePage(std::move(root));
    TPageRef c = FetchTree(child);
    if (c->IsRoot()) Corrupt();
    c->SetType(c->IsLeaf() ? ptype::kRootLeaf : ptype::kRootInternal);
    c->SetPrev(0);
    c->SetNext(0);
    MarkDirty(*c);
    Descriptor().rootPage = child;
    store_.StoreHeaderChanged();
  }
}

void TBTree::Rebalance(TPageRef page, std::vector<TPathStep>& path) {
  TPageRef p = std::move(page);
  for (;;) {
    if (p->IsRoot()) {
      if (p->IsLeaf()) {
        if (p->Count() == 0) {
          Descriptor().rootPage = 0;
          FreePage(std::move(p));
        }
      } else if (p->Count() <= 1) {
        p.Reset();
        CollapseRoot();
      }
      return;
    }
    if (path.empty()) Corrupt();
    const bool leaf = p->IsLeaf();
    if (leaf && format_.Compressed()) {
      if (p->Count() > 0) return;
      // An empty compressed leaf leaves the tree.
      const TPathStep step = path.back();
      path.pop_back();
      TPageRef parent = FetchTree(step.page);
      Unchain(*p);
      FreePage(std::move(p));
      parent->Remove(step.slot);
      MarkDirty(*parent);
      if (parent->Count() == 0) Corrupt();
      p = std::move(parent);
      continue;
    }
    const int capacity = leaf ? format_.LeafCapacity() : format_.InternalCapacity();
    if (p->Count() * 2 >= capacity) return;
    const TPathStep step = path.back();
    path.pop_back();
    TPageRef parent = FetchTree(step.page);
    if (parent->Count() < 2) {
      p = std::move(parent);
      continue;
    }
    const int ri = step.slot > 0 ? step.slot : 1;  // the entry of the right page of the pair
    TPageRef left = step.slot > 0 ? FetchTree(parent->Value(ri - 1)) : std::move(p);
    TPageRef right = step.slot > 0 ? std::move(p) : FetchTree(parent->Value(ri));
    if (left->IsLeaf() != leaf || right->IsLeaf() != leaf || left->IsRoot() || right->IsRoot() ||
        left->Next() != right->Number() || right->Prev() != left->Number()) {
      Corrupt();
    }
    ++shape_;  // the pair is joined or shares its entries anew
    const int lc = left->Count();
    const int rc = right->Count();
    // The right page's first entry stops being first: it takes the separator, which bounds
    // every key below it from below.
    if (!leaf) right->SetKey(0, parent->Key(ri));
    if (lc + rc <= capacity) {
      left->TakeHeadFrom(*right, rc);
      Unchain(*right);
      FreePage(std::move(right));
      parent->Remove(ri);
      if (format_.counts) parent->SetBelow(ri - 1, BelowOf(*left));
    } else {
      const int total = lc + rc;
      const int leftTarget = total - total / 2;
      if (lc > leftTarget) {
        left->MoveTailTo(leftTarget, *right);
      } else if (lc < leftTarget) {
        left->TakeHeadFrom(*right, leftTarget - lc);
      }
      parent->SetKey(ri, right->Key(0));
      if (format_.counts) {
        parent->SetBelow(ri - 1, BelowOf(*left));
        parent->SetBelow(ri, BelowOf(*right));
      }
      MarkDirty(*right);
    }
    MarkDirty(*left);
    MarkDirty(*parent);
    p = std::move(parent);
  }
}

// ---- walking ------------------------------------------------------------------------------

TLeafPos TBTree::First() {
  int32_t n = RootPage();
  if (n == 0) return {};
  for (int depth = 0; depth < kMaxDepth; ++depth) {
    TPageRef p = FetchTree(n);
    if (p->IsLeaf()) return {n, 0};
    n = p->Value(0);
  }
  Corrupt();
}

TLeafPos TBTree::Last() {
  int32_t n = RootPage();
  if (n == 0) return {};
  for (int depth = 0; depth < kMaxDepth; ++depth) {
    TPageRef p = FetchTree(n);
    if (p->IsLeaf()) return {n, p->Count() - 1};
    n = p->Value(p->Count() - 1);
  }
  Corrupt();
}

TLeafPos TBTree::Next(TLeafPos pos) {
  if (!pos.Valid()) return {};
  TPageRef p = FetchTree(pos.page);
  if (pos.slot + 1 < p->Count()) return {pos.page, pos.slot + 1};
  if (p->Next() == 0) return {};
  const int32_t next = p->Next();
  TPageRef after = FetchTree(next);
  // Damaged links must not send a walk round in circles.
  if (!after->IsLeaf() || after->Prev() != pos.page ||
      keyDef_.Compare(p->Key(p->Count() - 1), after->Key(0)) >= 0) {
    Corrupt();
  }
  return {next, 0};
}

TLeafPos TBTree::Prior(TLeafPos pos) {
  if (!pos.Valid()) return {};
  TPageRef p = FetchTree(pos.page);
  if (pos.slot > 0) return {pos.page, std::min(pos.slot, p->Count()) - 1};
  if (p->Prev() == 0) return {};
  const int32_t prev = p->Prev();
  TPageRef before = FetchTree(prev);
  if (!before->IsLeaf() || before->Next() != pos.page ||
      keyDef_.Compare(before->Key(before->Count() - 1), p->Key(0)) >= 0) {
    Corrupt();
  }
  return {prev, before->Count() - 1};
}

int32_t TBTree::ReadEntry(TLeafPos pos, uint8_t* key) {
  if (!pos.Valid()) Corrupt();
  TPageRef p = FetchTree(pos.page);
  if (!p->IsLeaf() || pos.slot < 0 || pos.slot >= p->Count()) Corrupt();
  if (key != nullptr)
    std::memcpy(key, p->Key(pos.slot), static_cast<std::size_t>(format_.keyLength));
  return p->Value(pos.slot);
}

int32_t TBTree::RecordAt(TLeafPos pos) {
  return ReadEntry(pos, nullptr);
}

// ---- ordinals -----------------------------------------------------------------------------

int64_t TBTree::EntryCount() {
  const int32_t root = RootPage();
  if (root == 0) return 0;
  if (format_.counts) {
    TPageRef p = FetchTree(root);
    return p->RecordsBelow();
  }
  int64_t total = 0;
  const int32_t limit = store_.StoreHeader().nextPage;
  TLeafPos pos = First();
  for (int32_t n = pos.page, steps = 0; n != 0; ++steps) {
    if (steps > limit) Corrupt();
    TPageRef p = FetchTree(n);
    total += p->Count();
    n = p->Next();
  }
  return total;
}

int TBTree::Height() {
  int32_t n = RootPage();
  for (int height = 0; height < kMaxDepth; ++height) {
    if (n == 0) return height;
    TPageRef p = FetchTree(n);
    n = p->IsLeaf() ? 0 : p->Value(0);
  }
  Corrupt();
}

int64_t TBTree::OrdinalOf(TLeafPos pos) {
  if (!pos.Valid()) return 0;
  if (!format_.counts) {
    int64_t before = 0;
    const int32_t limit = store_.StoreHeader().nextPage;
    TLeafPos first = First();
    for (int32_t n = first.page, steps = 0; n != 0; ++steps) {
      if (steps > limit) Corrupt();
      TPageRef p = FetchTree(n);
      if (n == pos.page) return before + pos.slot + 1;
      before += p->Count();
      n = p->Next();
    }
    Corrupt();
  }
  std::vector<uint8_t> key(static_cast<std::size_t>(format_.keyLength));
  ReadEntry(pos, key.data());
  int64_t ordinal = 0;
  int32_t n = RootPage();
  for (int depth = 0; depth < kMaxDepth; ++depth) {
    TPageRef p = FetchTree(n);
    if (p->IsLeaf()) {
      if (n != pos.page) Corrupt();
      return ordinal + pos.slot + 1;
    }
    const int i = SearchInternal(*p, key.data());
    for (int j = 0; j < i; ++j)
      ordinal += p->Below(j);
    n = p->Value(i);
  }
  Corrupt();
}

TLeafPos TBTree::PositionOf(int64_t ordinal) {
  if (ordinal < 1) return {};
  int32_t n = RootPage();
  if (n == 0) return {};
  if (!format_.counts) {
    const int32_t limit = store_.StoreHeader().nextPage;
    TLeafPos first = First();
    int64_t remaining = ordinal;
    for (int32_t page = first.page, steps = 0; page != 0; ++steps) {
      if (steps > limit) Corrupt();
      TPageRef p = FetchTree(page);
      if (remaining <= p->Count()) return {page, static_cast<int>(remaining - 1)};
      remaining -= p->Count();
      page = p->Next();
    }
    return {};
  }
  int64_t remaining = ordinal;
  for (int depth = 0; depth < kMaxDepth; ++depth) {
    TPageRef p = FetchTree(n);
    if (p->IsLeaf()) {
      if (remaining > p->Count()) return {};
      return {n, static_cast<int>(remaining - 1)};
    }
    int i = 0;
    while (i < p->Count() && remaining > p->Below(i)) {
      remaining -= p->Below(i);
      ++i;
    }
    if (i == p->Count()) return {};
    n = p->Value(i);
  }
  Corrupt();
}

// ---- consistency --------------------------------------------------------------------------

std::vector<std::string> TBTree::CheckStructure(int64_t* entries) {
  std::vector<std::string> faults;
  auto fault = [&](int32_t page, const std::string& what) {
    faults.push_back("index '" + indexName_ + "' page " + std::to_string(page) + ": " + what);
  };
  const std::size_t length = static_cast<std::size_t>(format_.keyLength);
  std::set<int32_t> seen;
  std::vector<std::vector<int32_t>> levels;  // pages of each level, left to right
  std::vector<uint8_t> lastLeafKey;
  int leafDepth = -1;
  int64_t total = 0;

  // Returns the leaf entries below page n; lo and hi bound its keys (hi exclusive).
  auto visit = [&](auto&& self, int32_t n, int depth, const std::vector<uint8_t>* lo,
                   const std::vector<uint8_t>* hi) -> int64_t {
    if (depth >= kMaxDepth) {
      fault(n, "tree too deep");
      return 0;
    }
    if (!seen.insert(n).second) {
      fault(n, "reached twice");
      return 0;
    }
    TPageRef p;
    try {
      p = Fetch(n);
    } catch (const EEngineError&) {
      fault(n, "cannot be read");
      return 0;
    }
    if (levels.size() <= static_cast<std::size_t>(depth))
      levels.resize(static_cast<std::size_t>(depth) + 1);
    levels[static_cast<std::size_t>(depth)].push_back(n);
    if (p->Count() == 0) {
      fault(n, "tree page without entries");
      return 0;
    }
    if (p->IsRoot() != (depth == 0)) fault(n, "wrong page type " + std::to_string(p->Type()));
    if (p->Overfull()) fault(n, "holds more than a page");
    // The first entry of an internal page routes everything below the second one whatever its
    // key says (its key is the child's first key when the entry was made), so order counts
    // from the second entry on.
    for (int i = p->IsLeaf() ? 1 : 2; i < p->Count(); ++i) {
      if (keyDef_.Compare(p->Key(i - 1), p->Key(i)) >= 0) {
        fault(n, "keys out of order at slot " + std::to_string(i) + " of a page of type " +
                     std::to_string(p->Type()));
      }
    }
    if (p->IsLeaf()) {
      if (leafDepth < 0) leafDepth = depth;
      if (leafDepth != depth) fault(n, "leaf at another depth");
      for (int i = 0; i < p->Count(); ++i) {
        if (lo != nullptr && keyDef_.Compare(p->Key(i), lo->data()) < 0) {
          fault(n, "key below its separator at slot " + std::to_string(i));
        }
        if (hi != nullptr && keyDef_.Compare(p->Key(i), hi->data()) >= 0) {
          fault(n, "key not below the next separator at slot " + std::to_string(i));
        }
      }
      if (!lastLeafKey.empty() && keyDef_.Compare(lastLeafKey.data(), p->Key(0)) >= 0) {
        fault(n, "first key not above the previous leaf's last key");
      }
      lastLeafKey.assign(p->Key(p->Count() - 1), p->Key(p->Count() - 1) + length);
      total += p->Count();
      return p->Count();
    }
    int64_t sum = 0;
    for (int i = 0; i < p->Count(); ++i) {
      std::vector<uint8_t> childLo;
      std::vector<uint8_t> childHi;
      const std::vector<uint8_t>* cl = lo;
      const std::vector<uint8_t>* ch = hi;
      if (i > 0) {
        childLo.assign(p->Key(i), p->Key(i) + length);
        cl = &childLo;
      }
      if (i + 1 < p->Count()) {
        childHi.assign(p->Key(i + 1), p->Key(i + 1) + length);
        ch = &childHi;
      }
      const int32_t child = p->Value(i);
      const int32_t claimed = p->Below(i);
      const int64_t below = self(self, child, depth + 1, cl, ch);
      if (format_.counts && below != claimed) {
        fault(n, "count " + std::to_string(claimed) + " for child " + std::to_string(child) +
                     " holding " + std::to_string(below));
      }
      sum += below;
    }
    return sum;
  };

  const int32_t root = RootPage();
  if (root != 0) visit(visit, root, 0, nullptr, nullptr);

  for (const std::vector<int32_t>& level : levels) {
    for (std::size_t i = 0; i < level.size(); ++i) {
      TPageRef p;
      try {
        p = Fetch(level[i]);
      } catch (const EEngineError&) {
        continue;
      }
      const int32_t prev = i > 0 ? level[i - 1] : 0;
      const int32_t next = i + 1 < level.size() ? level[i + 1] : 0;
      if (p->Prev() != prev) fault(level[i], "previous link " + std::to_string(p->Prev()));
      if (p->Next() != next) fault(level[i], "next link " + std::to_string(p->Next()));
    }
  }

  std::set<int32_t> freePages;
  for (int32_t n = Descriptor().freeChain; n != 0;) {
    if (seen.count(n) != 0) {
      fault(n, "free page in use by the tree");
      break;
    }
    if (!freePages.insert(n).second) {
      fault(n, "free chain runs in a circle");
      break;
    }
    TPageRef p;
    try {
      p = Fetch(n);
    } catch (const EEngineError&) {
      fault(n, "free page cannot be read");
      break;
    }
    if (p->Count() != 0) fault(n, "free page with entries");
    n = p->Next();
  }
  if (entries != nullptr) *entries = total;
  return faults;
}

}  // namespace mt
