// Stack<T>: a stack of fixed capacity (the parser's objects awaiting an
// owner). Holds copies of T; for pointer types it does not own the objects.
#pragma once

#include <cstddef>
#include <vector>

#include "sql/common/container_exceptions.h"

template <class T>
class Stack {
 public:
  explicit Stack(int capacity) : capacity_(capacity < 0 ? 0 : capacity) {
    items_.reserve(static_cast<size_t>(capacity_));
  }

  // Throws StackExOverflow when full.
  void Push(T const &item) {
    if (static_cast<int>(items_.size()) >= capacity_) throw StackExOverflow();
    items_.push_back(item);
  }
  // Removes and returns the top item; throws StackExUnderflow when empty.
  T Pop() {
    if (items_.empty()) throw StackExUnderflow();
    T item = items_.back();
    items_.pop_back();
    return item;
  }
  // The top item; throws StackExUnderflow when empty.
  T &Top() {
    if (items_.empty()) throw StackExUnderflow();
    return items_.back();
  }
  int NrElements() const { return static_cast<int>(items_.size()); }

 private:
  int capacity_;
  std::vector<T> items_;
};
