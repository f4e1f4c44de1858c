#include "sql/exec/rs_filter.h"

#include <vector>

#include "sql/agent/nw_token.h"
#include "sql/agent/token_string.h"
#include "sql/common/database_instance.h"
#include "sql/common/sql_abort.h"
#include "sql/common/sql_exception.h"
#include "sql/common/sql_logger.h"
#include "sql/common/table_writes.h"
#include "sql/exec/column_ref_scope.h"
#include "sql/exec/rs_fetch.h"
#include "sql/exec/rs_group.h"
#include "sql/exec/sc_column_ref.h"
#include "sql/exec/sc_subquery_cond.h"
#include "sql/exec/visitor.h"
#include "sql/exec/visitors.h"

namespace {

// Puts the condition at the head of the enclosing conditions for the time
// it lives (a local list stands in when none is given).
class EnclosingCondition {
 public:
  EnclosingCondition(List<SQLRSSCSearchCond const *> *filters, SQLRSSCSearchCond const *condition)
      : list_(filters ? filters : &local_) {
    list_->Insert(condition);
  }
  ~EnclosingCondition() {
    if (list_->First()) list_->DeleteCurrent();
  }
  EnclosingCondition(EnclosingCondition const &) = delete;
  EnclosingCondition &operator=(EnclosingCondition const &) = delete;
  List<SQLRSSCSearchCond const *> *List_() { return list_; }

 private:
  List<SQLRSSCSearchCond const *> local_;
  List<SQLRSSCSearchCond const *> *list_;
};

}  // namespace

SQLRSFilter::SQLRSFilter(SQLRowSource *child, SQLRSSCSearchCond *condition)
    : child_(child), condition_(condition) {}

SQLRSFilter::~SQLRSFilter() = default;

// ---- queries over the subtree ----

void SQLRSFilter::GetColumnRefs(int level, SQLRSSCColumnRefType type, pSQLRSSCColumnRefList *refs) {
  child_->GetColumnRefs(level, type, refs);
  if (condition_) condition_->GetColumnRefs(level, type, refs);
}

bool SQLRSFilter::RejectsAllOnNullifiedCols(int level, List<Interval<int>> *columns) {
  if (condition_ && !condition_->PossibleValuesOnNullifiedCols(level, columns).Contains(TV_TRUE)) return true;
  return child_->RejectsAllOnNullifiedCols(level, columns);
}

bool SQLRSFilter::YieldsNoRow() {
  if (condition_ && condition_->LeavesNoRow()) return true;
  return child_->YieldsNoRow();
}

void SQLRSFilter::CRefs2ParameterRefs(int level, intList *columns, pSQLParameterList *parameters) {
  child_->CRefs2ParameterRefs(level, columns, parameters);
  if (condition_) condition_->CRefs2ParameterRefs(level, columns, parameters);
}

// ---- optimisation ----

SQLRowSource *SQLRSFilter::OptimizeTree(SQLHints *hints, List<SQLRSSCSearchCond const *> *filters) {
  std::unique_ptr<SQLRSFilter> self(this);
  {
    EnclosingCondition enclosing(filters, condition_.get());
    child_.reset(child_.release()->OptimizeTree(hints, enclosing.List_()));
  }
  SQLRSSCSearchCond *rest = nullptr;
  child_.reset(child_.release()->PushFilter(condition_.release(), &rest));
  if (rest != nullptr) {
    condition_.reset(rest);
    return self.release();
  }
  return child_.release();  // the filter leaves the tree
}

void SQLRSFilter::OptimizeNode() {
  child_->OptimizeNode();
  if (condition_) condition_.reset(condition_.release()->Optimize());
}

void SQLRSFilter::PushHints(SQLHints *hints) { child_->PushHints(hints); }

SQLRowSource *SQLRSFilter::PushFilter(SQLRSSCSearchCond *condition, SQLRSSCSearchCond **residual) {
  std::unique_ptr<SQLRSFilter> self(this);
  *residual = nullptr;
  SQLRSSCSearchCond *rest = nullptr;
  child_.reset(child_.release()->PushFilter(condition, &rest));
  if (rest != nullptr) {
    std::unique_ptr<SQLRSSCSearchCond> kept(rest);
    if (condition_ == nullptr)
      condition_ = std::move(kept);
    else
      condition_.reset(new SQLRSSCAnd(condition_.release(), kept.release()));
  }
  return self.release();
}

