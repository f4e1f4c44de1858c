// Company-number mapping: logical company numbers that share the rows of a
// physical company, per table-name prefix, from lib/compnr<release>.
//
// The records are laid out so that they can live in the shared segment as
// well as on the heap: every link is a self-relative offset (RelPtr), never
// an absolute pointer, so a copy placed in shared memory stays valid in every
// process that maps it.
#pragma once

#include <cstddef>
#include <cstdint>

struct stream;
typedef struct stream STREAM;

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

// The environment string "<zuv>@<host> <file time>" that names the mapping;
// loads the mapping on first use. Empty when the host name cannot be had.
const char *compnrGetEnv();

// The map of the longest spec covering the table (the name cut to 8, 5, 2
// and 0 characters); the empty map when none does.
const COMPNR_MAP *compnrGetCompnrData(const char *table);

// The physical number of a logical one (unchanged when not mapped); -2 for a
// map that is not one.
int compnrLogicToPhysic(const COMPNR_MAP *map, int logical);

// The logical numbers stored in a physical company: their count, and the
// array in *list (null when none).
int compnrGetLogicCompnrs(const COMPNR_MAP *map, int physical, const uint16_t **list);

// 1 when the number is not mapped to another company, else 0.
int compnrIsPhysic(const COMPNR_MAP *map, int number);

// 0 when the mapping is present, or found in shared memory under `env`.
int compnrInit(const char *env);

// Debug listing of the mapping on standard output.
void compnrPrintData();

// Writes the SEND_COMPNR payload: the environment string, then every spec
// with its physical entries. 0, or -1 when a write fails.
int dbc_send_compnrs(STREAM *stream);
