#include "sql/exec/sc_string_ops.h"

#include <cstdint>
#include <cstring>

#include "sql/agent/token_string.h"
#include "sql/common/sql_abort.h"
#include "sql/common/sql_exception.h"
#include "sql/common/sql_logger.h"
#include "sql/common/sql_util.h"
#include "sql/exec/visitor.h"

unsigned long SQLRSSCTssCharLength(unsigned char const *p, unsigned long n) {
  return (p[0] == 0x9B && n >= 4) ? 4 : 1;
}

// ---- concatenation ----

SQLColumnDescriptor SQLRSSCConcatenate::Describe(SQLColumnDescriptor const &l, SQLColumnDescriptor const &r) const {
  return SQLColumnDescriptor("", l.GetType(), l.GetLength() + r.GetLength(), 1);
}

bool SQLRSSCConcatenate::IsSameValueExpr(SQLRSSCValueExpr const *other) const {
  return other == this || other->IsSameConcatenate(this);
}

bool SQLRSSCConcatenate::IsSameConcatenate(SQLRSSCConcatenate const *other) const {
  return SameOperands(other);
}

void SQLRSSCConcatenate::Operate(SQLValueStore const *l, SQLValueStore const *r) { store_.Concatenate(l, r); }

SQLRSSCDyadic *SQLRSSCConcatenate::NewLike(SQLRSSCValueExprPtr &&l, SQLRSSCValueExprPtr &&r) const {
  return new SQLRSSCConcatenate(l.release(), r.release());
}
void SQLRSSCConcatenate::VisitSelf(SQLVisitor &visitor) { visitor.VisitSQLRSSCConcatenate(this); }

// ---- substring ----

SQLRSSCSubstr::SQLRSSCSubstr(SQLRSSCValueExpr *string, SQLRSSCValueExpr *start, SQLRSSCValueExpr *length)
    : string_(string), start_(start), length_(length) {}

void SQLRSSCSubstr::Cost(double *first, double *second) {
  *first = 0;
  *second = 10;
  SQLRSSCAddCost(string_.get(), first, second);
  SQLRSSCAddCost(start_.get(), first, second);
  SQLRSSCAddCost(length_.get(), first, second);
}

void SQLRSSCSubstr::AcceptVisit(SQLVisitor &visitor) {
  string_->AcceptVisit(visitor);
  start_->AcceptVisit(visitor);
  if (length_) length_->AcceptVisit(visitor);
  visitor.VisitSQLRSSCSubstr(this);
}

void SQLRSSCSubstr::GetColumnRefs(int level, SQLRSSCColumnRefType type, pSQLRSSCColumnRefList *refs) {
  string_->GetColumnRefs(level, type, refs);
  start_->GetColumnRefs(level, type, refs);
  if (length_) length_->GetColumnRefs(level, type, refs);
}

SQLColumnDescriptor SQLRSSCSubstr::GetColumnDescriptor() const {
  return SQLColumnDescriptor("", string_->GetColumnDescriptor().GetType(), 0, 1);
}

SQLTruthValue SQLRSSCSubstr::NullValueOnNullifiedCols(int level, List<Interval<int>> *intervals) {
  SQLTruthValue t = string_->NullValueOnNullifiedCols(level, intervals);
  if (t == TV_TRUE) return t;
  t = TVOr(t, start_->NullValueOnNullifiedCols(level, intervals));
  if (t == TV_TRUE || !length_) return t;
  return TVOr(t, length_->NullValueOnNullifiedCols(level, intervals));
}

void SQLRSSCSubstr::Optimize() {
  string_->Optimize();
  start_->Optimize();
  if (length_) length_->Optimize();
}

SQLValueStore const *SQLRSSCSubstr::Prepare(SQLRSPrepareContext *context) {
  stringStore_ = string_->Prepare(context);
  startStore_ = start_->Prepare(context);
  if (length_) lengthStore_ = length_->Prepare(context);
  return &store_;
}

