// SQLTypeSet: a set of candidate SQL types, the currency of type inference
// in the validated tree.
//
// A value expression reports every type it could take; operators intersect
// the sets of their operands, and validation finally asks whether exactly one
// type is left. The only implicit widening is INTEGER to REAL: no other pair
// of types is related by these operations. The array flag is a bit like any
// other, and UNDEFINED (0) is never a member.
#pragma once

#include <cstdint>

#include "sql/common/sql_type.h"

class SQLTypeSet {
 public:
  // The empty set.
  SQLTypeSet() = default;

  void Insert(SQLType t) { mask_ |= static_cast<std::uint32_t>(t); }
  // Replaces the set by every scalar type (INTEGER to INTERVAL SECONDS, and
  // RAW); the array flag is not included.
  void InsertAllTypes() { mask_ = kAllTypes; }

  // TRUE when the set shares a bit with t.
  bool Contains(SQLType t) const { return (mask_ & static_cast<std::uint32_t>(t)) != 0; }
  // Contains(t), or t is REAL and the set holds its subtype INTEGER.
  bool ContainsSubType(SQLType t) const;
  // TRUE only when t is REAL and the set holds INTEGER.
  bool ContainsStrictSubType(SQLType t) const;

  // This set becomes (this AND other), plus REAL when one side holds REAL
  // and the other INTEGER: what two comparable operands can share.
  void IntersectComparable(SQLTypeSet const *other);
  void IntersectComparable(SQLType t);

  // When the set holds INTEGER or REAL, drops DATE, TIMESTAMP and both
  // interval types (numbers win over the types they could be cast down to).
  void EliminateDowncastableTypes();

  // The single type left once INTEGER folds into REAL (when REAL is in the
  // set). FALSE, with *out untouched, when none or several remain.
  bool GetSuperType(SQLType *out) const;
  // The single member of the set; FALSE, with *out untouched, when the set
  // is empty or holds several bits.
  bool GetTheType(SQLType *out) const;

  // The type both sides of a comparison are cast to, this set being the
  // left operand's: the first rule row {left, right, result} whose types
  // the sets hold fixes the result, and every later matching row must be
  // compatible with it. FALSE, with *out untouched, when no row matches or
  // two matches conflict (the comparison is ambiguous).
  bool SQLGetCastTypeForComparison(SQLTypeSet const *right, SQLType *out) const;

  bool IsEmpty() const { return mask_ == 0; }
  std::uint32_t GetMask() const { return mask_; }

  bool operator==(SQLTypeSet const &other) const = default;

 private:
  static constexpr std::uint32_t kAllTypes = 383;      // every type but the array flag
  static constexpr std::uint32_t kDowncastable = 120;  // DATE, TIMESTAMP, both intervals

  static bool HasOneBit(std::uint32_t m) { return m != 0 && (m & (m - 1)) == 0; }

  std::uint32_t mask_ = 0;  // OR of the SQLType bits in the set
};
