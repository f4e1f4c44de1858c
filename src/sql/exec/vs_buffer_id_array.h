// SQLVSBufferIdKeySQLVSBufferIdArray: a sorted array of {key, value} pairs of
// row ids, through which sort and grouping order and find buffered rows.
//
// Ordered by a caller's comparison of keys (with a context passed through),
// by default the ids' bytes. Insert places each pair by binary search, so
// the array is always in key order; Append followed by Sort builds the same
// order in O(n log n) for bulk loads, keeping equal keys in the order they
// were appended.
#pragma once

#include <cstddef>
#include <vector>

#include "sql/exec/vs_buffer_id.h"

class SQLVSBufferIdKeySQLVSBufferIdArray {
 public:
  // Negative, 0 or positive as a orders before, with or after b.
  using Compare = int (*)(SQLVSBufferId const &a, SQLVSBufferId const &b, void *context);

  // Empty, room for 1000 pairs, no duplicates, the default comparison.
  SQLVSBufferIdKeySQLVSBufferIdArray();
  SQLVSBufferIdKeySQLVSBufferIdArray(Compare compare, void *context);

  void SetAllowDuplicates() { flags_ |= kAllowDuplicates; }

  // Throws SLExDuplicate (array unchanged) for a key equal to one present
  // unless duplicates are allowed; an equal key then goes directly before
  // the equal pair that the binary search meets.
  void Insert(SQLVSBufferId const &key, SQLVSBufferId const &value);
  // The value of a pair whose key compares equal; SLExNotExists if none.
  SQLVSBufferId Lookup(SQLVSBufferId const &key) const;
  // Adds a pair at the end without ordering; Sort must follow before the
  // array is searched or walked.
  void Append(SQLVSBufferId const &key, SQLVSBufferId const &value);
  // Orders the pairs by key, equal keys in their present order. Without
  // duplicates allowed, equal keys throw SLExDuplicate (order unspecified).
  void Sort();
  // Count 0; the storage stays.
  void Empty() { count_ = 0; }

  int GetCount() const { return count_; }
  int GetCapacity() const { return static_cast<int>(pairs_.size()); }
  SQLVSBufferId const &GetKey(int i) const { return pairs_[static_cast<std::size_t>(i)].key; }
  SQLVSBufferId const &GetValue(int i) const { return pairs_[static_cast<std::size_t>(i)].value; }

 private:
  static constexpr unsigned kAllowDuplicates = 0x1;
  struct Pair {
    SQLVSBufferId key;
    SQLVSBufferId value;
  };

  // The insertion point of key; sets *found when an equal key was met.
  int Search(SQLVSBufferId const &key, bool *found) const;
  void GrowIfFull();

  int count_ = 0;
  std::vector<Pair> pairs_;  // capacity pairs, the first count_ in use
  unsigned flags_ = 0;       // kAllowDuplicates
  Compare compare_;
  void *context_;  // passed to compare_, not owned
};

// Walks an id array in key order.
class SQLVSBufferIdKeySQLVSBufferIdArraystepper {
 public:
  explicit SQLVSBufferIdKeySQLVSBufferIdArraystepper(SQLVSBufferIdKeySQLVSBufferIdArray const *array)
      : array_(array) {}
  // On the first pair; FALSE (not positioned) when the array is empty.
  bool First();
  // On the next pair; FALSE (not positioned) after the last.
  bool Next();
  // REQUIRES: positioned.
  SQLVSBufferId const &GetCurrentKey() const { return array_->GetKey(index_); }
  SQLVSBufferId const &GetCurrentValue() const { return array_->GetValue(index_); }

 private:
  SQLVSBufferIdKeySQLVSBufferIdArray const *array_;  // not owned
  int index_ = -1;                                    // -1: not positioned
};
