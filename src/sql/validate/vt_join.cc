#include "sql/validate/vt_join.h"

#include <vector>

#include "sql/common/sql_abort.h"
#include "sql/common/sql_logger.h"
#include "sql/common/sql_util.h"
#include "sql/exec/rs_filter.h"
#include "sql/exec/rs_join.h"
#include "sql/exec/sc_column_ref.h"
#include "sql/exec/sc_search_cond.h"
#include "sql/exec/visitor.h"
#include "sql/validate/vt_node_support.h"
#include "sql/validate/vtsc_support.h"

namespace {

// The executable form of an optional condition.
std::unique_ptr<SQLRSSCSearchCond> CreateCondition(SQLVTSCSearchCond *condition) {
  return std::unique_ptr<SQLRSSCSearchCond>(condition != nullptr ? condition->CreateRS() : nullptr);
}

// Finds whether a condition reads a table (a subquery), and whether it
// holds an expression that can fail for some value (arithmetic, a cast, an
// element or a part of a value, a scalar subquery of several rows, a text
// read), also within its subqueries.
class ConjunctVisitor : public SQLVisitor {
 public:
  void VisitSQLRSFetch(SQLRSFetch *) override { readsTable_ = true; }
  void VisitSQLRSSCAdd(SQLRSSCAdd *) override { mayFail_ = true; }
  void VisitSQLRSSCSubtract(SQLRSSCSubtract *) override { mayFail_ = true; }
  void VisitSQLRSSCMultiply(SQLRSSCMultiply *) override { mayFail_ = true; }
  void VisitSQLRSSCDivide(SQLRSSCDivide *) override { mayFail_ = true; }
  void VisitSQLRSSCModulo(SQLRSSCModulo *) override { mayFail_ = true; }
  void VisitSQLRSSCIndexing(SQLRSSCIndexing *) override { mayFail_ = true; }
  void VisitSQLRSSCSubstr(SQLRSSCSubstr *) override { mayFail_ = true; }
  void VisitSQLRSSCReinterpretCast(SQLRSSCReinterpretCast *) override { mayFail_ = true; }
  void VisitSQLRSSCScalarSubquery(SQLRSSCScalarSubquery *) override { mayFail_ = true; }
  void VisitSQLRSSCTextContent(SQLRSSCTextContent *) override { mayFail_ = true; }
  bool ReadsTable() const { return readsTable_; }
  bool MayFail() const { return mayFail_; }

 private:
  bool readsTable_ = false;
  bool mayFail_ = false;
};

// "<label>" with a line end, then the condition one level further indented.
void LogCondition(char const *label, SQLVTSCSearchCond const *condition) {
  bool tracing = SQLVTTracing();
  SQLLogger &log = *SQLLogger::Instance();
  if (tracing) log << label << endl << incind;
  condition->Log();
  if (tracing) log << endl << decind;
}

}  // namespace

// ---- SQLVTJoin ----

SQLVTJoin::SQLVTJoin(SQLJoinType type, SQLVTNode *left, SQLVTNode *right, SQLVTSCSearchCond *condition)
    : type_(type), left_(left), right_(right), condition_(condition) {}

SQLVTJoin::~SQLVTJoin() = default;

SQLVTRetryFilter *SQLVTJoin::BuildRetryFilter(SQLRetryClauseType, SQLRetrySpecList *) {
  SQLAbort(__FILE__, __LINE__, "SQLVTJoin::BuildRetryFilter() called");
}

// The conjuncts of an ON clause are planned where they act:
// - INNER: a conjunct that reads one side only (or neither), or that holds
//   a subquery, is a condition of the joined rows like one of the WHERE: it
//   goes into a filter over the join, which lets it down to its side (with
//   its table, in a driver's query, or before a dear condition of the other
//   side) and keeps a subquery over another driver from holding a join of
//   one driver here. What compares the two sides stays the join's.
// - LEFT and RIGHT: a conjunct that reads no column of the preserved side
//   restricts only the rows that may join, and goes into a filter of the
//   other side (a constant FALSE empties that side, not the join). One that
//   reads the preserved side stays the join's: it decides which preserved
//   rows find a partner, never which are kept.
// - FULL: the condition stays whole.
// A conjunct on one side that can fail for a value stays the join's: let
// down to its side it would be computed for rows that no partner reaches,
// and fail the statement where the join answers.
SQLRowSource *SQLVTJoin::DoCreateRS() {
  std::unique_ptr<SQLRowSource> left(left_->CreateRS());
  std::unique_ptr<SQLRowSource> right(right_->CreateRS());
  std::unique_ptr<SQLRSSCSearchCond> condition = CreateCondition(condition_.get());
  if (condition == nullptr || type_ == SQL_JOIN_FULL)
    return new SQLRSJoin(type_, left.release(), right.release(), condition.release());
  int const nl = left_->GetNumCols();
  std::vector<SQLRSSCSearchCondPtr> kept, moved;
  for (SQLRSSCSearchCondPtr &c : SQLRSSCTakeConjuncts(condition.release())) {
    bool readsLeft = false, readsRight = false;
    for (SQLRSSCColumnRef *ref : SQLRSSCLevelRefs(c.get())) (ref->GetColumnId() < nl ? readsLeft : readsRight) = true;
    ConjunctVisitor visitor;
    c->AcceptVisit(visitor);
    bool const oneSide = readsLeft != readsRight;
    bool move = type_ == SQL_JOIN_INNER  ? !(readsLeft && readsRight) || visitor.ReadsTable()
                : type_ == SQL_JOIN_LEFT ? !readsLeft
                                         : !readsRight;
    if (oneSide && visitor.MayFail()) move = false;
    (move ? moved : kept).push_back(std::move(c));
  }
  SQLRSSCSearchCondPtr rest = SQLRSSCConjunction(std::move(moved));
  if (rest != nullptr && type_ == SQL_JOIN_LEFT) {
    for (SQLRSSCColumnRef *ref : SQLRSSCLevelRefs(rest.get())) ref->SetColumnId(ref->GetColumnId() - nl);
    right.reset(new SQLRSFilter(right.release(), rest.release()));
  } else if (rest != nullptr && type_ == SQL_JOIN_RIGHT) {
    left.reset(new SQLRSFilter(left.release(), rest.release()));
  }
  SQLRSSCSearchCondPtr on = SQLRSSCConjunction(std::move(kept));
  std::unique_ptr<SQLRowSource> join(new SQLRSJoin(type_, left.release(), right.release(), on.release()));
  if (rest == nullptr) return join.release();
  return new SQLRSFilter(join.release(), rest.release());
}

