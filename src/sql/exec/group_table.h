// SQLGroupTable: the groups of a grouping held in memory, found by a hash
// of their key values: per group its key values and its accumulator
// values, in the order the groups were added. Lookups and additions take
// constant time on average (open addressing, at most half full).
#pragma once

#include <cstdint>
#include <vector>

#include "sql/common/value_store.h"

class SQLGroupTable {
 public:
  SQLGroupTable(int numKeys, int numAccumulators);

  // The hash of a row's key values; equal keys (SQLKeyValuesEqual) share it.
  static std::uint64_t Hash(SQLValueStore const *const *keys, int numKeys);

  // The group of the keys, or -1.
  int Find(SQLValueStore const *const *keys, std::uint64_t hash) const;
  // A new group with copies of the keys and of initial (numAccumulators
  // stores); returns its number, 0 for the first since Clear.
  int Add(SQLValueStore const *const *keys, std::uint64_t hash, SQLValueStore const *initial);

  int GetSize() const { return size_; }
  SQLValueStore const *GetKeys(int group) const { return keys_.data() + Index(group, numKeys_); }
  SQLValueStore *GetAccumulators(int group) { return accumulators_.data() + Index(group, numAccumulators_); }

  // No groups; the stores stay for reuse.
  void Clear();

 private:
  static std::size_t Index(int group, int width) {
    return static_cast<std::size_t>(group) * static_cast<std::size_t>(width);
  }
  void Rehash(std::size_t slots);

  int numKeys_;
  int numAccumulators_;
  int size_ = 0;
  std::vector<SQLValueStore> keys_;          // numKeys_ per group
  std::vector<SQLValueStore> accumulators_;  // numAccumulators_ per group
  std::vector<std::uint64_t> hashes_;        // per group
  std::vector<int> slots_;                   // group numbers, -1 free
};
