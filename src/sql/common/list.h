// List<T>: a doubly linked list with one built-in cursor.
//
// Iteration: First(), then Next() for as long as the last call returned TRUE,
// reading GetCurrent() in between. DeleteCurrent() unlinks the element under
// the cursor at once but frees it only when the cursor next moves (or the
// list dies), and Next() steps from the unlinked element to its old
// successor, so deleting while iterating is safe.
//
// The list owns its elements and the values in them; for pointer element
// types it does not delete the objects pointed to.
#pragma once

#include <utility>

template <class T>
class List {
 public:
  List() = default;
  // A copy that cannot be completed frees the elements it made.
  List(List const &other) {
    try {
      for (Element *e = other.head_; e; e = e->next) Append(e->value);
    } catch (...) {
      for (Element *e = head_; e;) {
        Element *next = e->next;
        delete e;
        e = next;
      }
      throw;
    }
  }
  List &operator=(List const &other) {
    if (this != &other) {
      List copy(other);
      Swap(copy);
    }
    return *this;
  }
  virtual ~List() {
    FreeDeleted();
    for (Element *e = head_; e;) {
      Element *next = e->next;
      delete e;
      e = next;
    }
  }

  // New element at the head.
  void Insert(T const &value) {
    Element *e = new Element{value, head_, nullptr};
    if (head_) head_->prev = e; else tail_ = e;
    head_ = e;
    ++count_;
  }

  // New element at the tail.
  void Append(T const &value) {
    Element *e = new Element{value, nullptr, tail_};
    if (tail_) tail_->next = e; else head_ = e;
    tail_ = e;
    ++count_;
  }

  // Moves all elements of other, in order, to the end of this list.
  // Takes ownership of other (allocated with new) and deletes it.
  void Merge(List *other) {
    if (other == nullptr || other == this) return;
    if (other->head_) {
      if (head_ == nullptr) {
        head_ = other->head_;
      } else {
        tail_->next = other->head_;
        other->head_->prev = tail_;
      }
      tail_ = other->tail_;
      count_ += other->count_;
    }
    other->head_ = other->tail_ = nullptr;
    other->count_ = 0;
    delete other;  // frees an element that other's cursor had deleted
  }

  // Cursor to the head; FALSE when the list is empty.
  bool First() {
    FreeDeleted();
    current_ = head_;
    return current_ != nullptr;
  }

  // Cursor to the next element; FALSE past the last.
  // REQUIRES: the last First() or Next() returned TRUE.
  bool Next() {
    if (current_ == nullptr) return false;
    Element *next = current_->next;
    FreeDeleted();
    current_ = next;
    return current_ != nullptr;
  }

  // TRUE while the cursor is on a linked element.
  bool Current() const { return current_ != nullptr && !currentDeleted_; }

  // REQUIRES: the cursor is on an element.
  T &GetCurrent() { return current_->value; }
  T const &GetCurrent() const { return current_->value; }
  void SetCurrent(T const &value) { current_->value = value; }

  // Unlinks the element under the cursor; it is freed at the next cursor
  // move. Does nothing when the cursor is on no linked element.
  void DeleteCurrent() {
    if (!Current()) return;
    Element *e = current_;
    if (e->prev) e->prev->next = e->next; else head_ = e->next;
    if (e->next) e->next->prev = e->prev; else tail_ = e->prev;
    --count_;
    currentDeleted_ = true;
  }

  int NrElements() const { return count_; }

 private:
  struct Element {
    T value;
    Element *next;
    Element *prev;
  };

  void FreeDeleted() {
    if (currentDeleted_) {
      delete current_;
      current_ = nullptr;
      currentDeleted_ = false;
    }
  }

  void Swap(List &other) {
    std::swap(head_, other.head_);
    std::swap(tail_, other.tail_);
    std::swap(count_, other.count_);
    std::swap(current_, other.current_);
    std::swap(currentDeleted_, other.currentDeleted_);
  }

  Element *head_ = nullptr;
  Element *tail_ = nullptr;
  int count_ = 0;
  Element *current_ = nullptr;  // the cursor
  bool currentDeleted_ = false;  // current_ is unlinked and awaits freeing
};
