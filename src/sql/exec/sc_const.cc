#include "sql/exec/sc_const.h"

#include <limits>

#include "sql/agent/nw_token.h"
#include "sql/agent/token_string.h"
#include "sql/common/sql_exception.h"
#include "sql/common/sql_logger.h"
#include "sql/exec/visitor.h"

namespace {

// Longs that do not fit the 32-bit word of the store are refused rather
// than cut.
std::int32_t Checked32(long v) {
  if (v < std::numeric_limits<std::int32_t>::min() || v > std::numeric_limits<std::int32_t>::max())
    throw SQLExDENumericValueOutOfRange();
  return static_cast<std::int32_t>(v);
}

}  // namespace

void SQLRSSCConst::Cost(double *first, double *second) {
  *first = 0;
  *second = 1;
}

SQLColumnDescriptor SQLRSSCConst::GetColumnDescriptor() const {
  SQLType type = store_.GetType();
  unsigned long length = (type == SQL_STRING || type == SQL_RAW) ? store_.GetLength() : 0;
  return SQLColumnDescriptor("", type, length, 1);
}

void SQLRSSCConst::Log() const {
  if (!SQLRSSCTracing()) return;
  *SQLLogger::Instance() << LogWord();
  store_.Log();
  *SQLLogger::Instance() << ")";
}

// ---- strings and raws ----

SQLRSSCStringConst::SQLRSSCStringConst(unsigned char const *bytes, unsigned long length) {
  store_.SetString(bytes, length);
}

void SQLRSSCStringConst::AcceptVisit(SQLVisitor &visitor) { visitor.VisitSQLRSSCStringConst(this); }

bool SQLRSSCStringConst::IsSameValueExpr(SQLRSSCValueExpr const *other) const {
  return other == this || other->IsSameStringConst(this);
}

bool SQLRSSCStringConst::IsSameStringConst(SQLRSSCStringConst const *other) const {
  return SQLValueStore::Compare(&store_, other->GetValueStore(), SQL_COMP_EQ) == TV_TRUE;
}

void SQLRSSCStringConst::createTokenString(SQLTokenString *ts, int, SQLRSNetFetchParams *) {
  ts->AppendToken(SQLNWTVEStringConst);
  ts->AppendMemory(store_.GetBytes(), static_cast<int>(store_.GetLength()));
}

SQLRSSCValueExpr *SQLRSSCStringConst::Copy() const {
  return new SQLRSSCStringConst(store_.GetBytes(), store_.GetLength());
}

SQLRSSCRawConst::SQLRSSCRawConst(unsigned char const *bytes, unsigned long length) {
  store_.SetRaw(bytes, length);
}

void SQLRSSCRawConst::AcceptVisit(SQLVisitor &visitor) { visitor.VisitSQLRSSCRawConst(this); }

bool SQLRSSCRawConst::IsSameValueExpr(SQLRSSCValueExpr const *other) const {
  return other == this || other->IsSameRawConst(this);
}

bool SQLRSSCRawConst::IsSameRawConst(SQLRSSCRawConst const *other) const {
  return SQLValueStore::Compare(&store_, other->GetValueStore(), SQL_COMP_EQ) == TV_TRUE;
}

void SQLRSSCRawConst::createTokenString(SQLTokenString *ts, int, SQLRSNetFetchParams *) {
  ts->AppendToken(SQLNWTVERawConst);
  ts->AppendMemory(store_.GetBytes(), static_cast<int>(store_.GetLength()));
}

SQLRSSCValueExpr *SQLRSSCRawConst::Copy() const {
  return new SQLRSSCRawConst(store_.GetBytes(), store_.GetLength());
}

// ---- numbers ----

SQLRSSCIntegerConst::SQLRSSCIntegerConst(long value) { store_.SetInteger(Checked32(value)); }

void SQLRSSCIntegerConst::AcceptVisit(SQLVisitor &visitor) { visitor.VisitSQLRSSCIntegerConst(this); }

