#include "sql/exec/rs_project.h"

#include <algorithm>
#include <memory>
#include <set>
#include <unordered_set>

#include "sql/agent/nw_token.h"
#include "sql/agent/token_string.h"
#include "sql/common/database_instance.h"
#include "sql/common/sql_abort.h"
#include "sql/common/sql_logger.h"
#include "sql/exec/column_ref_scope.h"
#include "sql/exec/sc_column_ref.h"
#include "sql/exec/sc_search_cond.h"
#include "sql/exec/sort_spec.h"
#include "sql/exec/visitor.h"

namespace {

[[noreturn]] void Unexpected(char const *operation) {
  SQLAbort(__FILE__, __LINE__, "Unexpected message SQLRSProject::%s", operation);
}

SQLRSSCColumnRef *AsPlainColumn(SQLRSSCValueExpr *e) {
  if (e == nullptr || !e->IsColumnRef()) return nullptr;
  auto *ref = static_cast<SQLRSSCColumnRef *>(e);
  return ref->GetRelScopeLevel() == 0 ? ref : nullptr;
}

}  // namespace

SQLRSProject::SQLRSProject(SQLRowSource *child, pSQLRSSCValueExprList *expressions) : child_(child) {
  if (expressions == nullptr) return;
  // The child, the list and its expressions are this object's from here
  // on, also when memory runs out below: nothing is left to the caller.
  std::vector<SQLRSSCValueExprPtr> owned = SQLRSSCTakeList(expressions);
  expressions_.reserve(owned.size());
  // RefPtr deletes the expression when its counter cannot be allocated, so
  // each one is released to it before it is counted.
  for (auto &e : owned) expressions_.emplace_back(e.release());
}

SQLRSProject::~SQLRSProject() = default;

// ---- queries over the subtree ----

void SQLRSProject::GetColumnRefs(int level, SQLRSSCColumnRefType type, pSQLRSSCColumnRefList *refs) {
  for (auto &e : expressions_) e->GetColumnRefs(level, type, refs);
  child_->GetColumnRefs(level, type, refs);
}

bool SQLRSProject::RejectsAllOnNullifiedCols(int level, List<Interval<int>> *columns) {
  return child_->RejectsAllOnNullifiedCols(level, columns);
}

void SQLRSProject::CRefs2ParameterRefs(int level, intList *columns, pSQLParameterList *parameters) {
  for (auto &e : expressions_) {
    if (e->IsColumnRef()) {
      // A column reference replaces itself by deleting itself, which a shared
      // reference cannot allow: the rewrite runs on a copy instead.
      SQLRSSCValueExpr *copy = e->Copy();
      SQLRSSCValueExpr *result = copy->CRefs2ParameterRefs(level, columns, parameters);
      if (result == copy)
        delete copy;
      else
        e = RefPtr<SQLRSSCValueExpr>(result);
    } else if (e->CRefs2ParameterRefs(level, columns, parameters) != e.Get()) {
      SQLAbort(__FILE__, __LINE__, "SQLRSProject::CRefs2ParameterRefs: a shared expression replaced itself");
    }
  }
  child_->CRefs2ParameterRefs(level, columns, parameters);
}

// ---- optimisation ----

SQLRowSource *SQLRSProject::OptimizeTree(SQLHints *hints, List<SQLRSSCSearchCond const *> *) {
  std::unique_ptr<SQLRSProject> self(this);
  // The enclosing conditions read this projection's output, not the
  // child's columns: they are not handed on.
  child_.reset(child_.release()->OptimizeTree(hints, nullptr));
  int formerColumns = child_->GetNumCols();
  SQLRSSCValueExprRefPtrList offer;
  if (OfferToChild(&offer)) return child_.release();  // the projection leaves the tree
  Rename(&offer, formerColumns);
  return self.release();
}

bool SQLRSProject::OfferToChild(SQLRSSCValueExprRefPtrList *offer) {
  for (auto &e : expressions_) offer->Append(e);
  child_.reset(child_.release()->PushProject(offer));
  if (offer->NrElements() != static_cast<int>(expressions_.size())) return false;
  size_t j = 0;
  for (bool more = offer->First(); more; more = offer->Next(), ++j)
    if (!expressions_[j]->IsSameValueExpr(offer->GetCurrent().Get())) return false;
  return true;
}

