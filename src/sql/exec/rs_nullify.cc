#include "sql/exec/rs_nullify.h"

#include <algorithm>

#include "sql/common/sql_abort.h"
#include "sql/common/sql_logger.h"
#include "sql/exec/column_ref_scope.h"
#include "sql/exec/rs_filter.h"
#include "sql/exec/rs_group.h"
#include "sql/exec/sc_column_ref.h"
#include "sql/exec/sort_spec.h"
#include "sql/exec/visitor.h"

namespace {

[[noreturn]] void Unexpected(char const *operation) {
  SQLAbort(__FILE__, __LINE__, "Unexpected message SQLRSNullify::%s", operation);
}

// Marks the level-0 columns that an expression or condition reads.
template <class T>
void MarkLevelRefs(T *e, std::vector<bool> *marks) {
  pSQLRSSCColumnRefList refs;
  e->GetColumnRefs(0, SQL_CREF_LEVEL, &refs);
  for (bool more = refs.First(); more; more = refs.Next()) {
    int c = refs.GetCurrent()->GetColumnId();
    if (c >= 0 && c < static_cast<int>(marks->size())) (*marks)[static_cast<size_t>(c)] = true;
  }
}

// a AND b, either of which may be null; takes both over, also when it
// throws.
SQLRSSCSearchCondPtr And(SQLRSSCSearchCondPtr a, SQLRSSCSearchCondPtr b) {
  if (a == nullptr) return b;
  if (b == nullptr) return a;
  return SQLRSSCSearchCondPtr(new SQLRSSCAnd(a.release(), b.release()));
}

}  // namespace

SQLRSNullify::SQLRSNullify(SQLRowSource *child, intList *columns, SQLRSSCSearchCond *condition)
    : child_(child), columns_(columns), condition_(condition) {
  if (!columns_) columns_ = std::make_unique<intList>();
}

SQLRSNullify::~SQLRSNullify() = default;

bool SQLRSNullify::IsNullified(int column) const {
  intList copy = *columns_;  // the list's cursor is not ours to move here
  for (bool more = copy.First(); more; more = copy.Next())
    if (copy.GetCurrent() == column) return true;
  return false;
}

List<Interval<int>> SQLRSNullify::NullifiedRuns() const {
  std::vector<int> ids;
  intList copy = *columns_;
  for (bool more = copy.First(); more; more = copy.Next()) ids.push_back(copy.GetCurrent());
  std::sort(ids.begin(), ids.end());
  ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
  List<Interval<int>> runs;
  for (size_t i = 0; i < ids.size();) {
    size_t j = i;
    while (j + 1 < ids.size() && ids[j + 1] == ids[j] + 1) ++j;
    runs.Append(Interval<int>(ids[i], ids[j]));
    i = j + 1;
  }
  return runs;
}

// ---- queries over the subtree ----

void SQLRSNullify::GetColumnRefs(int level, SQLRSSCColumnRefType type, pSQLRSSCColumnRefList *refs) {
  child_->GetColumnRefs(level, type, refs);
  if (condition_) condition_->GetColumnRefs(level, type, refs);
}

bool SQLRSNullify::RejectsAllOnNullifiedCols(int level, List<Interval<int>> *columns) {
  return child_->RejectsAllOnNullifiedCols(level, columns);
}

void SQLRSNullify::CRefs2ParameterRefs(int level, intList *columns, pSQLParameterList *parameters) {
  child_->CRefs2ParameterRefs(level, columns, parameters);
  if (condition_) condition_->CRefs2ParameterRefs(level, columns, parameters);
}

// ---- optimisation ----

SQLRowSource *SQLRSNullify::OptimizeTree(SQLHints *hints, List<SQLRSSCSearchCond const *> *filters) {
  std::unique_ptr<SQLRSNullify> self(this);
  child_.reset(child_.release()->OptimizeTree(hints, filters));
  return self.release();
}

void SQLRSNullify::OptimizeNode() {
  child_->OptimizeNode();
  if (condition_) condition_.reset(condition_.release()->Optimize());
}

void SQLRSNullify::PushHints(SQLHints *hints) { child_->PushHints(hints); }