void SQLRSSCSubstr::Evaluate() {
  string_->Evaluate();
  if (stringStore_->IsNull()) return store_.SetNull();
  start_->Evaluate();
  if (startStore_->IsNull()) return store_.SetNull();
  // 64-bit positions: start + length cannot overflow.
  std::int64_t n = static_cast<std::int64_t>(stringStore_->GetLength());
  std::int64_t s = startStore_->GetInteger();
  std::int64_t e = n + 1;
  if (length_) {
    length_->Evaluate();
    if (lengthStore_->IsNull()) return store_.SetNull();
    std::int64_t len = lengthStore_->GetInteger();
    if (len < 0) throw SQLExDESubstringError();
    e = s + len;
  }
  bool raw = stringStore_->GetType() == SQL_RAW;
  unsigned char const *from = stringStore_->GetBytes();
  unsigned long count = 0;
  if (s <= n && e >= 1) {
    if (s < 1) s = 1;
    if (e > n + 1) e = n + 1;
    from += s - 1;
    count = static_cast<unsigned long>(e - s);
  }
  if (raw)
    store_.SetRaw(from, count);
  else
    store_.SetString(from, count);
}

void SQLRSSCSubstr::Reset() {
  string_->Reset();
  start_->Reset();
  if (length_) length_->Reset();
}

bool SQLRSSCSubstr::IsSameValueExpr(SQLRSSCValueExpr const *other) const {
  return other == this || other->IsSameSubstr(this);
}

bool SQLRSSCSubstr::IsSameSubstr(SQLRSSCSubstr const *other) const {
  if (!string_->IsSameValueExpr(other->string_.get()) || !start_->IsSameValueExpr(other->start_.get()))
    return false;
  if (!length_ || !other->length_) return !length_ && !other->length_;
  return length_->IsSameValueExpr(other->length_.get());
}

void SQLRSSCSubstr::createTokenString(SQLTokenString *ts, int level, SQLRSNetFetchParams *params) {
  ts->AppendToken(SQLNWTVESubstr);
  string_->createTokenString(ts, level, params);
  start_->createTokenString(ts, level, params);
  if (length_)
    length_->createTokenString(ts, level, params);
  else
    ts->AppendToken(SQLNWTNull);
}

SQLRSSCValueExpr *SQLRSSCSubstr::CRefs2ParameterRefs(int level, intList *columns, pSQLParameterList *parameters) {
  SQLRSSCReplaceCRefs(&string_, level, columns, parameters);
  SQLRSSCReplaceCRefs(&start_, level, columns, parameters);
  SQLRSSCReplaceCRefs(&length_, level, columns, parameters);
  return this;
}

void SQLRSSCSubstr::Log() const {
  if (!SQLRSSCTracing()) return;
  SQLLogger &log = *SQLLogger::Instance();
  log << "Substr(" << incind << endl;
  SQLRSSCLogOperand("expr: ", string_.get());
  SQLRSSCLogOperand("start: ", start_.get());
  if (length_)
    SQLRSSCLogOperand("length: ", length_.get());
  else
    log << "length unspecified" << endl;
  log << decind << ")";
}

// ---- trim ----

SQLRSSCTrim::SQLRSSCTrim(SQLTrimSpec spec, SQLRSSCValueExpr *character, SQLRSSCValueExpr *source)
    : spec_(spec), character_(character), source_(source) {}

void SQLRSSCTrim::Cost(double *first, double *second) {
  *first = 0;
  *second = 10;
  SQLRSSCAddCost(character_.get(), first, second);
  SQLRSSCAddCost(source_.get(), first, second);
}

void SQLRSSCTrim::AcceptVisit(SQLVisitor &visitor) {
  if (character_) character_->AcceptVisit(visitor);
  source_->AcceptVisit(visitor);
  visitor.VisitSQLRSSCTrim(this);
}

void SQLRSSCTrim::GetColumnRefs(int level, SQLRSSCColumnRefType type, pSQLRSSCColumnRefList *refs) {
  if (character_) character_->GetColumnRefs(level, type, refs);
  source_->GetColumnRefs(level, type, refs);
}

SQLColumnDescriptor SQLRSSCTrim::GetColumnDescriptor() const { return SQLColumnDescriptor("", SQL_STRING, 0, 1); }

