// Arithmetic on value stores: the sums of SUM and AVG, and the dyadic
// operators of expressions over numbers, dates, timestamps and intervals.
//
// The operand types decide the result type (validation admits only the
// pairs handled here; any other pair is an internal error). Integer results
// are exact or refused: a result outside the range of its 32- or 64-bit type
// raises "22003" instead of wrapping, and a REAL result that overflows to
// infinity from finite operands does the same.
#include <cmath>
#include <cstdint>
#include <limits>

#include <molvane/datetime.h>

#include "sql/common/sql_abort.h"
#include "sql/common/sql_exception.h"
#include "sql/common/value_store.h"

void SQLRaiseNumericValueOutOfRange() { throw SQLExDENumericValueOutOfRange(); }

std::int32_t SQLSubtractInt32(std::int32_t a, std::int32_t b) {
  std::int32_t r;
  if (__builtin_sub_overflow(a, b, &r)) throw SQLExDENumericValueOutOfRange();
  return r;
}

std::int32_t SQLMultiplyInt32(std::int32_t a, std::int32_t b) {
  std::int32_t r;
  if (__builtin_mul_overflow(a, b, &r)) throw SQLExDENumericValueOutOfRange();
  return r;
}

std::int64_t SQLAddInt64(std::int64_t a, std::int64_t b) {
  std::int64_t r;
  if (__builtin_add_overflow(a, b, &r)) throw SQLExDENumericValueOutOfRange();
  return r;
}

std::int64_t SQLSubtractInt64(std::int64_t a, std::int64_t b) {
  std::int64_t r;
  if (__builtin_sub_overflow(a, b, &r)) throw SQLExDENumericValueOutOfRange();
  return r;
}

std::int64_t SQLMultiplyInt64(std::int64_t a, std::int64_t b) {
  std::int64_t r;
  if (__builtin_mul_overflow(a, b, &r)) throw SQLExDENumericValueOutOfRange();
  return r;
}

std::int32_t SQLModuloInt32(std::int32_t a, std::int32_t b) {
  if (b == 0) throw SQLExDEDivisionByZero();
  if (b == -1) return 0;  // also for the smallest integer, whose quotient overflows
  return a % b;
}

namespace {

// A REAL result; infinity from finite operands is out of range.
double CheckedReal(double r, double a, double b) {
  if (std::isinf(r) && std::isfinite(a) && std::isfinite(b)) throw SQLExDENumericValueOutOfRange();
  return r;
}

bool IsNumber(SQLType t) { return t == SQL_INTEGER || t == SQL_REAL; }

// A DATE result of day arithmetic (already within 32 bits): a day outside
// the calendar (after 31 December 9999, or before its start) is refused
// like a reinterpreted one.
std::int32_t CheckedDay(std::int32_t day) {
  if (day > AL_LAST_DAY_NUMBER || day < 0) throw SQLExDEDatetimeFieldOverflow();
  return day;
}

[[noreturn]] void UnexpectedType(int line, SQLType t) {
  SQLAbort(__FILE__, line, "Unexpected type %d", t);
}

// The number of an INTEGER or REAL store as a double.
double AsDouble(SQLValueStore const *v) {
  return v->GetType() == SQL_REAL ? v->GetReal() : static_cast<double>(v->GetInteger());
}

}  // namespace

double SQLAddReal(double a, double b) { return CheckedReal(a + b, a, b); }

void SQLValueStore::Add(SQLValueStore const *a, SQLValueStore const *b) {
  if (a->IsNull() || b->IsNull()) {
    SetNull();
    return;
  }
  SQLType ta = a->type_, tb = b->type_;
  switch (ta) {
    case SQL_INTEGER:
      if (tb == SQL_INTEGER) SetInteger(SQLAddInt32(a->i32_, b->i32_));
      else if (tb == SQL_REAL) SetReal(CheckedReal(a->i32_ + b->real_, a->i32_, b->real_));
      else UnexpectedType(__LINE__, tb);
      break;
    case SQL_REAL:
      if (tb == SQL_REAL) SetReal(CheckedReal(a->real_ + b->real_, a->real_, b->real_));
      else if (tb == SQL_INTEGER || tb == SQL_DATE || tb == SQL_INTERVAL_DAYS)
        SetReal(CheckedReal(a->real_ + b->i32_, a->real_, b->i32_));
      else UnexpectedType(__LINE__, tb);
      break;
    case SQL_DATE:
      if (tb == SQL_INTEGER || tb == SQL_INTERVAL_DAYS) SetDate(CheckedDay(SQLAddInt32(a->i32_, b->i32_)));
      else UnexpectedType(__LINE__, tb);
      break;
    case SQL_TIMESTAMP:
      if (tb == SQL_INTERVAL_SECONDS) SetTimestamp(SQLAddInt64(a->i64_, b->i64_));
      else if (tb == SQL_INTEGER) SetTimestamp(SQLAddInt64(a->i64_, b->i32_));
      else UnexpectedType(__LINE__, tb);
      break;
    case SQL_INTERVAL_DAYS:
      if (tb == SQL_DATE) SetDate(CheckedDay(SQLAddInt32(a->i32_, b->i32_)));
      else if (tb == SQL_INTERVAL_DAYS) SetIntervalDays(SQLAddInt32(a->i32_, b->i32_));
      else UnexpectedType(__LINE__, tb);
      break;
    case SQL_INTERVAL_SECONDS:
      if (tb == SQL_TIMESTAMP) SetTimestamp(SQLAddInt64(a->i64_, b->i64_));
      else if (tb == SQL_INTERVAL_SECONDS) SetIntervalSeconds(SQLAddInt64(a->i64_, b->i64_));
      else UnexpectedType(__LINE__, tb);
      break;
    default:
      UnexpectedType(__LINE__, ta);
  }
}

