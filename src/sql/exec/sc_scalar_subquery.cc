#include "sql/exec/sc_scalar_subquery.h"

#include "sql/agent/nw_token.h"
#include "sql/agent/token_string.h"
#include "sql/common/sql_exception.h"
#include "sql/common/sql_logger.h"
#include "sql/exec/row_source.h"
#include "sql/exec/visitors.h"

SQLRSSCScalarSubquery::SQLRSSCScalarSubquery(SQLRowSource *rowSource, SQLRowSource *local)
    : rowSource_(rowSource), answers_(local) {}

SQLRSSCScalarSubquery::~SQLRSSCScalarSubquery() = default;

bool SQLRSSCScalarSubquery::IsVariable() {
  SQLIsVariableVisitor visitor;
  AcceptVisit(visitor);
  return visitor.GetResult();
}

void SQLRSSCScalarSubquery::Cost(double *first, double *second) {
  *first = IsVariable() ? 100 : 1;
  *second = 0;
}

void SQLRSSCScalarSubquery::AcceptVisit(SQLVisitor &visitor) {
  if (!visitor.VisitScopeLevel_0_Only()) {
    SQLRSVisitSubquery(rowSource_.get(), visitor);
    answers_.Local().AcceptVisit(visitor);
  }
  visitor.VisitSQLRSSCScalarSubquery(this);
}

void SQLRSSCScalarSubquery::GetColumnRefs(int level, SQLRSSCColumnRefType type, pSQLRSSCColumnRefList *refs) {
  rowSource_->GetColumnRefs(level + 1, type, refs);
  answers_.Local().GetColumnRefs(level + 1, type, refs);
}

SQLColumnDescriptor SQLRSSCScalarSubquery::GetColumnDescriptor() const {
  return *rowSource_->GetColumnDescriptor(0);
}

SQLTruthValue SQLRSSCScalarSubquery::NullValueOnNullifiedCols(int level, List<Interval<int>> *intervals) {
  return rowSource_->RejectsAllOnNullifiedCols(level + 1, intervals) ? TV_TRUE : TV_UNKNOWN;
}

void SQLRSSCScalarSubquery::Optimize() {
  SQLRowSource *optimized = rowSource_.release()->OptimizeRS();
  rowSource_.reset(optimized);
  answers_.Local().Optimize();
}

SQLValueStore const *SQLRSSCScalarSubquery::Prepare(SQLRSPrepareContext *context) {
  rowSource_->Prepare(context);
  answers_.Prepare(context, rowSource_.get());
  return &store_;
}

bool SQLRSSCScalarSubquery::Run(SQLRowSource *rs) {
  rs->Exec();
  if (rs->Fetch()) {
    store_.Copy(rs->GetValueStoreAddr(0));
    if (rs->Fetch()) {
      rs->Break();
      return true;
    }
  } else {
    int depth = rs->GetColumnDescriptor(0)->GetDepth();
    if (depth <= 1) {
      store_.SetNull();
    } else {
      store_.SetDimension(depth);
      for (int i = 0; i < depth; ++i) store_.GetElement(i)->SetNull();
    }
  }
  rs->Break();
  return false;
}

void SQLRSSCScalarSubquery::Evaluate() {
  if (Answer const *kept = answers_.Find()) {
    if (kept->tooManyRows) throw SQLExCardinalityViolation();
    store_.Copy(&kept->value);
    return;
  }
  SQLRowSource *rs = answers_.Pick(rowSource_.get());
  Answer answer;
  answer.tooManyRows = Run(rs);
  if (!answer.tooManyRows) answer.value.Copy(&store_);
  bool const tooMany = answer.tooManyRows;
  size_t const bytes = SQLRSValueWeight(&answer.value);
  answers_.Keep(rs, std::move(answer), bytes);
  if (tooMany) throw SQLExCardinalityViolation();
}

void SQLRSSCScalarSubquery::createTokenString(SQLTokenString *ts, int level, SQLRSNetFetchParams *params) {
  ts->AppendToken(SQLNWTVEScalarSubquery);
  rowSource_->createTokenString(ts, level + 1, params);
}

SQLRSSCValueExpr *SQLRSSCScalarSubquery::CRefs2ParameterRefs(int level, intList *columns,
                                                             pSQLParameterList *parameters) {
  rowSource_->CRefs2ParameterRefs(level + 1, columns, parameters);
  answers_.Local().CRefs2ParameterRefs(level + 1, columns, parameters);
  return this;
}

void SQLRSSCScalarSubquery::Log() const {
  if (!SQLRSSCTracing()) return;
  SQLLogger &log = *SQLLogger::Instance();
  log << "ScalarSubquery(" << incind << endl;
  rowSource_->Log();
  log << decind << endl << ")";
}
