// The reference state of a per-company record: one entry per reference from
// its table and per referencing table and company to its table.
#pragma once

#include <cstdint>
#include <vector>

struct DD_REF;
struct DD_REFBY;
struct ZDB_REF_CURSOR;

inline constexpr std::uint8_t ZDB_REF_ENTRY_IGNORED = 0x01;  // physical companies differ

struct ZDB_REF_ENTRY {
  ZDB_REF_CURSOR *foreign = nullptr;  // cursor on the other table, made on first need
  const DD_REF *ref = nullptr;      // null for a child whose dictionary is missing
  const DD_REFBY *refby = nullptr;  // to-entries: the parent's referenced-by entry
  std::uint16_t compnr = 0;           // the other side's company number
  std::uint8_t flags = 0;             // ZDB_REF_ENTRY_*
};

inline constexpr std::uint8_t ZDB_REFS_FROM_BUILT = 0x01;
inline constexpr std::uint8_t ZDB_REFS_TO_BUILT = 0x02;

struct ZDB_REFS {
  std::vector<ZDB_REF_ENTRY> from;  // references of the table's columns
  std::vector<ZDB_REF_ENTRY> to;    // references to the table's key
  std::uint8_t built = 0;           // ZDB_REFS_*_BUILT
  bool off = false;                 // references are switched off for this chain
  const DD_REF *ignored = nullptr;  // the reference processed from the other side
};