SQLRowSource *SQLRSNullify::PushFilter(SQLRSSCSearchCond *condition, SQLRSSCSearchCond **residual) {
  std::unique_ptr<SQLRSNullify> self(this);
  *residual = nullptr;
  std::vector<SQLRSSCSearchCondPtr> conjuncts = SQLRSSCTakeConjuncts(condition);
  List<Interval<int>> runs = NullifiedRuns();

  std::vector<SQLRSSCSearchCondPtr> independent, rejecting, passing;
  for (SQLRSSCSearchCondPtr &c : conjuncts) {
    pSQLRSSCColumnRefList refs;
    c->GetColumnRefs(0, SQL_CREF_LEVEL, &refs);
    bool readsNullified = false;
    for (bool r = refs.First(); r && !readsNullified; r = refs.Next())
      readsNullified = IsNullified(refs.GetCurrent()->GetColumnId());
    if (!readsNullified)
      independent.push_back(std::move(c));
    else if (!c->PossibleValuesOnNullifiedCols(0, &runs).Contains(TV_TRUE))
      rejecting.push_back(std::move(c));
    else
      passing.push_back(std::move(c));
  }

  if (!rejecting.empty()) {
    // No row with the nullified columns NULL survives above: the outer join
    // is an inner join, and its condition an ordinary filter.
    std::vector<SQLRSSCSearchCondPtr> all = std::move(rejecting);
    all.reserve(all.size() + passing.size() + independent.size());
    for (auto &c : passing) all.push_back(std::move(c));
    for (auto &c : independent) all.push_back(std::move(c));
    SQLRSSCSearchCondPtr offer = And(SQLRSSCConjunction(std::move(all)), std::move(condition_));
    std::unique_ptr<SQLRowSource> child(child_.release());
    self.reset();  // the nullify leaves the tree
    SQLRSSCSearchCond *rest = nullptr;
    child.reset(child.release()->PushFilter(offer.release(), &rest));
    SQLRSSCSearchCondPtr kept(rest);
    if (kept != nullptr) child.reset(new SQLRSFilter(child.release(), kept.release()));
    return child.release();
  }

  SQLRSSCSearchCondPtr childRest;
  if (SQLRSSCSearchCondPtr down = SQLRSSCConjunction(std::move(independent))) {
    SQLRSSCSearchCond *rest = nullptr;
    child_.reset(child_.release()->PushFilter(down.release(), &rest));
    childRest.reset(rest);
  }
  *residual = And(std::move(childRest), SQLRSSCConjunction(std::move(passing))).release();
  return self.release();
}

SQLRowSource *SQLRSNullify::PullFilter(SQLRSSCSearchCond **) { Unexpected("PullFilter"); }

SQLRowSource *SQLRSNullify::PullNullify(intList **columns, SQLRSSCSearchCond **condition) {
  *columns = columns_.release();
  *condition = condition_.release();
  SQLRowSource *child = child_.release();
  delete this;
  return child;
}

bool SQLRSNullify::PushSort(SQLSortSpecList *specifications) {
  SQLSortSpecList copy = *specifications;
  for (bool more = copy.First(); more; more = copy.Next())
    if (IsNullified(copy.GetCurrent().GetColumnId())) return false;
  return child_->PushSort(specifications);
}

