// SQLGroupTable: the groups of a grouping held in memory, found by a hash
// of their key values: per group its key values and its accumulators, in
// the order the groups were added. Lookups and additions take constant
// time on average (open addressing, at most half full).
//
// An accumulator is a small cell that holds NULL, a 32-bit INTEGER or a
// REAL itself, and any other value in a store of the table's; a group's
// cells lie side by side, so that folding a row into its group touches
// one or two cache lines.
#pragma once

#include <cstdint>
#include <vector>

#include "sql/common/value_store.h"
#include "sql/exec/sort_key.h"

class SQLGroupTable {
 public:
  // One accumulator of a group.
  struct Cell {
    enum Kind : std::uint8_t { kNull, kInteger, kReal, kStore };
    Kind kind = kNull;
    std::int32_t integer = 0;  // kInteger: the value; kStore: the store's number
    double real = 0.0;         // kReal
  };

  SQLGroupTable(int numKeys, int numAccumulators);

  // The hash of a row's key values; equal keys (SQLKeyValuesEqual) share it.
  static std::uint64_t Hash(SQLValueStore const *const *keys, int numKeys) {
    std::uint64_t h = 0x243F6A8885A308D3ULL;
    for (int i = 0; i < numKeys; ++i) {
      h = (h ^ SQLHashKeyValueInline(keys[i])) * 0x9E3779B97F4A7C15ULL;
      h ^= h >> 29;
    }
    return h;
  }

  // The group of the keys, or -1.
  int Find(SQLValueStore const *const *keys, std::uint64_t hash) const {
    std::size_t mask = slots_.size() - 1;
    auto tag = static_cast<std::uint32_t>(hash >> 32);
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
      Slot s = slots_[i];
      if (s.group < 0) return -1;
      if (s.tag == tag && KeysEqual(keys, s.group)) return s.group;
    }
  }
  // A new group with copies of the keys and of initial (numAccumulators
  // cells, none of kind kStore); returns its number, 0 for the first since
  // Clear.
  int Add(SQLValueStore const *const *keys, std::uint64_t hash, Cell const *initial);

  int GetSize() const { return size_; }
  SQLValueStore const *GetKeys(int group) const { return keys_.data() + Index(group, numKeys_); }
  Cell *GetAccumulators(int group) { return accumulators_.data() + Index(group, numAccumulators_); }
  Cell const *GetAccumulators(int group) const { return accumulators_.data() + Index(group, numAccumulators_); }

  // A store for a cell of kind kStore: its number, valid until Clear.
  // Addresses of stores may change with the next NewStore.
  int NewStore();
  SQLValueStore *GetStore(int number) { return &stores_[static_cast<std::size_t>(number)]; }
  // The value of a cell; a NULL one gets nullType.
  void Read(Cell const &cell, SQLType nullType, SQLValueStore *value) const;

  // No groups; the stores stay for reuse.
  void Clear();

 private:
  // A group number with the upper half of its hash, so that most probes
  // that meet another group are decided without reading its keys.
  struct Slot {
    std::uint32_t tag;
    std::int32_t group;  // -1: free
  };
  static constexpr Slot kFree{0, -1};

  // A group's first key when it is a 32-bit number (INTEGER, DATE or
  // INTERVAL DAYS, not NULL): its type and value, so that the common
  // probe decides that key without reading the group's stores. Type -1
  // for any other first key.
  struct FirstKey {
    std::int32_t value;
    int type;
  };
  static FirstKey FirstKeyOf(SQLValueStore const *key) {
    SQLType t = key->GetType();
    if ((t == SQL_INTEGER || t == SQL_DATE || t == SQL_INTERVAL_DAYS) && !key->IsNull())
      return FirstKey{key->GetInteger(), static_cast<int>(t)};
    return FirstKey{0, -1};
  }

  static std::size_t Index(int group, int width) {
    return static_cast<std::size_t>(group) * static_cast<std::size_t>(width);
  }
  bool KeysEqual(SQLValueStore const *const *keys, int group) const {
    int k = 0;
    // Two 32-bit numbers of one type are equal by value; anything else
    // (NULL, another type, a REAL equal to an INTEGER) goes the long way.
    if (numKeys_ > 0) {
      FirstKey first = firstKeys_[static_cast<std::size_t>(group)];
      if (first.type == static_cast<int>(keys[0]->GetType()) && !keys[0]->IsNull()) {
        if (first.value != keys[0]->GetInteger()) return false;
        k = 1;
      }
    }
    SQLValueStore const *own = GetKeys(group);
    for (; k < numKeys_; ++k)
      if (!SQLKeyValuesEqualInline(keys[k], &own[k])) return false;
    return true;
  }
  void Place(int group, std::uint64_t hash);
  void Rehash(std::size_t slots);

  int numKeys_;
  int numAccumulators_;
  int size_ = 0;
  std::vector<SQLValueStore> keys_;          // numKeys_ per group
  std::vector<Cell> accumulators_;           // numAccumulators_ per group
  std::vector<SQLValueStore> stores_;        // the first storesUsed_ belong to cells
  int storesUsed_ = 0;
  std::vector<std::uint64_t> hashes_;        // per group, for rehashing
  std::vector<FirstKey> firstKeys_;          // per group, when numKeys_ > 0
  std::vector<Slot> slots_;                  // a power of two of them
};