void SQLRSProject::Rename(SQLRSSCValueExprRefPtrList *offer, int formerColumns) {
  std::vector<RefPtr<SQLRSSCValueExpr>> entries;
  for (bool more = offer->First(); more; more = offer->Next()) entries.push_back(offer->GetCurrent());
  std::vector<int> position(static_cast<size_t>(formerColumns), -1);  // former column -> new column
  for (size_t i = 0; i < entries.size(); ++i) {
    SQLRSSCColumnRef *ref = AsPlainColumn(entries[i].Get());
    if (ref && ref->GetColumnId() >= 0 && ref->GetColumnId() < formerColumns)
      position[static_cast<size_t>(ref->GetColumnId())] = static_cast<int>(i);
  }

  // Every expression is classified before any is changed.
  size_t count = expressions_.size();
  std::vector<bool> renamable(count, true);
  std::vector<int> whole(count, -1);
  for (size_t j = 0; j < count; ++j) {
    for (SQLRSSCColumnRef *ref : SQLRSSCLevelRefs(expressions_[j].Get())) {
      int c = ref->GetColumnId();
      if (c < 0 || c >= formerColumns || position[static_cast<size_t>(c)] == -1) renamable[j] = false;
    }
    if (renamable[j]) continue;
    for (size_t i = 0; i < entries.size() && whole[j] == -1; ++i)
      if (expressions_[j]->IsSameValueExpr(entries[i].Get())) whole[j] = static_cast<int>(i);
    if (whole[j] == -1)
      SQLAbort(__FILE__, __LINE__, "SQLRSProject: output column %d is delivered neither whole nor by its columns",
               static_cast<int>(j));
  }

  std::set<SQLRSSCValueExpr const *> renamed;  // an expression listed twice is renamed once
  for (size_t j = 0; j < count; ++j) {
    if (renamable[j]) {
      if (!renamed.insert(expressions_[j].Get()).second) continue;
      for (SQLRSSCColumnRef *ref : SQLRSSCLevelRefs(expressions_[j].Get()))
        ref->SetColumnId(position[static_cast<size_t>(ref->GetColumnId())]);
    } else {
      int p = whole[j];
      expressions_[j] = RefPtr<SQLRSSCValueExpr>(new SQLRSSCColumnRef(0, p, child_->GetColumnDescriptor(p)));
    }
  }
}

void SQLRSProject::OptimizeNode() {
  for (auto &e : expressions_) e->Optimize();
  child_->OptimizeNode();
}

void SQLRSProject::PushHints(SQLHints *hints) { child_->PushHints(hints); }

SQLRowSource *SQLRSProject::PushFilter(SQLRSSCSearchCond *condition, SQLRSSCSearchCond **residual) {
  *residual = condition;
  return this;
}

SQLRowSource *SQLRSProject::PullFilter(SQLRSSCSearchCond **) { Unexpected("PullFilter"); }
SQLRowSource *SQLRSProject::PullNullify(intList **, SQLRSSCSearchCond **) { Unexpected("PullNullify"); }

bool SQLRSProject::PushSort(SQLSortSpecList *specifications) {
  std::vector<int> target;  // per output column: child column, -1 constant, -2 computed
  for (auto &e : expressions_) {
    // An outer reference is no column of the child: ordering on it is
    // refused like ordering on a computed value.
    if (SQLRSSCColumnRef *ref = AsPlainColumn(e.Get()))
      target.push_back(ref->GetColumnId());
    else if (e->IsIntegerConst())
      target.push_back(-1);
    else
      target.push_back(-2);
  }
  auto translated = std::make_unique<SQLSortSpecList>();
  std::unordered_set<int> placed;
  SQLSortSpecList given = *specifications;  // the caller's cursor stays where it is
  for (bool more = given.First(); more; more = given.Next()) {
    SQLSortSpec const &spec = given.GetCurrent();
    int j = spec.GetColumnId();
    if (j < 0 || j >= static_cast<int>(target.size())) return false;
    int c = target[static_cast<size_t>(j)];
    if (c == -2) return false;
    if (c == -1) continue;  // ordering on a constant changes nothing
    if (!placed.insert(c).second) continue;  // the first direction wins
    translated->Append(SQLSortSpec(c, spec.GetDirection()));
  }
  if (!child_->PushSort(translated.get())) return false;
  translated.release();  // the child owns it now
  delete specifications;
  return true;
}