SQLRowSource *SQLRSFilter::PullFilter(SQLRSSCSearchCond **condition) {
  *condition = condition_.release();
  SQLRowSource *child = child_.release();
  delete this;
  return child;
}

SQLRowSource *SQLRSFilter::PullNullify(intList **columns, SQLRSSCSearchCond **condition) {
  *columns = nullptr;
  *condition = nullptr;
  return this;
}

bool SQLRSFilter::PushSort(SQLSortSpecList *specifications) { return child_->PushSort(specifications); }

SQLRowSource *SQLRSFilter::PushGroup(intList *groupingColumns, List<SQLRSGroupSpec> *outputs, bool *accepted) {
  std::unique_ptr<SQLRSFilter> self(this);
  *accepted = false;
  // Without grouping columns the grouping gives its one row also when the
  // condition leaves no row (COUNT 0, the other functions NULL); above it,
  // the condition would drop that row. It stays below the grouping.
  if (condition_ && groupingColumns->NrElements() == 0) return self.release();
  std::vector<SQLRSSCColumnRef *> refs =
      condition_ ? SQLRSSCLevelRefs(condition_.get()) : std::vector<SQLRSSCColumnRef *>{};
  int n = child_->GetNumCols();
  std::vector<int> map(static_cast<size_t>(n), -1);  // child column -> output position
  auto inRange = [n](int c) { return c >= 0 && c < n; };

  int position = 0;
  for (bool more = outputs->First(); more; more = outputs->Next(), ++position) {
    SQLRSGroupSpec const &spec = outputs->GetCurrent();
    if (spec.GetKind() == SQLRSGroupSpec::kGroupingColumn && inRange(spec.GetColumn()))
      map[static_cast<size_t>(spec.GetColumn())] = position;
  }
  for (bool more = groupingColumns->First(); more; more = groupingColumns->Next()) {
    int c = groupingColumns->GetCurrent();
    if (inRange(c) && map[static_cast<size_t>(c)] == -1) map[static_cast<size_t>(c)] = -2;
  }

  int const formerLength = outputs->NrElements();
  bool ok = true;
  for (SQLRSSCColumnRef *ref : refs) {
    int c = ref->GetColumnId();
    if (!inRange(c) || map[static_cast<size_t>(c)] == -1) {
      ok = false;
      break;
    }
    if (map[static_cast<size_t>(c)] == -2) {
      map[static_cast<size_t>(c)] = outputs->NrElements();
      outputs->Append(SQLRSGroupSpec::Column(c));
    }
  }

  if (ok) {
    bool childAccepted = false;
    child_.reset(child_.release()->PushGroup(groupingColumns, outputs, &childAccepted));
    ok = childAccepted;
  }
  if (ok) {
    // The condition now reads the grouped output. The child owns the lists.
    for (SQLRSSCColumnRef *ref : refs) ref->SetColumnId(map[static_cast<size_t>(ref->GetColumnId())]);
  } else {
    int index = 0;
    for (bool more = outputs->First(); more; more = outputs->Next(), ++index)
      if (index >= formerLength) outputs->DeleteCurrent();
  }
  *accepted = ok;
  return self.release();
}

