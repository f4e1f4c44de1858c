// The one value comparison of the execution layer. Numbers compare by
// value (an INTEGER against a REAL as doubles), RAW bytes as unsigned bytes
// with the shorter value smaller on an equal prefix, and strings through the
// text layer as if the shorter one were padded with blanks. Arrays compare
// element by element for equality only.
#include <cstring>

#include "sql/common/sql_abort.h"
#include "sql/common/value_store.h"
#include "text/tss.h"

namespace {

template <typename T>
int Sign(T a, T b) {
  return a < b ? -1 : (b < a ? 1 : 0);
}

SQLTruthValue FromSign(int c, SQLCompOperator op) {
  bool holds = false;
  switch (op) {
    case SQL_COMP_EQ: holds = c == 0; break;
    case SQL_COMP_NE: holds = c != 0; break;
    case SQL_COMP_LT: holds = c < 0; break;
    case SQL_COMP_GT: holds = c > 0; break;
    case SQL_COMP_LE: holds = c <= 0; break;
    case SQL_COMP_GE: holds = c >= 0; break;
  }
  return holds ? TV_TRUE : TV_FALSE;
}

int CompareRaw(unsigned char const *a, unsigned long la, unsigned char const *b, unsigned long lb) {
  unsigned long common = la < lb ? la : lb;
  int c = common > 0 ? std::memcmp(a, b, common) : 0;
  if (c != 0) return c < 0 ? -1 : 1;
  return Sign(la, lb);
}

}  // namespace

SQLTruthValue SQLValueStore::Compare(SQLValueStore const *a, SQLValueStore const *b,
                                     SQLCompOperator op) {
  if (a->IsNull() || b->IsNull()) return TV_UNKNOWN;
  if (op < SQL_COMP_EQ || op > SQL_COMP_GE)
    SQLAbort(__FILE__, __LINE__, "Unexpected compOper %d", op);

  if (a->type_ == SQL_ARRAY || b->type_ == SQL_ARRAY) {
    if (a->type_ != b->type_)
      SQLAbort(__FILE__, __LINE__, "Unexpected types %d and %d", a->type_, b->type_);
    // Arrays of different dimensions are unequal, NULL elements or not.
    SQLTruthValue result = a->dimension_ == b->dimension_ ? TV_TRUE : TV_FALSE;
    for (int i = 0; i < a->dimension_ && result != TV_FALSE; ++i)
      result = TVAnd(result, Compare(&a->elements_[i], &b->elements_[i], SQL_COMP_EQ));
    return op == SQL_COMP_NE ? TVNot(result) : result;
  }

  int c;
  if (a->type_ == b->type_) {
    switch (a->type_) {
      case SQL_INTEGER:
      case SQL_DATE:
      case SQL_INTERVAL_DAYS:
        c = Sign(a->i32_, b->i32_);
        break;
      case SQL_TIMESTAMP:
      case SQL_INTERVAL_SECONDS:
        c = Sign(a->i64_, b->i64_);
        break;
      case SQL_REAL:
        c = Sign(a->real_, b->real_);
        break;
      case SQL_RAW:
        c = CompareRaw(a->bytes_.get(), a->length_, b->bytes_.get(), b->length_);
        break;
      case SQL_STRING: {
        char const *sa = a->GetString();
        char const *sb = b->GetString();
        long la = static_cast<long>(a->length_);
        long lb = static_cast<long>(b->length_);
        if (op == SQL_COMP_EQ || op == SQL_COMP_NE)
          c = TssStringNNEqualWithPadding(sa, sb, la, lb) ? 0 : 1;
        else
          c = TssStringNNCmpWithPadding(sa, sb, la, lb);
        break;
      }
      default:
        SQLAbort(__FILE__, __LINE__, "Unexpected type %d", a->type_);
    }
  } else if (a->type_ == SQL_INTEGER && b->type_ == SQL_REAL) {
    c = Sign(static_cast<double>(a->i32_), b->real_);
  } else if (a->type_ == SQL_REAL && b->type_ == SQL_INTEGER) {
    c = Sign(a->real_, static_cast<double>(b->i32_));
  } else {
    SQLAbort(__FILE__, __LINE__, "Unexpected types %d and %d", a->type_, b->type_);
  }
  return FromSign(c, op);
}

