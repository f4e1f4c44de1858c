// Company-mapping records: adding pairs with the consistency rules, and the
// arenas that hold the records.
#include "dbc/compnr/compnr_store.h"

#include <cstring>

void *HeapArena::Allocate(size_t size) {
  auto block = std::unique_ptr<unsigned char[]>(new (std::nothrow) unsigned char[size]());
  if (block == nullptr) return nullptr;
  void *raw = block.get();
  blocks_.push_back(std::move(block));
  return raw;
}

COMPNR_SPEC *NewSpec(HeapArena *arena, const char *name, size_t len) {
  auto *spec = static_cast<COMPNR_SPEC *>(arena->Allocate(sizeof(COMPNR_SPEC)));
  auto *text = static_cast<char *>(arena->Allocate(len + 1));
  if (spec == nullptr || text == nullptr) return nullptr;
  new (spec) COMPNR_SPEC();
  std::memcpy(text, name, len);
  text[len] = '\0';
  spec->name.set(text);
  spec->map.mark = kCompnrMapMark;
  return spec;
}

namespace {

// Grows an array of T from `count` used slots to `capacity` slots.
template <class T>
T *Grow(HeapArena *arena, const T *old, int count, int capacity) {
  auto *grown = static_cast<T *>(arena->Allocate(sizeof(T) * static_cast<size_t>(capacity)));
  if (grown != nullptr && count > 0) std::memcpy(grown, old, sizeof(T) * static_cast<size_t>(count));
  return grown;
}

int AddAlias(HeapArena *arena, COMPNR_MAP *map, int physical, int logical) {
  COMPNR_PHYS *entry = map->phys.get();
  while (entry != nullptr && entry->physical != physical) entry = entry->next.get();
  if (entry == nullptr) {
    entry = static_cast<COMPNR_PHYS *>(arena->Allocate(sizeof(COMPNR_PHYS)));
    if (entry == nullptr) return -1;
    new (entry) COMPNR_PHYS();
    entry->physical = static_cast<uint16_t>(physical);
    entry->next.set(map->phys.get());
    map->phys.set(entry);
  }
  if (entry->count == entry->capacity) {
    int capacity = 2 * entry->capacity + 2;
    uint16_t *grown = Grow(arena, entry->logical.get(), entry->count, capacity);
    if (grown == nullptr) return -1;
    entry->logical.set(grown);
    entry->capacity = static_cast<uint16_t>(capacity);
  }
  entry->logical.get()[entry->count++] = static_cast<uint16_t>(logical);
  return 0;
}

}  // namespace

int compnr_add(HeapArena *arena, COMPNR_MAP *map, int physical, int logical, int mode,
               const char **reason) {
  COMPNR_PAIRS *pairs = map->pairs.get();
  if (pairs != nullptr) {
    for (int i = pairs->count - 1; i >= 0; --i) {
      const COMPNR_PAIR &pair = pairs->pairs.get()[i];
      if (mode == 2) {
        if (logical == pair.logical || logical == pair.physical || physical == pair.logical) return 0;
        continue;
      }
      if (pair.logical == logical) {
        if (pair.physical == physical) return 0;
        *reason = "logical company number already mapped to another physical company";
        return 1;
      }
      if (pair.physical == logical && logical != physical) {
        *reason = "logical company number already used as a physical company";
        return 1;
      }
      if (pair.logical == physical && pair.physical != pair.logical) {
        *reason = "physical company number already used as a logical company";
        return 1;
      }
    }
  }
  if (pairs == nullptr) {
    pairs = static_cast<COMPNR_PAIRS *>(arena->Allocate(sizeof(COMPNR_PAIRS)));
    if (pairs == nullptr) return -1;
    new (pairs) COMPNR_PAIRS();
    map->pairs.set(pairs);
  }
  if (pairs->count == pairs->capacity) {
    int capacity = 2 * pairs->capacity + 3;
    COMPNR_PAIR *grown = Grow(arena, pairs->pairs.get(), pairs->count, capacity);
    if (grown == nullptr) return -1;
    pairs->pairs.set(grown);
    pairs->capacity = static_cast<uint16_t>(capacity);
  }
  pairs->pairs.get()[pairs->count++] =
      COMPNR_PAIR{static_cast<uint16_t>(logical), static_cast<uint16_t>(physical)};
  if (logical != physical && AddAlias(arena, map, physical, logical) != 0) return -1;
  return 0;
}
