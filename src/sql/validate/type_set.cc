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

namespace {

struct SQLComparisonRule {
  SQLType left;
  SQLType right;
  SQLType result;
};

// Scanned in order: REAL against REAL is tried before the INTEGER rows, so
// an operand that may be either compares as REAL.
constexpr SQLComparisonRule kComparisonRules[] = {
    {SQL_REAL, SQL_REAL, SQL_REAL},
    {SQL_REAL, SQL_INTEGER, SQL_REAL},
    {SQL_INTEGER, SQL_REAL, SQL_REAL},
    {SQL_INTEGER, SQL_INTEGER, SQL_INTEGER},
    {SQL_DATE, SQL_DATE, SQL_DATE},
    {SQL_TIMESTAMP, SQL_TIMESTAMP, SQL_TIMESTAMP},
    {SQL_INTERVAL_DAYS, SQL_INTERVAL_DAYS, SQL_INTERVAL_DAYS},
    {SQL_INTERVAL_SECONDS, SQL_INTERVAL_SECONDS, SQL_INTERVAL_SECONDS},
    {SQL_STRING, SQL_STRING, SQL_STRING},
    {SQL_RAW, SQL_RAW, SQL_RAW},
};

// A later match r leaves the first result f standing: the same type, or a
// type that a number can be cast down to.
bool SQLComparisonCompatible(SQLType f, SQLType r) {
  if (r == f) return true;
  bool downcastable = r == SQL_DATE || r == SQL_TIMESTAMP || r == SQL_INTERVAL_DAYS || r == SQL_INTERVAL_SECONDS;
  if (f == SQL_INTEGER) return downcastable;
  if (f == SQL_REAL) return downcastable || r == SQL_INTEGER;
  return false;
}

}  // namespace

bool SQLTypeSet::SQLGetCastTypeForComparison(SQLTypeSet const *right, SQLType *out) const {
  bool found = false;
  SQLType result = SQL_UNDEFINED;
  for (SQLComparisonRule const &rule : kComparisonRules) {
    if (!Contains(rule.left) || !right->Contains(rule.right)) continue;
    if (!found) {
      found = true;
      result = rule.result;
    } else if (!SQLComparisonCompatible(result, rule.result)) {
      return false;
    }
  }
  if (found) *out = result;
  return found;
}
