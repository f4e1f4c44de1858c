// Storage of company-mapping records: a heap arena for the process's own
// parsed copy, and the pair and alias arrays that grow inside it.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "dbc/compnr/compnr_records.h"

// Owns zero-filled blocks for mapping records until Clear. A grown array is
// copied to a new block; the old block stays until Clear, so that no record
// ever moves under a self-relative link.
class HeapArena {
 public:
  void *Allocate(size_t size);
  void Clear() { blocks_.clear(); }

 private:
  std::vector<std::unique_ptr<unsigned char[]>> blocks_;
};

// A new spec with an empty map; null when memory runs out.
COMPNR_SPEC *NewSpec(HeapArena *arena, const char *name, size_t len);

// Adds a pair to a map. Mode 1 refuses inconsistent pairs (result 1 with
// *reason set); mode 2 (inheritance) skips pairs that clash with the map's
// own. 0 when added or skipped, -1 when memory runs out.
int compnr_add(HeapArena *arena, COMPNR_MAP *map, int physical, int logical, int mode,
               const char **reason);
