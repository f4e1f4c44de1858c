#include "sql/exec/group_table.h"

#include <algorithm>

#include "sql/exec/sort_key.h"

SQLGroupTable::SQLGroupTable(int numKeys, int numAccumulators)
    : numKeys_(numKeys), numAccumulators_(numAccumulators), slots_(64, -1) {}

std::uint64_t SQLGroupTable::Hash(SQLValueStore const *const *keys, int numKeys) {
  std::uint64_t h = 0x243F6A8885A308D3ULL;
  for (int i = 0; i < numKeys; ++i) {
    h = (h ^ SQLHashKeyValue(keys[i])) * 0x9E3779B97F4A7C15ULL;
    h ^= h >> 29;
  }
  return h;
}

int SQLGroupTable::Find(SQLValueStore const *const *keys, std::uint64_t hash) const {
  std::size_t mask = slots_.size() - 1;
  for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
    int g = slots_[i];
    if (g < 0) return -1;
    if (hashes_[static_cast<std::size_t>(g)] != hash) continue;
    SQLValueStore const *own = GetKeys(g);
    int k = 0;
    while (k < numKeys_ && SQLKeyValuesEqualInline(keys[k], &own[k])) ++k;
    if (k == numKeys_) return g;
  }
}

int SQLGroupTable::Add(SQLValueStore const *const *keys, std::uint64_t hash, SQLValueStore const *initial) {
  if (2 * static_cast<std::size_t>(size_ + 1) > slots_.size()) Rehash(2 * slots_.size());
  int g = size_++;
  if (keys_.size() < Index(size_, numKeys_)) keys_.resize(Index(size_, numKeys_));
  if (accumulators_.size() < Index(size_, numAccumulators_))
    accumulators_.resize(Index(size_, numAccumulators_));
  if (hashes_.size() < static_cast<std::size_t>(size_)) hashes_.resize(static_cast<std::size_t>(size_));
  SQLValueStore *k = keys_.data() + Index(g, numKeys_);
  for (int i = 0; i < numKeys_; ++i) k[i].Copy(keys[i]);
  SQLValueStore *a = accumulators_.data() + Index(g, numAccumulators_);
  for (int i = 0; i < numAccumulators_; ++i) a[i].Copy(&initial[i]);
  hashes_[static_cast<std::size_t>(g)] = hash;
  std::size_t mask = slots_.size() - 1;
  std::size_t i = hash & mask;
  while (slots_[i] >= 0) i = (i + 1) & mask;
  slots_[i] = g;
  return g;
}

void SQLGroupTable::Rehash(std::size_t slots) {
  slots_.assign(slots, -1);
  std::size_t mask = slots - 1;
  for (int g = 0; g < size_; ++g) {
    std::size_t i = hashes_[static_cast<std::size_t>(g)] & mask;
    while (slots_[i] >= 0) i = (i + 1) & mask;
    slots_[i] = g;
  }
}

void SQLGroupTable::Clear() {
  size_ = 0;
  std::fill(slots_.begin(), slots_.end(), -1);
}
