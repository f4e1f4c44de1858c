#include "sql/exec/sc_subquery_cond.h"

#include "sql/agent/token_string.h"
#include "sql/common/sql_logger.h"
#include "sql/exec/row_source.h"
#include "sql/exec/visitors.h"

namespace {

// Visits a subquery's tree one level deeper, then takes it off the scope.
void VisitSubquery(SQLRowSource *rowSource, SQLVisitor &visitor) {
  visitor.IncLevel();
  rowSource->AcceptVisit(visitor);
  visitor.DecLevel();
  visitor.Scope()->PopRowSource();
}

// Runs the row source's Break also when the evaluation fails, so that no
// result stays open.
class BreakOnExit {
 public:
  explicit BreakOnExit(SQLRowSource *rs) : rs_(rs) {}
  ~BreakOnExit() {
    try {
      rs_->Break();
    } catch (...) {
      // The evaluation's own outcome (or its exception) is what counts.
    }
  }
  BreakOnExit(BreakOnExit const &) = delete;
  BreakOnExit &operator=(BreakOnExit const &) = delete;

 private:
  SQLRowSource *rs_;
};

}  // namespace

// ---- EXISTS ----

SQLRSSCExists::SQLRSSCExists(SQLRowSource *rowSource) : rowSource_(rowSource) {}

SQLRSSCExists::~SQLRSSCExists() = default;

bool SQLRSSCExists::IsVariable() {
  SQLIsVariableVisitor visitor;
  AcceptVisit(visitor);
  return visitor.GetResult();
}

void SQLRSSCExists::Prepare(SQLRSPrepareContext *context) {
  rowSource_->Prepare(context);
  evaluateOnce_ = !IsVariable();
  held_ = false;
}

SQLTruthValue SQLRSSCExists::Evaluate() {
  if (evaluateOnce_ && held_) return result_;
  SQLTruthValue result;
  {
    rowSource_->Exec();
    BreakOnExit breaker(rowSource_.get());
    result = rowSource_->Fetch() ? TV_TRUE : TV_FALSE;
  }
  if (evaluateOnce_) {
    result_ = result;
    held_ = true;
  }
  return result;
}

void SQLRSSCExists::Cost(double *first, double *second) {
  *first = IsVariable() ? 100 : 1;
  *second = 1;
}

void SQLRSSCExists::AcceptVisit(SQLVisitor &visitor) {
  VisitSubquery(rowSource_.get(), visitor);
  visitor.VisitSQLRSSCExists(this);
}

void SQLRSSCExists::GetColumnRefs(int level, SQLRSSCColumnRefType type, pSQLRSSCColumnRefList *refs) {
  rowSource_->GetColumnRefs(level + 1, type, refs);
}

SQLTruthValueSet SQLRSSCExists::PossibleValuesOnNullifiedCols(int level, List<Interval<int>> *intervals) {
  if (rowSource_->RejectsAllOnNullifiedCols(level + 1, intervals)) return SQLRSSCTruthSet(TV_FALSE);
  return SQLRSSCTruthSet(TV_TRUE, TV_FALSE);
}

SQLRSSCSearchCond *SQLRSSCExists::Optimize() {
  SQLRSSCSearchCondPtr self(this);  // freed when an operand throws
  SQLRowSource *optimized = rowSource_.release()->OptimizeRS();
  rowSource_.reset(optimized);
  return self.release();
}

void SQLRSSCExists::createTokenString(SQLTokenString *ts, int level, SQLRSNetFetchParams *params) {
  ts->AppendToken(SQLNWTSCExists);
  rowSource_->createTokenString(ts, level + 1, params);
}

void SQLRSSCExists::CRefs2ParameterRefs(int level, intList *columns, pSQLParameterList *parameters) {
  rowSource_->CRefs2ParameterRefs(level + 1, columns, parameters);
}

void SQLRSSCExists::Log() const {
  if (!SQLRSSCTracing()) return;
  SQLLogger &log = *SQLLogger::Instance();
  log << "Exists(" << incind << endl;
  rowSource_->Log();
  log << decind << endl << ")";
}

