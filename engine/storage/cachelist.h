// TCacheList: the bookkeeping shared by the record cache, the index page caches and the blob
// block cache. Cached objects are held in a list sorted by their number (binary search) and,
// at the same time, in an intrusive recency list from newest to oldest. A lookup first looks
// at the four newest objects, since callers mostly revisit what they just used, then searches
// the sorted list; a hit becomes the newest.
//
// An object type T provides the members number_ (int32_t), dirty_ (bool), pins_ (int), and the
// recency links newer_ and older_ (T*), and befriends TCacheList<T>. Policies (when to make
// room, how to write back, pooling) stay with the owner.
//
// Thread-safety: none of its own; used on the thread of its owner's table (datatable.h).
#include "engine/storage/privateheader.h"

#ifndef MT_STORAGE_CACHELIST_H
#define MT_STORAGE_CACHELIST_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/common/debugcheck.h"

namespace mt {

template <class T>
class TCacheList {
 public:
  using TPtr = std::unique_ptr<T>;
  static constexpr int kNewestChecked = 4;

  // The capacity of a full cache in which nothing could be evicted: `step` objects more, or,
  // while writes are deferred (a transaction keeps every change in memory until its commit), a
  // quarter more, so that a long transaction does not rescan all its unevictable objects every
  // few additions.
  static std::size_t GrownCapacity(std::size_t capacity, std::size_t step, bool deferWrites) {
    return capacity + (deferWrites ? std::max(step, capacity / 4) : step);
  }

  std::size_t Size() const { return sorted_.size(); }
  bool Empty() const { return sorted_.empty(); }

  // The object numbered n, which becomes the newest; nullptr when not cached.
  T* Find(int32_t n) {
    T* p = newest_;
    for (int i = 0; i < kNewestChecked && p != nullptr; ++i, p = p->older_) {
      if (p->number_ == n) break;
    }
    if (p == nullptr || p->number_ != n) {
      p = Lookup(n);
      if (p == nullptr) return nullptr;
    }
    if (p != newest_) {
      Unlink(p);
      LinkNewest(p);
    }
    return p;
  }

  // The object numbered n without touching the recency order; nullptr when not cached.
  T* Lookup(int32_t n) const {
    const std::size_t at = LowerBound(n);
    return at < sorted_.size() && sorted_[at]->number_ == n ? sorted_[at].get() : nullptr;
  }

  // Adds an object (its number not cached yet) as the newest.
  T* Insert(TPtr object) {
    T* p = object.get();
    const std::size_t at = LowerBound(p->number_);
    MT_ASSERT(at == sorted_.size() || sorted_[at]->number_ != p->number_);
    sorted_.insert(sorted_.begin() + static_cast<std::ptrdiff_t>(at), std::move(object));
    LinkNewest(p);
    return p;
  }

  // Takes a cached object out of both lists.
  TPtr Remove(T* object) {
    Unlink(object);
    const std::size_t at = LowerBound(object->number_);
    MT_ASSERT(at < sorted_.size() && sorted_[at].get() == object);
    TPtr owned = std::move(sorted_[at]);
    sorted_.erase(sorted_.begin() + static_cast<std::ptrdiff_t>(at));
    return owned;
  }

  // The oldest object that is neither dirty nor pinned, nullptr when there is none.
  T* OldestEvictable() const {
    for (T* p = oldest_; p != nullptr; p = p->newer_) {
      if (!p->dirty_ && p->pins_ == 0) return p;
    }
    return nullptr;
  }

  // Evicts the oldest objects that are neither dirty nor pinned until at most `target` remain
  // (or none is evictable), handing each to give(TPtr). The sorted list is compacted in one
  // pass, so trimming a large cache after a transaction costs no more than a scan.
  // Returns whether anything was evicted.
  template <class TGive>
  bool TrimTo(std::size_t target, TGive give) {
    if (sorted_.size() <= target) return false;
    std::size_t excess = sorted_.size() - target;
    std::vector<int32_t> victims;
    for (T* p = oldest_; p != nullptr && victims.size() < excess; p = p->newer_) {
      if (!p->dirty_ && p->pins_ == 0) victims.push_back(p->number_);
    }
    if (victims.empty()) return false;
    std::sort(victims.begin(), victims.end());
    std::size_t kept = 0;
    for (std::size_t i = 0; i < sorted_.size(); ++i) {
      if (std::binary_search(victims.begin(), victims.end(), sorted_[i]->number_)) {
        Unlink(sorted_[i].get());
        give(std::move(sorted_[i]));
      } else {
        if (kept != i) sorted_[kept] = std::move(sorted_[i]);
        ++kept;
      }
    }
    sorted_.resize(kept);
    return true;
  }