void SQLValueStore::Subtract(SQLValueStore const *a, SQLValueStore const *b) {
  if (a->IsNull() || b->IsNull()) {
    SetNull();
    return;
  }
  SQLType ta = a->type_, tb = b->type_;
  if (ta == SQL_INTEGER && tb == SQL_INTEGER) {
    SetInteger(SQLSubtractInt32(a->i32_, b->i32_));
  } else if (IsNumber(ta) && IsNumber(tb)) {
    double x = AsDouble(a), y = AsDouble(b);
    SetReal(CheckedReal(x - y, x, y));
  } else if (ta == SQL_DATE && tb == SQL_DATE) {
    SetIntervalDays(SQLSubtractInt32(a->i32_, b->i32_));
  } else if (ta == SQL_DATE && tb == SQL_INTERVAL_DAYS) {
    SetDate(CheckedDay(SQLSubtractInt32(a->i32_, b->i32_)));
  } else if (ta == SQL_INTERVAL_DAYS && tb == SQL_INTERVAL_DAYS) {
    SetIntervalDays(SQLSubtractInt32(a->i32_, b->i32_));
  } else if (ta == SQL_TIMESTAMP && tb == SQL_TIMESTAMP) {
    SetIntervalSeconds(SQLSubtractInt64(a->i64_, b->i64_));
  } else if (ta == SQL_TIMESTAMP && tb == SQL_INTERVAL_SECONDS) {
    SetTimestamp(SQLSubtractInt64(a->i64_, b->i64_));
  } else if (ta == SQL_INTERVAL_SECONDS && tb == SQL_INTERVAL_SECONDS) {
    SetIntervalSeconds(SQLSubtractInt64(a->i64_, b->i64_));
  } else {
    UnexpectedType(__LINE__, IsNumber(ta) || ta == SQL_DATE || ta == SQL_TIMESTAMP ||
                                     ta == SQL_INTERVAL_DAYS || ta == SQL_INTERVAL_SECONDS
                                 ? tb
                                 : ta);
  }
}

void SQLValueStore::Multiply(SQLValueStore const *a, SQLValueStore const *b) {
  if (a->IsNull() || b->IsNull()) {
    SetNull();
    return;
  }
  SQLType ta = a->type_, tb = b->type_;
  if (ta == SQL_INTEGER && tb == SQL_INTEGER) {
    SetInteger(SQLMultiplyInt32(a->i32_, b->i32_));
  } else if (IsNumber(ta) && IsNumber(tb)) {
    double x = AsDouble(a), y = AsDouble(b);
    SetReal(CheckedReal(x * y, x, y));
  } else if ((ta == SQL_INTEGER && tb == SQL_INTERVAL_DAYS) ||
             (ta == SQL_INTERVAL_DAYS && tb == SQL_INTEGER)) {
    SetIntervalDays(SQLMultiplyInt32(a->i32_, b->i32_));
  } else if (ta == SQL_INTEGER && tb == SQL_INTERVAL_SECONDS) {
    SetIntervalSeconds(SQLMultiplyInt64(a->i32_, b->i64_));
  } else if (ta == SQL_INTERVAL_SECONDS && tb == SQL_INTEGER) {
    SetIntervalSeconds(SQLMultiplyInt64(a->i64_, b->i32_));
  } else {
    UnexpectedType(__LINE__, IsNumber(ta) || ta == SQL_INTERVAL_DAYS || ta == SQL_INTERVAL_SECONDS
                                 ? tb
                                 : ta);
  }
}

void SQLValueStore::Divide(SQLValueStore const *a, SQLValueStore const *b) {
  if (a->IsNull() || b->IsNull()) {
    SetNull();
    return;
  }
  if (!IsNumber(a->type_)) UnexpectedType(__LINE__, a->type_);
  if (!IsNumber(b->type_)) UnexpectedType(__LINE__, b->type_);
  double x = AsDouble(a), y = AsDouble(b);
  if (y == 0.0) throw SQLExDEDivisionByZero();
  SetReal(CheckedReal(x / y, x, y));
}

void SQLValueStore::Modulo(SQLValueStore const *a, SQLValueStore const *b) {
  if (a->IsNull() || b->IsNull()) {
    SetNull();
    return;
  }
  if (a->type_ != SQL_INTEGER) UnexpectedType(__LINE__, a->type_);
  if (b->type_ != SQL_INTEGER) UnexpectedType(__LINE__, b->type_);
  SetInteger(SQLModuloInt32(a->i32_, b->i32_));
}
