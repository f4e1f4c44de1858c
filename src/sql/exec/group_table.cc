#include "sql/exec/group_table.h"

#include <algorithm>

SQLGroupTable::SQLGroupTable(int numKeys, int numAccumulators)
    : numKeys_(numKeys), numAccumulators_(numAccumulators), slots_(64, kFree) {}

int SQLGroupTable::Add(SQLValueStore const *const *keys, std::uint64_t hash, Cell const *initial) {
  if (2 * static_cast<std::size_t>(size_ + 1) > slots_.size()) Rehash(2 * slots_.size());
  int g = size_;
  if (keys_.size() < Index(g + 1, numKeys_)) keys_.resize(Index(g + 1, numKeys_));
  if (accumulators_.size() < Index(g + 1, numAccumulators_)) accumulators_.resize(Index(g + 1, numAccumulators_));
  if (hashes_.size() < static_cast<std::size_t>(g + 1)) hashes_.resize(static_cast<std::size_t>(g + 1));
  SQLValueStore *k = keys_.data() + Index(g, numKeys_);
  for (int i = 0; i < numKeys_; ++i) k[i].Copy(keys[i]);
  std::copy(initial, initial + numAccumulators_, accumulators_.begin() + static_cast<std::ptrdiff_t>(Index(g, numAccumulators_)));
  hashes_[static_cast<std::size_t>(g)] = hash;
  if (numKeys_ > 0) {
    if (firstKeys_.size() < static_cast<std::size_t>(g + 1)) firstKeys_.resize(static_cast<std::size_t>(g + 1));
    firstKeys_[static_cast<std::size_t>(g)] = FirstKeyOf(keys[0]);
  }
  Place(g, hash);
  ++size_;  // only now: a copy that threw left no half-made group behind
  return g;
}

void SQLGroupTable::Place(int group, std::uint64_t hash) {
  std::size_t mask = slots_.size() - 1;
  std::size_t i = hash & mask;
  while (slots_[i].group >= 0) i = (i + 1) & mask;
  slots_[i] = Slot{static_cast<std::uint32_t>(hash >> 32), group};
}

void SQLGroupTable::Rehash(std::size_t slots) {
  slots_.assign(slots, kFree);
  for (int g = 0; g < size_; ++g) Place(g, hashes_[static_cast<std::size_t>(g)]);
}

int SQLGroupTable::NewStore() {
  if (storesUsed_ == static_cast<int>(stores_.size())) stores_.emplace_back();
  return storesUsed_++;
}

void SQLGroupTable::Read(Cell const &cell, SQLType nullType, SQLValueStore *value) const {
  switch (cell.kind) {
    case Cell::kInteger: value->SetInteger(cell.integer); break;
    case Cell::kReal: value->SetReal(cell.real); break;
    case Cell::kStore: value->Copy(&stores_[static_cast<std::size_t>(cell.integer)]); break;
    default: SQLSetTypedNull(value, nullType); break;
  }
}

void SQLGroupTable::Clear() {
  size_ = 0;
  storesUsed_ = 0;
  std::fill(slots_.begin(), slots_.end(), kFree);
}
