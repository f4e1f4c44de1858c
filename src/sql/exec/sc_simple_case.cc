#include "sql/exec/sc_simple_case.h"

#include "sql/agent/nw_token.h"
#include "sql/agent/token_string.h"
#include "sql/common/sql_logger.h"
#include "sql/exec/visitor.h"

namespace {

// The set of candidate result types as a mask, with INTEGER as the one
// subtype of REAL: intersecting {INTEGER} with {REAL} leaves {REAL}.
unsigned IntersectComparable(unsigned mask, unsigned other) {
  unsigned result = mask & other;
  if (((mask & SQL_REAL) && (other & SQL_INTEGER)) || ((mask & SQL_INTEGER) && (other & SQL_REAL)))
    result |= SQL_REAL;
  return result;
}

bool SingleType(unsigned mask) { return mask != 0 && (mask & (mask - 1)) == 0; }

}  // namespace

SQLRSSCSimpleCase::SQLRSSCSimpleCase(SQLRSSCValueExpr *operand, List<WhenClause *> *clauses,
                                     SQLRSSCValueExpr *elseValue)
    : operand_(operand), else_(elseValue) {
  for (bool more = clauses->First(); more; more = clauses->Next())
    clauses_.emplace_back(clauses->GetCurrent());
  delete clauses;
}

SQLRSSCSimpleCase::~SQLRSSCSimpleCase() = default;

void SQLRSSCSimpleCase::DetermineType() const {
  if (type_ != SQL_UNDEFINED) return;
  unsigned mask = 0;
  bool seen = false;
  SQLRSSCValueExpr const *last = nullptr;
  for (auto const &c : clauses_) {
    if (!c->then) continue;
    unsigned t = static_cast<unsigned>(c->then->GetColumnDescriptor().GetType());
    mask = seen ? IntersectComparable(mask, t) : (mask | t);
    seen = true;
    last = c->then.get();
  }
  if (else_) {
    unsigned t = static_cast<unsigned>(else_->GetColumnDescriptor().GetType());
    mask = seen ? IntersectComparable(mask, t) : t;
  }
  if (SingleType(mask)) type_ = static_cast<SQLType>(mask);
  if (else_)
    depth_ = else_->GetColumnDescriptor().GetDepth();
  else if (last)
    depth_ = last->GetColumnDescriptor().GetDepth();
}

void SQLRSSCSimpleCase::Cost(double *first, double *second) {
  *first = 0;
  *second = 1;
  SQLRSSCAddCost(operand_.get(), first, second);
  double s = 1.0 / static_cast<double>(clauses_.size() + 1);
  double p = 1.0;
  for (auto &c : clauses_) {
    SQLRSSCAddCost(c->when.get(), first, second, p);
    if (c->then)
      SQLRSSCAddCost(c->then.get(), first, second, p * s);
    else
      *second += p * s;
    p -= s;
  }
  if (else_)
    SQLRSSCAddCost(else_.get(), first, second, p * s);
  else
    *second += p * s;
}

void SQLRSSCSimpleCase::AcceptVisit(SQLVisitor &visitor) {
  if (visitor.VisitSimpleCaseMembers()) {
    operand_->AcceptVisit(visitor);
    for (auto &c : clauses_) {
      c->when->AcceptVisit(visitor);
      if (c->then) c->then->AcceptVisit(visitor);
    }
    if (else_) else_->AcceptVisit(visitor);
  }
  visitor.VisitSQLRSSCSimpleCase(this);
}

void SQLRSSCSimpleCase::GetColumnRefs(int level, SQLRSSCColumnRefType type, pSQLRSSCColumnRefList *refs) {
  operand_->GetColumnRefs(level, type, refs);
  for (auto &c : clauses_) {
    c->when->GetColumnRefs(level, type, refs);
    if (c->then) c->then->GetColumnRefs(level, type, refs);
  }
  if (else_) else_->GetColumnRefs(level, type, refs);
}

SQLColumnDescriptor SQLRSSCSimpleCase::GetColumnDescriptor() const {
  DetermineType();
  return SQLColumnDescriptor("", type_, 0, depth_);
}

