// Hash<K, V>: a chained hash table with a prime number of buckets, keyed by
// user-given hash and equality functions.
//
// Insert adds at the head of the key's bucket without looking for an equal
// key, so of equal keys the latest inserted is the one found (and deleted)
// first. Lookup and Delete of a missing key throw HashExNotExists, which
// callers use as "not found". The table keeps copies of keys and values; it
// never deletes what pointer values point to.
//
// Iteration: First(), then Next() while TRUE, reading GetCurrent() or
// GetCurrentKey() in between; buckets in index order, each chain in order.
// Deleting the node under the cursor is safe: Next() continues after it.
#pragma once

#include <cstddef>
#include <memory>

#include "sql/common/bucket_count.h"
#include "sql/common/container_exceptions.h"

template <class K, class V>
class Hash {
 public:
  using HashFunction = unsigned long (*)(K const &key);
  using EqualFunction = bool (*)(K const &a, K const &b);

  Hash(int expectedSize, HashFunction hash, EqualFunction equal)
      : bucketCount_(SQLBucketCount(expectedSize)),
        buckets_(new Node *[static_cast<size_t>(bucketCount_)]()),
        hash_(hash),
        equal_(equal) {}
  Hash(Hash const &) = delete;
  Hash &operator=(Hash const &) = delete;
  ~Hash() {
    for (int b = 0; b < bucketCount_; ++b) {
      for (Node *n = buckets_[b]; n;) {
        Node *next = n->next;
        delete n;
        n = next;
      }
    }
  }

  void Insert(K const &key, V const &value) {
    int b = BucketOf(key);
    buckets_[b] = new Node{buckets_[b], key, value};
    ++count_;
  }

  // The value of the latest inserted equal key; throws HashExNotExists.
  V &Lookup(K const &key) {
    ++lookups_;
    for (Node *n = buckets_[BucketOf(key)]; n; n = n->next) {
      if (equal_(n->key, key)) {
        ++hits_;
        return n->value;
      }
    }
    throw HashExNotExists();
  }

  // Removes the latest inserted equal key; throws HashExNotExists.
  void Delete(K const &key) {
    ++lookups_;
    int b = BucketOf(key);
    for (Node **link = &buckets_[b]; *link; link = &(*link)->next) {
      Node *n = *link;
      if (!equal_(n->key, key)) continue;
      ++hits_;
      if (n == current_) {
        resume_ = Successor(n, b, &resumeBucket_);
        resumePending_ = true;
        current_ = nullptr;
      } else if (resumePending_ && n == resume_) {
        resume_ = Successor(n, b, &resumeBucket_);
      }
      *link = n->next;
      delete n;
      --count_;
      return;
    }
    throw HashExNotExists();
  }

  bool First() {
    resumePending_ = false;
    current_ = FirstFrom(0, &currentBucket_);
    return current_ != nullptr;
  }

  bool Next() {
    if (resumePending_) {
      resumePending_ = false;
      current_ = resume_;
      currentBucket_ = resumeBucket_;
    } else if (current_) {
      current_ = Successor(current_, currentBucket_, &currentBucket_);
    }
    return current_ != nullptr;
  }

  // REQUIRES: the last First() or Next() returned TRUE.
  V &GetCurrent() { return current_->value; }
  K const &GetCurrentKey() const { return current_->key; }

  // Successful lookups and deletes over all of them; 0.0 before the first.
  double Efficiency() const { return lookups_ == 0 ? 0.0 : static_cast<double>(hits_) / lookups_; }
  int NrElements() const { return count_; }
  int BucketCount() const { return bucketCount_; }

 private:
  struct Node {
    Node *next;
    K key;
    V value;
  };

  int BucketOf(K const &key) const { return static_cast<int>(hash_(key) % static_cast<unsigned long>(bucketCount_)); }

  // The first node of bucket b or a later bucket; *found is its bucket.
  Node *FirstFrom(int b, int *found) const {
    for (; b < bucketCount_; ++b) {
      if (buckets_[b]) {
        *found = b;
        return buckets_[b];
      }
    }
    return nullptr;
  }

  // The node after n (in bucket b) in iteration order; *found is its bucket.
  Node *Successor(Node *n, int b, int *found) const {
    if (n->next) {
      *found = b;
      return n->next;
    }
    return FirstFrom(b + 1, found);
  }

  int bucketCount_;
  std::unique_ptr<Node *[]> buckets_;  // bucket heads
  HashFunction hash_;
  EqualFunction equal_;
  int count_ = 0;
  int lookups_ = 0;  // calls of Lookup and Delete
  int hits_ = 0;     // of those, the successful ones
  Node *current_ = nullptr;  // iteration cursor
  int currentBucket_ = 0;    // bucket of the cursor
  Node *resume_ = nullptr;   // where Next() goes after the cursor's node was deleted
  int resumeBucket_ = 0;     // bucket of resume_
  bool resumePending_ = false;
};

// Hash and equality of the integer keys (session and statement ids).
inline unsigned long bu4Hash(unsigned long const &key) { return key; }
inline bool bu4Equal(unsigned long const &a, unsigned long const &b) { return a == b; }
