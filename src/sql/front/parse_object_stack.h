// SQLParseObjectStack: the objects a parse has built that no parent owns
// yet. Every parse action pushes the object it builds and pops its operands
// when it links them into the new object; when the parse fails, destroying
// the stack deletes whatever is left on it, so that nothing leaks.
//
// Objects of any type are held (tree nodes, lists, identifier strings): each
// entry remembers how to delete its object. Operands are popped by address;
// they are near the top, so a pop looks at the last few entries only.
//
// Each entry also carries the depth of the tree its object heads: one more
// than the deepest operand popped since the current parse action began
// (BeginAction), one for a leaf. An action that pops operands into an object
// it leaves on the stack (a list growing by one element) pushes nothing: the
// depth then passes to the object on top, which is that list. The grammar
// refuses a statement whose tree grows deeper than it can walk.
#pragma once

#include <algorithm>
#include <memory>
#include <type_traits>
#include <vector>

#include "sql/common/sql_abort.h"

class SQLParseObjectStack {
 public:
  SQLParseObjectStack() = default;
  SQLParseObjectStack(SQLParseObjectStack const &) = delete;
  SQLParseObjectStack &operator=(SQLParseObjectStack const &) = delete;
  // Deletes the objects left, the newest first.
  ~SQLParseObjectStack() { Clear(); }

  // Makes room for one more object, so that the next Push cannot fail.
  void Reserve() { entries_.reserve(entries_.size() + 1); }

  // Takes ownership of object (null is passed through). When the entry
  // cannot be made, the object is deleted and the exception goes on.
  template <class T>
  T *Push(T *object) {
    if (object == nullptr) return nullptr;
    std::unique_ptr<T> owned(object);
    entries_.push_back(Entry{Identity(object), object, &Destroy<T>, popped_ + 1});
    owned.release();
    pushed_ = true;
    return object;
  }

  // Starts the depth count of a parse action. When the last action popped
  // operands without pushing, the object on top took them over.
  void BeginAction() {
    if (popped_ > 0 && !pushed_ && !entries_.empty()) {
      entries_.back().depth = std::max(entries_.back().depth, popped_ + 1);
    }
    popped_ = 0;
    pushed_ = false;
  }

  // The depth of the newest object; 0 when the stack is empty.
  int TopDepth() const { return entries_.empty() ? 0 : entries_.back().depth; }
  void SetTopDepth(int depth) {
    if (!entries_.empty()) entries_.back().depth = depth;
  }
  // The depth of an object on the stack; 0 for null or an object not on it.
  template <class T>
  int DepthOf(T *object) const {
    if (object == nullptr) return 0;
    void const *identity = Identity(object);
    for (size_t i = entries_.size(); i-- > 0;) {
      if (entries_[i].identity == identity) return entries_[i].depth;
    }
    return 0;
  }

  // Hands object over to the caller; null gives null. An object that is
  // not on the stack is a broken parse action.
  template <class T>
  std::unique_ptr<T> Pop(T *object) {
    if (object == nullptr) return nullptr;
    void const *identity = Identity(object);
    for (size_t i = entries_.size(); i-- > 0;) {
      if (entries_[i].identity == identity) {
        popped_ = std::max(popped_, entries_[i].depth);
        entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(i));
        return std::unique_ptr<T>(object);
      }
    }
    SQLAbort(__FILE__, __LINE__, "Parse object not on the object stack");
  }

  int NrElements() const { return static_cast<int>(entries_.size()); }

  // Deletes every object, the newest first.
  void Clear() {
    while (!entries_.empty()) {
      Entry e = entries_.back();
      entries_.pop_back();
      e.destroy(e.object);
    }
  }

 private:
  struct Entry {
    void const *identity;  // the complete object's address
    void *object;          // as pushed, for destroy
    void (*destroy)(void *);
    int depth;             // of the tree the object heads
  };

  template <class T>
  static void Destroy(void *object) {
    delete static_cast<T *>(object);
  }
  // The address of the complete object, whatever base it is seen through.
  template <class T>
  static void const *Identity(T *object) {
    if constexpr (std::is_polymorphic_v<T>) {
      return dynamic_cast<void const *>(object);
    } else {
      return object;
    }
  }

  std::vector<Entry> entries_;
  int popped_ = 0;       // the deepest operand popped in this action
  bool pushed_ = false;  // this action pushed an object
};
