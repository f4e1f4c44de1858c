#include "sql/validate/vtsc_constants.h"

#include <cctype>
#include <cstring>

#include "sql/common/sql_abort.h"
#include "sql/common/sql_logger.h"
#include "sql/exec/sc_const.h"
#include "sql/validate/vtsc_cast.h"
#include "sql/validate/vtsc_support.h"

namespace {

bool IsReinterpretable(SQLType type) {
  return type == SQL_DATE || type == SQL_TIMESTAMP || type == SQL_INTERVAL_DAYS ||
         type == SQL_INTERVAL_SECONDS;
}

void InsertReinterpretable(SQLTypeSet *types) {
  types->Insert(SQL_DATE);
  types->Insert(SQL_TIMESTAMP);
  types->Insert(SQL_INTERVAL_DAYS);
  types->Insert(SQL_INTERVAL_SECONDS);
}

// A negative length is taken as empty rather than sized from it.
long CheckedLength(long length) { return length < 0 ? 0 : length; }

}  // namespace

// ---- string ----

SQLVTSCStringConst::SQLVTSCStringConst(unsigned char const *bytes, long length,
                                       CaseConversion conversion)
    : length_(CheckedLength(length)) {
  bytes_ = std::make_unique<unsigned char[]>(length_ + 1);  // zero-filled
  switch (conversion) {
    case AsIs:
      for (long i = 0; i < length_ && bytes[i] != 0; ++i) bytes_[i] = bytes[i];
      break;
    case ToLower:
      SQLVTLowerCase(bytes_.get(), bytes, static_cast<std::size_t>(length_));
      break;
    default:
      SQLAbort(__FILE__, __LINE__, "Unknown conversion type: %d", static_cast<int>(conversion));
  }
}

char *SQLVTSCStringConst::DeleteToString() {
  char *text = reinterpret_cast<char *>(bytes_.release());
  delete this;
  return text;
}

SQLVTSCValueExpr *SQLVTSCStringConst::Cast(SQLType type, bool) {
  if (type != SQL_STRING) {
    SQLVTThrowTypeConflict("42T16", "Type conflict on string constant", type, GetLineNumber());
  }
  return this;
}

SQLVTSCValueExpr *SQLVTSCStringConst::Copy() { return new SQLVTSCStringConst(bytes_.get(), length_, AsIs); }

SQLRSSCValueExpr *SQLVTSCStringConst::CreateRS() {
  return new SQLRSSCStringConst(bytes_.get(), static_cast<unsigned long>(length_));
}

void SQLVTSCStringConst::Log() const {
  if (!SQLVTTracing()) return;
  *SQLLogger::Instance() << "StringConst(" << reinterpret_cast<char const *>(bytes_.get()) << ")";
}

bool SQLVTSCStringConst::IsSameStringConst(SQLVTSCStringConst const *other) const {
  return other->length_ == length_ && std::memcmp(other->bytes_.get(), bytes_.get(), length_) == 0;
}

// ---- raw ----

SQLVTSCRawConst::SQLVTSCRawConst(unsigned char const *bytes, long length)
    : bytes_(std::make_unique<unsigned char[]>(CheckedLength(length) + 1)), length_(CheckedLength(length)) {
  if (length_ > 0) std::memcpy(bytes_.get(), bytes, length_);
}

SQLVTSCValueExpr *SQLVTSCRawConst::Cast(SQLType type, bool) {
  if (type != SQL_RAW) SQLVTThrowTypeConflict("42T24", "Type conflict on raw constant", type, GetLineNumber());
  return this;
}

SQLVTSCValueExpr *SQLVTSCRawConst::Copy() { return new SQLVTSCRawConst(bytes_.get(), length_); }

SQLRSSCValueExpr *SQLVTSCRawConst::CreateRS() {
  return new SQLRSSCRawConst(bytes_.get(), static_cast<unsigned long>(length_));
}