// ---- IN (subquery) ----

SQLRSSCInSubquery::SQLRSSCInSubquery(SQLRSSCValueExpr *value, SQLRowSource *rowSource)
    : value_(value), rowSource_(rowSource) {}

SQLRSSCInSubquery::~SQLRSSCInSubquery() = default;

bool SQLRSSCInSubquery::IsVariable() {
  SQLIsVariableVisitor visitor;
  visitor.IncLevel();
  rowSource_->AcceptVisit(visitor);
  return visitor.GetResult();
}

void SQLRSSCInSubquery::Prepare(SQLRSPrepareContext *context) {
  valueStore_ = value_->Prepare(context);
  rowSource_->Prepare(context);
  columnStore_ = rowSource_->GetValueStoreAddr(0);
}

SQLTruthValue SQLRSSCInSubquery::Evaluate() {
  value_->Evaluate();
  rowSource_->Exec();
  BreakOnExit breaker(rowSource_.get());
  if (!rowSource_->Fetch()) return TV_FALSE;
  if (valueStore_->IsNull()) return TV_UNKNOWN;
  SQLTruthValue result = TV_FALSE;
  do {
    result = TVOr(result, SQLValueStore::Compare(valueStore_, columnStore_, SQL_COMP_EQ));
  } while (result != TV_TRUE && rowSource_->Fetch());
  return result;
}

void SQLRSSCInSubquery::Cost(double *first, double *second) {
  *first = IsVariable() ? 100 : 1;
  *second = 1000;
  SQLRSSCAddCost(value_.get(), first, second);
}

void SQLRSSCInSubquery::AcceptVisit(SQLVisitor &visitor) {
  value_->AcceptVisit(visitor);
  VisitSubquery(rowSource_.get(), visitor);
  visitor.VisitSQLRSSCInSubquery(this);
}

void SQLRSSCInSubquery::GetColumnRefs(int level, SQLRSSCColumnRefType type, pSQLRSSCColumnRefList *refs) {
  value_->GetColumnRefs(level, type, refs);
  rowSource_->GetColumnRefs(level + 1, type, refs);
}

SQLTruthValueSet SQLRSSCInSubquery::PossibleValuesOnNullifiedCols(int level, List<Interval<int>> *intervals) {
  if (rowSource_->RejectsAllOnNullifiedCols(level + 1, intervals)) return SQLRSSCTruthSet(TV_FALSE);
  // NULL IN a subquery is UNKNOWN when it yields rows, but FALSE when it
  // yields none: NOT IN is then TRUE, and an outer join under it must stay.
  if (value_->NullValueOnNullifiedCols(level, intervals) == TV_TRUE) return SQLRSSCTruthSet(TV_FALSE, TV_UNKNOWN);
  return SQLRSSCTruthSet(TV_FALSE, TV_UNKNOWN, TV_TRUE);
}

SQLRSSCSearchCond *SQLRSSCInSubquery::Optimize() {
  SQLRSSCSearchCondPtr self(this);  // freed when an operand throws
  value_->Optimize();
  SQLRowSource *optimized = rowSource_.release()->OptimizeRS();
  rowSource_.reset(optimized);
  return self.release();
}

void SQLRSSCInSubquery::createTokenString(SQLTokenString *ts, int level, SQLRSNetFetchParams *params) {
  ts->AppendToken(SQLNWTSCInSubquery);
  value_->createTokenString(ts, level, params);
  rowSource_->createTokenString(ts, level + 1, params);
}

void SQLRSSCInSubquery::CRefs2ParameterRefs(int level, intList *columns, pSQLParameterList *parameters) {
  SQLRSSCReplaceCRefs(&value_, level, columns, parameters);
  rowSource_->CRefs2ParameterRefs(level + 1, columns, parameters);
}

void SQLRSSCInSubquery::Log() const {
  if (!SQLRSSCTracing()) return;
  SQLLogger &log = *SQLLogger::Instance();
  log << "InSubquery(" << incind << endl;
  SQLRSSCLogOperand("", value_.get());
  rowSource_->Log();
  log << decind << endl << ")";
}
