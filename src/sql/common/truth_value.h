// The three-valued logic of SQL conditions, and sets of truth values for
// reasoning about which results a condition can yield.
#pragma once

// One bit per value, so that a set of truth values is a bit mask.
enum SQLTruthValue : unsigned long {
  TV_FALSE = 1,
  TV_TRUE = 2,
  TV_UNKNOWN = 4,
};

// SQL's AND, OR and NOT. A value outside the three is passed through: TVNot
// returns it, TVAnd and TVOr return their second operand when the first is
// outside the three, or when the first is UNKNOWN and the second is.
SQLTruthValue TVAnd(SQLTruthValue a, SQLTruthValue b);
SQLTruthValue TVOr(SQLTruthValue a, SQLTruthValue b);
SQLTruthValue TVNot(SQLTruthValue a);

// A set of truth values; empty at construction.
class SQLTruthValueSet {
 public:
  SQLTruthValueSet() = default;

  void Insert(SQLTruthValue a) { mask_ |= a; }
  void Insert(SQLTruthValue a, SQLTruthValue b) { mask_ |= a | b; }
  void Insert(SQLTruthValue a, SQLTruthValue b, SQLTruthValue c) { mask_ |= a | b | c; }
  bool Contains(SQLTruthValue a) const { return (mask_ & a) != 0; }
  bool IsEmpty() const { return mask_ == 0; }
  unsigned long Mask() const { return mask_; }

  // {TVAnd(x, y)} for every x of this set and y of the other; an empty
  // operand gives the empty set.
  SQLTruthValueSet And(SQLTruthValueSet const &other) const;
  // {TVOr(x, y)} likewise.
  SQLTruthValueSet Or(SQLTruthValueSet const &other) const;
  // {TVNot(x)} for every x of this set.
  SQLTruthValueSet Not() const;

  bool operator==(SQLTruthValueSet const &other) const { return mask_ == other.mask_; }

 private:
  unsigned long mask_ = 0;  // bits of SQLTruthValue
};
