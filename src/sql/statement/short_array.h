// ShortArray: a counted array of 16-bit values, the key of a statement's
// execution trees (execution form, default company number, then the company
// numbers of the statement's company-number parameters).
#pragma once

#include <cstddef>
#include <initializer_list>
#include <vector>

class ShortArray {
 public:
  static constexpr int kMaxCount = 32767;  // the count is a signed 16-bit number

  // `count` values, all 0. A count outside 0..kMaxCount throws
  // std::length_error.
  explicit ShortArray(int count);
  ShortArray(std::initializer_list<short> values);

  short GetCount() const { return static_cast<short>(values_.size()); }
  // REQUIRES: 0 <= i < GetCount().
  short Get(int i) const { return values_[static_cast<std::size_t>(i)]; }
  // Stores the low 16 bits of value.
  // REQUIRES: 0 <= i < GetCount().
  void Set(int i, long value) { values_[static_cast<std::size_t>(i)] = static_cast<short>(value); }

  // TRUE when the counts are equal and so is every value (two empty arrays
  // are equal).
  bool Equal(ShortArray const &other) const;
  // CRC-32 (initial value 0) over the values, two bytes each, low byte first.
  unsigned long Hash() const;

 private:
  std::vector<short> values_;
};

// Hash and equality of the exec-tree cache.
unsigned long ShortArrayHash(ShortArray const *key);
bool ShortArrayEqual(ShortArray const *a, ShortArray const *b);