SQLTruthValue SQLRSSCSimpleCase::NullValueOnNullifiedCols(int level, List<Interval<int>> *intervals) {
  auto elseAnswer = [&]() { return else_ ? else_->NullValueOnNullifiedCols(level, intervals) : TV_TRUE; };
  if (operand_->NullValueOnNullifiedCols(level, intervals) == TV_TRUE) return elseAnswer();
  bool any = false, allNull = true, allNotNull = true;
  for (auto &c : clauses_) {
    if (c->when->NullValueOnNullifiedCols(level, intervals) == TV_TRUE) continue;
    any = true;
    SQLTruthValue t = c->then ? c->then->NullValueOnNullifiedCols(level, intervals) : TV_TRUE;
    if (t != TV_TRUE) allNull = false;
    if (t != TV_FALSE) allNotNull = false;
  }
  if (!any) return elseAnswer();
  if (allNull) return (!else_ || else_->NullValueOnNullifiedCols(level, intervals) == TV_TRUE) ? TV_TRUE : TV_UNKNOWN;
  if (allNotNull)
    return (else_ && else_->NullValueOnNullifiedCols(level, intervals) == TV_FALSE) ? TV_FALSE : TV_UNKNOWN;
  return TV_UNKNOWN;
}

void SQLRSSCSimpleCase::Optimize() {
  operand_->Optimize();
  for (auto &c : clauses_) {
    c->when->Optimize();
    if (c->then) c->then->Optimize();
  }
  if (else_) else_->Optimize();
}

SQLValueStore const *SQLRSSCSimpleCase::Prepare(SQLRSPrepareContext *context) {
  operandStore_ = operand_->Prepare(context);
  for (auto &c : clauses_) {
    c->whenStore = c->when->Prepare(context);
    if (c->then) c->thenStore = c->then->Prepare(context);
  }
  if (else_) elseStore_ = else_->Prepare(context);
  DetermineType();
  if (depth_ > 1) store_.SetDimension(depth_);
  return &store_;
}

void SQLRSSCSimpleCase::SetResultNull() {
  if (depth_ <= 1) {
    store_.SetNull();
    return;
  }
  store_.SetDimension(depth_);
  for (int i = 0; i < depth_; ++i) store_.GetElement(i)->SetNull();
}

void SQLRSSCSimpleCase::TakeValue(SQLRSSCValueExpr *e, SQLValueStore const *store) {
  e->Evaluate();
  // With every branch NULL the type stays open and the value is taken as it
  // comes; otherwise an INTEGER branch is widened where the type is REAL.
  if (type_ == SQL_UNDEFINED)
    store_.Copy(store);
  else
    store_.CopyAndCast(store, type_);
}

void SQLRSSCSimpleCase::Evaluate() {
  operand_->Evaluate();
  if (!operandStore_->IsNull()) {
    for (auto &c : clauses_) {
      c->when->Evaluate();
      if (SQLValueStore::Compare(operandStore_, c->whenStore, SQL_COMP_EQ) != TV_TRUE) continue;
      if (c->then)
        TakeValue(c->then.get(), c->thenStore);
      else
        SetResultNull();
      return;
    }
  }
  if (else_)
    TakeValue(else_.get(), elseStore_);
  else
    SetResultNull();
}

void SQLRSSCSimpleCase::Reset() {
  operand_->Reset();
  for (auto &c : clauses_) {
    c->when->Reset();
    if (c->then) c->then->Reset();
  }
  if (else_) else_->Reset();
}

void SQLRSSCSimpleCase::createTokenString(SQLTokenString *ts, int level, SQLRSNetFetchParams *params) {
  ts->AppendToken(SQLNWTVESimpleCase);
  operand_->createTokenString(ts, level, params);
  ts->AppendBs4(static_cast<std::int32_t>(clauses_.size()));
  for (auto &c : clauses_) {
    c->when->createTokenString(ts, level, params);
    if (c->then)
      c->then->createTokenString(ts, level, params);
    else
      ts->AppendToken(SQLNWTNull);
  }
  if (else_)
    else_->createTokenString(ts, level, params);
  else
    ts->AppendToken(SQLNWTNull);
}

SQLRSSCValueExpr *SQLRSSCSimpleCase::CRefs2ParameterRefs(int level, intList *columns,
                                                         pSQLParameterList *parameters) {
  SQLRSSCReplaceCRefs(&operand_, level, columns, parameters);
  for (auto &c : clauses_) {
    SQLRSSCReplaceCRefs(&c->when, level, columns, parameters);
    SQLRSSCReplaceCRefs(&c->then, level, columns, parameters);
  }
  SQLRSSCReplaceCRefs(&else_, level, columns, parameters);
  return this;
}

void SQLRSSCSimpleCase::Log() const {
  if (!SQLRSSCTracing()) return;
  SQLLogger &log = *SQLLogger::Instance();
  log << "SimpleCase(" << incind << endl << "CASE ";
  operand_->Log();
  log << endl;
  for (auto const &c : clauses_) {
    log << "WHEN ";
    c->when->Log();
    log << " THEN ";
    if (c->then)
      c->then->Log();
    else
      log << "NULL";
    log << endl;
  }
  log << "ELSE ";
  if (else_)
    else_->Log();
  else
    log << "NULL";
  log << endl << decind << endl << ")";
}