SQLRowSource *SQLRSNullify::PushGroup(intList *groupingColumns, List<SQLRSGroupSpec> *outputs, bool *accepted) {
  std::unique_ptr<SQLRSNullify> self(this);
  *accepted = false;
  std::vector<bool> used(static_cast<size_t>(child_->GetNumCols()), false);
  auto mark = [&used](int c) {
    if (c >= 0 && c < static_cast<int>(used.size())) used[static_cast<size_t>(c)] = true;
  };
  for (bool more = outputs->First(); more; more = outputs->Next()) {
    SQLRSGroupSpec const &spec = outputs->GetCurrent();
    switch (spec.GetKind()) {
      case SQLRSGroupSpec::kGroupingColumn:
        mark(spec.GetColumn());
        break;
      case SQLRSGroupSpec::kSetFunction:
        if (spec.GetExpression()) MarkLevelRefs(spec.GetExpression().Get(), &used);
        break;
      case SQLRSGroupSpec::kCountStar:
        break;
      default:
        SQLAbort(__FILE__, __LINE__, "Unexpected type");
    }
  }
  for (bool more = groupingColumns->First(); more; more = groupingColumns->Next()) mark(groupingColumns->GetCurrent());

  intList copy = *columns_;
  for (bool more = copy.First(); more; more = copy.Next()) {
    int c = copy.GetCurrent();
    if (c >= 0 && c < static_cast<int>(used.size()) && used[static_cast<size_t>(c)]) return self.release();
  }
  // Nothing above reads a nullified column: the nullify has no effect.
  std::unique_ptr<SQLRowSource> child(child_.release());
  self.reset();  // the nullify leaves the tree
  return child.release()->PushGroup(groupingColumns, outputs, accepted);
}

SQLRowSource *SQLRSNullify::PushProject(SQLRSSCValueExprRefPtrList *expressions) {
  std::unique_ptr<SQLRSNullify> self(this);
  int n = child_->GetNumCols();
  std::vector<bool> used(static_cast<size_t>(n), false);
  for (bool more = expressions->First(); more; more = expressions->Next())
    MarkLevelRefs(expressions->GetCurrent().Get(), &used);

  for (bool more = columns_->First(); more; more = columns_->Next()) {
    int c = columns_->GetCurrent();
    if (c < 0 || c >= n || !used[static_cast<size_t>(c)]) columns_->DeleteCurrent();
  }

  if (columns_->NrElements() > 0) {
    // The condition must be evaluated here, so its columns are needed too,
    // and every expression above is evaluated over plain columns.
    if (condition_) MarkLevelRefs(condition_.get(), &used);
    for (bool more = expressions->First(); more; more = expressions->Next()) expressions->DeleteCurrent();
    expressions->First();  // frees the last deleted element
    for (int c = 0; c < n; ++c) {
      if (used[static_cast<size_t>(c)])
        expressions->Append(RefPtr<SQLRSSCValueExpr>(new SQLRSSCColumnRef(0, c, child_->GetColumnDescriptor(c))));
    }
  }

  child_.reset(child_.release()->PushProject(expressions));

  if (columns_->NrElements() == 0) return child_.release();  // the nullify leaves the tree

  std::vector<int> newPosition(static_cast<size_t>(n), -1);
  int i = 0;
  for (bool more = expressions->First(); more; more = expressions->Next(), ++i) {
    SQLRSSCValueExpr *e = expressions->GetCurrent().Get();
    if (!e->IsColumnRef()) continue;
    auto *ref = static_cast<SQLRSSCColumnRef *>(e);
    if (ref->GetRelScopeLevel() == 0 && ref->GetColumnId() >= 0 && ref->GetColumnId() < n)
      newPosition[static_cast<size_t>(ref->GetColumnId())] = i;
  }
  auto renumber = [&newPosition, n](int c) {
    if (c < 0 || c >= n || newPosition[static_cast<size_t>(c)] < 0)
      SQLAbort(__FILE__, __LINE__, "SQLRSNullify::PushProject: column %d is not delivered", c);
    return newPosition[static_cast<size_t>(c)];
  };
  if (condition_) {
    pSQLRSSCColumnRefList refs;
    condition_->GetColumnRefs(0, SQL_CREF_LEVEL, &refs);
    for (bool more = refs.First(); more; more = refs.Next())
      refs.GetCurrent()->SetColumnId(renumber(refs.GetCurrent()->GetColumnId()));
  }
  for (bool more = columns_->First(); more; more = columns_->Next())
    columns_->SetCurrent(renumber(columns_->GetCurrent()));
  return self.release();
}

bool SQLRSNullify::RowSetIsPrepared() { return child_->RowSetIsPrepared(); }

SQLRowSource *SQLRSNullify::CombineJoin(SQLDatabaseInstance **, int *, List<SQLRSSCSearchCond const *> *,
                                        bool *) {
  Unexpected("CombineJoin");
}

