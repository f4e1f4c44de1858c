#include "sql/common/truth_value.h"

namespace {

bool IsTruthValue(SQLTruthValue v) { return v == TV_FALSE || v == TV_TRUE || v == TV_UNKNOWN; }

constexpr SQLTruthValue kAll[] = {TV_FALSE, TV_TRUE, TV_UNKNOWN};

template <typename Op>
SQLTruthValueSet Combine(SQLTruthValueSet const &a, SQLTruthValueSet const &b, Op op) {
  SQLTruthValueSet result;
  for (SQLTruthValue x : kAll) {
    if (!a.Contains(x)) continue;
    for (SQLTruthValue y : kAll)
      if (b.Contains(y)) result.Insert(op(x, y));
  }
  return result;
}

}  // namespace

SQLTruthValue TVAnd(SQLTruthValue a, SQLTruthValue b) {
  switch (a) {
    case TV_FALSE: return TV_FALSE;
    case TV_TRUE: return b;
    case TV_UNKNOWN: return b == TV_FALSE ? TV_FALSE : (IsTruthValue(b) ? TV_UNKNOWN : b);
  }
  return b;
}

SQLTruthValue TVOr(SQLTruthValue a, SQLTruthValue b) {
  switch (a) {
    case TV_FALSE: return b;
    case TV_TRUE: return TV_TRUE;
    case TV_UNKNOWN: return b == TV_TRUE ? TV_TRUE : (IsTruthValue(b) ? TV_UNKNOWN : b);
  }
  return b;
}

SQLTruthValue TVNot(SQLTruthValue a) {
  switch (a) {
    case TV_FALSE: return TV_TRUE;
    case TV_TRUE: return TV_FALSE;
    case TV_UNKNOWN: return TV_UNKNOWN;
  }
  return a;
}

SQLTruthValueSet SQLTruthValueSet::And(SQLTruthValueSet const &other) const {
  return Combine(*this, other, TVAnd);
}

SQLTruthValueSet SQLTruthValueSet::Or(SQLTruthValueSet const &other) const {
  return Combine(*this, other, TVOr);
}

SQLTruthValueSet SQLTruthValueSet::Not() const {
  SQLTruthValueSet result;
  for (SQLTruthValue x : kAll)
    if (Contains(x)) result.Insert(TVNot(x));
  return result;
}
