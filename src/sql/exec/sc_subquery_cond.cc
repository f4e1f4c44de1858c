#include "sql/exec/sc_subquery_cond.h"

#include "sql/agent/token_string.h"
#include "sql/common/sql_logger.h"
#include "sql/exec/row_source.h"
#include "sql/exec/sort_key.h"
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
  holdable_ = !IsVariable();
  held_ = false;
}

void SQLRSSCInSubquery::Reset() {
  value_->Reset();
  held_ = false;
  heldValues_.clear();
  heldHash_.clear();
}

namespace {

// Types whose equal values share SQLHashKeyValue's hash also across the
// two: INTEGER and REAL compare as numbers, and hash as doubles.
bool HashableTogether(SQLType a, SQLType b) {
  auto number = [](SQLType t) { return t == SQL_INTEGER || t == SQL_REAL; };
  return a == b ? a != SQL_ARRAY : number(a) && number(b);
}

}  // namespace

bool SQLRSSCInSubquery::Hold() {
  heldValues_.clear();
  heldHash_.clear();
  heldNull_ = false;
  hashed_ = true;
  {
    rowSource_->Exec();
    BreakOnExit breaker(rowSource_.get());
    while (rowSource_->Fetch()) {
      if (columnStore_->IsNull()) {
        heldNull_ = true;
        continue;
      }
      if (heldValues_.size() >= kMaxHeld) {
        // Too many to hold: the subquery runs per row instead.
        holdable_ = false;
        heldValues_.clear();
        heldHash_.clear();
        return false;
      }
      if (heldValues_.empty()) heldType_ = columnStore_->GetType();
      if (!HashableTogether(heldType_, columnStore_->GetType())) hashed_ = false;
      heldValues_.emplace_back();
      heldValues_.back().Copy(columnStore_);
      if (hashed_)
        heldHash_[SQLHashKeyValue(columnStore_)].push_back(static_cast<std::uint32_t>(heldValues_.size() - 1));
    }
  }
  if (!hashed_) heldHash_.clear();
  held_ = true;
  return true;
}

SQLTruthValue SQLRSSCInSubquery::EvaluateHeld() {
  if (!heldNull_ && heldValues_.empty()) return TV_FALSE;  // the subquery gave no row
  if (valueStore_->IsNull()) return TV_UNKNOWN;
  SQLTruthValue result = heldNull_ ? TV_UNKNOWN : TV_FALSE;
  if (hashed_ && HashableTogether(heldType_, valueStore_->GetType())) {
    // Only values of the same hash can be equal; the others are FALSE.
    auto found = heldHash_.find(SQLHashKeyValue(valueStore_));
    if (found == heldHash_.end()) return result;
    for (std::uint32_t i : found->second)
      if (SQLValueStore::Compare(valueStore_, &heldValues_[i], SQL_COMP_EQ) == TV_TRUE) return TV_TRUE;
    return result;
  }
  for (SQLValueStore const &v : heldValues_) {
    result = TVOr(result, SQLValueStore::Compare(valueStore_, &v, SQL_COMP_EQ));
    if (result == TV_TRUE) break;
  }
  return result;
}

SQLTruthValue SQLRSSCInSubquery::Evaluate() {
  value_->Evaluate();
  if (holdable_ && (held_ || Hold())) return EvaluateHeld();
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
