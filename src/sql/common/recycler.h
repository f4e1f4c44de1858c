// Recycler<K, V>: a bounded cache of owned keys and values that, when full,
// reuses its oldest entry.
//
// Entries sit in a chained hash (prime bucket count for the capacity) and in
// an age list from newest to oldest. Insert at capacity evicts the least
// recently inserted entry (its key and value are deleted). Extract removes an
// entry and hands its value to the caller: a statement or tree in use is out
// of the cache and goes back in with Insert when its user is done with it.
//
// KeyStorage is what a key is allocated as: char[] for C-text keys.
#pragma once

#include <memory>
#include <cstddef>
#include <vector>

#include "sql/common/bucket_count.h"
#include "sql/common/container_exceptions.h"

template <class K, class V, class KeyStorage = K>
class Recycler {
 public:
  using KeyPtr = std::unique_ptr<KeyStorage>;
  using HashFunction = unsigned long (*)(K const *key);
  using EqualFunction = bool (*)(K const *a, K const *b);

  // A capacity below 1 keeps nothing: every insert is dropped at once.
  Recycler(int capacity, HashFunction hash, EqualFunction equal)
      : capacity_(capacity),
        bucketCount_(SQLBucketCount(capacity)),
        buckets_(static_cast<size_t>(bucketCount_), nullptr),
        hash_(hash),
        equal_(equal) {}
  Recycler(Recycler const &) = delete;
  Recycler &operator=(Recycler const &) = delete;
  ~Recycler() {
    for (Node *n = newest_; n;) {
      Node *older = n->older;
      delete n;
      n = older;
    }
  }

  // Stores the entry as the newest; at capacity the oldest entry is dropped
  // first. Takes ownership of key and value.
  // Memory that runs out (in the new entry or in the key's hash) leaves the
  // cache as it was and destroys key and value.
  void Insert(KeyPtr key, std::unique_ptr<V> value) {
    if (capacity_ < 1) return;
    const int bucket = BucketOf(key.get());  // the hash may allocate: before any change
    Node *n;
    if (count_ < capacity_) {
      n = new Node;
      ++count_;
    } else {
      n = oldest_;
      UnlinkChain(n);
      UnlinkAge(n);
    }
    n->key = std::move(key);
    n->value = std::move(value);
    n->bucket = bucket;
    n->chainPrev = nullptr;
    n->chainNext = buckets_[n->bucket];
    if (n->chainNext) n->chainNext->chainPrev = n;
    buckets_[n->bucket] = n;
    n->older = newest_;
    n->newer = nullptr;
    if (newest_) newest_->newer = n; else oldest_ = n;
    newest_ = n;
  }

  // Removes the entry with an equal key and returns its value (the stored
  // key is freed); throws RecyclerExNotExists on a miss.
  std::unique_ptr<V> Extract(K const *key) {
    ++lookups_;
    for (Node *n = buckets_[BucketOf(key)]; n; n = n->chainNext) {
      if (!equal_(n->key.get(), key)) continue;
      ++hits_;
      UnlinkChain(n);
      UnlinkAge(n);
      std::unique_ptr<V> value = std::move(n->value);
      delete n;
      --count_;
      return value;
    }
    throw RecyclerExNotExists();
  }

  // Successful extracts over all of them; 0.0 before the first.
  double Efficiency() const { return lookups_ == 0 ? 0.0 : static_cast<double>(hits_) / lookups_; }
  int NrElements() const { return count_; }
  int Capacity() const { return capacity_; }
  int BucketCount() const { return bucketCount_; }

 private:
  struct Node {
    KeyPtr key;
    std::unique_ptr<V> value;
    Node *chainPrev = nullptr;
    Node *chainNext = nullptr;
    Node *newer = nullptr;  // towards the newest entry
    Node *older = nullptr;  // towards the oldest entry
    int bucket = 0;
  };

  int BucketOf(K const *key) const {
    return static_cast<int>(hash_(key) % static_cast<unsigned long>(bucketCount_));
  }

  void UnlinkChain(Node *n) {
    if (n->chainPrev) n->chainPrev->chainNext = n->chainNext; else buckets_[n->bucket] = n->chainNext;
    if (n->chainNext) n->chainNext->chainPrev = n->chainPrev;
  }

  void UnlinkAge(Node *n) {
    if (n->newer) n->newer->older = n->older; else newest_ = n->older;
    if (n->older) n->older->newer = n->newer; else oldest_ = n->newer;
  }

  int capacity_;  // maximum number of entries
  int count_ = 0;
  int bucketCount_;
  std::vector<Node *> buckets_;  // chain heads
  Node *newest_ = nullptr;  // most recently inserted
  Node *oldest_ = nullptr;  // least recently inserted
  HashFunction hash_;
  EqualFunction equal_;
  int lookups_ = 0;  // calls of Extract
  int hits_ = 0;     // successful ones
};
