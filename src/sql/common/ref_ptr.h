// RefPtr<T>: a shared pointer with a separate, non-atomic counter.
//
// The object is deleted (through its destructor, virtual for polymorphic T)
// when the last RefPtr to it goes. A null RefPtr holds no counter.
#pragma once

template <class T>
class RefPtr {
 public:
  RefPtr() = default;
  // Takes ownership of object (allocated with new); null gives a null RefPtr.
  // When the counter cannot be allocated, object is deleted and the
  // exception goes on.
  explicit RefPtr(T *object) : counter_(object ? Count(object) : nullptr) {}
  RefPtr(RefPtr const &other) : counter_(other.counter_) {
    if (counter_) ++counter_->count;
  }
  RefPtr &operator=(RefPtr const &other) {
    // The new target is counted first, so assigning to itself is safe.
    RefCounter *target = other.counter_;
    if (target) ++target->count;
    Release();
    counter_ = target;
    return *this;
  }
  ~RefPtr() { Release(); }

  T *Get() const { return counter_ ? counter_->object : nullptr; }
  T *operator->() const { return counter_->object; }
  T &operator*() const { return *counter_->object; }
  bool IsNull() const { return counter_ == nullptr; }
  explicit operator bool() const { return counter_ != nullptr; }
  // References to the object, 0 for a null RefPtr.
  int UseCount() const { return counter_ ? counter_->count : 0; }

  bool operator==(RefPtr const &other) const { return Get() == other.Get(); }
  // Every RefPtr sharing this one's counter points at object from now on.
  // The old object is not deleted: the caller has disposed of it (a pass
  // that replaces a node deletes it or hands it to the replacement).
  // REQUIRES: a non-null RefPtr and a non-null object.
  void ReplaceObject(T *object) { counter_->object = object; }

 private:
  struct RefCounter {
    int count;
    T *object;
    // Drops one reference; the last deletes the object and the counter.
    static void Decrement(RefCounter *c) {
      if (--c->count == 0) Destroy(c);
    }
    // Out of line: inlined into a caller that drops two references to one
    // counter, the deletes let the compiler's use-after-free check follow
    // a path where the first drop deleted the counter the second decrements,
    // a path no run can take (the second reference kept the count above 0).
    [[gnu::noinline]] static void Destroy(RefCounter *c) {
      delete c->object;
      delete c;
    }
  };

  static RefCounter *Count(T *object) {
    try {
      return new RefCounter{1, object};
    } catch (...) {
      delete object;
      throw;
    }
  }

  void Release() {
    if (counter_) RefCounter::Decrement(counter_);
    counter_ = nullptr;
  }

  RefCounter *counter_ = nullptr;
};
