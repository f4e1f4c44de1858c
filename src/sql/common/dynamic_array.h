// DynamicArray<T>: a growable array that owns its elements.
//
// Growth: when full, the capacity doubles while it is below 10 and grows by
// 1.3 (truncated) from then on: 10 -> 13 -> 16 -> 20 -> 26.
#pragma once

#include <cassert>
#include <cstddef>
#include <utility>
#include <vector>

template <class T>
class DynamicArray {
 public:
  // initialCapacity below 1 counts as 1.
  explicit DynamicArray(int initialCapacity = 10)
      : capacity_(initialCapacity < 1 ? 1 : initialCapacity) {
    items_.reserve(static_cast<size_t>(capacity_));
  }
  DynamicArray(DynamicArray const &) = default;
  DynamicArray &operator=(DynamicArray const &) = default;
  // Destroys the elements from the last to the first.
  ~DynamicArray() {
    while (!items_.empty()) items_.pop_back();
  }

  // Appends a copy of value. value may be an element of this array: it is
  // copied before the storage grows, which moves the elements.
  void Insert(T const &value) {
    if (static_cast<int>(items_.size()) == capacity_) {
      T copy(value);
      capacity_ = capacity_ < 10 ? capacity_ * 2 : static_cast<int>(capacity_ * 1.3);
      items_.reserve(static_cast<size_t>(capacity_));
      items_.push_back(std::move(copy));
      return;
    }
    items_.push_back(value);
  }

  // REQUIRES: 0 <= i < NrElements().
  T &Get(int i) {
    assert(i >= 0 && i < NrElements());
    return items_[static_cast<size_t>(i)];
  }
  T const &Get(int i) const {
    assert(i >= 0 && i < NrElements());
    return items_[static_cast<size_t>(i)];
  }

  int NrElements() const { return static_cast<int>(items_.size()); }
  int Capacity() const { return capacity_; }

 private:
  int capacity_;  // elements the array grows by the rule above
  std::vector<T> items_;
};