bool SQLRSSCIntegerConst::IsSameValueExpr(SQLRSSCValueExpr const *other) const {
  return other == this || other->IsSameIntegerConst(this);
}

bool SQLRSSCIntegerConst::IsSameIntegerConst(SQLRSSCIntegerConst const *other) const {
  return store_.GetInteger() == other->GetValueStore()->GetInteger();
}

void SQLRSSCIntegerConst::createTokenString(SQLTokenString *ts, int, SQLRSNetFetchParams *) {
  ts->AppendToken(SQLNWTVEIntegerConst);
  ts->AppendBs4(store_.GetInteger());
}

SQLRSSCValueExpr *SQLRSSCIntegerConst::Copy() const { return new SQLRSSCIntegerConst(store_.GetInteger()); }

SQLRSSCRealConst::SQLRSSCRealConst(double value) { store_.SetReal(value); }

void SQLRSSCRealConst::AcceptVisit(SQLVisitor &visitor) { visitor.VisitSQLRSSCRealConst(this); }

bool SQLRSSCRealConst::IsSameValueExpr(SQLRSSCValueExpr const *other) const {
  return other == this || other->IsSameRealConst(this);
}

bool SQLRSSCRealConst::IsSameRealConst(SQLRSSCRealConst const *other) const {
  double a = store_.GetReal(), b = other->GetValueStore()->GetReal();
  return !(a < b) && !(a > b);
}

void SQLRSSCRealConst::createTokenString(SQLTokenString *ts, int, SQLRSNetFetchParams *) {
  ts->AppendToken(SQLNWTVERealConst);
  ts->AppendDouble(store_.GetType() == SQL_REAL ? store_.GetReal()
                                                : static_cast<double>(store_.GetInteger()));
}

SQLRSSCValueExpr *SQLRSSCRealConst::Copy() const { return new SQLRSSCRealConst(store_.GetReal()); }

SQLRSSCDateConst::SQLRSSCDateConst(long dayNumber) { store_.SetDate(Checked32(dayNumber)); }

void SQLRSSCDateConst::AcceptVisit(SQLVisitor &visitor) { visitor.VisitSQLRSSCDateConst(this); }

bool SQLRSSCDateConst::IsSameValueExpr(SQLRSSCValueExpr const *other) const {
  return other == this || other->IsSameDateConst(this);
}

bool SQLRSSCDateConst::IsSameDateConst(SQLRSSCDateConst const *other) const {
  return store_.GetDate() == other->GetValueStore()->GetDate();
}

void SQLRSSCDateConst::createTokenString(SQLTokenString *ts, int, SQLRSNetFetchParams *) {
  ts->AppendToken(SQLNWTVEDateConst);
  ts->AppendBs4(store_.GetDate());
}

SQLRSSCValueExpr *SQLRSSCDateConst::Copy() const { return new SQLRSSCDateConst(store_.GetDate()); }

SQLRSSCTimestampConst::SQLRSSCTimestampConst(std::int64_t seconds) { store_.SetTimestamp(seconds); }

void SQLRSSCTimestampConst::AcceptVisit(SQLVisitor &visitor) { visitor.VisitSQLRSSCTimestampConst(this); }

bool SQLRSSCTimestampConst::IsSameValueExpr(SQLRSSCValueExpr const *other) const {
  return other == this || other->IsSameTimestampConst(this);
}

bool SQLRSSCTimestampConst::IsSameTimestampConst(SQLRSSCTimestampConst const *other) const {
  return store_.GetTimestamp() == other->GetValueStore()->GetTimestamp();
}

void SQLRSSCTimestampConst::createTokenString(SQLTokenString *ts, int, SQLRSNetFetchParams *) {
  ts->AppendToken(SQLNWTVETimeStampConst);
  ts->AppendBs8(store_.GetTimestamp());
}

SQLRSSCValueExpr *SQLRSSCTimestampConst::Copy() const {
  return new SQLRSSCTimestampConst(store_.GetTimestamp());
}
