#include "sql/exec/sc_subquery_cond.h"

#include "sql/agent/token_string.h"
#include "sql/common/sql_exception.h"
#include "sql/common/sql_logger.h"
#include "sql/exec/row_source.h"
#include "sql/exec/sort_key.h"
#include "sql/exec/visitors.h"

namespace {

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

SQLRSSCExists::SQLRSSCExists(SQLRowSource *rowSource, SQLRowSource *local)
    : rowSource_(rowSource), answers_(local) {}

SQLRSSCExists::~SQLRSSCExists() = default;

bool SQLRSSCExists::IsVariable() {
  SQLIsVariableVisitor visitor;
  AcceptVisit(visitor);
  return visitor.GetResult();
}

void SQLRSSCExists::Prepare(SQLRSPrepareContext *context) {
  rowSource_->Prepare(context);
  answers_.Prepare(context, rowSource_.get());
}

SQLTruthValue SQLRSSCExists::Evaluate() {
  if (SQLTruthValue const *kept = answers_.Find()) return *kept;
  SQLTruthValue result;
  SQLRowSource *rs = answers_.Pick(rowSource_.get());
  {
    rs->Exec();
    BreakOnExit breaker(rs);
    result = rs->Fetch() ? TV_TRUE : TV_FALSE;
  }
  answers_.Keep(rs, result, sizeof result);
  return result;
}

bool SQLRSSCExists::LeavesNoRow() {
  if (!answers_.Holdable()) return false;
  try {
    return Evaluate() == TV_FALSE;
  } catch (SQLException const &e) {
    if (!SQLRSSCRowError(e)) throw;
    // The subquery fails: the first row that meets the condition fails the
    // statement, as it would without this look ahead; no row, no error.
    return false;
  }
}

void SQLRSSCExists::Cost(double *first, double *second) {
  *first = IsVariable() ? 100 : 1;
  *second = 1;
}

void SQLRSSCExists::AcceptVisit(SQLVisitor &visitor) {
  SQLRSVisitSubquery(rowSource_.get(), visitor);
  answers_.Local().AcceptVisit(visitor);
  visitor.VisitSQLRSSCExists(this);
}

void SQLRSSCExists::GetColumnRefs(int level, SQLRSSCColumnRefType type, pSQLRSSCColumnRefList *refs) {
  rowSource_->GetColumnRefs(level + 1, type, refs);
  answers_.Local().GetColumnRefs(level + 1, type, refs);
}

SQLTruthValueSet SQLRSSCExists::PossibleValuesOnNullifiedCols(int level, List<Interval<int>> *intervals) {
  if (rowSource_->RejectsAllOnNullifiedCols(level + 1, intervals)) return SQLRSSCTruthSet(TV_FALSE);
  return SQLRSSCTruthSet(TV_TRUE, TV_FALSE);
}

SQLRSSCSearchCond *SQLRSSCExists::Optimize() {
  SQLRSSCSearchCondPtr self(this);  // freed when an operand throws
  SQLRowSource *optimized = rowSource_.release()->OptimizeRS();
  rowSource_.reset(optimized);
  answers_.Local().Optimize();
  return self.release();
}

void SQLRSSCExists::createTokenString(SQLTokenString *ts, int level, SQLRSNetFetchParams *params) {
  ts->AppendToken(SQLNWTSCExists);
  rowSource_->createTokenString(ts, level + 1, params);
}

void SQLRSSCExists::CRefs2ParameterRefs(int level, intList *columns, pSQLParameterList *parameters) {
  rowSource_->CRefs2ParameterRefs(level + 1, columns, parameters);
  answers_.Local().CRefs2ParameterRefs(level + 1, columns, parameters);
}

void SQLRSSCExists::Log() const {
  if (!SQLRSSCTracing()) return;
  SQLLogger &log = *SQLLogger::Instance();
  log << "Exists(" << incind << endl;
  rowSource_->Log();
  log << decind << endl << ")";
}

// ---- IN (subquery) ----

SQLRSSCInSubquery::SQLRSSCInSubquery(SQLRSSCValueExpr *value, SQLRowSource *rowSource, SQLRowSource *local)
    : value_(value), rowSource_(rowSource), answers_(local) {}

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
  answers_.Prepare(context, rowSource_.get());
}

void SQLRSSCInSubquery::Reset() {
  value_->Reset();
  answers_.Reset();
}

namespace {

// Types whose equal values share SQLHashKeyValue's hash also across the
// two: INTEGER and REAL compare as numbers, and hash as doubles.
bool HashableTogether(SQLType a, SQLType b) {
  auto number = [](SQLType t) { return t == SQL_INTEGER || t == SQL_REAL; };
  return a == b ? a != SQL_ARRAY : number(a) && number(b);
}

}  // namespace