void SQLRSNullify::createTokenString(SQLTokenString *, int, SQLRSNetFetchParams *) {
  Unexpected("createTokenString");
}

void SQLRSNullify::createQPsubquery(SQLColumnRef2QDBColumnIdMap *, SQLRSFetchParameters *, unsigned long) {
  Unexpected("createQPsubquery");
}

// ---- execution ----

void SQLRSNullify::DoPrepare(SQLRSPrepareContext *context) {
  child_->Prepare(context);
  if (condition_) {
    SQLRSScopedRow row(context->Scope(), child_.get());
    condition_->Prepare(context);
  }
  int n = child_->GetNumCols();
  int count = columns_->NrElements();
  own_ = std::vector<SQLValueStore>(static_cast<size_t>(count));
  dimensions_.assign(static_cast<size_t>(count), 0);
  types_.assign(static_cast<size_t>(count), SQL_UNDEFINED);
  sources_.clear();
  output_.clear();
  for (int c = 0; c < n; ++c) output_.push_back(child_->GetValueStoreAddr(c));
  size_t k = 0;
  for (bool more = columns_->First(); more; more = columns_->Next(), ++k) {
    int c = columns_->GetCurrent();
    if (c < 0 || c >= n)
      SQLAbort(__FILE__, __LINE__, "Nullified column %d outside the %d columns of the input", c, n);
    sources_.push_back(child_->GetValueStoreAddr(c));
    output_[static_cast<size_t>(c)] = &own_[k];
    // Typed from the start: a first row that fails the condition has no
    // copied value to take the type from.
    types_[k] = child_->GetColumnDescriptor(c)->GetType();
    SQLSetTypedNull(&own_[k], types_[k]);
  }
}

SQLValueStore const *SQLRSNullify::DoGetValueStoreAddr(int column) {
  if (output_.empty()) return child_->GetValueStoreAddr(column);  // before Prepare
  return output_[static_cast<size_t>(column)];
}

void SQLRSNullify::DoExec() {
  child_->Exec();
  firstFetch_ = true;
}

int SQLRSNullify::DoFetch() {
  int r = child_->Fetch();
  if (r == 0) return 0;
  if (firstFetch_) {
    for (size_t k = 0; k < own_.size(); ++k) {
      SQLValueStore const *src = sources_[k];
      dimensions_[k] = src->GetType() == SQL_ARRAY ? src->GetDimension() : 0;
      if (dimensions_[k] > 0) own_[k].SetDimension(dimensions_[k]);
    }
    firstFetch_ = false;
  }
  bool matched = condition_ == nullptr || condition_->Evaluate() == TV_TRUE;
  for (size_t k = 0; k < own_.size(); ++k) {
    if (matched) {
      own_[k].Copy(sources_[k]);
      continue;
    }
    own_[k].SetNull();
    if (dimensions_[k] > 0) {
      // A copy of an earlier row may have left another element count.
      if (own_[k].GetType() != SQL_ARRAY || own_[k].GetDimension() != dimensions_[k])
        own_[k].SetDimension(dimensions_[k]);
      for (int e = 0; e < dimensions_[k]; ++e) SQLSetTypedNull(own_[k].GetElement(e), types_[k]);
    }
  }
  return r;
}

void SQLRSNullify::DoBreak() {
  child_->Break();
  if (condition_) condition_->Reset();
}

void SQLRSNullify::DoLog() {
  SQLLogger &log = *SQLLogger::Instance();
  log << "SQLRSNullify(" << endl << incind << "Nullified Column Ids:";
  intList copy = *columns_;
  for (bool more = copy.First(); more; more = copy.Next()) log << " " << copy.GetCurrent();
  log << endl << "Condition: ";
  if (condition_) condition_->Log();
  log << endl << "Child: ";
  child_->Log();
  log << decind << ")" << endl;
}

void SQLRSNullify::DoAcceptVisit(SQLVisitor &visitor) {
  child_->AcceptVisit(visitor);
  if (condition_) condition_->AcceptVisit(visitor);
  visitor.VisitSQLRSNullify(this);
  SQLRSEndUnaryVisit(visitor, this);
}
