// The records of the company-number mapping, shared by the mapping
// (compnr.cc), its arenas (compnr_store.cc) and its shared-segment copy
// (compnr_shm.cc).
//
// The records are laid out so that they can live in the shared segment as
// well as on the heap: every link is a self-relative offset (RelPtr), never
// an absolute pointer, so a copy placed in shared memory stays valid in every
// process that maps it.
#pragma once

#include <cstddef>
#include <cstdint>

// A link stored as the distance from the link itself to its target; 0 is
// null. Records holding one must never be copied byte-wise to another place.
template <class T>
class RelPtr {
 public:
  RelPtr() = default;
  RelPtr(const RelPtr &) = delete;
  RelPtr &operator=(const RelPtr &) = delete;

  T *get() const {
    if (offset_ == 0) return nullptr;
    return reinterpret_cast<T *>(reinterpret_cast<intptr_t>(this) + offset_);
  }
  void set(T *target) {
    offset_ = target == nullptr ? 0
                                : reinterpret_cast<intptr_t>(target) - reinterpret_cast<intptr_t>(this);
  }

 private:
  int64_t offset_ = 0;
};

constexpr uint16_t kCompnrMapMark = 0xC0DA;

struct COMPNR_PAIR {
  uint16_t logical;
  uint16_t physical;
};

// Pairs in the order added; `pairs` holds `capacity` slots.
struct COMPNR_PAIRS {
  uint16_t capacity;
  uint16_t count;
  RelPtr<COMPNR_PAIR> pairs;
};

// The logical numbers stored in one physical company.
struct COMPNR_PHYS {
  uint16_t physical;
  RelPtr<COMPNR_PHYS> next;
  uint16_t capacity;
  int16_t count;
  RelPtr<uint16_t> logical;
};

struct COMPNR_MAP {
  uint16_t mark;  // kCompnrMapMark
  RelPtr<COMPNR_PAIRS> pairs;
  RelPtr<COMPNR_PHYS> phys;  // newest first
};

// One table-name prefix ("spec") of 0, 2, 5 or 8 characters and its map.
struct COMPNR_SPEC {
  RelPtr<char> name;
  COMPNR_MAP map;
  RelPtr<COMPNR_SPEC> next;
};
