// Copying values between stores, with the conversions that validation
// leaves to execution: INTEGER to REAL, and the reinterpretation of a number
// as a date, timestamp or interval.
#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>

#include <molvane/datetime.h>

#include "sql/common/sql_abort.h"
#include "sql/common/sql_exception.h"
#include "sql/common/value_store.h"

void SQLValueStore::Copy(SQLValueStore const *src) {
  if (src == this) return;
  // A source inside this store's own elements dies when the type changes.
  if (type_ == SQL_ARRAY && src >= elements_.get() && src < elements_.get() + elementCapacity_) {
    SQLValueStore element(*src);
    Copy(&element);
    return;
  }
  if (src->IsNull()) {
    if (type_ != src->type_) {
      MakeType(src->type_);
      length_ = 0;
      if (type_ == SQL_STRING) {
        ReserveBytes(0, 0);
        bytes_[0] = '\0';
      }
    }
    null_ = true;
    return;
  }
  switch (src->type_) {
    case SQL_INTEGER: SetInteger(src->i32_); break;
    case SQL_REAL: SetReal(src->real_); break;
    case SQL_DATE: SetDate(src->i32_); break;
    case SQL_TIMESTAMP: SetTimestamp(src->i64_); break;
    case SQL_INTERVAL_DAYS: SetIntervalDays(src->i32_); break;
    case SQL_INTERVAL_SECONDS: SetIntervalSeconds(src->i64_); break;
    case SQL_STRING: SetString(src->bytes_.get(), src->length_); break;
    case SQL_RAW: SetRaw(src->bytes_.get(), src->length_); break;
    case SQL_ARRAY:
      SetDimension(src->dimension_);
      for (int i = 0; i < dimension_; ++i) elements_[i].Copy(&src->elements_[i]);
      break;
    default:
      SQLAbort(__FILE__, __LINE__, "Unexpected type %d", src->type_);
  }
}

void SQLValueStore::CopyAndCast(SQLValueStore const *src, SQLType type) {
  if (src == this && src->type_ == type) return;
  if (src->type_ == SQL_ARRAY) {
    if (src == this) SQLAbort(__FILE__, __LINE__, "Unexpected type %d", type_);
    SetDimension(src->dimension_);
    for (int i = 0; i < dimension_; ++i) elements_[i].CopyAndCast(&src->elements_[i], type);
    return;
  }
  if (src->IsNull()) {
    MakeType(type == SQL_ARRAY ? src->type_ : type);
    length_ = 0;
    if (type_ == SQL_STRING) {
      ReserveBytes(0, 0);
      bytes_[0] = '\0';
    }
    null_ = true;
    return;
  }
  if (src->type_ == type) {
    Copy(src);
  } else if (src->type_ == SQL_INTEGER && type == SQL_REAL) {
    SetReal(static_cast<double>(src->i32_));
  } else {
    SQLAbort(__FILE__, __LINE__, "SQLValueStore::CopyAndCast: Cannot cast type %d to type %d",
             src->type_, type);
  }
}

void SQLValueStore::Reinterpret(SQLValueStore const *src, SQLType type) {
  if (type != SQL_DATE && type != SQL_TIMESTAMP && type != SQL_INTERVAL_DAYS &&
      type != SQL_INTERVAL_SECONDS)
    SQLAbort(__FILE__, __LINE__, "Unexpected type %d", type);
  if (src->IsNull()) {
    MakeType(type);
    null_ = true;
    return;
  }
  std::int64_t n;
  if (src->type_ == SQL_INTEGER) {
    n = src->i32_;
  } else if (src->type_ == SQL_REAL) {
    // The range test keeps the truncation defined; NaN fails it too.
    double t = std::trunc(src->real_);
    if (!(t >= -9223372036854775808.0 && t < 9223372036854775808.0))
      throw SQLExDEDatetimeFieldOverflow();
    n = static_cast<std::int64_t>(t);
  } else {
    SQLAbort(__FILE__, __LINE__, "Unexpected type %d", src->type_);
  }
  constexpr std::int64_t kMin32 = std::numeric_limits<std::int32_t>::min();
  constexpr std::int64_t kMax32 = std::numeric_limits<std::int32_t>::max();
  switch (type) {
    case SQL_DATE:
      if (n > AL_LAST_DAY_NUMBER || n < kMin32) throw SQLExDEDatetimeFieldOverflow();
      SetDate(static_cast<std::int32_t>(n));
      break;
    case SQL_INTERVAL_DAYS:
      if (n > kMax32 || n < kMin32) throw SQLExDEDatetimeFieldOverflow();
      SetIntervalDays(static_cast<std::int32_t>(n));
      break;
    case SQL_TIMESTAMP:
      SetTimestamp(n);
      break;
    default:
      SetIntervalSeconds(n);
      break;
  }
}