SQLRowSource *SQLRSFilter::PushProject(SQLRSSCValueExprRefPtrList *expressions) {
  std::unique_ptr<SQLRSFilter> self(this);
  int n = child_->GetNumCols();
  if (condition_) SQLRSOfferColumnsOnly(expressions, child_.get());
  std::vector<bool> needed(static_cast<size_t>(n), false);
  std::vector<bool> present(static_cast<size_t>(n), false);
  std::vector<SQLRSSCColumnRef *> refs =
      condition_ ? SQLRSSCLevelRefs(condition_.get()) : std::vector<SQLRSSCColumnRef *>{};
  for (SQLRSSCColumnRef *ref : refs)
    if (ref->GetColumnId() >= 0 && ref->GetColumnId() < n) needed[static_cast<size_t>(ref->GetColumnId())] = true;
  for (bool more = expressions->First(); more; more = expressions->Next()) {
    SQLRSSCValueExpr *e = expressions->GetCurrent().Get();
    if (!e->IsColumnRef()) continue;
    auto *ref = static_cast<SQLRSSCColumnRef *>(e);
    if (ref->GetRelScopeLevel() == 0 && ref->GetColumnId() >= 0 && ref->GetColumnId() < n)
      present[static_cast<size_t>(ref->GetColumnId())] = true;
  }
  for (int c = 0; c < n; ++c) {
    if (needed[static_cast<size_t>(c)] && !present[static_cast<size_t>(c)])
      expressions->Append(RefPtr<SQLRSSCValueExpr>(new SQLRSSCColumnRef(0, c, GetColumnDescriptor(c))));
  }

  child_.reset(child_.release()->PushProject(expressions));

  std::vector<int> newPosition(static_cast<size_t>(n), -1);
  int i = 0;
  for (bool more = expressions->First(); more; more = expressions->Next(), ++i) {
    SQLRSSCValueExpr *e = expressions->GetCurrent().Get();
    if (!e->IsColumnRef()) continue;
    auto *ref = static_cast<SQLRSSCColumnRef *>(e);
    if (ref->GetRelScopeLevel() == 0 && ref->GetColumnId() >= 0 && ref->GetColumnId() < n)
      newPosition[static_cast<size_t>(ref->GetColumnId())] = i;
  }
  for (SQLRSSCColumnRef *ref : refs) {
    int c = ref->GetColumnId();
    if (c < 0 || c >= n || newPosition[static_cast<size_t>(c)] < 0)
      SQLAbort(__FILE__, __LINE__, "SQLRSFilter::PushProject: column %d of the condition is not delivered", c);
    ref->SetColumnId(newPosition[static_cast<size_t>(c)]);
  }
  return self.release();
}

bool SQLRSFilter::RowSetIsPrepared() { return child_->RowSetIsPrepared(); }

SQLRowSource *SQLRSFilter::CombineJoin(SQLDatabaseInstance **instance, int *tableCount,
                                       List<SQLRSSCSearchCond const *> *filters, bool *combinable) {
  std::unique_ptr<SQLRSFilter> self(this);
  *instance = nullptr;
  std::unique_ptr<SQLDatabaseInstance> joined;
  {
    EnclosingCondition enclosing(filters, condition_.get());
    child_.reset(child_.release()->CombineJoin(instance, tableCount, enclosing.List_(), combinable));
    joined.reset(*instance);
    *instance = nullptr;
  }
  if (*combinable && condition_ && joined != nullptr) {
    // The condition travels into the combined leaf: all of it must be
    // evaluable by the same driver, or the join stays here and the filter
    // with it.
    if (!SQLOperatesOnThisDBInstanceVisitor::Holds(condition_.get(), joined.get())) {
      joined.reset();
      *combinable = false;
    }
  }
  *instance = joined.release();
  return self.release();
}

std::unique_ptr<SQLRowSource> SQLRSFilter::HandConditionToChild(std::unique_ptr<SQLRSFilter> self,
                                                                char const *operation) {
  std::unique_ptr<SQLRowSource> child(child_.release());
  if (condition_ == nullptr) return child;
  SQLRSSCSearchCond *rest = nullptr;
  child.reset(child.release()->PushFilter(condition_.release(), &rest));
  if (rest != nullptr) {
    // CombineJoin lets a join form only when the whole condition can go
    // with it; a leftover here would be lost, so the statement fails.
    delete rest;
    SQL_log("SQLRSFilter::%s: the condition cannot be shipped with the join\n", operation);
    throw SQLException("HY000", 0, SQLString("A filter condition cannot be shipped with its join"));
  }
  self.reset();  // the filter leaves the tree
  return child;
}

SQLRSFetch *SQLRSFilter::CreateJoin(SQLJoinType type, SQLRSFetch *other, SQLRSSCSearchCond *condition) {
  std::unique_ptr<SQLRSFetch> side(other);
  std::unique_ptr<SQLRSSCSearchCond> on(condition);
  std::unique_ptr<SQLRowSource> child = HandConditionToChild(std::unique_ptr<SQLRSFilter>(this), "CreateJoin");
  return child.release()->CreateJoin(type, side.release(), on.release());
}

SQLRSFetch *SQLRSFilter::CreateJoin(SQLJoinType type, SQLRowSource *other, SQLRSSCSearchCond *condition) {
  std::unique_ptr<SQLRowSource> side(other);
  std::unique_ptr<SQLRSSCSearchCond> on(condition);
  std::unique_ptr<SQLRowSource> child = HandConditionToChild(std::unique_ptr<SQLRSFilter>(this), "CreateJoin");
  return child.release()->CreateJoin(type, side.release(), on.release());
}

