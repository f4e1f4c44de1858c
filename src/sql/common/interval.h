// Interval<T>: a closed range [first, last], e.g. a run of column ids.
#pragma once

template <class T>
class Interval {
 public:
  Interval(T first, T last) : first_(first), last_(last) {}
  virtual ~Interval() = default;
  Interval(Interval const &) = default;
  Interval &operator=(Interval const &) = default;

  T GetFirst() const { return first_; }
  T GetLast() const { return last_; }
  // TRUE when first <= v <= last (both ends included).
  bool Contains(T v) const { return first_ <= v && v <= last_; }

 private:
  T first_;
  T last_;
};