SQLColumnDescriptor const *SQLVTJoin::GetColumnDescriptor(int column) const {
  int leftCols = left_->GetNumCols();
  if (column < leftCols) return left_->GetColumnDescriptor(column);
  return right_->GetColumnDescriptor(column - leftCols);
}

bool SQLVTJoin::IsForUpdate() { SQLAbort(__FILE__, __LINE__, "SQLVTJoin::IsForUpdate() called"); }

void SQLVTJoin::Log() const {
  bool tracing = SQLVTTracing();
  SQLLogger &log = *SQLLogger::Instance();
  if (tracing) log << "VTJoin(" << endl << incind << "JoinType: " << SQLGetJoinTypeName(type_) << endl;
  if (tracing && GetHints() != nullptr) GetHints()->Log();
  SQLVTLogChild("LeftChild:", left_.get());
  SQLVTLogChild("RightChild:", right_.get());
  if (condition_) LogCondition("JoinCond:", condition_.get());
  if (tracing) log << decind << ")" << endl;
}

SQLVTNode *SQLVTJoin::MapColumnNamesToIds(SQLVTScope *, SQLVTreeData *, int, List<char const *> *,
                                          SQLVTWhereUsedMgr *) {
  SQLAbort(__FILE__, __LINE__, "SQLVTJoin::MapColumnNamesToIds() called");
}

void SQLVTJoin::ValidateTypes() const {
  left_->ValidateTypes();
  right_->ValidateTypes();
  if (condition_) condition_->ValidateTypes();
}

void SQLVTJoin::ValidateArrayUsage() const {
  left_->ValidateArrayUsage();
  right_->ValidateArrayUsage();
  if (condition_) condition_->ValidateArrayUsage();
}

void SQLVTJoin::SetIndexHintsOnTables(List<SQLVTIndexHint> *) {
  SQLAbort(__FILE__, __LINE__, "SQLVTJoin::SetIndexHintsOnTables() called");
}

// ---- SQLVTConstLeftOuterJoin ----

SQLVTConstLeftOuterJoin::SQLVTConstLeftOuterJoin(SQLVTNode *child, SQLVTSCSearchCond *condition)
    : child_(child), condition_(condition) {}

SQLVTConstLeftOuterJoin::~SQLVTConstLeftOuterJoin() = default;

SQLVTRetryFilter *SQLVTConstLeftOuterJoin::BuildRetryFilter(SQLRetryClauseType, SQLRetrySpecList *) {
  SQLAbort(__FILE__, __LINE__, "SQLVTConstLeftOuterJoin::BuildRetryFilter() called");
}

SQLRowSource *SQLVTConstLeftOuterJoin::DoCreateRS() {
  std::unique_ptr<SQLRowSource> child(child_->CreateRS());
  std::unique_ptr<SQLRSSCSearchCond> condition = CreateCondition(condition_.get());
  return new SQLRSConstLeftOuterJoin(child.release(), condition.release());
}

bool SQLVTConstLeftOuterJoin::IsForUpdate() {
  SQLAbort(__FILE__, __LINE__, "SQLVTConstLeftOuterJoin::IsForUpdate() called");
}

void SQLVTConstLeftOuterJoin::Log() const {
  bool tracing = SQLVTTracing();
  SQLLogger &log = *SQLLogger::Instance();
  if (tracing) log << "VTConstLeftOuterJoin(" << endl << incind;
  if (tracing && GetHints() != nullptr) GetHints()->Log();
  SQLVTLogChild("Child:", child_.get());
  if (condition_) LogCondition("JoinCond:", condition_.get());
  if (tracing) log << decind << ")" << endl;
}

SQLVTNode *SQLVTConstLeftOuterJoin::MapColumnNamesToIds(SQLVTScope *, SQLVTreeData *, int, List<char const *> *,
                                                        SQLVTWhereUsedMgr *) {
  SQLAbort(__FILE__, __LINE__, "SQLVTConstLeftOuterJoin::MapColumnNamesToIds() called");
}

void SQLVTConstLeftOuterJoin::ValidateTypes() const {
  child_->ValidateTypes();
  if (condition_) condition_->ValidateTypes();
}

void SQLVTConstLeftOuterJoin::ValidateArrayUsage() const {
  child_->ValidateArrayUsage();
  if (condition_) condition_->ValidateArrayUsage();
}

void SQLVTConstLeftOuterJoin::SetIndexHintsOnTables(List<SQLVTIndexHint> *) {
  SQLAbort(__FILE__, __LINE__, "SQLVTConstLeftOuterJoin::SetIndexHintsOnTables() called");
}
