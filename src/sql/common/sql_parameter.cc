#include "sql/common/sql_parameter.h"

#include <cmath>
#include <limits>

#include "sql/common/sql_exception.h"
#include "sql/common/sql_logger.h"

unsigned long SQLParameter::_idCounter = 0;

namespace {

// The host's long is 64-bit here; the 32-bit types refuse what they cannot hold.
std::int32_t Narrow(long v) {
  if (v < std::numeric_limits<std::int32_t>::min() || v > std::numeric_limits<std::int32_t>::max())
    throw SQLExDENumericValueOutOfRange();
  return static_cast<std::int32_t>(v);
}

// A real truncated toward zero into a 64-bit integer; NaN and values beyond
// the range are refused.
std::int64_t Truncate(double v) {
  double t = std::trunc(v);
  if (!(t >= -9223372036854775808.0 && t < 9223372036854775808.0))
    throw SQLExDENumericValueOutOfRange();
  return static_cast<std::int64_t>(t);
}

}  // namespace

SQLParameter::SQLParameter() : id_(_idCounter++) {}

void SQLParameter::SetType(SQLType type, unsigned long length, int depth) {
  type_ = type;
  length_ = length;
  depth_ = depth;
}

void SQLParameter::BindInteger(long v) {
  switch (type_) {
    case SQL_INTEGER: value_.SetInteger(Narrow(v)); break;
    case SQL_REAL:
      if (numericTypeOpen_) value_.SetInteger(Narrow(v));
      else value_.SetReal(static_cast<double>(v));
      break;
    case SQL_DATE: value_.SetDate(Narrow(v)); break;
    case SQL_TIMESTAMP: value_.SetTimestamp(v); break;
    case SQL_INTERVAL_DAYS: value_.SetIntervalDays(Narrow(v)); break;
    case SQL_INTERVAL_SECONDS: value_.SetIntervalSeconds(v); break;
    default: throw SQLExInvalidParameterType();
  }
}

void SQLParameter::BindReal(double v) {
  switch (type_) {
    case SQL_REAL: value_.SetReal(v); break;
    case SQL_DATE: value_.SetDate(Narrow(Truncate(v))); break;
    case SQL_TIMESTAMP: value_.SetTimestamp(Truncate(v)); break;
    case SQL_INTERVAL_DAYS: value_.SetIntervalDays(Narrow(Truncate(v))); break;
    case SQL_INTERVAL_SECONDS: value_.SetIntervalSeconds(Truncate(v)); break;
    default: throw SQLExInvalidParameterType();
  }
}

void SQLParameter::BindString(unsigned char const *bytes, unsigned long n) {
  if (type_ != SQL_STRING) throw SQLExInvalidParameterType();
  value_.SetString(bytes, n);
  length_ = n;
}

void SQLParameter::BindRaw(unsigned char const *bytes, unsigned long n) {
  if (type_ != SQL_RAW) throw SQLExInvalidParameterType();
  if (n == 0) throw SQLExZeroLengthRawBound();
  value_.SetRaw(bytes, n);
  length_ = n;
}

void SQLParameter::BindDate(long dayNumber) {
  if (type_ != SQL_DATE) throw SQLExInvalidParameterType();
  value_.SetDate(Narrow(dayNumber));
}

void SQLParameter::BindTimestamp(std::int64_t seconds) {
  if (type_ != SQL_TIMESTAMP) throw SQLExInvalidParameterType();
  value_.SetTimestamp(seconds);
}

void SQLParameter::BindIntervalDays(long days) {
  if (type_ != SQL_INTERVAL_DAYS) throw SQLExInvalidParameterType();
  value_.SetIntervalDays(Narrow(days));
}

void SQLParameter::BindIntervalSeconds(std::int64_t seconds) {
  if (type_ != SQL_INTERVAL_SECONDS) throw SQLExInvalidParameterType();
  value_.SetIntervalSeconds(seconds);
}

void SQLParameter::BindVS(SQLValueStore const *vs) {
  SQLValueStore const *first = vs;
  int count = 1;
  if (vs->GetType() == SQL_ARRAY) {
    count = vs->GetDimension();
    // An empty array has no first value to check; its count decides.
    if (count == 0) {
      if (depth_ != 0) throw SQLExInvalidParameterType();
      value_.Copy(vs);
      length_ = 0;
      return;
    }
    first = vs->GetElement(0);
  }
  if (first->IsNull()) {
    value_.Copy(vs);
    return;
  }
  SQLType t = first->GetType();
  if (t != type_ && !(t == SQL_INTEGER && type_ == SQL_REAL)) throw SQLExInvalidParameterType();
  if (count != depth_) throw SQLExInvalidParameterType();
  unsigned long length = (t == SQL_STRING || t == SQL_RAW) ? first->GetLength() : 0;
  value_.Copy(vs);
  length_ = length;
}

double SQLParameter::GetReal() const {
  return value_.GetType() == SQL_REAL ? value_.GetReal() : static_cast<double>(value_.GetInteger());
}

void SQLParameter::GetString(unsigned char const **bytes, unsigned long *n) const {
  *bytes = value_.GetBytes();
  *n = value_.GetLength();
}

void SQLParameter::GetRaw(unsigned char const **bytes, unsigned long *n) const {
  *bytes = value_.GetBytes();
  *n = value_.GetLength();
}

void SQLParameter::Log() const {
  SQLLogger &log = *SQLLogger::Instance();
  if (!log.LogFlagIsSet(SQLLogger::Always)) return;
  log << "Parameter(" << "id=" << id_ << ",";
  value_.Log();
  log << "," << type_;
  if (type_ == SQL_STRING) log << ",strLength=" << length_;
  log << ")";
}