SQLTruthValue SQLRSSCTrim::NullValueOnNullifiedCols(int level, List<Interval<int>> *intervals) {
  SQLTruthValue t = source_->NullValueOnNullifiedCols(level, intervals);
  if (t == TV_TRUE || !character_) return t;
  return TVOr(t, character_->NullValueOnNullifiedCols(level, intervals));
}

void SQLRSSCTrim::Optimize() {
  if (character_) character_->Optimize();
  source_->Optimize();
}

SQLValueStore const *SQLRSSCTrim::Prepare(SQLRSPrepareContext *context) {
  if (character_) characterStore_ = character_->Prepare(context);
  sourceStore_ = source_->Prepare(context);
  return &store_;
}

void SQLRSSCTrim::Evaluate() {
  source_->Evaluate();
  if (sourceStore_->IsNull()) return store_.SetNull();
  unsigned char const blank = ' ';
  unsigned char const *trim = &blank;
  unsigned long trimLength = 1;
  if (character_) {
    character_->Evaluate();
    if (characterStore_->IsNull()) return store_.SetNull();
    trim = characterStore_->GetBytes();
    trimLength = characterStore_->GetLength();
    if (trimLength == 0 || trimLength != (trim[0] == 0x9B ? 4UL : 1UL)) throw SQLExDETrimError();
  }
  unsigned char const *bytes = sourceStore_->GetBytes();
  unsigned long n = sourceStore_->GetLength();
  auto isTrim = [&](unsigned long at, unsigned long len) {
    return len == trimLength && std::memcmp(bytes + at, trim, len) == 0;
  };
  unsigned long begin = 0;
  if (spec_ == SQL_TRIM_LEADING || spec_ == SQL_TRIM_BOTH) {
    while (begin < n) {
      unsigned long len = SQLRSSCTssCharLength(bytes + begin, n - begin);
      if (!isTrim(begin, len)) break;
      begin += len;
    }
  }
  unsigned long end = n;
  if (spec_ == SQL_TRIM_TRAILING || spec_ == SQL_TRIM_BOTH) {
    // The start of the final run of trim characters, walking forward so
    // that the bytes of a 4-byte character are never read as characters.
    bool inRun = false;
    unsigned long runStart = n;
    for (unsigned long at = begin; at < n;) {
      unsigned long len = SQLRSSCTssCharLength(bytes + at, n - at);
      if (isTrim(at, len)) {
        if (!inRun) runStart = at;
        inRun = true;
      } else {
        inRun = false;
      }
      at += len;
    }
    end = inRun ? runStart : n;
  }
  store_.SetString(bytes + begin, end - begin);
}

void SQLRSSCTrim::Reset() {
  if (character_) character_->Reset();
  source_->Reset();
}

void SQLRSSCTrim::createTokenString(SQLTokenString *ts, int level, SQLRSNetFetchParams *params) {
  ts->AppendToken(SQLNWTVETrim);
  switch (spec_) {
    case SQL_TRIM_LEADING: ts->AppendToken(SQLNWTTrimLeading); break;
    case SQL_TRIM_TRAILING: ts->AppendToken(SQLNWTTrimTrailing); break;
    case SQL_TRIM_BOTH: ts->AppendToken(SQLNWTTrimBoth); break;
    default: SQLAbort(__FILE__, __LINE__, "Unexpected trim specification %d", spec_);
  }
  if (character_)
    character_->createTokenString(ts, level, params);
  else
    ts->AppendToken(SQLNWTNull);
  source_->createTokenString(ts, level, params);
}

SQLRSSCValueExpr *SQLRSSCTrim::CRefs2ParameterRefs(int level, intList *columns, pSQLParameterList *parameters) {
  SQLRSSCReplaceCRefs(&character_, level, columns, parameters);
  SQLRSSCReplaceCRefs(&source_, level, columns, parameters);
  return this;
}

void SQLRSSCTrim::Log() const {
  if (!SQLRSSCTracing()) return;
  SQLLogger &log = *SQLLogger::Instance();
  log << "Trim(" << incind << endl << "spec: " << SQLGetTrimSpecName(spec_) << endl;
  if (character_)
    SQLRSSCLogOperand("character: ", character_.get());
  else
    log << "character unspecified" << endl;
  SQLRSSCLogOperand("source: ", source_.get());
  log << decind << ")";
}