bool SQLRSSCInSubquery::Hold(Values *into, size_t *bytes, SQLRowSource *rs) {
  *into = Values();
  *bytes = sizeof(Values);
  size_t const room = answers_.Room();
  SQLValueStore const *columnStore = rs->GetValueStoreAddr(0);
  {
    rs->Exec();
    BreakOnExit breaker(rs);
    while (rs->Fetch()) {
      if (columnStore->IsNull()) {
        into->null = true;
        continue;
      }
      // The value, its place in the hash and the hash's node.
      *bytes += SQLRSValueWeight(columnStore) + sizeof(std::uint32_t) + 4 * sizeof(void *);
      if (*bytes > room) {
        *into = Values();
        return false;
      }
      if (into->values.empty()) into->type = columnStore->GetType();
      if (!HashableTogether(into->type, columnStore->GetType())) into->hashed = false;
      into->values.emplace_back();
      into->values.back().Copy(columnStore);
      if (into->hashed)
        into->hash[SQLHashKeyValue(columnStore)].push_back(static_cast<std::uint32_t>(into->values.size() - 1));
    }
  }
  if (!into->hashed) into->hash.clear();
  return true;
}

SQLTruthValue SQLRSSCInSubquery::EvaluateHeld(Values const &held) {
  if (!held.null && held.values.empty()) return TV_FALSE;  // the subquery gave no row
  if (valueStore_->IsNull()) return TV_UNKNOWN;
  SQLTruthValue result = held.null ? TV_UNKNOWN : TV_FALSE;
  if (held.hashed && HashableTogether(held.type, valueStore_->GetType())) {
    // Only values of the same hash can be equal; the others are FALSE.
    auto found = held.hash.find(SQLHashKeyValue(valueStore_));
    if (found == held.hash.end()) return result;
    for (std::uint32_t i : found->second)
      if (SQLValueStore::Compare(valueStore_, &held.values[i], SQL_COMP_EQ) == TV_TRUE) return TV_TRUE;
    return result;
  }
  for (SQLValueStore const &v : held.values) {
    result = TVOr(result, SQLValueStore::Compare(valueStore_, &v, SQL_COMP_EQ));
    if (result == TV_TRUE) break;
  }
  return result;
}

SQLRSSCInSubquery::Values const *SQLRSSCInSubquery::HoldForExecution() {
  if (!answers_.Holdable() || answers_.GaveUp()) return nullptr;
  if (Values const *held = answers_.Find()) return held;
  Values values;
  size_t bytes = 0;
  if (!Hold(&values, &bytes, rowSource_.get())) {
    answers_.GiveUp();  // too many to hold: the subquery runs per row instead
    return nullptr;
  }
  answers_.Keep(rowSource_.get(), std::move(values), bytes);
  return answers_.Held();
}

bool SQLRSSCInSubquery::LeavesNoRow() {
  try {
    Values const *held = HoldForExecution();
    if (held != nullptr && held->values.empty()) return true;
  } catch (SQLException const &e) {
    if (!SQLRSSCRowError(e)) throw;
    // As for EXISTS: the error is the first row's, not the execution's.
    return false;
  }
  return SQLRSSCSearchCond::LeavesNoRow();
}

SQLColumnDescriptor const *SQLRSSCInSubquery::GetSubqueryColumn() const { return rowSource_->GetColumnDescriptor(0); }

std::vector<SQLValueStore> const *SQLRSSCInSubquery::HeldValues() const {
  Values const *held = answers_.Held();
  return held != nullptr ? &held->values : nullptr;
}

SQLTruthValue SQLRSSCInSubquery::Evaluate() {
  value_->Evaluate();
  if (answers_.Holdable()) {
    if (Values const *held = HoldForExecution()) return EvaluateHeld(*held);
  } else if (answers_.Keyed() && !answers_.GaveUp()) {
    if (Values const *kept = answers_.Find()) return EvaluateHeld(*kept);
    Values values;
    size_t bytes = 0;
    SQLRowSource *rs = answers_.Pick(rowSource_.get());
    if (Hold(&values, &bytes, rs)) {
      SQLTruthValue result = EvaluateHeld(values);
      answers_.Keep(rs, std::move(values), bytes);
      return result;
    }
    answers_.Local().Ran(rs);
    answers_.GiveUp();  // too many to keep: the subquery runs per row instead
  }
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
  SQLRSVisitSubquery(rowSource_.get(), visitor);
  answers_.Local().AcceptVisit(visitor);
  visitor.VisitSQLRSSCInSubquery(this);
}

void SQLRSSCInSubquery::GetColumnRefs(int level, SQLRSSCColumnRefType type, pSQLRSSCColumnRefList *refs) {
  value_->GetColumnRefs(level, type, refs);
  rowSource_->GetColumnRefs(level + 1, type, refs);
  answers_.Local().GetColumnRefs(level + 1, type, refs);
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
  answers_.Local().Optimize();
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
  answers_.Local().CRefs2ParameterRefs(level + 1, columns, parameters);
}

void SQLRSSCInSubquery::Log() const {
  if (!SQLRSSCTracing()) return;
  SQLLogger &log = *SQLLogger::Instance();
  log << "InSubquery(" << incind << endl;
  SQLRSSCLogOperand("", value_.get());
  rowSource_->Log();
  log << decind << endl << ")";
}