  // Makes room for one more object in a cache of `capacity`: evicts the oldest clean, unpinned
  // objects down to seven eighths of the capacity, so that a long sequential read compacts the
  // sorted list once per batch instead of shifting it for every object it adds; when too few
  // are evictable to get there, writes back (unless writes are deferred) and trims again (a
  // cache full of dirty objects would otherwise be scanned whole for every object added);
  // failing that, grows the capacity (GrownCapacity).
  template <class TGive, class TWriteBack>
  void MakeRoom(std::size_t& capacity, std::size_t step, bool deferWrites, TGive give,
                TWriteBack writeBack) {
    while (sorted_.size() >= capacity) {
      const std::size_t keep = capacity - std::max<std::size_t>(1, capacity / 8);
      TrimTo(keep, give);
      if (sorted_.size() <= keep) return;
      if (!deferWrites) {
        writeBack();
        TrimTo(keep, give);
      }
      if (sorted_.size() < capacity) return;
      capacity = GrownCapacity(capacity, step, deferWrites);
    }
  }

  // Empties the cache, handing every object to the caller.
  std::vector<TPtr> TakeAll() {
    std::vector<TPtr> all = std::move(sorted_);
    sorted_.clear();
    for (TPtr& p : all)
      p->newer_ = p->older_ = nullptr;
    newest_ = oldest_ = nullptr;
    return all;
  }

  // Calls fn(run, count) for each run of objects with consecutive numbers that all satisfy
  // take, in number order; run points at count objects, at most maxRun of them (a longer run
  // comes in pieces). Returns whether any run was found.
  template <class TTake, class TFn>
  bool ForEachRun(TTake take, TFn fn, std::size_t maxRun = SIZE_MAX) {
    bool any = false;
    std::vector<T*> run;
    std::size_t i = 0;
    while (i < sorted_.size()) {
      if (!take(*sorted_[i])) {
        ++i;
        continue;
      }
      run.clear();
      run.push_back(sorted_[i].get());
      std::size_t j = i;
      while (run.size() < maxRun && j + 1 < sorted_.size() && take(*sorted_[j + 1]) &&
             sorted_[j + 1]->number_ == sorted_[j]->number_ + 1) {
        run.push_back(sorted_[++j].get());
      }
      fn(run.data(), run.size());
      any = true;
      i = j + 1;
    }
    return any;
  }

  // Calls fn(object) for each cached object numbered first to last, in number order.
  template <class TFn>
  void ForEachIn(int32_t first, int32_t last, TFn fn) const {
    for (std::size_t at = LowerBound(first); at < sorted_.size() && sorted_[at]->number_ <= last;
         ++at) {
      fn(static_cast<const T&>(*sorted_[at]));
    }
  }

  // Objects in number order.
  auto begin() const { return sorted_.begin(); }
  auto end() const { return sorted_.end(); }

 private:
  std::size_t LowerBound(int32_t n) const {
    const auto it =
        std::lower_bound(sorted_.begin(), sorted_.end(), n,
                         [](const TPtr& p, int32_t number) { return p->number_ < number; });
    return static_cast<std::size_t>(it - sorted_.begin());
  }

  void LinkNewest(T* p) {
    p->older_ = newest_;
    p->newer_ = nullptr;
    if (newest_ != nullptr) newest_->newer_ = p;
    newest_ = p;
    if (oldest_ == nullptr) oldest_ = p;
  }

  void Unlink(T* p) {
    if (p->newer_ != nullptr) {
      p->newer_->older_ = p->older_;
    } else {
      newest_ = p->older_;
    }
    if (p->older_ != nullptr) {
      p->older_->newer_ = p->newer_;
    } else {
      oldest_ = p->newer_;
    }
    p->newer_ = p->older_ = nullptr;
  }

  std::vector<TPtr> sorted_;  // by number
  T* newest_ = nullptr;
  T* oldest_ = nullptr;
};

}  // namespace mt

#endif  // MT_STORAGE_CACHELIST_H
