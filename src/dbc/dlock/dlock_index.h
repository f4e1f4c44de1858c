// The key index of a delayed-lock store: chains of nodes over a bucket array
// whose size steps through a fixed list of primes, so that a row can be
// found by its key. Every allocation comes from one memory group; the index
// is never freed on its own.
#pragma once

#include <cstdint>

#include "dbc/dlock/dlock.h"

struct DLOCK_NODE {
  DLOCK_ENTRY *entry;
  DLOCK_NODE *next;  // the chain stays in ascending id order
};

struct DLOCK_INDEX {
  int group;              // memory group of buckets and nodes
  const DD_KEY *key;      // index 1, or null: no two entries match
  int prime_index;        // buckets = dlock_index_primes[prime_index]
  std::uint32_t nodes;
  double threshold;       // grow when (nodes + 1) / buckets exceeds it
  DLOCK_NODE **buckets;
};

inline constexpr int DLOCK_PRIME_COUNT = 27;
extern const std::uint32_t dlock_index_primes[DLOCK_PRIME_COUNT];

// A new index of 13 buckets, or null when memory runs out.
DLOCK_INDEX *dlock_index_new(int group, const DD_KEY *key);
inline std::uint32_t dlock_index_buckets(const DLOCK_INDEX *index) {
  return dlock_index_primes[index->prime_index];
}
// Sets the entry's hash from its image and adds it, unless an entry with an
// equal key is there already. Returns the entry that now stands for the key:
// `entry` itself when it was added, else the earlier one (which the caller
// updates); null when no node can be allocated.
DLOCK_ENTRY *dlock_index_insert(DLOCK_INDEX *index, DLOCK_ENTRY *entry);
// The first entry (lowest id) whose key equals the row's key, or null.
DLOCK_ENTRY *dlock_index_find(const DLOCK_INDEX *index, const unsigned char *row);
// After the entry's image changed: sets its hash anew and moves its node
// from the chain of its old hash to the chain of the new one. -1 when the
// node is not where its old hash says (nothing changes then), else 0.
int dlock_index_rehash(DLOCK_INDEX *index, DLOCK_ENTRY *entry);