void SQLVTSCRawConst::Log() const {
  if (!SQLVTTracing()) return;
  static char const kHex[] = "0123456789abcdef";
  std::string hex;
  for (long i = 0; i < length_; ++i) {
    hex += kHex[bytes_[i] >> 4];
    hex += kHex[bytes_[i] & 15];
  }
  *SQLLogger::Instance() << "RawConst(" << hex.c_str() << ")";
}

bool SQLVTSCRawConst::IsSameRawConst(SQLVTSCRawConst const *other) const {
  return other->length_ == length_ && std::memcmp(other->bytes_.get(), bytes_.get(), length_) == 0;
}

// ---- date and timestamp ----

SQLVTSCValueExpr *SQLVTSCDateConst::Cast(SQLType type, bool) {
  if (type != SQL_DATE) SQLVTThrowTypeConflict("42T17", "Type conflict on date constant", type, GetLineNumber());
  return this;
}

SQLRSSCValueExpr *SQLVTSCDateConst::CreateRS() { return new SQLRSSCDateConst(day_); }

void SQLVTSCDateConst::Log() const {
  if (SQLVTTracing()) *SQLLogger::Instance() << "DateConst(" << day_ << ")";
}

SQLVTSCValueExpr *SQLVTSCTimestampConst::Cast(SQLType type, bool) {
  if (type != SQL_TIMESTAMP) {
    SQLVTThrowTypeConflict("42T25", "Type conflict on timestamp constant", type, GetLineNumber());
  }
  return this;
}

SQLRSSCValueExpr *SQLVTSCTimestampConst::CreateRS() { return new SQLRSSCTimestampConst(value_); }

void SQLVTSCTimestampConst::Log() const {
  if (SQLVTTracing()) *SQLLogger::Instance() << "TimestampConst(" << static_cast<long long>(value_) << ")";
}

// ---- numbers ----

SQLVTSCValueExpr *SQLVTSCIntegerConst::Cast(SQLType type, bool tolerant) {
  if (type == SQL_INTEGER) return this;
  if (type == SQL_REAL) {
    if (tolerant) return this;
    SQLVTSCValueExpr *real = new SQLVTSCRealConst(static_cast<double>(value_));
    real->SetLineNumber(GetLineNumber());
    delete this;
    return real;
  }
  if (IsReinterpretable(type)) {
    SQLVTSCValueExpr *cast = new SQLVTSCReinterpretCast(this, type);
    cast->SetLineNumber(GetLineNumber());
    return cast;
  }
  SQLVTThrowTypeConflict("42T14", "Type conflict on integer constant", type, GetLineNumber());
}

SQLRSSCValueExpr *SQLVTSCIntegerConst::CreateRS() { return new SQLRSSCIntegerConst(value_); }

void SQLVTSCIntegerConst::GetPossibleTypes(SQLTypeSet *types) {
  types->Insert(SQL_INTEGER);
  InsertReinterpretable(types);
}

void SQLVTSCIntegerConst::Log() const {
  if (SQLVTTracing()) *SQLLogger::Instance() << "IntegerConst(" << value_ << ")";
}

SQLVTSCValueExpr *SQLVTSCRealConst::Cast(SQLType type, bool) {
  if (type == SQL_REAL) return this;
  if (IsReinterpretable(type)) {
    SQLVTSCValueExpr *cast = new SQLVTSCReinterpretCast(this, type);
    cast->SetLineNumber(GetLineNumber());
    return cast;
  }
  SQLVTThrowTypeConflict("42T15", "Type conflict on real constant", type, GetLineNumber());
}

SQLRSSCValueExpr *SQLVTSCRealConst::CreateRS() { return new SQLRSSCRealConst(value_); }

void SQLVTSCRealConst::GetPossibleTypes(SQLTypeSet *types) {
  types->Insert(SQL_REAL);
  InsertReinterpretable(types);
}

void SQLVTSCRealConst::Log() const {
  if (SQLVTTracing()) *SQLLogger::Instance() << "RealConst(" << value_ << ")";
}
