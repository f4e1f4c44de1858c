#include "sql/exec/sc_column_ref.h"

#include "sql/agent/nw_token.h"
#include "sql/agent/token_string.h"
#include "sql/common/sql_logger.h"
#include "sql/common/sql_parameter.h"
#include "sql/exec/column_ref_scope.h"
#include "sql/exec/net_fetch_params.h"
#include "sql/exec/visitor.h"

namespace {

// Writes a parameter as the agent reads it: id, type, length, depth.
void AppendParameter(SQLTokenString *ts, unsigned long id, SQLType type, unsigned long length, int depth) {
  ts->AppendToken(SQLNWTVEParameterRef);
  ts->AppendBs4(static_cast<std::int32_t>(id));
  ts->AppendType(type);
  ts->AppendBs4(static_cast<std::int32_t>(length));
  ts->AppendBs4(depth);
}

}  // namespace

// ---- column references ----

SQLRSSCColumnRef::SQLRSSCColumnRef(int level, int columnId, SQLColumnDescriptor const *descriptor)
    : level_(level), columnId_(columnId), descriptor_(*descriptor) {}

void SQLRSSCColumnRef::Cost(double *first, double *second) {
  *first = 0;
  *second = 1;
}

void SQLRSSCColumnRef::AcceptVisit(SQLVisitor &visitor) { visitor.VisitSQLRSSCColumnRef(this); }

void SQLRSSCColumnRef::GetColumnRefs(int level, SQLRSSCColumnRefType type, pSQLRSSCColumnRefList *refs) {
  int sum = level_ + level;
  if ((type == SQL_CREF_OUTER && sum < 0) || (type == SQL_CREF_LEVEL && sum == 0)) refs->Append(this);
}

SQLTruthValue SQLRSSCColumnRef::NullValueOnNullifiedCols(int level, List<Interval<int>> *intervals) {
  if (level_ + level != 0) return TV_UNKNOWN;
  if (descriptor_.GetDepth() != 1) return TV_FALSE;  // an array is never NULL as a whole
  for (bool more = intervals->First(); more; more = intervals->Next())
    if (intervals->GetCurrent().Contains(columnId_)) return TV_TRUE;
  return TV_UNKNOWN;
}

SQLValueStore const *SQLRSSCColumnRef::Prepare(SQLRSPrepareContext *context) {
  store_ = context->Scope()->GetValueStoreAddr(level_, static_cast<unsigned>(columnId_));
  return store_;
}

bool SQLRSSCColumnRef::IsSameValueExpr(SQLRSSCValueExpr const *other) const {
  return other == this || other->IsSameColumnRef(this);
}

bool SQLRSSCColumnRef::IsSameColumnRef(SQLRSSCColumnRef const *other) const {
  return columnId_ == other->columnId_ && level_ == other->level_;
}

void SQLRSSCColumnRef::createTokenString(SQLTokenString *ts, int level, SQLRSNetFetchParams *params) {
  int sum = level_ + level;
  if (sum >= 0) {
    ts->AppendToken(SQLNWTVEColRef);
    ts->AppendBs2(static_cast<std::int16_t>(level_));
    ts->AppendBs2(static_cast<std::int16_t>(columnId_));
    return;
  }
  SQLParameter *p = params->AddOuterCref(sum, columnId_);
  AppendParameter(ts, p->GetId(), descriptor_.GetType(), descriptor_.GetLength(), descriptor_.GetDepth());
}

SQLRSSCValueExpr *SQLRSSCColumnRef::CRefs2ParameterRefs(int level, intList *columns,
                                                        pSQLParameterList *parameters) {
  if (level_ + level != 0 || columns->NrElements() == 0) return this;
  bool moreIds = columns->First();
  bool moreParams = parameters->First();
  for (; moreIds && moreParams; moreIds = columns->Next(), moreParams = parameters->Next()) {
    if (columns->GetCurrent() == columnId_) {
      SQLRSSCValueExpr *replacement = new SQLRSSCParameterRef(parameters->GetCurrent());
      delete this;
      return replacement;
    }
  }
  return this;
}

void SQLRSSCColumnRef::Log() const {
  if (!SQLRSSCTracing()) return;
  *SQLLogger::Instance() << "ColumnRef(" << level_ << "," << columnId_ << ")";
}

SQLRSSCValueExpr *SQLRSSCColumnRef::Copy() const {
  auto *copy = new SQLRSSCColumnRef(level_, columnId_, &descriptor_);
  copy->keptHere_ = keptHere_;
  return copy;
}

// ---- parameter references ----

SQLRSSCParameterRef::SQLRSSCParameterRef(SQLParameter const *parameter) : parameter_(parameter) {}

void SQLRSSCParameterRef::Cost(double *first, double *second) {
  *first = 0;
  *second = 1;
}

void SQLRSSCParameterRef::AcceptVisit(SQLVisitor &visitor) { visitor.VisitSQLRSSCParameterRef(this); }

SQLColumnDescriptor SQLRSSCParameterRef::GetColumnDescriptor() const {
  return SQLColumnDescriptor("", parameter_->GetType(), parameter_->GetLength(), parameter_->GetDepth());
}

void SQLRSSCParameterRef::Evaluate() { parameter_->CopyIntoVS(&store_); }

bool SQLRSSCParameterRef::IsSameValueExpr(SQLRSSCValueExpr const *other) const {
  return other == this || other->IsSameParameterRef(this);
}

bool SQLRSSCParameterRef::IsSameParameterRef(SQLRSSCParameterRef const *other) const {
  return parameter_ == other->parameter_;
}

void SQLRSSCParameterRef::createTokenString(SQLTokenString *ts, int, SQLRSNetFetchParams *) {
  AppendParameter(ts, parameter_->GetId(), parameter_->GetType(), parameter_->GetLength(),
                  parameter_->GetDepth());
}

void SQLRSSCParameterRef::Log() const {
  if (!SQLRSSCTracing()) return;
  SQLLogger &log = *SQLLogger::Instance();
  log << "ParameterRef(" << incind << endl;
  parameter_->Log();
  log << decind << endl << ")";
}

SQLRSSCValueExpr *SQLRSSCParameterRef::Copy() const { return new SQLRSSCParameterRef(parameter_); }