SQLRSFetch *SQLRSFilter::CreateConstLeftOuterJoin(SQLRSSCSearchCond *condition) {
  std::unique_ptr<SQLRSSCSearchCond> on(condition);
  std::unique_ptr<SQLRowSource> child =
      HandConditionToChild(std::unique_ptr<SQLRSFilter>(this), "CreateConstLeftOuterJoin");
  return child.release()->CreateConstLeftOuterJoin(on.release());
}

void SQLRSFilter::createTokenString(SQLTokenString *ts, int level, SQLRSNetFetchParams *params) {
  ts->AppendToken(SQLNWTRSFilter);
  condition_->createTokenString(ts, level, params);
  child_->createTokenString(ts, level, params);
}

void SQLRSFilter::createQPsubquery(SQLColumnRef2QDBColumnIdMap *, SQLRSFetchParameters *, unsigned long) {
  SQLAbort(__FILE__, __LINE__, "Unexpected message SQLRSFilter::createQPsubquery");
}

// ---- execution ----

void SQLRSFilter::DoPrepare(SQLRSPrepareContext *context) {
  // A table leaf may ask its driver for the rows of a short list of an
  // uncorrelated IN's values (the first IN conjunct).
  if (auto *leaf = dynamic_cast<SQLRSFetch *>(child_.get()); leaf != nullptr && condition_) {
    auto *conjunction = dynamic_cast<SQLRSSCAnd *>(condition_.get());
    int const n = conjunction != nullptr ? conjunction->NrOperands() : 1;
    for (int i = 0; i < n; ++i) {
      SQLRSSCSearchCond *c = conjunction != nullptr ? conjunction->GetOperand(i) : condition_.get();
      if (auto *in = dynamic_cast<SQLRSSCInSubquery *>(c)) {
        leaf->TakeListOf(in);
        break;
      }
    }
  }
  child_->Prepare(context);
  SQLRSScopedRow row(context->Scope(), child_.get());
  if (condition_) condition_->Prepare(context);
}

void SQLRSFilter::DoExec() {
  childRuns_ = false;
  skippedAt_ = SQLTableWrites::Epoch();
  skipped_ = YieldsNoRow();
  if (skipped_) return;
  childRuns_ = true;  // also when Exec fails part way: Break ends what it began
  child_->Exec();
}

int SQLRSFilter::DoFetch() {
  SQLLogger &log = *SQLLogger::Instance();
  if (skipped_) {
    // A write of the transaction between Exec and the first fetch may have
    // given the condition rows (an empty subquery answer filled).
    skipped_ = false;
    if (SQLTableWrites::Epoch() != skippedAt_ && !YieldsNoRow()) {
      childRuns_ = true;
      child_->Exec();
    }
  }
  if (!childRuns_) return 0;
  for (;;) {
    int r = child_->Fetch();
    if (r == 0) return 0;
    if (condition_ == nullptr || condition_->Evaluate() == TV_TRUE) return r;
    if (TraceStart()) log << "Row rejected" << endl;
  }
}

void SQLRSFilter::DoBreak() {
  if (childRuns_) child_->Break();
  childRuns_ = false;
  skipped_ = false;
  if (condition_) condition_->Reset();
}

void SQLRSFilter::DoLog() {
  SQLLogger &log = *SQLLogger::Instance();
  log << "SQLRSFilter(" << endl << incind << "Condition: ";
  if (condition_) condition_->Log();
  log << endl << "Child: ";
  child_->Log();
  log << decind << ")" << endl;
}

void SQLRSFilter::DoAcceptVisit(SQLVisitor &visitor) {
  child_->AcceptVisit(visitor);
  if (condition_) condition_->AcceptVisit(visitor);
  visitor.VisitSQLRSFilter(this);
  SQLRSEndUnaryVisit(visitor, this);
}

void SQLRSPushFilterInto(std::unique_ptr<SQLRowSource> *slot, SQLRSSCSearchCondPtr condition) {
  if (condition == nullptr) return;
  SQLRSSCSearchCond *rest = nullptr;
  slot->reset(slot->release()->PushFilter(condition.release(), &rest));
  SQLRSSCSearchCondPtr kept(rest);
  if (kept != nullptr) slot->reset(new SQLRSFilter(slot->release(), kept.release()));
}