SQLRowSource *SQLRSProject::PushGroup(intList *, List<SQLRSGroupSpec> *, bool *accepted) {
  *accepted = false;
  return this;
}

SQLRowSource *SQLRSProject::PushProject(SQLRSSCValueExprRefPtrList *expressions) {
  std::unique_ptr<SQLRSProject> self(this);
  for (bool more = expressions->First(); more; more = expressions->Next()) expressions->DeleteCurrent();
  expressions->First();
  for (int i = 0; i < GetNumCols(); ++i)
    expressions->Append(RefPtr<SQLRSSCValueExpr>(new SQLRSSCColumnRef(0, i, GetColumnDescriptor(i))));
  return self.release();
}

bool SQLRSProject::RowSetIsPrepared() { return child_->RowSetIsPrepared(); }

SQLRowSource *SQLRSProject::CombineJoin(SQLDatabaseInstance **instance, int *tableCount,
                                        List<SQLRSSCSearchCond const *> *, bool *combinable) {
  std::unique_ptr<SQLRSProject> self(this);
  *instance = nullptr;
  *combinable = false;
  for (auto &e : expressions_)
    if (AsPlainColumn(e.Get()) == nullptr && !e->IsConstant()) return self.release();
  // The enclosing conditions read this projection's output: not handed on.
  SQLDatabaseInstance *below = nullptr;
  int tables = 0;
  bool childCombinable = false;
  child_.reset(child_.release()->CombineJoin(&below, &tables, nullptr, &childCombinable));
  std::unique_ptr<SQLDatabaseInstance> owned(below);
  if (!childCombinable) return self.release();
  int const formerColumns = child_->GetNumCols();
  SQLRSSCValueExprRefPtrList offer;
  if (!OfferToChild(&offer)) {
    Rename(&offer, formerColumns);
    return self.release();
  }
  *instance = owned.release();
  *tableCount = tables;
  *combinable = true;
  return child_.release();  // the projection leaves the tree
}

void SQLRSProject::createTokenString(SQLTokenString *ts, int level, SQLRSNetFetchParams *params) {
  ts->AppendToken(SQLNWTRSProject);
  ts->AppendBs2(static_cast<std::int16_t>(expressions_.size()));
  for (auto &e : expressions_) e->createTokenString(ts, level, params);
  child_->createTokenString(ts, level, params);
}

void SQLRSProject::createQPsubquery(SQLColumnRef2QDBColumnIdMap *, SQLRSFetchParameters *, unsigned long) {
  Unexpected("createQPsubquery");
}

// ---- execution ----

void SQLRSProject::DoPrepare(SQLRSPrepareContext *context) {
  child_->Prepare(context);
  SQLRSScopedRow row(context->Scope(), child_.get());
  std::vector<SQLValueStore const *> stores;
  for (auto &e : expressions_) stores.push_back(e->Prepare(context));
  stores_ = std::move(stores);
}

SQLColumnDescriptor const *SQLRSProject::DoGetColumnDescriptor(int column) {
  if (descriptors_.empty()) {
    descriptors_.reserve(expressions_.size());  // the addresses handed out stay valid
    for (auto &e : expressions_) descriptors_.push_back(e->GetColumnDescriptor());
  }
  return &descriptors_[static_cast<size_t>(column)];
}

int SQLRSProject::DoFetch() {
  int r = child_->Fetch();
  if (r != 0)
    for (auto &e : expressions_) e->Evaluate();
  return r;
}

void SQLRSProject::DoBreak() {
  for (auto &e : expressions_) e->Reset();
  child_->Break();
}

void SQLRSProject::DoLog() {
  SQLLogger &log = *SQLLogger::Instance();
  if (!log.LogFlagIsSet(SQLLogger::Always)) return;
  log << "SQLRSProject(" << endl << incind << "Projection list: ";
  for (size_t i = 0; i < expressions_.size(); ++i) {
    if (i > 0) log << ", ";
    expressions_[i]->Log();
  }
  log << endl << "Child: ";
  child_->Log();
  log << decind << ")" << endl;
}

void SQLRSProject::DoAcceptVisit(SQLVisitor &visitor) {
  child_->AcceptVisit(visitor);
  for (auto &e : expressions_) e->AcceptVisit(visitor);
  visitor.VisitSQLRSProject(this);
  SQLRSEndUnaryVisit(visitor, this);
}
