#include "sql/validate/type_set.h"

bool SQLTypeSet::ContainsSubType(SQLType t) const {
  if (Contains(t)) return true;
  return ContainsStrictSubType(t);
}

bool SQLTypeSet::ContainsStrictSubType(SQLType t) const {
  return t == SQL_REAL && Contains(SQL_INTEGER);
}

void SQLTypeSet::IntersectComparable(SQLTypeSet const *other) {
  // The widening is judged on the sets as given, before they are combined.
  bool widen = (Contains(SQL_REAL) && other->Contains(SQL_INTEGER)) ||
               (Contains(SQL_INTEGER) && other->Contains(SQL_REAL));
  mask_ &= other->mask_;
  if (widen) Insert(SQL_REAL);
}

void SQLTypeSet::IntersectComparable(SQLType t) {
  SQLTypeSet single;
  single.Insert(t);
  IntersectComparable(&single);
}

void SQLTypeSet::EliminateDowncastableTypes() {
  if (Contains(SQL_INTEGER) || Contains(SQL_REAL)) mask_ &= ~kDowncastable;
}

bool SQLTypeSet::GetSuperType(SQLType *out) const {
  std::uint32_t m = mask_;
  if (m & SQL_REAL) m &= ~static_cast<std::uint32_t>(SQL_INTEGER);
  if (!HasOneBit(m)) return false;
  *out = static_cast<SQLType>(m);
  return true;
}

bool SQLTypeSet::GetTheType(SQLType *out) const {
  if (!HasOneBit(mask_)) return false;
  *out = static_cast<SQLType>(mask_);
  return true;
}
