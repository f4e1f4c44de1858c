#include "sql/exec/vs_buffer_id_array.h"

#include <algorithm>
#include <cstring>

#include "sql/common/container_exceptions.h"

namespace {

constexpr int kInitialCapacity = 1000;

// The ids as bytes in memory order: the kind word, then the value word.
int CompareIdBytes(SQLVSBufferId const &a, SQLVSBufferId const &b, void *) {
  std::uint32_t ka = a.GetKind(), kb = b.GetKind();
  int c = std::memcmp(&ka, &kb, sizeof ka);
  if (c != 0) return c;
  SQLValueStore const *const *va = a.GetExternal();
  SQLValueStore const *const *vb = b.GetExternal();
  return std::memcmp(&va, &vb, sizeof va);
}

}  // namespace

SQLVSBufferIdKeySQLVSBufferIdArray::SQLVSBufferIdKeySQLVSBufferIdArray()
    : SQLVSBufferIdKeySQLVSBufferIdArray(CompareIdBytes, nullptr) {}

SQLVSBufferIdKeySQLVSBufferIdArray::SQLVSBufferIdKeySQLVSBufferIdArray(Compare compare, void *context)
    : pairs_(kInitialCapacity), compare_(compare), context_(context) {}

int SQLVSBufferIdKeySQLVSBufferIdArray::Search(SQLVSBufferId const &key, bool *found) const {
  int low = 0, high = count_, middle = count_ / 2;
  *found = false;
  while (low < high) {
    int c = compare_(key, pairs_[static_cast<size_t>(middle)].key, context_);
    if (c == 0) {
      *found = true;
      break;
    }
    if (c < 0)
      high = middle;
    else
      low = middle + 1;
    middle = (low + high) / 2;
  }
  return middle;
}

void SQLVSBufferIdKeySQLVSBufferIdArray::GrowIfFull() {
  if (GetCapacity() > count_) return;
  size_t capacity = static_cast<size_t>(GetCapacity() * 1.3);
  if (capacity <= static_cast<size_t>(count_)) capacity = static_cast<size_t>(count_) + 1;
  pairs_.resize(capacity);
}

void SQLVSBufferIdKeySQLVSBufferIdArray::Insert(SQLVSBufferId const &key, SQLVSBufferId const &value) {
  bool found;
  int at = Search(key, &found);
  if (found && !(flags_ & kAllowDuplicates)) throw SLExDuplicate();
  GrowIfFull();
  std::move_backward(pairs_.begin() + at, pairs_.begin() + count_, pairs_.begin() + count_ + 1);
  pairs_[static_cast<size_t>(at)] = Pair{key, value};
  ++count_;
}

SQLVSBufferId SQLVSBufferIdKeySQLVSBufferIdArray::Lookup(SQLVSBufferId const &key) const {
  bool found;
  int at = Search(key, &found);
  if (!found) throw SLExNotExists();
  return pairs_[static_cast<size_t>(at)].value;
}

void SQLVSBufferIdKeySQLVSBufferIdArray::Append(SQLVSBufferId const &key, SQLVSBufferId const &value) {
  GrowIfFull();
  pairs_[static_cast<size_t>(count_++)] = Pair{key, value};
}

void SQLVSBufferIdKeySQLVSBufferIdArray::Sort() {
  auto less = [this](Pair const &a, Pair const &b) { return compare_(a.key, b.key, context_) < 0; };
  std::stable_sort(pairs_.begin(), pairs_.begin() + count_, less);
  if (flags_ & kAllowDuplicates) return;
  for (int i = 1; i < count_; ++i)
    if (compare_(pairs_[static_cast<size_t>(i - 1)].key, pairs_[static_cast<size_t>(i)].key, context_) == 0)
      throw SLExDuplicate();
}

bool SQLVSBufferIdKeySQLVSBufferIdArraystepper::First() {
  index_ = array_->GetCount() > 0 ? 0 : -1;
  return index_ == 0;
}

bool SQLVSBufferIdKeySQLVSBufferIdArraystepper::Next() {
  if (index_ < 0) return false;
  if (++index_ >= array_->GetCount()) index_ = -1;
  return index_ >= 0;
}
